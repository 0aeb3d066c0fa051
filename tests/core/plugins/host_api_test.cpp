// The host interface's tables: the layout plugins rely on, the wrappers of
// the runtime library against glibc, the encoders against independent
// oracles (zlib's CRC, the RFC test vectors), the stream and chunk
// wrappers, the applet tags, the adapter setters and the command hooks.
#include <sys/stat.h>
#include <zlib.h>

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "core/io/error_codes.h"
#include "core/io/virtual_names.h"
#include "core/plugins/command_hooks.h"
#include "core/plugins/host_adapters.h"
#include "core/run_records.h"
#include "core/startup.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "display/adapters.h"
#include "plugin_fixture.h"

namespace {

const PluginHostApi* Host()
{
    return GetPluginHostApi();
}

TEST(HostApiTest, VersionAndLayout)
{
    EXPECT_EQ(Host()->version, 6u);
    EXPECT_EQ(Host()->revision, 1u);
    // Every table is there, with null slots only where the service is not
    // offered; the reserved slot of table 0 stays null.
    EXPECT_EQ(Host()->runtime->reserved45, nullptr);
    EXPECT_NE(Host()->runtime->ungetc, nullptr);
    EXPECT_NE(Host()->system->AddPluginToCapabilityList, nullptr);
    EXPECT_NE(Host()->streams->HostOpenStreamEx, nullptr);
    for (QmProc slot : Host()->freetype->slot)
        EXPECT_NE(slot, nullptr);
    for (QmProc slot : Host()->zlib->slot)
        EXPECT_NE(slot, nullptr);
    for (QmProc slot : Host()->jpeg->slot)
        EXPECT_NE(slot, nullptr);
    EXPECT_EQ(Host()->zlib->slot[QM_Z_CRC32], reinterpret_cast<QmProc>(crc32));
    auto findDisplay = reinterpret_cast<QmFindDisplayFunc>(Host()->graphics->slot[QM_GFX_FINDDISPLAY]);
    EXPECT_EQ(findDisplay(12345), nullptr);
    auto attach = reinterpret_cast<QmAttachDisplayCallbackFunc>(Host()->graphics->slot[QM_GFX_ATTACHDISPLAYCALLBACK]);
    EXPECT_EQ(attach(nullptr, nullptr, nullptr), nullptr);
}

int CallVsscanf(const char* text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = Host()->runtime->vsscanf(text, format, args);
    va_end(args);
    return result;
}

TEST(HostApiTest, TheUnavailableFunctionsSaySoOnEveryCallAndAnswerZero)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(Host()->runtime->gettimeofday(nullptr, nullptr), 0);
    int value = 5;
    EXPECT_EQ(CallVsscanf("12", "%d", &value), 0);
    EXPECT_EQ(CallVsscanf("12", "%d", &value), 0);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "*** gettimeofday() not supported on this platform ***\n"
              "*** vsscanf() not supported on this platform ***\n"
              "*** vsscanf() not supported on this platform ***\n");
}

TEST(HostApiTest, TimeWrappersAgreeWithTheLibrary)
{
    const QmRuntimeTable* rt = Host()->runtime;
    int64_t when = 1700000000;  // 2023-11-14 22:13:20 UTC
    QmTimeRecord* record = rt->gmtime(&when);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->recordSize, 48u);
    EXPECT_EQ(record->year, 123);
    EXPECT_EQ(record->month, 10);
    EXPECT_EQ(record->dayOfMonth, 14);
    EXPECT_EQ(record->hour, 22);
    EXPECT_EQ(record->minute, 13);
    EXPECT_EQ(record->second, 20);
    EXPECT_EQ(record->weekday, 2);
    EXPECT_EQ(record->dayOfYear, 317);
    EXPECT_EQ(rt->gmtime(nullptr), nullptr);

    QmTimeRecord copy = *rt->localtime(&when);  // TZ=UTC in the tests
    EXPECT_EQ(rt->mktime(&copy), when);
    EXPECT_EQ(rt->mktime(nullptr), -1);
    char text[64];
    ASSERT_GT(rt->strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &copy), 0u);
    EXPECT_STREQ(text, "2023-11-14 22:13:20");
    EXPECT_STREQ(rt->asctime(&copy), "Tue Nov 14 22:13:20 2023\n");
    double difference = 0;
    rt->difftime(when + 90, when, &difference);
    EXPECT_EQ(difference, 90.0);

    int64_t now = 0;
    int64_t answered = rt->time(&now);
    EXPECT_EQ(answered, now);
    EXPECT_LE(std::llabs(answered - static_cast<int64_t>(::time(nullptr))), 5);
}

