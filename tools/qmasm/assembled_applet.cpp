#include "tools/qmasm/assembled_applet.h"

#include "core/io/case_tables.h"

namespace qmasm {

void AddAssembledCode(const AssembleResult& assembled, const std::string& sourceName,
                      AppletDescription* applet)
{
    for (const auto& [name, index] : assembled.mainLabels) {
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(c)));
        applet->labels.push_back({lower, index});
    }
    // Error line L maps to begin - first + L + 1: with first 1 and begin 0
    // the code's lines are the text's lines.
    AppletIncludedFile source;
    source.firstLine = 1;
    source.lastLine = static_cast<uint32_t>(assembled.lineCount);
    source.beginLine = 0;
    source.name = sourceName;
    // The chunk name an assembled main function carries (see
    // AssembleOptions::mainSource): errors find their file through it.
    source.file = "@" + sourceName;
    applet->includedFiles.push_back(source);
    applet->code = assembled.bytes;
}

}  // namespace qmasm
