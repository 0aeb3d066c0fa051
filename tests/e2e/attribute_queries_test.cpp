// GetAttribute asked by an applet run by the player: the applet makes
// objects of each kind with known values and prints what each query
// answers, or the error GetLastError reports after it. Font metrics are
// checked against PIL's reading of the same faces.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "support/picture_oracle.h"
#include "support/shell_output.h"
#include "support/temp_dir.h"
#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/assembled_applet.h"
#include "tools/qmasm/assembler.h"

using namespace qmasm;

namespace {

// Object types and attributes as the applet passes them.
enum : int { BGPIC = 1, SAMPLE = 2, BRUSH = 3, ANIM = 4, DISPLAY = 21, SPRITE = 32, CLIPREGION = 35, POINTER = 36,
             MEMORY = 39, EVENTHANDLER = 40, INTERVAL = 41, FONT = 43, FILE_ = 44, DIRECTORY = 45, TIMER = 53 };
enum : int { ATTRXPOS = 7, ATTRYPOS = 8, ATTRCURFRAME = 12, ATTRONSCREEN = 23, ATTRFRAMEDELAY = 37, ATTRCOUNT = 60,
             ATTRLOADER = 91 };

// Objects the applet makes before it asks, from the files in the folder.
std::string Preamble(const TempDir& dir)
{
    const std::string opaque = "\"" + dir.file("opaque.png") + "\"", alpha = "\"" + dir.file("alpha.png") + "\"";
    return ".function onmouse params=1\n" + CommandCall("debugprint", {"\"mouse handler\""}) +
           "    RETURN r0, 1\n.end\n.function onend params=1\n    RETURN r0, 1\n.end\n" +
           CommandCall("exitonerror", {"#0"}) +
           CommandCall("createdisplay", {"#2", "{width=#320,height=#200,x=#11,y=#22,title=\"Probe\",borderless=#1,"
                                                "noclose=#1,scalewidth=#640,scaleheight=#400}"}) +
           CommandCall("loadbrush", {"#2", alpha, "{loadalpha=#1}"}) +
           CommandCall("loadbgpic", {"#5", alpha, "{loadalpha=#1}"}) + R"(    GETGLOBAL r0, "installeventhandler"
    NEWTABLE r1, 0, 2
    CLOSURE r2, onmouse
    SETTABLE r1, "OnMouseDown", r2
    CLOSURE r2, onend
    SETTABLE r1, "OnSampleEnd", r2
    LOADK r2, "probe data"
    CALL r0, 3, 1
)" + CommandCall("loadbrush", {"#1", opaque}) + CommandCall("loadbrush", {"nil", opaque}, 1) +
           "    SETGLOBAL r0, \"hbrush\"\n" + CommandCall("createclipregion", {"#7", "#14", "#10", "#20", "#30", "#40"}) +
           CommandCall("setclipregion", {"#7"}) + CommandCall("allocmem", {"#3", "#100"}) +
           CommandCall("openfile", {"#4", "\"" + dir.file("written.txt") + "\"", "#1006"}) +
           CommandCall("opendirectory", {"#6", "\"" + dir.path() + "\""}) +
           CommandCall("starttimer", {"#1"});
}

class AttributeQueries : public ::testing::Test {
protected:
    TempDir dir;

    PlayerRun Run(const std::vector<Ask>& asks, const std::string& tail = "", const std::string& setup = "",
                  const std::vector<AppletPreload>& preloads = {})
    {
        std::string text = Preamble(dir) + setup;
        for (const Ask& a : asks) text += AskText(a);
        AppletDescription applet = AssembleTestApplet(MainScript(text + tail));
        applet.preloads = preloads;
        return PlayApplet(dir, applet, {"-debugdevice", "console"});
    }

    void SetUp() override
    {
        QM_SKIP_WITHOUT(HaveConvert()) << kImageMagick << " is not installed";
        std::string make = std::string(kImageMagick) + " -size 33x17 xc:red " + dir.file("opaque.png") + " && " +
                           kImageMagick + " -size 21x9 xc:'rgba(0,0,255,0.5)' PNG32:" + dir.file("alpha.png");
        ASSERT_EQ(std::system(make.c_str()), 0);
    }
};