TEST(HostApiTest, CaseAndStatusWrappers)
{
    const QmRuntimeTable* rt = Host()->runtime;
    EXPECT_EQ(rt->tolower(0xC4), 0xE4);  // Latin-1 A with diaeresis
    EXPECT_EQ(rt->toupper(0xE9), 0xC9);
    EXPECT_EQ(rt->tolower('Q'), 'q');
    char word[] = "Gr\xDC\xDF" "e";
    EXPECT_STREQ(rt->PluginStrToLower(word), "gr\xFC\xDF" "e");
    EXPECT_STREQ(rt->PluginStrToUpper(word), "GR\xDC\xDF" "E");
    EXPECT_EQ(rt->StrCaseCmp("ABC", "abc"), 0);

    TempDir dir;
    std::string path = dir.file("status.bin");
    WriteFileBytes(path, std::vector<uint8_t>(1234, 7));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    QmFileStatus status = {};
    ASSERT_EQ(rt->stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.size, 1234);
    EXPECT_EQ(status.inode, st.st_ino);
    EXPECT_EQ(status.modificationTime, st.st_mtime);
    EXPECT_EQ(status.mode, st.st_mode);
    EXPECT_EQ(rt->stat(path.c_str(), nullptr), -1);
    EXPECT_EQ(rt->stat(dir.file("none").c_str(), &status), -1);
    rt->SetErrno(1234);
    EXPECT_EQ(rt->GetErrno(), 1234);
}

TEST(HostApiTest, EncodersMatchTheirStandards)
{
    const QmEncoderTable* enc = Host()->encoders;
    struct Vector {
        const char* plain;
        const char* base64;  // RFC 4648 section 10
    };
    for (const Vector& v : {Vector{"", ""}, Vector{"f", "Zg=="}, Vector{"fo", "Zm8="}, Vector{"foo", "Zm9v"},
                            Vector{"foob", "Zm9vYg=="}, Vector{"fooba", "Zm9vYmE="}, Vector{"foobar", "Zm9vYmFy"}}) {
        char* text = enc->HostEncodeBase64(v.plain, std::strlen(v.plain));
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, v.base64);
        size_t length = 99;
        void* bytes = enc->HostDecodeBase64(text, std::strlen(text), &length);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::string(static_cast<char*>(bytes), length), v.plain);
        Host()->system->HostFreeMem(text);
        Host()->system->HostFreeMem(bytes);
    }

    std::vector<uint8_t> data = PatternBytes(100000, 7);
    EXPECT_EQ(enc->HostCrc32(data.data(), static_cast<long>(data.size())),
              static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))));
    EXPECT_EQ(enc->HostCrc32(data.data(), 0), 0xFFFFFFFFu);
    EXPECT_EQ(enc->HostCrc32(data.data(), -5), 0xFFFFFFFFu);

    char hex[33] = "untouched";
    enc->HostMd5Hex("abc", 0, hex);
    EXPECT_STREQ(hex, "untouched");
    enc->HostMd5Hex("abc", 3, hex);  // RFC 1321 appendix A.5
    EXPECT_STREQ(hex, "900150983cd24fb0d6963f7d28e17f72");
}

