// qmdis: prints a compiled chunk as assembly text.
#include "tools/cli_files.h"
#include "tools/qmasm/disassembler.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qmdis CHUNK.qmb\n");
        return 2;
    }
    std::vector<uint8_t> chunk;
    if (!qmasm::ReadWholeFile(argv[1], &chunk)) {
        std::fprintf(stderr, "qmdis: cannot read %s\n", argv[1]);
        return 1;
    }
    qmasm::DisassembleResult r = qmasm::Disassemble(chunk.data(), chunk.size());
    if (!r.ok) {
        std::fprintf(stderr, "qmdis: %s: %s\n", argv[1], r.message.c_str());
        return 1;
    }
    std::fwrite(r.text.data(), 1, r.text.size(), stdout);
    return 0;
}
