// qmdis: prints a compiled chunk as assembly text.
#include "tools/cli_files.h"
#include "tools/qmasm/disassembler.h"

#include <cstdio>
#include <string>

static const char kUsage[] = "usage: qmdis CHUNK.qmb\n"
                             "       qmdis --help\n";

static const char kHelp[] =
    "Prints CHUNK.qmb, a compiled chunk such as qmasm -o writes, as assembly text\n"
    "on standard output; qmasm assembles the text back to the same bytes.\n"
    "docs/assembly.md describes the language.\n"
    "\n"
    "  -h, --help   prints this help\n";

int main(int argc, char** argv)
{
    std::string arg = argc == 2 ? argv[1] : "";
    if (arg == "-h" || arg == "--help")
        return qmasm::PrintHelp(kUsage, kHelp);
    if (argc == 1)
        return qmasm::RefuseCommandLine("qmdis", kUsage, "no input file");
    if (argc > 2)
        return qmasm::RefuseCommandLine("qmdis", kUsage, "one input file only");
    if (!arg.empty() && arg[0] == '-')
        return qmasm::RefuseCommandLine("qmdis", kUsage, "unknown option " + arg);
    std::vector<uint8_t> chunk;
    if (!qmasm::ReadWholeFile(arg, &chunk)) {
        std::fprintf(stderr, "qmdis: cannot read %s\n", arg.c_str());
        return 1;
    }
    qmasm::DisassembleResult r = qmasm::Disassemble(chunk.data(), chunk.size());
    if (!r.ok) {
        std::fprintf(stderr, "qmdis: %s: %s\n", arg.c_str(), r.message.c_str());
        return 1;
    }
    std::fwrite(r.text.data(), 1, r.text.size(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
