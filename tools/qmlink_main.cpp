// qmlink: links an applet into a copy of the player, optionally with
// plugins in a bundle before it.
#include "tools/cli_files.h"
#include "tools/qmasm/linker.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

using namespace qmasm;

static const char kUsage[] =
    "usage: qmlink PLAYER APPLET.qma -o OUTPUT [--plugin FILE.qmp]... [--pack-plugins]\n"
    "       qmlink --help\n";

static const char kHelp[] =
    "Writes OUTPUT, a copy of the player binary PLAYER with the applet APPLET.qma\n"
    "(as qmasm --applet writes it) linked in: run without arguments, OUTPUT plays\n"
    "its own applet. OUTPUT is made executable.\n"
    "\n"
    "  -o OUTPUT          the program to write\n"
    "  --plugin FILE.qmp  bundles the plugin FILE.qmp before the applet; the program\n"
    "                     unpacks and loads it as it starts (may be repeated)\n"
    "  --pack-plugins     packs the bundled plugins with zlib\n"
    "  -h, --help         prints this help\n"
    "\n"
    "docs/assembly.md describes how applets are written.\n";

static int Refuse(const std::string& why)
{
    return RefuseCommandLine("qmlink", kUsage, why);
}

// The bundle stores a plugin under its file name without directory and
// without the ".qmp" extension; the player adds the extension back.
static std::string PluginName(const std::string& path)
{
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".qmp") == 0)
        name.resize(name.size() - 4);
    return name;
}

int main(int argc, char** argv)
{
    std::vector<std::string> inputs, plugins;
    std::string output;
    bool pack = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help")
            return PrintHelp(kUsage, kHelp);
        if ((a == "-o" || a == "--plugin") && i + 1 >= argc)
            return Refuse(a + " needs a file name");
        if (a == "-o")
            output = argv[++i];
        else if (a == "--plugin")
            plugins.push_back(argv[++i]);
        else if (a == "--pack-plugins")
            pack = true;
        else if (!a.empty() && a[0] == '-')
            return Refuse("unknown option " + a);
        else
            inputs.push_back(a);
    }
    if (inputs.size() != 2)
        return Refuse(inputs.size() < 2 ? "needs the player and the applet" : "takes the player and one applet only");
    if (output.empty())
        return Refuse("no output: give -o OUTPUT");
    std::vector<uint8_t> player, applet;
    for (auto [path, data] : {std::pair{&inputs[0], &player}, std::pair{&inputs[1], &applet}}) {
        if (!ReadWholeFile(*path, data)) {
            std::fprintf(stderr, "qmlink: cannot read %s\n", path->c_str());
            return 1;
        }
    }
    std::vector<BundlePlugin> bundle;
    for (const std::string& path : plugins) {
        BundlePlugin p{PluginName(path), {}};
        if (!ReadWholeFile(path, &p.data)) {
            std::fprintf(stderr, "qmlink: cannot read %s\n", path.c_str());
            return 1;
        }
        bundle.push_back(std::move(p));
    }
    LinkResult r = LinkApplet(player, applet, bundle, pack);
    if (!r.ok) {
        std::fprintf(stderr, "qmlink: %s: %s\n", inputs[0].c_str(), r.message.c_str());
        return 1;
    }
    if (!WriteWholeFile(output, r.bytes) || chmod(output.c_str(), 0755) != 0) {
        std::fprintf(stderr, "qmlink: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