TEST(HostApiTest, ChunkNamesAreTakenApartForPlugins)
{
    const QmStreamTable* st = Host()->streams;
    char chunk[512];
    ASSERT_TRUE(MakeChunkName("pic.png", chunk, sizeof chunk, 100, 50, 0, "/apps/game"));
    char file[64];
    int64_t offset = 0, size = 0;
    EXPECT_EQ(st->HostGetChunkRange(chunk, file, sizeof file, &offset, &size), 1);
    EXPECT_STREQ(file, "/apps/game");
    EXPECT_EQ(offset, 100);
    EXPECT_EQ(size, 50);
    EXPECT_EQ(st->HostGetChunkRange("plain.txt", file, sizeof file, &offset, &size), 1);
    EXPECT_STREQ(file, "plain.txt");
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(st->HostGetChunkRange("plain.txt", file, 4, &offset, &size), 0);

    QmChunkDescription description = {};
    EXPECT_EQ(st->HostDescribeChunk(chunk, &description), 1);
    EXPECT_STREQ(description.fileName, "/apps/game");
    EXPECT_EQ(description.offset, 100u);
    EXPECT_EQ(description.size, 50u);
    EXPECT_EQ(st->HostDescribeChunk("plain.txt", &description), 0);
    EXPECT_EQ(st->HostDescribeChunk(":::chunk12", &description), 0);
}

TEST(HostApiTest, WriteFileWritesRawOrThroughTheStreamCopier)
{
    TempDir dir;
    const QmStreamTable* st = Host()->streams;
    std::vector<uint8_t> data = PatternBytes(40000, 3);
    EXPECT_EQ(st->HostWriteFile(dir.file("raw.bin").c_str(), data.data(), 0, data.size(), QM_HOSTWRITE_RAW), 0u);
    EXPECT_EQ(ReadFileBytes(dir.file("raw.bin")), data);
    EXPECT_EQ(st->HostWriteFile(dir.file("copy.bin").c_str(), data.data(), 0, data.size(), 0), 0u);
    EXPECT_EQ(ReadFileBytes(dir.file("copy.bin")), data);
    EXPECT_EQ(st->HostWriteFile(dir.file("no/such/dir.bin").c_str(), data.data(), 0, 10, QM_HOSTWRITE_RAW),
              uint32_t(ERR_WRITEFILE));

    char name[1024];
    ASSERT_EQ(st->HostGetTempFileName(name, sizeof name, "picture.jpeg"), 0u);
    EXPECT_EQ(std::string(name).substr(std::strlen(name) - 5), ".jpeg");
    std::remove(name);
}

TEST(HostApiTest, NoEventsArePumpedWhileTheRuntimeShutsDown)
{
    Startup.quitting = 1;
    uint32_t code = 77;
    EXPECT_EQ(Host()->system->HostPumpEvents(nullptr, 1, 0, &code), 0);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Host()->system->HostWaitEvents(nullptr, 0, 0, 0), 0u);
    Startup.quitting = 0;
}

TEST(HostApiTest, AppletTagsAnswerTheAppletsTexts)
{
    AppletInfo applet = {};
    std::strcpy(applet.title, "Game");
    std::strcpy(applet.author, "Someone");
    std::strcpy(applet.identifier, "com.example.game");
    ProgramAppletInfo = &applet;
    uintptr_t zero = 99;
    const char* title = nullptr;
    const char* author = nullptr;
    const char* identifier = nullptr;
    QmTagItem tags[] = {
        {QM_HOSTTAG_ZERO, reinterpret_cast<uintptr_t>(&zero)},
        {QM_HOSTTAG_TITLE, reinterpret_cast<uintptr_t>(&title)},
        {QM_HOSTTAG_AUTHOR, reinterpret_cast<uintptr_t>(&author)},
        {QM_HOSTTAG_IDENTIFIER, reinterpret_cast<uintptr_t>(&identifier)},
        {9999, 0},
        {0, 0},
    };
    EXPECT_EQ(Host()->system->HostGetSetTags(tags), 4u);
    ProgramAppletInfo = nullptr;
    EXPECT_EQ(zero, 0u);
    EXPECT_STREQ(title, "Game");
    EXPECT_STREQ(author, "Someone");
    EXPECT_STREQ(identifier, "com.example.game");
}

