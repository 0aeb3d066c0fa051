// Preloading's display steps: display 1 added when the applet declares
// none, and the start-up options copied into display 1 or every display.
#include "core/startup/preload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/services/command_services.h"
#include "core/startup/applet.h"
#include "core/startup/options.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/display_library.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/byte_sink.h"

namespace {

struct PreloadRun {
    CoreContext context{};
    AppletInfo applet{};

    PreloadRun()
    {
        InitAppletDisplayDefaults(&applet);
        context.quiet = 1;
        SetTags(nullptr, {{TAG_QUIET, 1}, {TAG_END, 0}});
    }
    ~PreloadRun() { FreeAppletInfoLists(&applet); }

    DisplayDesc* Add(uint32_t id)
    {
        PreloadEntry* entry = nullptr;
        EXPECT_EQ(AddPreloadDisplay(nullptr, &applet, &entry), 0u);
        entry->id = id;
        return static_cast<DisplayDesc*>(entry->details);
    }
};

TEST(Preload, StartupOptionsReachDisplayOneOrEveryDisplay)
{
    for (uint32_t all : {0u, 1u}) {
        for (uint32_t noOverride : {0u, 1u}) {
            PreloadRun run;
            DisplayDesc* second = run.Add(2);
            DisplayDesc* first = run.Add(1);
            run.context.allDisplays = all;
            run.context.noOptionOverride = noOverride;
            run.applet.displayMode = 2;
            run.applet.screenWidth = 800;
            run.applet.scaleWidth = -50;
            run.applet.displayFlags = 1 | 16;
            run.applet.backfill.hideTitleBar = 1;
            ASSERT_EQ(PreloadResources(&run.context, &run.applet, nullptr), 0u);
            bool firstGets = !noOverride;
            bool secondGets = !noOverride && all;
            EXPECT_EQ(first->mode, firstGets ? 2u : 0u);
            EXPECT_EQ(first->scrWidth, firstGets ? 800 : -1);
            EXPECT_EQ(first->scaleWidth, firstGets ? -50 : 0);
            EXPECT_EQ(first->flags & 17u, firstGets ? 17u : 0u);
            EXPECT_EQ(first->backfill.desc.hideTitleBar, firstGets ? 1u : 0u);
            EXPECT_EQ(second->mode, secondGets ? 2u : 0u);
            EXPECT_EQ(second->flags & 17u, secondGets ? 17u : 0u);
        }
    }
    // A whole backfill replaces the declared one.
    PreloadRun run;
    DisplayDesc* desc = run.Add(1);
    desc->backfill.desc.kind = 3;
    desc->backfill.desc.brush = 9;
    run.applet.backfill.kind = 1;
    run.applet.backfill.color1 = 0xABCDEF;
    ASSERT_EQ(PreloadResources(&run.context, &run.applet, nullptr), 0u);
    EXPECT_EQ(desc->backfill.desc.kind, 1u);
    EXPECT_EQ(desc->backfill.desc.color1, 0xABCDEFu);
}

TEST(Preload, DeclaredDisplaysAreCreatedThroughTheScriptCommand)
{
    VmState* vm = VmOpenState();
    VmPushValue(vm, VM_GLOBALSINDEX);
    ASSERT_EQ(OpenDisplayLibrary(vm), 0u);
    VmSetTop(vm, 0);
    {
        PreloadRun run;
        DisplayDesc* second = run.Add(7);
        second->flags |= DISPFLAG_BORDERLESS | DISPFLAG_HIDDEN;
        std::snprintf(second->title, sizeof second->title, "%s", "Second");
        run.applet.displayMode = 1;
        ASSERT_EQ(PreloadResources(&run.context, &run.applet, vm), 0u);
        EXPECT_EQ(VmGetTop(vm), 0);

        Display* display = nullptr;
        ASSERT_EQ(FindDisplay(MakeObjectId(7), &display), 0u);
        EXPECT_STREQ(display->title, "Second");
        EXPECT_NE(display->windowFlags & DISPFLAG_BORDERLESS, 0u);
        EXPECT_EQ(display->hidden, 1u);
        ASSERT_EQ(FindDisplay(MakeObjectId(1), &display), 0u);
        EXPECT_EQ(display->mode, 1u);  // the start-up option reached display 1 only
    }
    {
        PreloadRun run;
        run.Add(3)->width = 0;
        EXPECT_EQ(PreloadResources(&run.context, &run.applet, vm), ERR_DISPLAYSIZE);
        EXPECT_EQ(VmGetTop(vm), 0);
    }
    CloseDisplayLibrary(vm);
    VmCloseState(vm);
}

// Every argument a command receives, tables written out with their keys
// sorted (nested tables in braces).
std::string Describe(VmState* vm, int index)
{
    switch (VmType(vm, index)) {
    case VM_TSTRING: return std::string("\"") + VmGetString(vm, index) + "\"";
    case VM_TNUMBER: {
        char text[64];
        std::snprintf(text, sizeof text, "%.10g", VmGetNumber(vm, index));
        return text;
    }
    case VM_TTABLE: {
        if (index < 0)
            index = VmGetTop(vm) + index + 1;
        std::vector<std::string> fields;
        VmPushNil(vm);
        while (VmNext(vm, index)) {
            std::string key = VmType(vm, -2) == VM_TSTRING ? VmGetString(vm, -2) : Describe(vm, -2);
            fields.push_back(key + "=" + Describe(vm, VmGetTop(vm)));
            VmPop(vm, 1);
        }
        std::sort(fields.begin(), fields.end());
        std::string text = "{";
        for (size_t i = 0; i < fields.size(); ++i)
            text += (i ? " " : "") + fields[i];
        return text + "}";
    }
    default: return "?";
    }
}

std::vector<std::string> received;

uint32_t RecordAll(VmState* vm)
{
    std::string line;
    for (int i = 1; i <= VmGetTop(vm); ++i)
        line += (i > 1 ? " " : "") + Describe(vm, i);
    received.push_back(line);
    return 0;
}

void RegisterRecorders(VmState* vm)
{
    for (const char* name : {"loadbgpic", "loadbrush", "loadanim", "openmusic", "loadsample", "createbutton",
                             "createkeydown", "loadsprite", "openfile", "openfont", "openvideo", "createmenu",
                             "createdisplay"}) {
        VmPushCString(vm, name);
        VmPushNativeFunction(vm, RecordAll);
        VmSetTable(vm, VM_GLOBALSINDEX);
    }
}

qmasm::AppletPreload Declared(uint8_t kind, uint32_t id, const std::string& file, std::vector<uint8_t> record,
                              const char* text1 = "", const char* text2 = "")
{
    qmasm::AppletPreload p;
    p.kind = kind;
    p.id = id;
    p.data.assign(file.begin(), file.end());
    p.data.push_back(0);
    p.record = std::move(record);
    p.line = 7;
    p.text1 = text1;
    p.text2 = text2;
    return p;
}

class PreloadedApplet : public ::testing::Test {
protected:
    void SetUp() override
    {
        vm = VmOpenState();
        RegisterRecorders(vm);
        received.clear();
        InitAppletDisplayDefaults(&applet);
        applet.versionMajor = 6;
        applet.versionMinor = 1;
        context.quiet = 1;
        Startup.overridePlacement = 1;
    }
    void TearDown() override
    {
        FreeAppletInfoLists(&applet);
        Startup = StartupGlobals{};
        SetTags(nullptr, {{TAG_SCRIPTRUNNING, 0}, {TAG_END, 0}});
        VmErrorLine = -1;
        VmCloseState(vm);
    }