// One query of each object kind, a plugin's own ones among them, and of
// each way a query fails; the handler a query answers is the one
// installed: calling it runs it. Intervals and layers: tests/gfx.
TEST_F(AttributeQueries, ObjectsAnswerFromTheirRecords)
{
    const std::vector<Ask> asks = {
        {"brush width", BRUSH, "#1", 0, "33"},
        {"brush alpha", BRUSH, "#2", 17, "1"},
        {"brush by handle", BRUSH, "@hbrush", 1, "17"},
        {"brush count", BRUSH, "#99", 60, "3"},
        {"brush missing", BRUSH, "#99", 0, "!1174"},
        {"brush no such attribute", BRUSH, "#1", 36, "!1080"},
        {"bgpic size", BGPIC, "#5", 0, "21"},
        {"bgpic clip region", BGPIC, "#5", 39, "7"},
        {"clip x", CLIPREGION, "#7", 7, "10"},
        {"display title", DISPLAY, "#2", 51, "Probe"},
        {"display scale width", DISPLAY, "#2", 44, "640"},
        {"current display open", DISPLAY, "#0", 40, "1"},
        {"host width", DISPLAY, "#1", 28, "1920"},
        {"output", DISPLAY, "#0", 54, "21 1 0"},
        {"no bgpic shown", DISPLAY, "#2", 4, "-1"},
        {"font ascender", DISPLAY, "#0", 30, "7"},
        {"font name", DISPLAY, "#0", 32, "topaz"},
        {"display count", DISPLAY, "#77", 60, "2"},
        {"display missing", DISPLAY, "#77", 0, "!1344"},
        {"memory size", MEMORY, "#3", 57, "100"},
        {"file mode", FILE_, "#4", 42, "1006"},
        {"file missing", FILE_, "#5", 42, "!1179"},
        {"directory missing", DIRECTORY, "#7", 87, "!1318"},
        {"timer count", TIMER, "#1", 60, "1"},
        {"handler userdata", EVENTHANDLER, "\"onmousedown\"", 59, "probe data"},
        {"global handler userdata", EVENTHANDLER, "\"ONSAMPLEEND\"", 59, "probe data"},
        {"no handler", EVENTHANDLER, "\"OnKeyUp\"", 58, "0"},
        {"unknown event", EVENTHANDLER, "\"OnNothing\"", 58, "!1222"},
        {"sample missing", SAMPLE, "#1", 14, "!1178"},
        // A plugin's own type answers through the handler it registered;
        // the type ids past the registered ones have none.
        {"gadget number", 58, "#2", 0, "20"},
        {"gadget name", 58, "#1", 1, "gadget 1"},
        {"gadget count", 58, "#0", 60, "2"},
        {"gadget refuses", 58, "#1", 2, "!1080"},
        {"gadget missing", 58, "#9", 0, "!1041"},
        {"gadget answers nothing", 58, "#1", 5, ""},
        {"no plugin type", 59, "#1", 0, "!1055"},
        // Files and directories that a plugin's adapter serves name it.
        {"served file", FILE_, "#8", 87, "memfile"},
        {"served directory", DIRECTORY, "#9", 87, "memdir"},
        {"own directory", DIRECTORY, "#6", 87, "inbuilt"},
        {"file count", FILE_, "#0", 60, "2"},
    };
    std::string setup;
    for (const char* plugin : {"gadgets", "memfile", "memdir"})
        setup += CommandCall("loadplugin", {"\"" QM_TEST_PLUGIN_DIR "/" + std::string(plugin) + ".qmp\""});
    setup += CommandCall("openfile", {"#8", "\"mem:data.bin\"", "#1005"}) +
             CommandCall("opendirectory", {"#9", "\"mem:dir\""});
    const std::string callHandler =
        CommandCall("getattribute", {"#40", "\"OnMouseDown\"", "#58"}, 1) + "    LOADNUM r1, 0\n    CALL r0, 2, 1\n";
    PlayerRun run = Run(asks, callHandler, setup);
    ExpectAnswers(run, asks);
    EXPECT_NE(run.out.find("mouse handler\n"), std::string::npos) << run.out;
}

