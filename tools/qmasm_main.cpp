// qmasm: assembles a text file into a compiled chunk (-o) and/or an applet
// (--applet) for tests and examples. Named constants (#IMGFMT_PNG) are read
// from the player's own tables; every function carries line information and
// the main function the text's name, so that an applet's errors name the
// file and line.
#include "core/services/path_helpers.h"
#include "core/startup/run_records.h"
#include "tools/cli_files.h"
#include "tools/player_tables.h"
#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/assembled_applet.h"
#include "tools/qmasm/assembler.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

using namespace qmasm;

// A background picture declared with no options: the whole picture, no
// transparent colour, no gradient behind it. The file name is read as the
// applet starts, from the applet's folder.
static AppletPreload BGPicDeclaration(uint32_t id, const std::string& file)
{
    constexpr uint8_t kPreloadBGPic = 0;
    // Options (1 + 4 + 4 + 2 + 3 * 4 bytes), the gradient (style, four
    // values, no stops) and three more words, all zero.
    constexpr size_t kRecordSize = 23 + 18 + 12;
    AppletPreload p;
    p.kind = kPreloadBGPic;
    p.id = id;
    p.data.assign(file.begin(), file.end());
    p.data.push_back(0);
    p.record.assign(kRecordSize, 0);
    return p;
}

// The texts GetApplicationInfo gives back; the player keeps up to 255 bytes
// of each, so a longer one is refused rather than cut.
struct TextOption {
    const char* name;
    std::optional<std::string> AppletDescription::*field;
};
constexpr TextOption kTextOptions[] = {
    {"--title", &AppletDescription::title},         {"--version", &AppletDescription::version},
    {"--copyright", &AppletDescription::copyright}, {"--author", &AppletDescription::author},
    {"--description", &AppletDescription::description}, {"--identifier", &AppletDescription::identifier},
};
constexpr size_t kAppletTextMax = sizeof AppletInfo::title - 1;

static const char kUsage[] =
    "usage: qmasm IN.qas -o OUT.qmb\n"
    "       qmasm IN.qas --applet OUT.qma [--packed] [--title TEXT] [--version TEXT]\n"
    "                    [--copyright TEXT] [--author TEXT] [--description TEXT]\n"
    "                    [--identifier NAME] [--link NAME=FILE]... [--bgpic ID=FILE]...\n"
    "       qmasm --help\n";

static const char kHelp[] =
    "Assembles IN.qas, a text in the assembly language that docs/assembly.md\n"
    "describes, into a compiled chunk, an applet that quillmereplayer runs, or both.\n"
    "At least one of -o and --applet is needed.\n"
    "\n"
    "  -o OUT.qmb         writes the bare compiled chunk (qmdis prints it back as text)\n"
    "  --applet OUT.qma   writes an applet: the chunk with its line records, so that\n"
    "                     the player's error reports name IN.qas and its lines\n"
    "The applet takes these as well:\n"
    "  --packed           packs the applet with zlib\n"
    "  --title TEXT, --version TEXT, --copyright TEXT, --author TEXT,\n"
    "  --description TEXT\n"
    "                     what the applet tells of itself (GetApplicationInfo gives\n"
    "                     them back); up to 255 bytes each\n"
    "  --identifier NAME  names the applet's preferences file (SavePrefs, LoadPrefs,\n"
    "                     DeletePrefs), such as com.example.game: a plain file name\n"
    "                     of up to 255 bytes, without '/', '\\' or ':' and not . or ..;\n"
    "                     applets that share it share their preferences\n"
    "  --link NAME=FILE   links FILE into the applet under NAME\n"
    "  --bgpic ID=FILE    declares background picture ID, loaded from FILE (beside\n"
    "                     the applet) as the applet starts; BGPic 1 is display 1's\n"
    "  -h, --help         prints this help\n"
    "\n"
    "Errors in the text are reported as IN.qas:LINE: what is wrong; nothing is\n"
    "written then.\n";

static int Refuse(const std::string& why)
{
    return RefuseCommandLine("qmasm", kUsage, why);
}