TEST(HostApiTest, AdapterSettersCheckCapabilitiesAndStartUp)
{
    PluginInfo timer = {};
    timer.modulename = "timer";
    EXPECT_EQ(Host()->system->SetTimerAdapter(&timer, 0), uint32_t(ERR_WRONGUSAGE));
    timer.capabilities = PLUGINCAPS_TIMERADAPTER;
    SetAdapterSetupOpen(false);
    EXPECT_EQ(Host()->system->SetTimerAdapter(&timer, 1), uint32_t(ERR_SETADAPTER));
    SetAdapterSetupOpen(true);
    EXPECT_EQ(Host()->system->SetTimerAdapter(&timer, 1), 0u);
    EXPECT_EQ(timer.adapterFlags[QM_ADAPTERFLAGS_TIMER], 1u);
    PluginInfo other = timer;
    EXPECT_EQ(Host()->system->SetTimerAdapter(&other, 0), uint32_t(ERR_SETADAPTER));  // the first is locked

    PluginInfo display = {};
    display.modulename = "display";
    display.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    auto setDisplay = reinterpret_cast<QmSetAdapterFunc>(Host()->graphics->slot[QM_GFX_SETDISPLAYADAPTER]);
    QmTagItem tags[] = {{1, 32}, {3, 0x5}, {0, 0}};
    EXPECT_EQ(QueryAdapterCaps(0xFF), 0u);
    EXPECT_EQ(setDisplay(&display, 0x10, tags), 0u);
    EXPECT_EQ(display.displayAdapterWord, 32u);
    EXPECT_EQ(display.displayAdapterCaps, 0x5u);
    EXPECT_EQ(QueryAdapterCaps(0xFF), 0x8u | 0x4u | 0x40u);
    EXPECT_EQ(QueryAdapterCaps(0x40), 0x40u);
    FreeAllPlugins();
    EXPECT_EQ(QueryAdapterCaps(0xFF), 0u);
    ResetAdapters();
    SetAdapterSetupOpen(false);
}

// The argument readers of the VM table, from inside a command.
struct ArgumentsSeen {
    uint32_t optional[2] = {99, 99};
    uint32_t absent[2] = {99, 99};
    QmObjectId number = {};
    QmObjectId handle = {};
    std::string fileName;
};
ArgumentsSeen* g_seen;

uint32_t ReadArguments(VmState* vm)
{
    const QmVmTable* t = Host()->vm;
    t->HostGetOptionalInt(vm, 1, g_seen->optional);
    t->HostGetOptionalInt(vm, 4, g_seen->absent);
    t->HostGetObjectIdArg(vm, 1, &g_seen->number);
    t->HostGetObjectIdArg(vm, 2, &g_seen->handle);
    g_seen->fileName = t->HostGetFileNameArg(vm, 3);
    t->VmCheckString(vm, 2, nullptr);  // a light userdata is no string
    return 0;
}

TEST(HostApiTest, TheVmTableReadsArgumentsAndRaisesTheirErrors)
{
    VmHooks = {};
    VmState* vm = VmOpenState();
    ArgumentsSeen seen;
    g_seen = &seen;
    int object = 0;
    VmPushNativeFunction(vm, ReadArguments);
    VmPushNumber(vm, 7.9);
    VmPushLightUserdata(vm, &object);
    VmPushString(vm, "plain.txt");
    EXPECT_EQ(VmPCall(vm, 3, 0, 0), uint32_t(ERR_STREXPECTED));
    EXPECT_EQ(seen.optional[0], 7u);
    EXPECT_EQ(seen.optional[1], 0u);
    EXPECT_EQ(seen.absent[0], 0u);
    EXPECT_EQ(seen.absent[1], 1u);
    EXPECT_EQ(seen.number.id, 7u);
    EXPECT_EQ(seen.number.handle, 0u);
    EXPECT_EQ(seen.handle.id, 0u);
    EXPECT_EQ(seen.handle.handle, reinterpret_cast<uintptr_t>(&object));
    EXPECT_EQ(seen.fileName, "plain.txt");
    VmCloseState(vm);
    VmHooks = {};
}

// Command hooks: the VM asks them before every native call.
uint32_t Original(VmState* vm)
{
    VmPushNumber(vm, 1);
    return 1;
}

uint32_t Raising(VmState* vm)
{
    VmRaiseError(vm, ERR_MEM);
}

struct HookLog {
    int calls = 0;
    int errors = 0;
    uint32_t lastCode = 0;
};

uint32_t HookCall(void*, VmState* vm, QmNativeFunction function, void* user)
{
    ++static_cast<HookLog*>(user)->calls;
    if (function == Raising)
        return Raising(vm);
    VmPushNumber(vm, 42);
    return 1;
}

