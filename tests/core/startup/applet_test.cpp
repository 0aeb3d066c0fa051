// The applet reader and loader against applets made by the test applet
// writer, which shares no code with them.
#include "core/startup/applet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "core/io/container.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/stream.h"
#include "core/startup/options.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "platform/posix/os_memory.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/byte_sink.h"
#include "tools/qmasm/container.h"
#include "tools/qmasm/linker.h"

using namespace qmasm;

namespace {

using Bytes = std::vector<uint8_t>;

class AppletReading : public ::testing::Test {
protected:
    TempDir dir;
    CoreContext context{};
    AppletInfo applet{};
    VmState* vm = nullptr;

    void SetUp() override
    {
        applet.versionMajor = 6;
        applet.versionMinor = 1;
        ResetStartupDisplayRecord(&StartupDisplayRecord);
    }
    void TearDown() override
    {
        FreeAppletInfoLists(&applet);
        FreeIconTable();
        FreeStartupGlobals();
        Startup = StartupGlobals{};
        if (vm)
            VmCloseState(vm);
    }

    // Writes the bytes behind `prefix` filler bytes and reads the sections
    // into a fresh record.
    uint32_t Read(const Bytes& bytes, size_t prefix = 0)
    {
        FreeAppletInfoLists(&applet);
        Bytes file(prefix, 0x5A);
        file.insert(file.end(), bytes.begin(), bytes.end());
        path = dir.file("a.qma");
        WriteFileBytes(path, file);
        StreamHandle* stream = StreamOpen(path.c_str(), STREAM_READ);
        EXPECT_NE(stream, nullptr);
        AppletOrigin origin{};
        uint32_t error = ReadAppletSections(path.c_str(), &context, vm, stream, prefix, &applet, &origin);
        StreamClose(stream);
        return error;
    }

    static AppletDescription Minimal()
    {
        AppletDescription a;
        a.code = {1, 2, 3, 4, 5};
        return a;
    }

    // The bytes of a minimal applet with one more section before the code.
    static Bytes WithSection(uint8_t tag, const Bytes& data, uint8_t major = 6, uint8_t minor = 1)
    {
        AppletDescription a = Minimal();
        a.versionMajor = major;
        a.versionMinor = minor;
        a.sections.push_back({tag, data});
        return WriteApplet(a);
    }

