// The host interface's tables, against glibc and zlib where they wrap them.
#include <sys/stat.h>
#include <zlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/plugins/command_hooks.h"
#include "core/plugins/host_adapters.h"
#include "core/startup/run_records.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "display/adapters.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "media/sound.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_runloop.h"
#include "plugin_fixture.h"

namespace {

const PluginHostApi* Host() { return GetPluginHostApi(); }

// Every slot holds a function except the reserved slot 45 of table 0; a
// plugin calls what it finds there.
TEST(HostApiTest, EverySlotIsFilled)
{
    const PluginHostApi* host = Host();
    EXPECT_EQ(host->version, 6u);
    EXPECT_EQ(host->revision, 1u);
    struct Table { const void* table; size_t slots; };
    const Table tables[] = {
        {host->runtime, 51}, {host->system, 49}, {host->streams, 33}, {host->graphics, 30}, {host->audio, 3},
        {host->requesters, 4}, {host->fonts, 1}, {host->freetype, 38}, {host->vm, 78}, {host->zlib, 13},
        {host->jpeg, 25}, {host->pluginList, 5}, {host->encoders, 4},
    };
    for (const Table& t : tables) {
        auto* slots = static_cast<const QmProc*>(t.table);
        for (size_t i = 0; i < t.slots; ++i)
            EXPECT_EQ(slots[i] == nullptr, t.table == host->runtime && i == 45) << (&t - tables) << ": " << i;
    }
    EXPECT_EQ(host->zlib->slot[QM_Z_CRC32], reinterpret_cast<QmProc>(crc32));
    auto findDisplay = reinterpret_cast<QmFindDisplayFunc>(host->graphics->slot[QM_GFX_FINDDISPLAY]);
    EXPECT_EQ(findDisplay(12345), nullptr);
    auto attach = reinterpret_cast<QmAttachDisplayCallbackFunc>(host->graphics->slot[QM_GFX_ATTACHDISPLAYCALLBACK]);
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

// What the probe plugin reaches through these tables (case folding, the
// time of day, tags, the codecs' standard vectors) is checked there; here
// the rest of the wrappers and their edge cases, against the C library.
TEST(HostApiTest, RuntimeWrappersAgreeWithTheLibrary)
{
    const QmRuntimeTable* rt = Host()->runtime;
    int64_t when = 1700000000;  // 2023-11-14 22:13:20 UTC
    QmTimeRecord* record = rt->gmtime(&when);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->recordSize, 48u);
    std::time_t seconds = static_cast<std::time_t>(when);
    std::tm libc = *std::gmtime(&seconds);
    EXPECT_EQ(std::vector<int>({record->year, record->month, record->dayOfMonth, record->hour, record->minute,
                                record->second, record->weekday, record->dayOfYear}),
              std::vector<int>({libc.tm_year, libc.tm_mon, libc.tm_mday, libc.tm_hour, libc.tm_min, libc.tm_sec,
                                libc.tm_wday, libc.tm_yday}));
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
    char word[] = "Gr\xDC\xDF" "e";
    EXPECT_STREQ(rt->PluginStrToLower(word), "gr\xFC\xDF" "e");

    TempDir dir;
    std::string path = dir.file("status.bin");
    WriteFileBytes(path, std::vector<uint8_t>(1234, 7));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    QmFileStatus status = {};
    ASSERT_EQ(rt->stat(path.c_str(), &status), 0);
    EXPECT_EQ(std::make_tuple(status.size, status.inode, status.modificationTime, status.mode),
              std::make_tuple(int64_t{1234}, uint64_t(st.st_ino), int64_t(st.st_mtime), uint32_t(st.st_mode)));
    EXPECT_EQ(rt->stat(path.c_str(), nullptr), -1);
    EXPECT_EQ(rt->stat(dir.file("none").c_str(), &status), -1);
    // vsscanf says that it is unsupported.
    testing::internal::CaptureStdout();
    int value = 5;
    EXPECT_EQ(CallVsscanf("12", "%d", &value), 0);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "*** vsscanf() not supported on this platform ***\n");
}

