// The applets of the end-to-end tests: assembly text turned into an applet
// whose code comes from "@test.qas", ready for preloads and other parts.
#pragma once

#include <string>

#include "tools/qmasm/applet_writer.h"

// A failure to assemble fails the test (with the assembler's message).
qmasm::AppletDescription AssembleTestApplet(const std::string& source);
