// qmasm: assembles a text file into a compiled chunk (-o) or an applet
// (--applet) for tests and examples.
#include "tools/cli_files.h"
#include "tools/qmasm/assembler.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace qmasm;

static int Usage()
{
    std::fprintf(stderr, "usage: qmasm IN.qas [-o OUT.qmb]\n");
    return 2;
}

int main(int argc, char** argv)
{
    std::string input, output;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-o" && i + 1 < argc)
            output = argv[++i];
        else if (!a.empty() && a[0] != '-' && input.empty())
            input = a;
        else
            return Usage();
    }
    if (input.empty() || output.empty())
        return Usage();
    std::vector<uint8_t> text;
    if (!ReadWholeFile(input, &text)) {
        std::fprintf(stderr, "qmasm: cannot read %s\n", input.c_str());
        return 1;
    }
    AssembleResult r = Assemble(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
    if (!r.ok) {
        std::fprintf(stderr, "%s:%d: %s\n", input.c_str(), r.errorLine, r.message.c_str());
        return 1;
    }
    if (!WriteWholeFile(output, r.bytes)) {
        std::fprintf(stderr, "qmasm: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