// No input at all: the empty CRC and the empty text.
TEST(HostApiTest, EncodersRefuseNegativeLengths)
{
    const QmEncoderTable* enc = Host()->encoders;
    EXPECT_EQ(enc->HostCrc32("abc", 0), 0xFFFFFFFFu);
    EXPECT_EQ(enc->HostCrc32("abc", -5), 0xFFFFFFFFu);
    char hex[33] = "untouched";
    enc->HostMd5Hex(nullptr, 0, hex);  // RFC 1321 appendix A.5: the empty input
    EXPECT_STREQ(hex, "d41d8cd98f00b204e9800998ecf8427e");
    enc->HostMd5Hex("abc", -1, hex);
    EXPECT_STREQ(hex, "");
}

TEST(HostApiTest, TheStreamTableTakesChunkNamesApartAndWritesFiles)
{
    const QmStreamTable* st = Host()->streams;
    char chunk[512];
    ASSERT_TRUE(MakeChunkName("pic.png", chunk, sizeof chunk, 100, 50, 0, "/apps/game"));
    char file[64];
    int64_t offset = 0, size = 0;
    EXPECT_EQ(st->HostGetChunkRange(chunk, file, sizeof file, &offset, &size), 1);
    EXPECT_EQ(std::string(file) + " " + std::to_string(offset) + " " + std::to_string(size), "/apps/game 100 50");
    EXPECT_EQ(st->HostGetChunkRange("plain.txt", file, sizeof file, &offset, &size), 1);
    EXPECT_EQ(std::string(file) + " " + std::to_string(offset) + " " + std::to_string(size), "plain.txt -1 -1");
    EXPECT_EQ(st->HostGetChunkRange("plain.txt", file, 4, &offset, &size), 0);

    QmChunkDescription description = {};
    EXPECT_EQ(st->HostDescribeChunk(chunk, &description), 1);
    EXPECT_EQ(std::string(description.fileName) + " " + std::to_string(description.offset) + " " +
                  std::to_string(description.size),
              "/apps/game 100 50");
    EXPECT_EQ(st->HostDescribeChunk("plain.txt", &description), 0);
    EXPECT_EQ(st->HostDescribeChunk(":::chunk12", &description), 0);
    TempDir dir;
    std::vector<uint8_t> data = PatternBytes(40000, 3);
    EXPECT_EQ(st->HostWriteFile(dir.file("raw.bin").c_str(), data.data(), 0, data.size(), QM_HOSTWRITE_RAW), 0u);
    EXPECT_EQ(ReadFileBytes(dir.file("raw.bin")), data);
    EXPECT_EQ(st->HostWriteFile(dir.file("copy.bin").c_str(), data.data(), 0, data.size(), 0), 0u);
    EXPECT_EQ(ReadFileBytes(dir.file("copy.bin")), data);
    // The name the copier read the bytes through opens no more.
    char forged[64];
    std::snprintf(forged, sizeof forged, ":::memory%llx:%zx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(data.data())), data.size());
    EXPECT_EQ(StreamOpen(forged, STREAM_READ), nullptr);
    EXPECT_EQ(st->HostWriteFile(dir.file("no/such/dir.bin").c_str(), data.data(), 0, 10, QM_HOSTWRITE_RAW),
              uint32_t(ERR_WRITEFILE));

    char name[1024];
    ASSERT_EQ(st->HostGetTempFileName(name, sizeof name, "picture.jpeg"), 0u);
    EXPECT_EQ(std::string(name).substr(std::strlen(name) - 5), ".jpeg");
    std::remove(name);
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
    EXPECT_EQ(std::make_pair(display.displayAdapterWord, display.displayAdapterCaps), std::make_pair(32u, 0x5u));
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
    // Optional ints as value and absent flag; object ids as id and handle.
    EXPECT_EQ((std::vector<uint32_t>{seen.optional[0], seen.optional[1], seen.absent[0], seen.absent[1]}),
              (std::vector<uint32_t>{7, 0, 0, 1}));
    EXPECT_EQ((std::vector<uint64_t>{seen.number.id, seen.number.handle, seen.handle.id, seen.handle.handle}),
              (std::vector<uint64_t>{7, 0, 0, reinterpret_cast<uintptr_t>(&object)}));
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

uint32_t Raising(VmState* vm) { VmRaiseError(vm, ERR_MEM); }

struct HookLog { int calls = 0; int errors = 0; uint32_t lastCode = 0; };

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
    sys->HostSetHookErrorFunc(hook, reinterpret_cast<void*>(HookError));
    EXPECT_EQ(sys->GetWordAt8(hook), reinterpret_cast<void*>(HookError));
    EXPECT_EQ(sys->HostHookCommand(hook, Raising), 1);
    CallNative(vm, Raising, &status);
    EXPECT_EQ(status, uint32_t(ERR_MEM));
    EXPECT_EQ(std::make_pair(log.errors, log.lastCode), std::make_pair(1, uint32_t(ERR_MEM)));
    // Outside a hook, errors are not the hook's.
    EXPECT_EQ(VmCallPluginHook(vm, ERR_MEM), 0);

    sys->HostRemoveCommandHook(hook);
    EXPECT_EQ(CallNative(vm, Original, &status), 1.0);
    VmCloseState(vm);
    VmHooks = {};
}

// A hook may remove itself from inside its own call callback, also on the
// way out of an error: it is freed once the callback is off the stack, and
// its error callback no longer hears of errors.
struct SelfRemoving { int calls = 0; int errors = 0; bool raise = false; };

uint32_t RemovingCall(void* hook, VmState* vm, QmNativeFunction, void* user)
{
    auto* state = static_cast<SelfRemoving*>(user);
    ++state->calls;
    Host()->system->HostRemoveCommandHook(hook);
    if (state->raise)
        VmRaiseError(vm, ERR_MEM);
    VmPushNumber(vm, 9);
    return 1;
}

void RemovingError(void*, VmState*, uint32_t, void* user) { ++static_cast<SelfRemoving*>(user)->errors; }

TEST(HostApiTest, AHookMayRemoveItselfWhileItRuns)
{
    VmHooks = {};
    VmState* vm = VmOpenState();
    const QmSystemTable* sys = Host()->system;
    for (bool raise : {false, true}) {
        SelfRemoving state;
        state.raise = raise;
        void* hook = sys->HostAddCommandHook(nullptr, reinterpret_cast<void*>(RemovingCall),
                                             reinterpret_cast<void*>(RemovingError), &state);
        ASSERT_NE(hook, nullptr);
        ASSERT_EQ(sys->HostHookCommand(hook, Original), 1);
        uint32_t status = 0;
        double answer = CallNative(vm, Original, &status);
        EXPECT_EQ(status, raise ? uint32_t(ERR_MEM) : 0u) << raise;
        EXPECT_EQ(answer, raise ? -1.0 : 9.0) << raise;
        EXPECT_EQ(state.errors, 0) << raise;
        EXPECT_EQ(CallNative(vm, Original, &status), 1.0) << raise;  // the hook is gone
        EXPECT_EQ(state.calls, 1) << raise;
    }
    VmCloseState(vm);
    VmHooks = {};
}

// Software drawing into the plugin's pixels is cut at the buffer's left,
// right and top edges (a 6 x 4 buffer of 32-bit pixels here).
TEST(HostApiTest, SoftwareDrawingStaysInsideTheRows)
{
    auto fill = reinterpret_cast<QmRectFillFunc>(Host()->graphics->slot[QM_GFX_RECTFILL]);
    auto pixel = reinterpret_cast<QmWritePixelFunc>(Host()->graphics->slot[QM_GFX_WRITEPIXEL]);
    auto blit = reinterpret_cast<QmBltBitMapFunc>(Host()->graphics->slot[QM_GFX_BLTBITMAP]);
    const QmTagItem tags[] = {{2, 6}, {0, 0}};
    const QmTagItem noRow[] = {{1, 10}, {0, 0}};
    // `expected` holds the rows top to bottom, '#' filled.
    struct FillCase { int32_t x, y, w, h; const QmTagItem* tags; const char* expected; };
    const FillCase fills[] = {
        {-2, 0, 4, 1, tags, "##....|......|......|......"}, {4, 1, 5, 1, tags, "......|....##|......|......"},
        {7, 0, 2, 2, tags, "......|......|......|......"}, {1, -1, 2, 2, tags, ".##...|......|......|......"},
        {0, 0, 6, 4, noRow, "......|......|......|......"},
    };
    auto picture = [](const uint32_t* px) {
        std::string text;
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 6; ++x)
                text += px[y * 6 + x] ? '#' : '.';
            if (y < 3)
                text += '|';
        }
        return text;
    };
    for (const FillCase& c : fills) {
        uint32_t px[24] = {};
        fill(px, c.x, c.y, c.w, c.h, 0xFFFFFF, 0, c.tags);
        EXPECT_EQ(picture(px), c.expected) << c.x << "," << c.y;
    }
    uint32_t px[24] = {};
    pixel(px, 6, 0, 0xFFFFFF, 0, tags);
    pixel(px, -1, 2, 0xFFFFFF, 0, tags);
    pixel(px, 5, 3, 0xFFFFFF, 0, tags);
    EXPECT_EQ(picture(px), "......|......|......|.....#");
    fill(px, 0, 0, 1, 1, 0x80FFFFFF, 1, tags);  // opacity from the top byte
    EXPECT_EQ(px[0], 0x007F7F7Fu);

    uint32_t source[9];
    for (uint32_t i = 0; i < 9; ++i)
        source[i] = 0x100 + i;
    const QmTagItem blitTags[] = {{2, 6}, {3, 3}, {0, 0}};
    uint32_t dst[24] = {};
    blit(source, 0, 0, dst, -1, -1, 3, 3, 0, blitTags);  // cut at the destination's corner
    blit(source, 0, 0, dst, 5, 2, 3, 2, 0, blitTags);    // cut at its right edge
    blit(source, -2, 0, dst, 2, 0, 3, 1, 0, blitTags);   // cut at the source's left edge
    const uint32_t want[24] = {0x104, 0x105, 0, 0, 0x100, 0, 0x107, 0x108, 0, 0, 0, 0,
                               0,     0,     0, 0, 0,     0x100, 0, 0, 0, 0, 0, 0x103};
    EXPECT_EQ(std::memcmp(dst, want, sizeof want), 0);
}

