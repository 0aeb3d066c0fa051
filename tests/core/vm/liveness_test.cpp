// The concatenations whose operands are never read again, found on loaded
// code: every way an operand can still be read keeps its conversion, and
// the results are the same either way.
#include <string>

#include "core/vm/opcodes.h"
#include "core/vm/value.h"
#include "script_fixture.h"

namespace {

class LivenessTest : public ScriptTest {
protected:
    // The mark of the first concatenation of the main function; -1 when
    // the text does not load.
    int FirstConcatMark(const std::string& text)
    {
        if (LoadBytes(Assemble(text)) != 0)
            return -1;
        const VmProto* p = VmFuncValue(vm->top - 1)->proto;
        for (int pc = 0; pc < p->sizeCode; pc++) {
            if (VmOp(p->code[pc]) == OP_CONCAT)
                return p->deadOperands ? p->deadOperands[pc] : 0;
        }
        return -1;
    }
};

}  // namespace

TEST_F(LivenessTest, OnlyOperandsThatNoPathReadsAgainAreDead)
{
    const std::string head = "LOADK r1, \"a\"\nLOADNUM r2, 5\nLOADNUM r3, 1\n";
    const struct {
        const char* name;
        std::string body;
        int dead;
    } cases[] = {
        {"overwritten", "CONCAT r0, r1, r2\nLOADNUM r2, 0\nRETURN r0, 3\n", 1},
        {"returned", "CONCAT r0, r1, r2\nRETURN r0, 4\n", 0},
        {"returned up to the top", "CONCAT r0, r1, r2\nRETURN r0, 0\n", 0},
        {"one of two", "CONCAT r0, r1, r3\nLOADNUM r2, 0\nRETURN r3, 2\n", 0},
        {"both overwritten", "CONCAT r0, r1, r3\nLOADNUM r2, 0\nLOADNUM r3, 0\nRETURN r2, 3\n", 1},
        {"read on one branch", "CONCAT r0, r1, r2\nEQ 1, r0, r0\nJMP skip\nLOADNUM r2, 0\nskip: RETURN r2, 2\n", 0},
        {"read after a call",
         "CONCAT r0, r1, r2\nGETGLOBAL r4, \"f\"\nCALL r4, 1, 1\nLOADNUM r2, 0\nRETURN r0, 2\n", 1},
        {"a call's arguments", "CONCAT r0, r1, r2\nGETGLOBAL r1, \"f\"\nCALL r1, 2, 1\nRETURN r0, 2\n", 0},
        // The loop goes round to read the operand before it is set again.
        {"read at the loop's head",
         "LOADNUM r4, 1\nLOADK r5, #3\nLOADNUM r6, 1\nSUB r4, r4, r6\nJMP test\n"
         "body: ADD r3, r2, #1\nCONCAT r0, r1, r2\nLOADNUM r1, 7\ntest: FORLOOP r4, body\nRETURN r0, 2\n",
         0},
        {"set at the loop's head",
         "LOADNUM r4, 1\nLOADK r5, #3\nLOADNUM r6, 1\nSUB r4, r4, r6\nJMP test\n"
         "body: MOVE r2, r4\nCONCAT r0, r1, r2\ntest: FORLOOP r4, body\nRETURN r0, 2\n",
         1},
        // A Gosub comes back after its jump, where the operand is read.
        {"read where a Gosub returns",
         "GOSUB sub\nRETURN r2, 2\nsub: CONCAT r0, r1, r2\nRETSUB\n", 0},
        {"read where a call's Gosub returns",
         "GETGLOBAL r4, \"f\"\nMOVE r5, r2\nCALL r4, 2, 1\nRETURN r0, 2\n"
         "sub: CONCAT r0, r1, r2\nRETSUB\n", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FirstConcatMark(head + c.body), c.dead) << c.name;
        VmSetTop(vm, 0);
    }
}

// Whether or not the operands are converted, the result is the same, and
// interned.
TEST_F(LivenessTest, ADeadOperandStillJoinsAsItsText)
{
    ASSERT_EQ(Run("LOADK r1, \"item\"\nLOADK r2, #-1.5\nCONCAT r0, r1, r2\nLOADNIL r2, r2\n"
                  "LOADK r3, \"item-1.5\"\nEQ 0, r0, r3\nJMP bad\nRETURN r0, 2\nbad: LOADNIL r0, r0\nRETURN r0, 2\n"),
              0u);
    ASSERT_EQ(VmType(vm, -1), VM_TSTRING);
    EXPECT_EQ(std::string(VmGetString(vm, -1)), "item-1.5");
    // A captured operand stays alive.
    EXPECT_EQ(FirstConcatMark(".function main\nLOADK r1, \"a\"\nLOADNUM r2, 5\nCLOSURE r3, inner\nCONCAT r0, r1, r2\n"
                              "LOADNUM r2, 0\nRETURN r0, 2\n"
                              ".function inner\n.upval up = r2\nGETUPVAL r0, up\nRETURN r0, 2\n.end\n.end\n"),
              0);
}
