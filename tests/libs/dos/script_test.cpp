// The library as assembled scripts use it: commands called by their
// registered names, results in registers, a table saved and read back in
// the same script.
#include "dos_fixture.h"
#include "support/assembled_script.h"

namespace {

class DosScripts : public DosTest {
protected:
    // Assembles and runs text; answers the status, results on the stack.
    uint32_t Run(const std::string& text)
    {
        return RunAssembledScript(vm, text);
    }
};

TEST_F(DosScripts, WritesALineAndReadsTheFileBack)
{
    std::string path = Path("out.txt");
    std::string script = R"(
        GETGLOBAL r0, "openfile"
        LOADNUM r1, 1
        LOADK r2, ")" + path + R"("
        LOADK r3, #1006
        CALL r0, 4, 1
        GETGLOBAL r0, "writeline"
        LOADNUM r1, 1
        LOADK r2, "hello"
        CALL r0, 3, 1
        GETGLOBAL r0, "closefile"
        LOADNUM r1, 1
        CALL r0, 2, 1
        GETGLOBAL r0, "filetostring"
        LOADK r1, ")" + path + R"("
        CALL r0, 2, 3
        RETURN r0, 3
    )";
    ASSERT_EQ(Run(script), 0u);
    ASSERT_EQ(VmGetTop(vm), 2);
    EXPECT_EQ(Read(vm, 1), Value{Str("hello\r\n")});
    EXPECT_EQ(Read(vm, 2), Value{7.0});
}

TEST_F(DosScripts, TableRoundTripInsideOneScript)
{
    std::string path = Path("t.bin");
    std::string script = R"(
        NEWTABLE r5, 0, 0
        SETTABLE r5, "name", "quill"
        SETTABLE r5, #3, #4.5
        GETGLOBAL r0, "openfile"
        LOADNUM r1, 2
        LOADK r2, ")" + path + R"("
        LOADK r3, #1006
        CALL r0, 4, 1
        GETGLOBAL r0, "writetable"
        LOADNUM r1, 2
        MOVE r2, r5
        LOADNUM r3, 1
        CALL r0, 4, 1
        GETGLOBAL r0, "closefile"
        LOADNUM r1, 2
        CALL r0, 2, 1
        GETGLOBAL r0, "openfile"
        LOADNUM r1, 2
        LOADK r2, ")" + path + R"("
        CALL r0, 3, 1
        GETGLOBAL r0, "readtable"
        LOADNUM r1, 2
        CALL r0, 2, 2
        GETTABLE r6, r0, "name"
        GETTABLE r7, r0, #3
        RETURN r6, 3
    )";
    ASSERT_EQ(Run(script), 0u);
    ASSERT_EQ(VmGetTop(vm), 2);
    EXPECT_EQ(Read(vm, 1), Value{Str("quill")});
    EXPECT_EQ(Read(vm, 2), Value{4.5});
    EXPECT_EQ(BytesToString(ReadFileBytes(path)).substr(0, 4), "QMT1");
}

} // namespace