// Slot 25 copies through a mask plane (bit set: copied) or blends through
// an alpha plane read at the source position; the plane's row bounds the
// source; without a plane it is the plain blit.
TEST(HostApiTest, TheMaskedBlitCopiesThroughAMaskOrBlendsThroughAlpha)
{
    auto blit = reinterpret_cast<QmBltBitMapFunc>(Host()->graphics->slot[QM_GFX_BLTBITMAPMASKED]);
    const uint32_t white[4] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
    const uint8_t mask[2] = {0xA0, 0x50};  // row 0: pixels 0 and 2; row 1: 1 and 3
    const QmTagItem masked[] = {{2, 4}, {3, 2}, {QM_BLTTAG_MASK, reinterpret_cast<uintptr_t>(mask)},
                                {QM_BLTTAG_MASKBYTESPERROW, 1}, {0, 0}};
    uint32_t dst[8] = {};
    blit(white, 0, 0, dst, 1, 0, 2, 2, 0, masked);
    const uint32_t wantMasked[8] = {0, 0xFFFFFF, 0, 0, 0, 0, 0xFFFFFF, 0};
    EXPECT_EQ(std::memcmp(dst, wantMasked, sizeof dst), 0);

    // Alpha 128 of white over black gives 127 and a cleared alpha byte; 255
    // copies the pixel as it is; 0 leaves the destination.
    const uint32_t source[3] = {0xFFFFFFFF, 0xFFFFFFFF, 0x12345678};
    const uint8_t alpha[3] = {128, 0, 255};
    const QmTagItem blended[] = {{2, 3}, {QM_BLTTAG_ALPHA, reinterpret_cast<uintptr_t>(alpha)},
                                 {QM_BLTTAG_ALPHABYTESPERROW, 2}, {0, 0}};
    uint32_t row[3] = {0xFF000000, 0x00ABCDEF, 0};
    blit(source, 0, 0, row, 0, 0, 3, 1, 0, blended);  // the plane's row of 2 cuts the third
    EXPECT_EQ(std::vector<uint32_t>(row, row + 3), (std::vector<uint32_t>{0x007F7F7F, 0x00ABCDEF, 0}));
    const QmTagItem wide[] = {{2, 3}, {QM_BLTTAG_ALPHA, reinterpret_cast<uintptr_t>(alpha)},
                              {QM_BLTTAG_ALPHABYTESPERROW, 3}, {0, 0}};
    blit(source, 2, 0, row, 2, 0, 1, 1, 0, wide);
    EXPECT_EQ(row[2], 0x12345678u);
    const QmTagItem noRow[] = {{2, 3}, {QM_BLTTAG_ALPHA, reinterpret_cast<uintptr_t>(alpha)}, {0, 0}};
    row[0] = 0;
    blit(source, 0, 0, row, 0, 0, 1, 1, 0, noRow);
    EXPECT_EQ(row[0], 0u);
    const QmTagItem plain[] = {{2, 3}, {0, 0}};
    blit(source, 2, 0, row, 0, 0, 1, 1, 0, plain);
    EXPECT_EQ(row[0], 0x12345678u);
}