// Pointers made from a brush and from the standard pointers, one of them
// shown by the current display; then freed while shown and while not.
TEST_F(AttributeQueries, PointersAnswerFromTheirRecordsAndDisplaysNameTheirs)
{
    const std::string pointers = CommandCall("createpointer", {"#1", "#3", "#1"}) +
                                 CommandCall("createpointer", {"nil", "#36", "#1"}, 1) + "    SETGLOBAL r0, \"hptr\"\n" +
                                 CommandCall("createpointer", {"#3", "#36", "#0"}) + CommandCall("setpointer", {"#1"});
    const std::vector<Ask> asks = {
        {"brush pointer width", POINTER, "#1", 0, "33"},
        {"brush pointer type", POINTER, "#1", 9, "2"},
        {"busy pointer width", POINTER, "@hptr", 0, "32"},
        {"busy pointer type", POINTER, "@hptr", 9, "1"},
        {"system pointer type", POINTER, "#3", 9, "0"},
        {"pointer count", POINTER, "#99", 60, "3"},
        {"pointer missing", POINTER, "#2", 0, "!1320"},
        {"display shows pointer", DISPLAY, "#0", 38, "1"},
        {"other display shows none", DISPLAY, "#2", 38, "-1"},
    };
    // A standard pointer shown and then freed is gone for the script while
    // the display still names it; the brush pointer, no longer shown, goes.
    std::string after = CommandCall("setpointer", {"@hptr"}) +
                        CommandCall("debugprint", {"\"busy handle\"", "@hptr"}) +
                        CommandCall("freepointer", {"#1"}) + CommandCall("freepointer", {"@hptr"}) +
                        CommandCall("getattribute", {"#21", "#0", "#38"}, 1) +
                        "    MOVE r2, r0\n    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"shown handle\"\n"
                        "    CALL r0, 3, 1\n";
    const std::vector<Ask> freed = {
        {"freed brush pointer", POINTER, "#1", 0, "!1320"},
        {"freed shown pointer", POINTER, "@hptr", 0, "!1041"},
        {"system pointer stays", POINTER, "#3", 9, "0"},
    };
    for (const Ask& a : freed) after += AskText(a);
    PlayerRun run = Run(asks, after, pointers);
    ExpectAnswers(run, asks);
    ExpectAnswers(run, freed);
    // The rest of the label's line; the label when it is missing.
    auto printed = [&run](const std::string& label) {
        size_t at = run.out.find(label + " "), from = at + label.size() + 1;
        return at == std::string::npos ? label : run.out.substr(from, run.out.find('\n', at) - from);
    };
    EXPECT_EQ(printed("shown handle"), printed("busy handle")) << run.out;
    EXPECT_NE(printed("shown handle"), "-1");
}

// Anims answer the delay of frames 1 to their count and the loader that
// read them; a sprite that was never shown answers that it is not, and
// its place on the screen fails (the first display is open from the start).
TEST_F(AttributeQueries, AnimFramesSpritesNotShownAndMissingIntervals)
{
    // The plugin's frame n (from 0) lasts (n + 1) * 10 milliseconds.
    std::string setup = CommandCall("loadplugin", {"\"" QM_TEST_PLUGIN_DIR "/anims/procanim.qmp\""}) +
                        CommandCall("loadanim", {"#8", "\"frames:9:6:3\""}) +
                        CommandCall("loadanim", {"#9", "\"" + dir.file("opaque.png") + "\"", "{frames=#3}"}) +
                        CommandCall("loadsprite", {"#4", "\"" + dir.file("opaque.png") + "\"", "{frames=#3}"});
    const std::vector<Ask> asks = {
        {"first frame delay", ANIM, "#8", ATTRFRAMEDELAY, "10", "#1"},
        {"last frame delay", ANIM, "#8", ATTRFRAMEDELAY, "30", "#3"},
        {"frame 0", ANIM, "#8", ATTRFRAMEDELAY, "!1094", "#0"},
        {"frame -1", ANIM, "#8", ATTRFRAMEDELAY, "!1094", "#-1"},
        {"frame past the last", ANIM, "#8", ATTRFRAMEDELAY, "!1094", "#4"},
        {"plugin loader", ANIM, "#8", ATTRLOADER, "procanim"},
        {"own loader", ANIM, "#9", ATTRLOADER, "inbuilt"},
        {"anim missing", ANIM, "#7", ATTRFRAMEDELAY, "!1176", "#1"},
        {"anim missing loader", ANIM, "#7", ATTRLOADER, "!1176"},
        {"sprite not shown", SPRITE, "#4", ATTRONSCREEN, "0"},
        {"sprite x", SPRITE, "#4", ATTRXPOS, "!1220"},
        {"sprite y", SPRITE, "#4", ATTRYPOS, "!1220"},
        {"sprite frame", SPRITE, "#4", ATTRCURFRAME, "!1220"},
        {"interval count", INTERVAL, "#3", ATTRCOUNT, "!1194"},
    };
    ExpectAnswers(Run(asks, "", setup), asks);
}

// Unhandled, the same query ends the run with a message that says so.
TEST_F(AttributeQueries, SpriteNotShownEndsTheRunSayingSo)
{
    const std::string body =
        CommandCall("loadsprite", {"#4", "\"" + dir.file("opaque.png") + "\""}) +
        CommandCall("getattribute", {"#" + std::to_string(SPRITE), "#4", "#" + std::to_string(ATTRXPOS)}, 1);
    PlayerRun run = PlayApplet(dir, AssembleTestApplet(MainScript(body)), {"-debugdevice", "console"});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find("Sprite 4 is not on screen!"), std::string::npos) << run.out;
}

