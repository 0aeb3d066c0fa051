// Puts assembled code into an applet description the way the language's
// compiler would: the main function's labels under their lower-cased names
// (scripts look labels up that way) and one included-file record that maps
// the code's lines onto the lines of the assembly text, so that, with line
// information written (".chunk lines=auto"), an error is reported at its
// line of assembly.
#pragma once

#include "tools/qmasm/applet_writer.h"
#include "tools/qmasm/assembler.h"

#include <string>

namespace qmasm {

void AddAssembledCode(const AssembleResult& assembled, const std::string& sourceName,
                      AppletDescription* applet);

}  // namespace qmasm