// Brushes with an alpha channel lock with their alpha plane; bitmaps lock
// for plugins like for the runtime; pixel conversions keep the alpha byte.
TEST(HostApiTest, BrushesAndBitmapsLockForPlugins)
{
    const QmGraphicsTable* g = Host()->graphics;
    auto create = reinterpret_cast<QmCreateBrushFunc>(g->slot[QM_GFX_CREATEBRUSH]);
    auto lockBrush = reinterpret_cast<QmLockBrushFunc>(g->slot[QM_GFX_LOCKBRUSH]);
    auto unlockBrush = reinterpret_cast<void (*)(void*)>(g->slot[QM_GFX_UNLOCKBRUSH]);
    auto brushArgb = reinterpret_cast<QmGetBrushArgbFunc>(g->slot[QM_GFX_GETBRUSHARGB]);
    auto freeBrush = reinterpret_cast<uint32_t (*)(uint32_t)>(g->slot[QM_GFX_FREEBRUSH]);
    auto lockBitMap = reinterpret_cast<QmLockBitMapFunc>(g->slot[QM_GFX_LOCKBITMAP]);
    auto unlockBitMap = reinterpret_cast<void (*)(void*)>(g->slot[QM_GFX_UNLOCKBITMAP]);
    auto toPixel = reinterpret_cast<uint32_t (*)(uint32_t, uint32_t)>(g->slot[QM_GFX_ARGBTOPIXEL]);

    uint32_t argb[5 * 3];
    for (uint32_t i = 0; i < 15; ++i)
        argb[i] = ((i * 17) << 24) | 0x123456;
    EXPECT_EQ(create(9, argb, 0, 3, 1), uint32_t(ERR_BADDIMENSIONS));
    ASSERT_EQ(create(9, argb, 5, 3, 1), 0u);
    QmBrushLock record = {};
    const QmTagItem readOnly[] = {{1, 1}, {0, 0}};
    void* lock = lockBrush(9, readOnly, &record);
    ASSERT_NE(lock, nullptr);
    ASSERT_NE(record.alphaPixels, nullptr);
    EXPECT_EQ(record.maskPixels, nullptr);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(static_cast<uint8_t*>(record.alphaPixels)[y * record.alphaBytesPerRow + x], argb[y * 5 + x] >> 24);
    unlockBrush(lock);
    int32_t plain = 7;
    const QmTagItem tags[] = {{3, reinterpret_cast<uintptr_t>(&plain)}, {0, 0}};
    uint32_t* copy = brushArgb(9, tags);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(plain, 0);
    EXPECT_EQ(copy[14], argb[14]);
    Host()->system->HostFreeMem(copy);
    EXPECT_EQ(freeBrush(9), 0u);
    EXPECT_EQ(lockBrush(9, nullptr, &record), nullptr);

    BitMapHandle* bitmap = AllocColorBitMap(4, 2, 0, nullptr);
    ASSERT_NE(bitmap, nullptr);
    QmBitMapLock pixels = {};
    void* held = lockBitMap(bitmap, 0, &pixels);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(std::make_pair(pixels.width, pixels.height), std::make_pair(4, 2));
    ASSERT_EQ(pixels.bytesPerPixel, 4u);
    static_cast<uint32_t*>(pixels.pixels)[pixels.rowLength + 3] = toPixel(0xFF336699, pixels.format);
    unlockBitMap(held);
    EXPECT_EQ(ReadBitMapPixel(bitmap, 3, 1, 0) & 0xFFFFFF, 0x336699u);
    FreeColorBitMap(bitmap);
    EXPECT_EQ(lockBitMap(nullptr, 0, &pixels), nullptr);
}