    std::string path;
};

TEST_F(AppletReading, MetadataCodeAndVersion)
{
    AppletDescription a = Minimal();
    a.versionMajor = 5;
    a.versionMinor = 3;
    a.title = "Title";
    a.version = "\xFFVER: x 1.0";
    a.copyright = "(c)";
    a.author = std::string(400, 'a');  // longer than its field
    a.description = "desc";
    a.identifier = "com.example.x";
    ASSERT_EQ(Read(WriteApplet(a)), 0u);
    EXPECT_STREQ(applet.title, "Title");
    EXPECT_STREQ(applet.version, "$VER: x 1.0");
    EXPECT_EQ(std::strlen(applet.author), sizeof applet.author - 1);
    EXPECT_STREQ(applet.identifier, "com.example.x");
    EXPECT_EQ(applet.versionMajor, 5u);
    EXPECT_EQ(applet.versionMinor, 3u);
    ASSERT_EQ(applet.codeSize, 5u);
    EXPECT_EQ(Bytes(applet.code, applet.code + 5), a.code);
    EXPECT_EQ(applet.loaded, 1u);
}

TEST_F(AppletReading, NewerFormatVersionsAreRefusedWithTheVersionAsArgument)
{
    for (auto [major, minor, text] : {std::tuple{6, 2, "6.2"}, {7, 0, "7.0"}}) {
        AppletDescription a = Minimal();
        a.versionMajor = static_cast<uint8_t>(major);
        a.versionMinor = static_cast<uint8_t>(minor);
        EXPECT_EQ(Read(WriteApplet(a)), ERR_APPLETVERSION);
        EXPECT_STREQ(errorArgText, text);
    }
    // Unknown tags are refused.
    EXPECT_EQ(Read(WithSection(35, {})), ERR_UNKNOWNSEC);

    // Sections behind the code chunk are never read, whatever they hold.
    AppletDescription a = Minimal();
    a.trailer = {35, 11, 'x', 'y'};
    ASSERT_EQ(Read(WriteApplet(a)), 0u);
    EXPECT_STREQ(applet.title, "");
}

TEST_F(AppletReading, EveryTruncationFailsCleanly)
{
    AppletDescription a = Minimal();
    a.title = "t";
    a.labels = {{"start", 3}};
    a.constants = {{"K", false, 2.5, ""}};
    a.linkedFiles.push_back({"data.bin", AppletLinkedFile::Storage::Inline, {9, 8, 7}, 0, 0});
    AppletPreload p;
    p.kind = PRELOAD_WARNING;
    p.data = {'h', 'i'};
    a.preloads.push_back(p);
    Bytes full = WriteApplet(a);
    // Cutting off the last byte of the code still leaves every section whole.
    for (size_t n = 0; n < full.size(); n++) {
        Bytes cut(full.begin(), full.begin() + n);
        uint32_t error = Read(cut);
        EXPECT_TRUE(error == ERR_UNEXPECTEDEOF || error == ERR_READ) << n << ": " << error;
    }
}

TEST_F(AppletReading, SizesAndCountsBeyondTheFileAllocateNothing)
{
    // Counts and sizes near 4 GB must fail before anything that large is
    // asked of the allocator (the sanitizer build would report it).
    const std::pair<uint8_t, Bytes> cases[] = {
        {0, {0xFF, 0xFF, 0xFF, 0xF0}},
        {2, {0xFF, 0xFF, 0xFF, 0xFF}},
        {8, {0x10, 0x00, 0x00, 0x00}},
        {9, {0xFF, 0xFF, 0xFF, 0xFF}},
        {26, {0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
        {26, {0, 0, 0, 1, 0, 0, 0, 0, 'n', 0, 0xFF, 0xFF, 0xFF, 0xF0}},
        {26, {0, 0, 0, 1, 0, 0, 0, 0, 'n', 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0, 0, 0, 0, 0, 0, 0}},
        {27, {0x01, 0x00, 0x00, 0x00}},
    };
    for (const auto& [tag, data] : cases) {
        EXPECT_EQ(Read(WithSection(tag, data)), ERR_UNEXPECTEDEOF) << int(tag);
    }
    Bytes huge = {'Q', 'M', 'A', 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2};
    EXPECT_EQ(Read(huge), ERR_UNEXPECTEDEOF);
    // Embedded data outside the applet.
    AppletDescription a = Minimal();
    AppletPreload p;
    p.kind = PRELOAD_FILE;
    p.dataOffset = 0xFFFFFFF0;
    p.dataSize = 0x20;
    a.preloads.push_back(p);
    EXPECT_EQ(Read(WriteApplet(a)), ERR_UNEXPECTEDEOF);
}

TEST_F(AppletReading, LinkedFilesInlineExternalAndDropped)
{
    AppletDescription a = Minimal();
    a.linkedFiles.push_back({"in.txt", AppletLinkedFile::Storage::Inline, {'a', 'b', 'c'}, 0, 0});
    a.linkedFiles.push_back({"gone.txt", AppletLinkedFile::Storage::Dropped, {}, 0, 0});
    a.linkedFiles.push_back({"out.txt", AppletLinkedFile::Storage::External, {'x', 'y'}, 0, 0});
    const size_t prefix = 77;  // as in a linked program: offsets are relative to the applet
    Bytes bytes = WriteApplet(a);
    ASSERT_EQ(Read(bytes, prefix), 0u);
    Bytes file = ReadFileBytes(path);
    std::vector<std::pair<std::string, std::string>> found;
    for (LinkedFileRecord* r = applet.linkedFiles; r; r = r->next) {
        EXPECT_EQ(std::string(r->container), path);
        found.emplace_back(r->name, std::string(file.begin() + prefix + r->offset,
                                                file.begin() + prefix + r->offset + r->size));
    }
    EXPECT_EQ(found, (std::vector<std::pair<std::string, std::string>>{{"in.txt", "abc"}, {"out.txt", "xy"}}));
}

// A hostile applet may carry tens of thousands of records: each is
// appended in constant time, and a user abort ends the load.
TEST_F(AppletReading, LongListsLoadWholeAndInOrderAndAbortEndsThem)
{
    constexpr uint32_t kCount = 40000;
    AppletDescription a = Minimal();
    for (uint32_t i = 0; i < kCount; i++) {
        a.linkedFiles.push_back({"f" + std::to_string(i), AppletLinkedFile::Storage::Inline, {}, 0, 0});
        a.includedFiles.push_back({i, i, 0, "i" + std::to_string(i), std::nullopt});
    }
    AppletPreload menu;
    menu.kind = 13;
    for (uint32_t i = 0; i < kCount; i++) {
        const uint8_t item[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(i + 1 < kCount ? 1 : 0)};
        menu.record.insert(menu.record.end(), item, item + 11);
    }
    a.preloads.push_back(menu);
    Bytes bytes = WriteApplet(a);
    ASSERT_EQ(Read(bytes), 0u);
    uint32_t linked = 0, included = 0, items = 0;
    for (LinkedFileRecord* r = applet.linkedFiles; r; r = r->next, linked++)
        ASSERT_EQ(std::string(r->name), "f" + std::to_string(linked));
    for (IncludedFileRecord* r = applet.includedFiles; r; r = r->next, included++)
        ASSERT_EQ(std::string(r->name), "i" + std::to_string(included));
    ASSERT_NE(applet.preloadEntries, nullptr);
    for (auto* item = static_cast<MenuTreeItem*>(applet.preloadEntries->details); item; item = item->next)
        items++;
    EXPECT_EQ(linked, kCount);
    EXPECT_EQ(included, kCount);
    EXPECT_EQ(items, kCount);

    VmAbortFlag.store(1);
    EXPECT_EQ(Read(bytes), uint32_t{ERR_USERABORT});
    VmAbortFlag.store(0);
}

TEST_F(AppletReading, LabelsAndConstantsGoToTheRegistry)
{
    vm = VmOpenState();
    AppletDescription a = Minimal();
    a.labels = {{"start", 3}, {"Loop", 9}};
    a.constants = {{"MY_NUM", false, -2.5, ""}, {"My_Text", true, 0, "hello"}};
    ASSERT_EQ(Read(WriteApplet(a)), 0u);
    auto field = [this](const char* table, const char* key) {
        VmPushCString(vm, table);
        VmRawGet(vm, VM_REGISTRYINDEX);
        VmPushCString(vm, key);
        VmRawGet(vm, -2);
        std::string out = VmType(vm, -1) == VM_TNUMBER ? std::to_string(VmGetNumber(vm, -1))
                          : VmType(vm, -1) == VM_TSTRING ? std::string(VmGetString(vm, -1))
                                                         : "nil";
        VmSetTop(vm, 0);
        return out;
    };
    EXPECT_EQ(field("labels", "start"), std::to_string(3.0));
    EXPECT_EQ(field("labels", "Loop"), std::to_string(9.0));
    EXPECT_EQ(field("constants", "my_num"), std::to_string(-2.5));
    EXPECT_EQ(field("constants", "my_text"), "hello");
}

TEST_F(AppletReading, IncludedFilesOfEveryForm)
{
    ByteSink s;
    for (uint32_t word : {1, 5, 7, 2})
        s.U32(word);
    s.CString("stored\x01name");
    s.CString("file\x02");
    ASSERT_EQ(Read(WithSection(33, s.Take())), 0u);
    ASSERT_NE(applet.includedFiles, nullptr);
    // Kept as stored: the names of this section are not unscrambled.
    EXPECT_STREQ(applet.includedFiles->name, "stored\x01name");
    EXPECT_STREQ(applet.includedFiles->file, "file\x02");
    EXPECT_EQ(applet.includedFiles->beginLine, 2u);
}

// What the declarations' commands receive is the preload tests'; here the
// entry record itself and the display fields no command option shows.
TEST_F(AppletReading, PreloadEntriesWithEmbeddedDataAndDisplays)
{
    AppletDescription a = Minimal();
    AppletPreload warning;
    warning.kind = PRELOAD_WARNING;
    warning.data = {'l', 'o', 'w'};
    warning.line = 12;
    warning.text1 = "t1";
    a.preloads.push_back(warning);
    AppletPreload display;
    display.kind = PRELOAD_DISPLAY;
    display.id = 1;
    AppletDisplay d;
    d.width = 800;
    d.title = "My display";
    d.flags = 1 | 4096;
    d.dragRegions.resize(2);
    d.dragRegions[1].words[4] = 44;
    d.gradient.stops = {{0xFF0000, 500000}};
    d.texts[2] = "third";
    display.record = EncodeDisplayDescription(d);
    a.preloads.push_back(display);
    ASSERT_EQ(Read(WriteApplet(a)), 0u);

    PreloadEntry* e = applet.preloadEntries;
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->kind, PRELOAD_WARNING);
    EXPECT_EQ(e->line, 12u);
    EXPECT_STREQ(e->text1, "t1");
    ASSERT_EQ(e->dataSize, 3u);
    EXPECT_STREQ(reinterpret_cast<char*>(e->data), "low");
    EXPECT_EQ(std::string(e->sourceFile), path);

    e = e->next;
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(FindPreloadDisplay(&applet), e);
    auto* desc = static_cast<DisplayDesc*>(e->details);
    EXPECT_EQ(desc->width, 800);
    EXPECT_STREQ(desc->title, "My display");
    EXPECT_EQ(desc->flags, 1u | 4096u);
    ASSERT_EQ(desc->dragRegionCount, 2u);
    EXPECT_EQ(desc->dragRegions[1].words[4], 44u);
    ASSERT_EQ(desc->gradient.stopCount, 1u);
    EXPECT_DOUBLE_EQ(desc->gradient.positions[0], 0.5);
    EXPECT_STREQ(desc->texts[2], "third");
    EXPECT_EQ(e->next, nullptr);
}

// A chain of submenus `depth` levels deep, one item per level.
Bytes MenuLevel(int depth)
{
    ByteSink s;
    for (int level = 1; level <= depth; level++) {
        s.WString("item");
        s.WString("");
        s.WString("");
        s.U32(0);
        s.U8(level < depth ? 2 : 0);
    }
    for (int level = 1; level < depth; level++)
        s.U8(0);
    return s.Take();
}

TEST_F(AppletReading, MenuTreesHaveADepthLimit)
{
    for (int depth : {1, 5, static_cast<int>(MENU_MAX_DEPTH), 5000}) {
        AppletDescription a = Minimal();
        AppletPreload p;
        p.kind = PRELOAD_MENU;
        p.record = MenuLevel(depth);
        a.preloads.push_back(p);
        if (depth > static_cast<int>(MENU_MAX_DEPTH)) {
            EXPECT_EQ(Read(WriteApplet(a)), ERR_MENUCOMPLEXITY);
            continue;
        }
        ASSERT_EQ(Read(WriteApplet(a)), 0u) << depth;
        int found = 0;
        for (auto* item = static_cast<MenuTreeItem*>(applet.preloadEntries->details); item; item = item->submenu)
            found++;
        EXPECT_EQ(found, depth);
    }
}

TEST_F(AppletReading, FirstDisplaySectionsAndStartupRecord)
{
    ByteSink s;
    s.U8(4);
    s.WString("Titled");
    s.U8(3);
    s.I16(320);
    s.I16(200);
    s.U8(18);
    s.U8(1);
    s.U8(28);
    s.U8(1);
    s.U32(50);
    s.U32(60);
    s.U8(1);
    s.U8(22);
    s.I16(5);
    s.I16(-7);
    s.U8(29);
    AppletDescription a = Minimal();
    Bytes body = s.Take();
    // Several sections as one raw block behind an empty skipped section.
    a.sections.push_back({0, {0, 0, 0, 0}});
    a.sections.back().data.insert(a.sections.back().data.end(), body.begin(), body.end());
    ASSERT_EQ(Read(WriteApplet(a)), 0u);
    PreloadEntry* e = FindPreloadDisplay(&applet);
    ASSERT_NE(e, nullptr);
    auto* desc = static_cast<DisplayDesc*>(e->details);
    EXPECT_STREQ(desc->title, "Titled");
    EXPECT_EQ(desc->width, 320);
    EXPECT_EQ(desc->flags, DISPFLAG_STARTUPDISPLAY | 1u | 256u | 128u);
    EXPECT_EQ(desc->scaleWidth, 50);
    EXPECT_EQ(desc->scaleHeight, 60);
    EXPECT_EQ(StartupDisplayRecord.words[0], 5);
    EXPECT_EQ(StartupDisplayRecord.words[1], -7);
    EXPECT_EQ(context.noOptionOverride, 1u);
}

TEST_F(AppletReading, IconsBecomeChunkNamesIntoTheFile)
{
    AppletDescription a = Minimal();
    a.icons = {{16, 16, 0, {1, 2, 3}}, {32, 32, 1, {4, 5}}, {17, 17, 0, {6}}};
    ASSERT_EQ(Read(WriteApplet(a), 10), 0u);
    ASSERT_NE(IconTable[0].data, nullptr);
    EXPECT_NE(std::string(IconTable[0].data).find("16x16"), std::string::npos);
    StreamHandle* icon = StreamOpen(IconTable[0].data, STREAM_READ);
    ASSERT_NE(icon, nullptr);
    uint8_t got[4] = {};
    EXPECT_EQ(StreamRead(icon, got, 4), 3u);
    EXPECT_EQ(Bytes(got, got + 3), (Bytes{1, 2, 3}));
    StreamClose(icon);
    EXPECT_EQ(IconTable[2].data, nullptr);              // 32 x 32 went to the second half
    ASSERT_NE(IconTable[ICON_TABLE_SIZE / 2 + 2].data, nullptr);
}

using AppletLoading = AppletReading;

TEST_F(AppletLoading, PackedAppletsAreInflatedIntoATemporaryFile)
{
    AppletDescription a = Minimal();
    a.packed = true;
    a.title = "packed";
    a.linkedFiles.push_back({"in.txt", AppletLinkedFile::Storage::Inline, {'q'}, 0, 0});
    a.icons = {{16, 16, 0, {7, 7}}};
    std::string file = dir.file("p.qma");
    WriteFileBytes(file, WriteApplet(a));
    char current[1024];
    std::snprintf(current, sizeof current, "%s", file.c_str());
    StreamHandle* stream = StreamOpen(current, STREAM_READ);
    ASSERT_NE(stream, nullptr);
    uint64_t offset = 0;
    AppletOrigin origin{};
    ASSERT_EQ(OpenAppletStream(&stream, current, sizeof current, &offset, &context, &origin), 0u);
    EXPECT_EQ(context.isApplet, 1u);
    EXPECT_EQ(origin.packed, 1u);
    EXPECT_NE(std::string(current), file);
    ASSERT_EQ(ReadAppletSections(current, &context, nullptr, stream, offset, &applet, &origin), 0u);
    StreamClose(stream);
    EXPECT_STREQ(applet.title, "packed");
    ASSERT_NE(applet.linkedFiles, nullptr);
    EXPECT_STREQ(applet.linkedFiles->container, current);
    // The icon block follows the container in the original file.
    ASSERT_NE(IconTable[0].data, nullptr);
    EXPECT_NE(std::string(IconTable[0].data).find(file), std::string::npos);
}

TEST_F(AppletLoading, HeaderTextsFromTheFirstBytes)
{
    AppletDescription a = Minimal();
    a.title = "Quick";
    a.author = "Me";
    std::string file = dir.file("h.qma");
    WriteFileBytes(file, WriteApplet(a));
    std::snprintf(context.scriptPath, sizeof context.scriptPath, "%s", file.c_str());
    ASSERT_EQ(ReadScriptFileHeader(&context, &applet), 0u);
    EXPECT_STREQ(applet.title, "Quick");
    EXPECT_STREQ(applet.author, "Me");

    AppletInfo packed{};
    a.packed = true;
    a.title = "Squeezed";
    WriteFileBytes(file, WriteApplet(a));
    ASSERT_EQ(ReadScriptFileHeader(&context, &packed), 0u);
    EXPECT_STREQ(packed.title, "Squeezed");
}

TEST_F(AppletLoading, PluginBundleEntriesStayInsideTheTemporaryDirectory)
{
    Bytes player(64, 0x11);
    Bytes appletBytes = WriteApplet(Minimal());
    for (bool packed : {false, true}) {
        std::vector<BundlePlugin> plugins = {{"../../escape", {1, 2, 3}}, {"/abs/plain", {4}}, {"..", {5}}};
        Bytes bundle = WritePluginBundle(plugins, packed);
        Bytes program = player;
        program.insert(program.end(), bundle.begin(), bundle.end());
        program.insert(program.end(), appletBytes.begin(), appletBytes.end());
        std::string file = dir.file("prog");
        WriteFileBytes(file, program);
        uint32_t offset = static_cast<uint32_t>(player.size());
        ASSERT_EQ(RunLinkedPluginBundle(file.c_str(), &offset), 0u);
        EXPECT_EQ(offset, player.size() + bundle.size());
        std::string temp = Startup.tempDirectory;
        ASSERT_FALSE(temp.empty());
        EXPECT_EQ(ReadFileBytes(temp + "/escape.qmp"), (Bytes{1, 2, 3}));
        EXPECT_EQ(ReadFileBytes(temp + "/plain.qmp"), (Bytes{4}));
        EXPECT_FALSE(FileExists(dir.path() + "/escape.qmp"));
        FreeStartupGlobals();
        EXPECT_FALSE(FileExists(temp));
    }
    // Without a bundle the applet starts where it did and nothing is unpacked.
    Bytes plain = player;
    plain.insert(plain.end(), appletBytes.begin(), appletBytes.end());
    WriteFileBytes(dir.file("prog"), plain);
    uint32_t start = static_cast<uint32_t>(player.size());
    ASSERT_EQ(RunLinkedPluginBundle(dir.file("prog").c_str(), &start), 0u);
    EXPECT_EQ(start, player.size());
    EXPECT_EQ(Startup.tempDirectory[0], 0);
    Bytes cut = WritePluginBundle({{"one", PatternBytes(1000)}}, false);
    cut.resize(cut.size() - 600);
    WriteFileBytes(dir.file("prog"), cut);
    uint32_t offset = 0;
    EXPECT_EQ(RunLinkedPluginBundle(dir.file("prog").c_str(), &offset), ERR_READ);
}

}  // namespace
