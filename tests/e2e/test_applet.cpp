#include "e2e/test_applet.h"

#include <gtest/gtest.h>

#include "tools/qmasm/assembled_applet.h"
#include "tools/qmasm/assembler.h"

qmasm::AppletDescription AssembleTestApplet(const std::string& source)
{
    qmasm::AssembleResult r = qmasm::Assemble(source);
    EXPECT_TRUE(r.ok) << r.message << " at line " << r.errorLine;
    qmasm::AppletDescription a;
    qmasm::AddAssembledCode(r, "test.qas", &a);
    if (!a.includedFiles.empty())
        a.includedFiles[0].file = "@test.qas";
    return a;
}