// The display slots see the runtime's displays: every one is visited until
// a callback answers, none while the runtime quits, and a repaint presents
// each open display's back buffer.
TEST(HostApiTest, DisplaySlotsReachEveryDisplay)
{
    ASSERT_EQ(InitPlatformGlue(), 0u);
    auto forEach = Host()->system->HostForEachDisplay;
    int visits = 0;
    auto count = [](void*, void* user) { return ++*static_cast<int*>(user), 0; };
    auto stop = [](void* display, void* user) { return display == user ? 5 : 0; };
    EXPECT_EQ(forEach(count, &visits, 0), 0);
    EXPECT_EQ(visits, 0);

    DisplayOptions options;
    InitDisplayOptions(&options);
    Display* first = nullptr;
    Display* second = nullptr;
    ASSERT_EQ(CreateDisplayRecord(nullptr, MakeObjectId(41), false, options, &first), 0u);
    ASSERT_EQ(CreateDisplayRecord(nullptr, MakeObjectId(42), false, options, &second), 0u);
    EXPECT_EQ(forEach(count, &visits, 0), 0);
    EXPECT_EQ(visits, 2);
    EXPECT_EQ(forEach(stop, first, 0), 5);
    Startup.quitting = 1;
    EXPECT_EQ(forEach(count, &visits, 2), 0);
    EXPECT_EQ(visits, 2);
    Startup.quitting = 0;

    ASSERT_EQ(OpenDisplayRecord(first), 0u);
    FillBitMapRect(static_cast<BitMapHandle*>(first->backBuffers[0]), 0, 0, 4, 4, 0xFF3366CC);
    EXPECT_EQ(ReadFramebufferPixel(first, 1, 1), 0u);
    Host()->system->RepaintAllDisplays();
    EXPECT_EQ(ReadFramebufferPixel(first, 1, 1), 0x3366CCu);
    FreeAllDisplays(nullptr);
    OsShutdown();
    // No events are pumped while the runtime shuts down.
    Startup.quitting = 1;
    uint32_t code = 77;
    EXPECT_EQ(Host()->system->HostPumpEvents(nullptr, 1, 0, &code), 0);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Host()->system->HostWaitEvents(nullptr, 0, 0, 0), 0u);
    Startup.quitting = 0;
}