// Pictures that only a plugin reads name it, whether the options named it
// or not, and so do later loads of the same file that the graphics cache
// serves; the runtime's own decoders name themselves, also from the cache.
TEST_F(AttributeQueries, PicturesNameThePluginThatReadThemAlsoFromTheCache)
{
    const std::string png = "\"" + dir.file("opaque.png") + "\"";
    std::string setup = CommandCall("loadplugin", {"\"" QM_TEST_PLUGIN_DIR "/images/procimage.qmp\""});
    std::vector<Ask> asks;
    std::deque<std::string> labels;  // the asks point into them
    for (auto [type, load] : {std::pair<int, const char*>{BRUSH, "loadbrush"}, {BGPIC, "loadbgpic"}}) {
        setup += CommandCall(load, {"#11", "\"proc:8:6\""}) +
                 CommandCall(load, {"#12", "\"proc:8:6\"", "{loader=\"procimage\"}"}) +
                 CommandCall(load, {"#13", "\"proc:9:7\"", "{cache=#1}"}) +
                 CommandCall(load, {"#14", "\"proc:9:7\"", "{cachedload=#1}"}) +
                 CommandCall(load, {"#15", png, "{cache=#1}"}) + CommandCall(load, {"#16", png, "{cachedload=#1}"});
        for (int id = 11; id <= 16; ++id) {
            labels.push_back(std::string(load) + " " + std::to_string(id));
            asks.push_back({labels.back().c_str(), type, "#" + std::to_string(id), ATTRLOADER,
                            id < 15 ? "procimage" : "inbuilt"});
        }
    }
    // A strip cut from a cached picture is an anim of the same loader.
    setup += CommandCall("loadanim", {"#17", "\"proc:9:7\"", "{frames=#1,cachedload=#1}"});
    asks.push_back({"cached strip", ANIM, "#17", ATTRLOADER, "procimage"});
    asks.push_back({"own brush", BRUSH, "#2", ATTRLOADER, "inbuilt"});
    ExpectAnswers(Run(asks, "", setup), asks);
}

const char kVera[] = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";
const char kVeraMono[] = "/usr/share/fonts/truetype/ttf-bitstream-vera/VeraMono.ttf";

// Family name, ascent and descent of a face at a pixel size, as PIL's own
// binding of the font engine reads them.
std::vector<std::string> PilFontMetrics(const char* file, int size)
{
    std::istringstream in(ShellOutput(std::string(kSystemPython) +
                                      " -c 'import sys; from PIL import ImageFont; "
                                      "f = ImageFont.truetype(sys.argv[1], int(sys.argv[2])); "
                                      "print(\"%s\\n%d\\n%d\" % ((f.getname()[0],) + f.getmetrics()))' " +
                                      file + " " + std::to_string(size)));
    std::vector<std::string> fields;
    for (std::string field; std::getline(in, field);)
        fields.push_back(field);
    return fields;
}

TEST_F(AttributeQueries, FontsOpenedByPreloadingAndScriptsAnswerTheirFaces)
{
    QM_SKIP_WITHOUT(HavePil() && HaveReadableFile(kVera) && HaveReadableFile(kVeraMono))
        << "PIL or the Vera fonts are missing";
    std::vector<std::string> sans = PilFontMetrics(kVera, 8), mono = PilFontMetrics(kVeraMono, 20);
    ASSERT_TRUE(sans.size() == 3 && mono.size() == 3);
    // Font 3 is declared by the applet with the face linked into it, so it
    // opens at the default size from inside the applet file.
    AppletPreload declared = DeclaredFile(9, 3, "Vera.ttf", 0, ReadFileBytes(kVera));
    std::string setup = CommandCall("openfont", {"#4", "\"" + std::string(kVeraMono) + "\"", "#20"}) +
                        CommandCall("openfont", {"nil", "\"" + std::string(kVera) + "\"", "#20"}, 1) +
                        "    SETGLOBAL r0, \"hfont\"\n";
    const std::vector<Ask> asks = {
        {"linked name", FONT, "#3", 32, sans[0]},
        {"linked size", FONT, "#3", 33, "8"},
        {"linked ascender", FONT, "#3", 30, sans[1]},
        {"linked descender", FONT, "#3", 31, sans[2]},
        {"linked scalable", FONT, "#3", 34, "1"},
        {"file name", FONT, "#4", 32, mono[0]},
        {"handle size", FONT, "@hfont", 33, "20"},
        {"font count", FONT, "#0", 60, "3"},
    };
    // The built-in face and fonts that cannot be opened: tests/draw OpenFont.
    ExpectAnswers(Run(asks, "", setup, {declared}), asks);
}

}  // namespace