void HookError(void*, VmState*, uint32_t code, void* user)
{
    ++static_cast<HookLog*>(user)->errors;
    static_cast<HookLog*>(user)->lastCode = code;
}

double CallNative(VmState* vm, QmNativeFunction function, uint32_t* status)
{
    VmPushNativeFunction(vm, function);
    *status = VmPCall(vm, 0, 1, 0);
    double result = *status ? -1 : VmGetNumber(vm, -1);
    VmSetTop(vm, 0);
    return result;
}

TEST(HostApiTest, CommandHooksAnswerForTheCommandsTheyList)
{
    VmHooks = {};
    VmState* vm = VmOpenState();
    const QmSystemTable* sys = Host()->system;
    HookLog log;
    void* hook = sys->HostAddCommandHook(nullptr, reinterpret_cast<void*>(HookCall), nullptr, &log);
    ASSERT_NE(hook, nullptr);
    uint32_t status = 0;
    EXPECT_EQ(CallNative(vm, Original, &status), 1.0);  // not listed yet
    EXPECT_EQ(sys->HostHookCommand(hook, Original), 1);
    EXPECT_EQ(sys->HostHookCommand(hook, Original), 1);
    EXPECT_EQ(CallNative(vm, Original, &status), 42.0);
    EXPECT_EQ(log.calls, 1);
    sys->HostSetHookDisabled(hook, 1);
    EXPECT_EQ(CallNative(vm, Original, &status), 1.0);
    sys->HostSetHookDisabled(hook, 0);

    // An error inside the hook reaches its error callback, then unwinds.
    EXPECT_EQ(sys->GetWordAt8(hook), nullptr);
    sys->HostSetHookErrorFunc(hook, reinterpret_cast<void*>(HookError));
    EXPECT_EQ(sys->GetWordAt8(hook), reinterpret_cast<void*>(HookError));
    EXPECT_EQ(sys->HostHookCommand(hook, Raising), 1);
    CallNative(vm, Raising, &status);
    EXPECT_EQ(status, uint32_t(ERR_MEM));
    EXPECT_EQ(log.errors, 1);
    EXPECT_EQ(log.lastCode, uint32_t(ERR_MEM));
    // Outside a hook, errors are not the hook's.
    EXPECT_EQ(VmCallPluginHook(vm, ERR_MEM), 0);

    sys->HostRemoveCommandHook(hook);
    EXPECT_EQ(CallNative(vm, Original, &status), 1.0);
    VmCloseState(vm);
    VmHooks = {};
}

// The line slot draws into the plugin's own pixels: the row length is
// required, the format defaults to ARGB, and bit 0x1 of the flags takes the
// opacity from the colour's top byte.
TEST(HostApiTest, TheLineSlotDrawsIntoThePluginsPixels)
{
    auto line = reinterpret_cast<QmDrawLineFunc>(Host()->graphics->slot[QM_GFX_DRAWLINE]);
    ASSERT_NE(line, nullptr);
    uint32_t px[3 * 6] = {};
    const QmTagItem noRow[] = {{1, 10}, {0, 0}};
    line(px, 0, 1, 5, 1, 0xFFFFFFFF, 0, noRow);
    for (uint32_t p : px) EXPECT_EQ(p, 0u);
    const QmTagItem tags[] = {{2, 6}, {0, 0}};
    line(px, -10, 1, 50, 1, 0x00FFFFFF, 0, tags);  // no flag: opaque whatever the top byte
    line(px, 2, 0, 2, 2, 0x80FFFFFF, 1, tags);     // opacity 128: over black 127, over white 255
    for (int x = 0; x < 6; ++x) EXPECT_EQ(px[6 + x], 0x00FFFFFFu) << x;
    EXPECT_EQ(px[2], 0x007F7F7Fu);
    EXPECT_EQ(px[14], 0x007F7F7Fu);
    EXPECT_EQ(px[0], 0u);
    uint16_t p16[4] = {};
    const QmTagItem tags16[] = {{1, 4}, {2, 4}, {0, 0}};
    line(p16, 0, 0, 3, 0, 0xFF00FF00, 0, tags16);
    for (uint16_t p : p16) EXPECT_EQ(p, 0x07E0);
}

} // namespace