// The line slot draws into the plugin's own pixels: the row length is
// required, the format defaults to ARGB, and bit 0x1 of the flags takes the
// opacity from the colour's top byte.
TEST(HostApiTest, TheLineSlotDrawsIntoThePluginsPixels)
{
    auto line = reinterpret_cast<QmDrawLineFunc>(Host()->graphics->slot[QM_GFX_DRAWLINE]);
    uint32_t px[3 * 6] = {};
    const QmTagItem noRow[] = {{1, 10}, {0, 0}};
    line(px, 0, 1, 5, 1, 0xFFFFFFFF, 0, noRow);
    for (uint32_t p : px) EXPECT_EQ(p, 0u);
    const QmTagItem tags[] = {{2, 6}, {0, 0}};
    line(px, -10, 1, 50, 1, 0x00FFFFFF, 0, tags);  // no flag: opaque whatever the top byte
    line(px, 2, 0, 2, 2, 0x80FFFFFF, 1, tags);     // opacity 128: over black 127, over white 255
    for (int x = 0; x < 6; ++x) EXPECT_EQ(px[6 + x], 0x00FFFFFFu) << x;
    EXPECT_EQ((std::vector<uint32_t>{px[0], px[2], px[14]}), (std::vector<uint32_t>{0, 0x007F7F7F, 0x007F7F7F}));
    uint16_t p16[4] = {};
    const QmTagItem tags16[] = {{1, 4}, {2, 4}, {0, 0}};
    line(p16, 0, 0, 3, 0, 0xFF00FF00, 0, tags16);
    for (uint16_t p : p16) EXPECT_EQ(p, 0x07E0);
}

} // namespace