    // Writes the applet with the writer, reads it back and preloads it.
    uint32_t Preload(qmasm::AppletDescription a)
    {
        a.code = {1, 2, 3, 4};
        std::string path = dir.file("kinds.qma");
        WriteFileBytes(path, qmasm::WriteApplet(a));
        StreamHandle* stream = StreamOpen(path.c_str(), STREAM_READ);
        AppletOrigin origin{};
        uint32_t error = ReadAppletSections(path.c_str(), &context, vm, stream, 0, &applet, &origin);
        StreamClose(stream);
        if (error)
            return error;
        return PreloadResources(&context, &applet, vm);
    }

    TempDir dir;
    VmState* vm = nullptr;
    CoreContext context{};
    AppletInfo applet{};
};

TEST_F(PreloadedApplet, EveryKindPassesEveryDeclaredKeyToItsCommand)
{
    qmasm::AppletDescription a;
    qmasm::ByteSink bgpic;
    bgpic.U8(3);              // fill style
    bgpic.U32(0x112233);      // fill colour, also the gradient start
    bgpic.U32(0x445566);      // gradient end colour
    bgpic.I16(45);            // angle
    for (uint32_t v : {9, 4, 6})  // texture brush, x, y
        bgpic.U32(v);
    qmasm::AppletGradient gradient;
    gradient.style = 2;
    const uint32_t values[] = {250000, 750000, 500000, 100000};
    std::copy(values, values + 4, gradient.values);
    gradient.stops = {{0xFF0000, 0}, {0x0000FF, 1000000}};
    qmasm::EncodeGradient(gradient, &bgpic.Data());
    for (uint32_t v : {320, 200, 1})  // scale width and height, smooth
        bgpic.U32(v);
    a.preloads.push_back(Declared(0, 2, "back.png", bgpic.Data(), "inbuilt", "memfile"));
    a.preloads.back().transparentColor = 0xFF00FF;
    a.preloads.back().flags = 1 | 2;

    qmasm::ByteSink brush;
    for (int16_t v : {64, 32, 128, 1, 0})
        brush.I16(v);
    brush.U8(1);  // hardware
    for (uint32_t v : {50, 60, 1, 3})  // scale width and height, smooth, display
        brush.U32(v);
    a.preloads.push_back(Declared(1, 4, "logo.png", brush.Data()));

    qmasm::ByteSink anim;
    anim.U8(1);
    for (int16_t v : {12, 4, 16, 16, 48, 48})
        anim.I16(v);
    anim.U8(1);
    anim.U8(1);
    a.preloads.push_back(Declared(2, 5, "walk.gif", anim.Data()));

    qmasm::ByteSink sprite;
    for (int16_t v : {24, 24, 96, 96, 1, 200})
        sprite.I16(v);
    a.preloads.push_back(Declared(7, 6, "ghost.png", sprite.Data()));

    a.preloads.push_back(Declared(3, 1, "song.mod", {}, "tracker", "memfile"));
    a.preloads.push_back(Declared(4, 1, "beep.wav", {}, "inbuilt"));
    a.preloads.push_back(Declared(11, 1, "clip.avi", {}, "", "memfile"));
    a.preloads.push_back(Declared(8, 3, "data.txt", {}, "", "memfile"));
    a.preloads.push_back(Declared(9, 2, "Vera.ttf", {}, "freetype", "yes"));

    qmasm::ByteSink button;
    for (int16_t v : {10, 20, 110, 60})
        button.I16(v);
    a.preloads.push_back(Declared(5, 8, "", button.Data()));
    a.preloads.push_back(Declared(6, 9, "ESC", {}));

    // Project { Open (hotkey o) ; Recent { One } } , Quit (flags 2, id quit)
    qmasm::ByteSink menu;
    auto item = [&menu](const std::string& label, const std::string& hotkey, const std::string& id, uint32_t flags) {
        for (const std::string* t : {&label, &hotkey, &id}) {
            menu.U16(static_cast<uint32_t>(t->size()));
            menu.Text(*t);
        }
        menu.U32(flags);
    };
    item("Project", "", "", 0);
    menu.U8(2);
    item("Open", "o", "", 0);
    menu.U8(1);
    item("Recent", "", "", 0);
    menu.U8(2);
    item("One", "", "", 0);
    menu.U8(0);
    menu.U8(0);
    menu.U8(1);
    item("Quit", "", "quit", 2);
    menu.U8(0);
    a.preloads.push_back(Declared(13, 1, "", menu.Data()));

    ASSERT_EQ(Preload(a), 0u);
    ASSERT_EQ(received.size(), 13u);
    const char* const expected[] = {
        "2 \"back.png\" {adapter=\"memfile\" fillcolor=1122867 fillstyle=3 gradientangle=45 gradientbalance=0.5 "
        "gradientborder=0.1 gradientcenterx=0.25 gradientcentery=0.75 gradientcolors={0=16711680 1=0 2=255 3=1} "
        "gradientendcolor=4478310 gradientstartcolor=1122867 gradientstyle=2 loadalpha=1 loader=\"inbuilt\" "
        "loadtransparency=1 scaleheight=200 scalewidth=320 smoothscale=1 texturebrush=9 texturex=4 texturey=6 "
        "transparency=16711935}",
        "4 \"logo.png\" {cachealpha=1 display=3 globalalpha=128 hardware=1 height=32 scaleheight=60 scalewidth=50 "
        "smoothscale=1 width=64}",
        "5 \"walk.gif\" {deinterlace=1 fpr=4 frames=12 fromdisk=1 height=16 scaleheight=48 scalewidth=48 "
        "skiploopframes=1 width=16}",
        "6 \"ghost.png\" {globalalpha=200 height=24 scaleheight=96 scalewidth=96 smoothscale=1 width=24}",
        "1 \"song.mod\" {adapter=\"memfile\" loader=\"tracker\"}",
        "1 \"beep.wav\" {loader=\"inbuilt\"}",
        "1 \"clip.avi\" {adapter=\"memfile\"}",
        "3 \"data.txt\" 1005 {adapter=\"memfile\"}",
        "2 \"Vera.ttf\" {cache=\"yes\" engine=\"freetype\"}",
        "8 10 20 110 60",
        "9 \"ESC\"",
        "1 {1={1=\"Project\" 2={1={1=\"Open\" hotkey=\"o\"} 2={1=\"Recent\" 2={1={1=\"One\"}}}}} "
        "2={1=\"Quit\" flags=2 id=\"quit\"}}",
    };
    for (size_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(received[i], expected[i]) << i;
}

TEST_F(PreloadedApplet, DisplaysReceiveRegionsMenuOrientationAndRestoreSize)
{
    qmasm::AppletDescription a;
    qmasm::AppletDisplay d;
    d.width = 300;
    d.height = 200;
    d.dragRegions.push_back({{1, 0, 0, 300, 20}});
    d.sizeRegions.push_back({{2, 280, 180, 20, 20}});
    d.orientation = 2;
    d.hasMenu = true;
    d.menu = 4;
    d.desktop = 1;
    d.backfill.kind = 4;
    d.backfill.brush = 3;
    d.backfill.scale = 1;
    d.backfill.extra = 1;
    qmasm::AppletPreload entry;
    entry.kind = 10;
    entry.id = 1;
    entry.record = qmasm::EncodeDisplayDescription(d);
    // The word after the flags declares the display active.
    entry.record[4 * 7 + 3] = 1;
    a.preloads.push_back(entry);
    ASSERT_EQ(Preload(a), 0u);
    ASSERT_EQ(received.size(), 1u);
    const std::string& call = received[0];
    for (const char* part : {"__restoreheight=200", "__restorewidth=300", "active=1", "desktop=1", "menu=4",
                             "orientation=2", "dragregion={1={height=20 type=1 width=300 x=0 y=0}}",
                             "sizeregion={1={height=20 type=2 width=20 x=280 y=180}}",
                             "hidetitlebar=0 scalepicture=1 smoothscale=1 startcolor=4294967295 type=\"picture\"}"})
        EXPECT_NE(call.find(part), std::string::npos) << part << " in " << call;
}

// The same file at the same scale is loaded once, whatever the case of its
// name: the first caches it, the later ones take it from the cache; a
// separate declaration or another scale is a picture of its own.
TEST_F(PreloadedApplet, RepeatedFilesShareOneLoadUnlessSeparateOrScaledOtherwise)
{
    qmasm::AppletDescription a;
    std::vector<uint8_t> brush(10 + 1 + 12 + 4, 0);
    for (uint32_t id : {1u, 2u, 3u, 4u})
        a.preloads.push_back(Declared(1, id, id == 3 ? "SAME.png" : "same.png", brush));
    a.preloads[1].flags = PRELOAD_FLAG_SEPARATE;
    a.preloads[3].record[14] = 50;  // the scale width's low byte
    ASSERT_EQ(Preload(a), 0u);
    ASSERT_EQ(received.size(), 5u);  // and display 1
    EXPECT_EQ(received[0], "1 \"same.png\" {cache=1}");
    EXPECT_EQ(received[1], "2 \"same.png\" {}");
    EXPECT_EQ(received[2], "3 \"SAME.png\" {cachedload=1}");
    EXPECT_EQ(received[3], "4 \"same.png\" {scalewidth=50}");
}

}  // namespace