int main(int argc, char** argv)
{
    std::string input, output, appletPath;
    AppletDescription applet;
    bool appletOptions = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help")
            return PrintHelp(kUsage, kHelp);
        const TextOption* text = nullptr;
        for (const TextOption& t : kTextOptions)
            if (a == t.name)
                text = &t;
        bool takesValue = a == "-o" || a == "--applet" || a == "--link" || a == "--bgpic" || text;
        if (takesValue && i + 1 >= argc)
            return Refuse(a + " needs a value");
        if (text) {
            std::string value = argv[++i];
            if (value.size() > kAppletTextMax)
                return Refuse(a + " takes up to " + std::to_string(kAppletTextMax) + " bytes, not " +
                              std::to_string(value.size()));
            if (text->field == &AppletDescription::identifier && !IsPlainFileName(value.c_str()))
                return Refuse("--identifier must be a plain file name (not empty, . or .., without '/', '\\' "
                              "or ':'), not \"" + value + "\"");
            applet.*text->field = value;
            appletOptions = true;
        } else if (a == "-o") {
            output = argv[++i];
        } else if (a == "--applet") {
            appletPath = argv[++i];
        } else if (a == "--packed") {
            applet.packed = true;
            appletOptions = true;
        } else if (a == "--link") {
            std::string spec = argv[++i];
            size_t eq = spec.find('=');
            if (eq == std::string::npos || eq == 0 || eq + 1 == spec.size())
                return Refuse("--link takes NAME=FILE, not " + spec);
            AppletLinkedFile f;
            f.name = spec.substr(0, eq);
            if (!ReadWholeFile(spec.substr(eq + 1), &f.data)) {
                std::fprintf(stderr, "qmasm: cannot read %s\n", spec.substr(eq + 1).c_str());
                return 1;
            }
            applet.linkedFiles.push_back(std::move(f));
            appletOptions = true;
        } else if (a == "--bgpic") {
            std::string spec = argv[++i];
            size_t eq = spec.find('=');
            char* end = nullptr;
            unsigned long id = eq == std::string::npos ? 0 : std::strtoul(spec.c_str(), &end, 10);
            if (id < 1 || id > 0xFFFFFFFFul || end != spec.c_str() + eq || eq + 1 == spec.size())
                return Refuse("--bgpic takes ID=FILE with an ID from 1, not " + spec);
            applet.preloads.push_back(BGPicDeclaration(static_cast<uint32_t>(id), spec.substr(eq + 1)));
            appletOptions = true;
        } else if (!a.empty() && a[0] == '-') {
            return Refuse("unknown option " + a);
        } else if (!input.empty()) {
            return Refuse("one input file only, not " + input + " and " + a);
        } else {
            input = a;
        }
    }
    if (input.empty())
        return Refuse("no input file");
    if (appletOptions && appletPath.empty())
        return Refuse("--packed, --link, --bgpic and the texts from --title to --identifier shape an applet: "
                      "give --applet OUT.qma too");
    if (output.empty() && appletPath.empty())
        return Refuse("nothing to write: give -o OUT.qmb for the compiled chunk or --applet OUT.qma "
                      "for an applet");

    std::vector<uint8_t> text;
    if (!ReadWholeFile(input, &text)) {
        std::fprintf(stderr, "qmasm: cannot read %s\n", input.c_str());
        return 1;
    }
    std::string sourceName = input.substr(input.find_last_of('/') + 1);
    PlayerTables tables;
    if (uint32_t error = OpenPlayerTables(&tables)) {
        std::fprintf(stderr, "qmasm: cannot open the player's libraries (error %u)\n", error);
        return 1;
    }
    AssembleOptions options;
    options.autoLines = true;
    options.finalReturn = true;
    options.checkPairs = true;
    options.mainSource = "@" + sourceName;
    options.constants = [&tables](const std::string& name, Constant* out) {
        PlayerConstant c;
        if (!FindPlayerConstant(tables, name, &c))
            return false;
        out->type = c.isText ? kConstString : kConstNumber;
        out->number = c.number;
        out->text = c.text;
        return true;
    };
    AssembleResult r =
        Assemble(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), options);
    ClosePlayerTables(&tables);
    if (!r.ok) {
        std::fprintf(stderr, "%s:%d: %s\n", input.c_str(), r.errorLine, r.message.c_str());
        return 1;
    }
    if (!output.empty() && !WriteWholeFile(output, r.bytes)) {
        std::fprintf(stderr, "qmasm: cannot write %s\n", output.c_str());
        return 1;
    }
    if (!appletPath.empty()) {
        AddAssembledCode(r, sourceName, &applet);
        if (!WriteWholeFile(appletPath, WriteApplet(applet))) {
            std::fprintf(stderr, "qmasm: cannot write %s\n", appletPath.c_str());
            return 1;
        }
    }
    return 0;
}
