// The interpreter, one behaviour at a time, through assembled chunks.
#include <cmath>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/state.h"
#include "script_fixture.h"

namespace {

std::string LastErrorText;

struct Expect {
    const char* code;
    uint32_t status;
    double value;
};

// After setup, answers 1 when "op 1, b, c" takes its jump and 0 otherwise.
std::string Jumps(const std::string& setup, const char* op, const char* b, const char* c)
{
    return setup + op + " 1, " + b + ", " + c + "\nJMP yes\nLOADNUM r0, 0\nRETURN r0, 2\nyes: LOADNUM r0, 1\nRETURN r0, 2\n";
}

}  // namespace

class InterpreterTest : public ScriptTest {
protected:
    void RunTable(const std::vector<Expect>& cases)
    {
        for (const Expect& c : cases) {
            uint32_t status = Run(c.code);
            EXPECT_EQ(status, c.status) << c.code;
            if (status == 0 && c.status == 0) {
                EXPECT_EQ(VmType(vm, -1), VM_TNUMBER) << c.code;
                EXPECT_EQ(VmGetNumber(vm, -1), c.value) << c.code;
            }
        }
    }
};

TEST_F(InterpreterTest, ArithmeticWithCoercionAndIntegerRules)
{
    RunTable({
        {"ADD r0, nil, #1\nRETURN r0, 2", 0, 1},
        {"ADD r0, \"10\", #1\nRETURN r0, 2", 0, 11},
        {"ADD r0, \"abc\", #1\nRETURN r0, 2", ERR_WRONGOP, 0},
        {"DIV r0, #1, #4\nRETURN r0, 2", 0, 0.25},
        {"DIV r0, #1, #0\nRETURN r0, 2", ERR_ZERODIVISION, 0},
        {"IDIV r0, #-7, #2\nRETURN r0, 2", 0, -3},
        {"MOD r0, #-7, #2\nRETURN r0, 2", 0, -1},
        {"MOD r0, #7.9, #-2.5\nRETURN r0, 2", 0, 1},
        {"IDIV r0, #1, #0.5\nRETURN r0, 2", ERR_ZERODIVISION, 0},
        {"MOD r0, #1, nil\nRETURN r0, 2", ERR_ZERODIVISION, 0},
        {"IDIV r0, #-2147483648, #-1\nRETURN r0, 2", 0, 2147483648.0},
        {"MOD r0, #-2147483648, #-1\nRETURN r0, 2", 0, 0},
        {"SHL r0, #1, #31\nRETURN r0, 2", 0, 2147483648.0},
        {"SHL r0, #1, #33\nRETURN r0, 2", 0, 2},
        {"SHR r0, #-1, #28\nRETURN r0, 2", 0, 15},
        {"BAND r0, #-1, #0xFF00\nRETURN r0, 2", 0, 0xFF00},
        {"BXOR r0, #5, \"3\"\nRETURN r0, 2", 0, 6},
        // Operands with bits in common, so or, and and xor all differ.
        {"BOR r0, #12, #10\nRETURN r0, 2", 0, 14},
        {"BOR r0, \"12\", nil\nRETURN r0, 2", 0, 12},
        // Truncated toward zero (not floored), then the low 32 bits.
        {"BOR r0, #-6.5, #2\nRETURN r0, 2", 0, 4294967290.0},
        {"BOR r0, #4294967297, #3\nRETURN r0, 2", 0, 3},
        {"POW r0, #2, #10\nRETURN r0, 2", 0, 1024},
        {"LOADNUM r1, 0\nBNOT r0, r1\nRETURN r0, 2", 0, 4294967295.0},
        {"LOADK r1, \"5\"\nUNM r0, r1\nRETURN r0, 2", 0, -5},
        {"LOADNIL r1, r1\nUNM r0, r1\nRETURN r0, 2", 0, -0.0},
        {"NEWTABLE r1, 0, 0\nUNM r0, r1\nRETURN r0, 2", ERR_WRONGOP, 0},
        {"LOADK r1, \"a\"\nNEWTABLE r2, 0, 0\nCONCAT r0, r1, r2\nRETURN r0, 2", ERR_CONCAT, 0},
    });
}

TEST_F(InterpreterTest, TruthAndEqualityFollowTheLanguage)
{
    // NOT and TEST count 0 and "" as false, the string "0" as true.
    auto eq = [](const char* setup, const char* b, const char* c) { return Jumps(setup, "EQ", b, c); };
    RunTable({
        {"LOADNUM r1, 0\nNOT r0, r1\nRETURN r0, 2", 0, 1},
        {"LOADK r1, \"\"\nNOT r0, r1\nRETURN r0, 2", 0, 1},
        {"LOADK r1, \"0\"\nNOT r0, r1\nRETURN r0, 2", 0, 0},
        {"NEWTABLE r1, 0, 0\nNOT r0, r1\nRETURN r0, 2", 0, 0},
        {eq("", "nil", "#0").c_str(), 0, 1},
        {eq("", "nil", "\"\"").c_str(), 0, 1},
        {eq("", "nil", "#1").c_str(), 0, 0},
        {eq("", "\"a\"", "\"a\"").c_str(), 0, 1},
        {eq("", "#0", "\"0\"").c_str(), ERR_NUMSTRCMP, 0},
        {eq("NEWTABLE r1, 0, 0\n", "r1", "#1").c_str(), ERR_WRONGOP, 0},
        {eq("NEWTABLE r1, 0, 0\n", "r1", "r1").c_str(), 0, 1},
        {eq("NEWTABLE r1, 0, 0\nNEWTABLE r2, 0, 0\n", "r1", "r2").c_str(), 0, 0},
        {"LOADNUM r1, 0\nTEST r2, r1, 1\nJMP t\nLOADNUM r0, 5\nRETURN r0, 2\nt: LOADNUM r0, 7\nRETURN r0, 2", 0, 5},
        {"LOADNUM r1, 3\nTEST r2, r1, 1\nJMP t\nLOADNUM r0, 5\nRETURN r0, 2\nt: MOVE r0, r2\nRETURN r0, 2", 0, 3},
    });
}

TEST_F(InterpreterTest, OrderingOfNilNumbersAndStrings)
{
    auto cmp = [](const char* op, const char* b, const char* c) { return Jumps("", op, b, c); };
    RunTable({
        {cmp("LT", "nil", "#1").c_str(), 0, 1},
        {cmp("LT", "#-1", "nil").c_str(), 0, 1},
        {cmp("LT", "nil", "\"a\"").c_str(), 0, 0},
        {cmp("LE", "nil", "\"a\"").c_str(), 0, 0},
        {cmp("LE", "nil", "nil").c_str(), 0, 1},
        {cmp("LT", "nil", "nil").c_str(), 0, 0},
        {cmp("LT", "\"B\"", "\"a\"").c_str(), 0, 1},
        {cmp("LE", "\"a\"", "\"B\"").c_str(), 0, 0},
        // Equal strings: <= holds and < does not, past embedded zeros too.
        {cmp("LE", "\"abc\"", "\"abc\"").c_str(), 0, 1},
        {cmp("LT", "\"abc\"", "\"abc\"").c_str(), 0, 0},
        {cmp("LE", "\"a\\x00b\"", "\"a\\x00b\"").c_str(), 0, 1},
        {cmp("LE", "\"a\\x00c\"", "\"a\\x00b\"").c_str(), 0, 0},
        {cmp("LE", "\"\"", "\"\"").c_str(), 0, 1},
        {cmp("LE", "#2", "#2").c_str(), 0, 1},
        {cmp("LT", "#2", "#2").c_str(), 0, 0},
        {cmp("LE", "#3", "#2").c_str(), 0, 0},
        {cmp("LE", "nil", "#0").c_str(), 0, 1},
        {cmp("LE", "#0", "nil").c_str(), 0, 1},
        {cmp("LT", "#0", "nil").c_str(), 0, 0},
        {cmp("LE", "#1", "nil").c_str(), 0, 0},
        {cmp("LE", "\"1\"", "#2").c_str(), ERR_NUMSTRCMP, 0},
        {cmp("LT", "#1", "\"2\"").c_str(), ERR_NUMSTRCMP, 0},
    });
}

TEST_F(InterpreterTest, MissingFieldsAreErrorsWithTheKeyAsText)
{
    VmHooks.setErrorText = [](const char* text) { LastErrorText = text; };
    EXPECT_EQ(Run("NEWTABLE r1, 0, 0\nGETTABLE r0, r1, \"x\"\nRETURN r0, 2\n"), static_cast<uint32_t>(ERR_FIELDINIT));
    EXPECT_EQ(LastErrorText, "\"x\"");
    EXPECT_EQ(Run("NEWTABLE r1, 0, 0\nGETTABLE r0, r1, #3\nRETURN r0, 2\n"), static_cast<uint32_t>(ERR_FIELDINIT));
    EXPECT_EQ(LastErrorText, "3");
    // Globals and methods read as nil instead.
    EXPECT_EQ(Run("GETGLOBAL r0, \"nothing\"\nRETURN r0, 2\n"), 0u);
    EXPECT_EQ(VmType(vm, -1), VM_TNIL);
    EXPECT_EQ(Run("NEWTABLE r1, 0, 0\nSELF r2, r1, \"m\"\nRETURN r2, 3\n"), 0u);
    EXPECT_EQ(VmType(vm, -2), VM_TNIL);
    EXPECT_EQ(VmType(vm, -1), VM_TTABLE);
    // Indexing a number names the table error.
    EXPECT_EQ(Run("LOADNUM r1, 1\nGETTABLE r0, r1, #1\nRETURN r0, 2\n"), static_cast<uint32_t>(ERR_TABLEDECLA));
}

TEST_F(InterpreterTest, WrongOperandsAreNamedInTheErrorsDetail)
{
    static std::string detail;
    VmHooks.setErrorDetail = [](uint32_t, const char* text) { detail = text; };
    const char* table = "NEWTABLE r1, 0, 0\n";
    const struct {
        std::string code;
        uint32_t status;
        const char* detail;
    } cases[] = {
        {"ADD r0, \"abc\", #1\nRETURN r0, 2", ERR_WRONGOP, "Addition of a string and a number"},
        {std::string(table) + "POW r0, #2, r1\nRETURN r0, 2", ERR_WRONGOP, "Power of a number and a table"},
        {std::string(table) + "SHL r0, r1, #1\nRETURN r0, 2", ERR_WRONGOP, "Left shift of a table and a number"},
        {std::string(table) + "MOD r0, r1, r1\nRETURN r0, 2", ERR_WRONGOP, "Modulo of a table and a table"},
        {std::string(table) + "UNM r0, r1\nRETURN r0, 2", ERR_WRONGOP, "Negation of a table"},
        {std::string(table) + "BNOT r0, r1\nRETURN r0, 2", ERR_WRONGOP, "Bitwise not of a table"},
        {Jumps(table, "EQ", "r1", "#1"), ERR_WRONGOP, "Comparison (==) of a table and a number"},
        {Jumps(table, "LE", "nil", "r1"), ERR_WRONGOP, "Comparison (<=) of nil and a table"},
        // Code that passes the load check but hands an instruction the wrong type.
        {std::string(table) + "SELF r2, r1, #1\nRETURN r0, 1", ERR_BADBYTECODE,
         "In the main function of ?: instruction 1 (SELF) looks up a method by a number"},
    };
    for (const auto& c : cases) {
        detail.clear();
        EXPECT_EQ(Run(c.code), c.status) << c.code;
        EXPECT_EQ(detail, c.detail) << c.code;
    }
}

TEST_F(InterpreterTest, TablesConstructAndIndex)
{
    ASSERT_EQ(Run("NEWTABLE r0, 3, 1\nLOADNUM r1, 10\nLOADNUM r2, 20\nLOADNUM r3, 30\nSETLIST r0, 2\n"
                  "SETTABLE r0, \"k\", #5\nGETTABLE r1, r0, #2\nGETTABLE r2, r0, \"k\"\nADD r1, r1, r2\n"
                  "SETTABLE r0, #2, r1\nGETTABLE r1, r0, #2\nRETURN r1, 2\n"),
              0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 25);
    EXPECT_EQ(Run("NEWTABLE r0, 511, 0\nRETURN r0, 1\n"), static_cast<uint32_t>(ERR_TABLEOVERFLOW));
    EXPECT_EQ(Run("NEWTABLE r0, 248, 0\nRETURN r0, 1\n"), 0u) << "0 << 31 is an empty array";
}

// A free slot of the array part is filled raw while the metatable has no
// __newindex, also once its absence is known; a __newindex added later
// takes the free slots, never the taken ones.
TEST_F(InterpreterTest, FreeArraySlotsHonourANewIndexAddedLater)
{
    SetGlobal("meta", [](VmState* s) -> uint32_t {
        VmNewTable(s);
        VmPushString(s, "mt");
        VmPushValue(s, -2);
        VmRawSet(s, VM_REGISTRYINDEX);
        VmSetMetatable(s, 1);
        return 0;
    });
    SetGlobal("arm", [](VmState* s) -> uint32_t {
        VmPushString(s, "mt");
        VmRawGet(s, VM_REGISTRYINDEX);
        VmPushString(s, "__newindex");
        VmPushNativeFunction(s, [](VmState* t) -> uint32_t {
            // Records key * 100 + value where "seen" is read back.
            VmPushString(t, "seen");
            VmPushNumber(t, VmGetNumber(t, 2) * 100 + VmGetNumber(t, 3));
            VmSetTable(t, VM_GLOBALSINDEX);
            return 0;
        });
        VmRawSet(s, -3);
        return 0;
    });
    ASSERT_EQ(Run("NEWTABLE r0, 3, 0\nSETTABLE r0, #2, #4\nGETGLOBAL r1, \"meta\"\nMOVE r2, r0\nCALL r1, 2, 1\n"
                  "SETTABLE r0, #1, #5\nGETGLOBAL r1, \"arm\"\nCALL r1, 1, 1\n"
                  "SETTABLE r0, #3, #6\nSETTABLE r0, #1, #7\nSETTABLE r0, #2, #8\nGETGLOBAL r1, \"seen\"\nRETURN r0, 3\n"),
              0u);
    EXPECT_EQ(VmGetNumber(vm, 2), 306);
    for (int key : {1, 2, 3})
        VmRawGetI(vm, 1, key);
    EXPECT_EQ(VmGetNumber(vm, 3), 7);
    EXPECT_EQ(VmGetNumber(vm, 4), 8);
    EXPECT_EQ(VmType(vm, 5), VM_TNIL);
}

// Every operand that was a number or nil is a string afterwards, and the
// numbers' strings and the result are interned: the same objects as equal
// constants. Short and long results, few and many numbers, nil operands and
// an empty right operand take different paths and must agree.
TEST_F(InterpreterTest, ConcatenationConvertsOperandsInPlaceAndInterns)
{
    const std::string long300(300, 'x');
    struct Case {
        std::string setup;  // fills r1..r<last>
        int last;
        std::string result;
        std::vector<std::string> operands;  // r1..r<last> afterwards (r1: before)
    };
    const std::vector<Case> cases = {
        {"LOADK r1, \"item\"\nLOADK r2, #123\n", 2, "item123", {"item", "123"}},
        {"LOADK r1, #1e15\nLOADK r2, #0.1\nLOADK r3, #-0\nLOADK r4, #123456789012345678\n", 4,
         "1e+150.1-01.2345678901235e+17", {"1e+15", "0.1", "-0", "1.2345678901235e+17"}},
        {"LOADNUM r1, 1\nLOADNUM r2, 2\nLOADNUM r3, 3\nLOADNUM r4, 4\nLOADNUM r5, 5\n", 5, "12345",
         {"1", "2", "3", "4", "5"}},
        {"LOADK r1, \"" + long300 + "\"\nLOADK r2, #7\n", 2, long300 + "7", {long300, "7"}},
        {"LOADK r1, \"a\"\nLOADNIL r2, r2\nLOADK r3, #3\n", 3, "a3", {"a", "", "3"}},
        {"LOADK r1, #5\nLOADK r2, \"\"\n", 2, "5", {"5", ""}},
        {"LOADK r1, \"a\"\nLOADNIL r2, r2\n", 2, "a", {"a", ""}},
    };
    for (const Case& c : cases) {
        std::string text = c.setup + "CONCAT r0, r1, r" + std::to_string(c.last) + "\n";
        // The same texts as constants, for the identity checks.
        text += "LOADK r" + std::to_string(c.last + 1) + ", \"" + c.result + "\"\n";
        for (size_t j = 0; j < c.operands.size(); j++)
            text += "LOADK r" + std::to_string(c.last + 2 + j) + ", \"" + c.operands[j] + "\"\n";
        text += "RETURN r0, 0\n";
        int values = 2 + c.last + static_cast<int>(c.operands.size());
        text.replace(text.size() - 2, 1, std::to_string(values + 1));
        ASSERT_EQ(Run(text), 0u) << text;
        ASSERT_EQ(VmGetTop(vm), values) << text;
        auto object = [&](int index) { return vm->base[index - 1].v.gc; };
        EXPECT_EQ(std::string(VmGetString(vm, 1), VmStrValue(&vm->base[0])->len), c.result) << c.setup;
        EXPECT_EQ(object(1), object(c.last + 2)) << "result interned: " << c.setup;
        // The first operand's register receives the result too.
        EXPECT_EQ(object(2), object(c.last + 2)) << c.setup;
        for (int j = 2; j <= c.last; j++) {
            ASSERT_EQ(VmType(vm, 1 + j), VM_TSTRING) << c.setup << " r" << j;
            EXPECT_EQ(object(1 + j), object(c.last + 2 + j)) << c.setup << " r" << j;
        }
    }
}

TEST_F(InterpreterTest, ReturnsFillTheResultsTheCallerWants)
{
    // one: x + 1; three: x, x + 1, x + 2; none: nothing; closes: a getter
    // of x, which it raises by 10 before returning.
    ASSERT_EQ(Run(".function one params=1\nADD r0, r0, #1\nRETURN r0, 2\n.end\n"
                  ".function three params=1\nADD r1, r0, #1\nADD r2, r0, #2\nRETURN r0, 4\n.end\n"
                  ".function none\nRETURN r0, 1\n.end\n"
                  ".function closes params=1\n"
                  ".function getter\n.upval x = r0\nGETUPVAL r0, x\nRETURN r0, 2\n.end\n"
                  "CLOSURE r1, getter\nADD r0, r0, #10\nRETURN r1, 2\n.end\n"
                  "CLOSURE r0, one\nLOADNUM r1, 1\nCALL r0, 2, 4\n"
                  "CLOSURE r3, three\nLOADNUM r4, 10\nCALL r3, 2, 2\n"
                  "CLOSURE r4, none\nCALL r4, 1, 3\n"
                  "CLOSURE r6, closes\nLOADNUM r7, 5\nCALL r6, 2, 2\nCALL r6, 1, 2\n"
                  "CLOSURE r7, three\nLOADNUM r8, 20\nCALL r7, 2, 0\nRETURN r0, 0\n"),
              0u);
    std::vector<std::string> got;
    for (int j = 1; j <= VmGetTop(vm); j++)
        got.push_back(VmType(vm, j) == VM_TNIL ? "nil" : std::to_string(static_cast<int>(VmGetNumber(vm, j))));
    EXPECT_EQ(got, (std::vector<std::string>{"2", "nil", "nil", "10", "nil", "nil", "15", "20", "21", "22"}));
}

// Field lookups by constant keys remember where they found a key. The
// same constant on another table, a table that grew and moved its keys,
// and a field set to nil must still read right.
TEST_F(InterpreterTest, ConstantKeyLookupsFollowTablesThatChange)
{
    // Forty keys "k1" to "k40".
    const std::string grow = "LOADNUM r9, 1\nLOADK r10, #40\nLOADNUM r11, 1\nSUB r9, r9, r11\nJMP test\n"
                             "body: LOADK r12, \"k\"\nMOVE r13, r9\nCONCAT r12, r12, r13\nSETTABLE r0, r12, r9\n"
                             "test: FORLOOP r9, body\n";
    const std::string grown = "NEWTABLE r0, 0, 0\nSETTABLE r0, \"a\", #5\nGETTABLE r1, r0, \"a\"\n" + grow +
                              "GETTABLE r2, r0, \"a\"\nSETTABLE r0, \"a\", #7\nGETTABLE r3, r0, \"a\"\n"
                              "ADD r1, r1, r2\nADD r1, r1, r3\nRETURN r1, 2";
    std::string globals = "LOADNUM r1, 3\nSETGLOBAL r1, \"g\"\nGETGLOBAL r2, \"g\"\n";
    for (int j = 0; j < 200; j++)
        globals += "SETGLOBAL r1, \"filler" + std::to_string(j) + "\"\n";
    globals += "GETGLOBAL r3, \"g\"\nADD r2, r2, r3\nRETURN r2, 2";
    RunTable({
        // The hint learnt on one table, used on another.
        {"NEWTABLE r0, 0, 1\nNEWTABLE r1, 0, 2\nSETTABLE r0, \"a\", #1\nSETTABLE r1, \"x\", #10\n"
         "SETTABLE r1, \"a\", #20\nGETTABLE r2, r0, \"a\"\nGETTABLE r3, r1, \"a\"\nSELF r4, r1, \"a\"\n"
         "ADD r2, r2, r3\nADD r2, r2, r4\nRETURN r2, 2",
         0, 41},
        // The table grows between two reads; the key moves.
        {grown.c_str(), 0, 17},
        // A global read before and after the globals grew.
        {globals.c_str(), 0, 6},
        // A field set to nil is missing again, though its node remains.
        {"NEWTABLE r0, 0, 1\nSETTABLE r0, \"a\", #1\nGETTABLE r1, r0, \"a\"\nSETTABLE r0, \"a\", nil\n"
         "GETTABLE r1, r0, \"a\"\nRETURN r1, 2",
         ERR_FIELDINIT, 0},
        {"NEWTABLE r0, 0, 1\nSETTABLE r0, \"a\", #1\nSELF r1, r0, \"a\"\nSETTABLE r0, \"a\", nil\n"
         "SELF r1, r0, \"a\"\nNOT r1, r1\nRETURN r1, 2",
         0, 1},
    });
}

TEST_F(InterpreterTest, ForLoopsWithAllKindsOfSteps)
{
    auto loop = [](const char* start, const char* limit, const char* step) {
        return std::string("LOADNUM r0, 0\n") + "LOADK r1, " + start + "\nLOADK r2, " + limit +
               "\nLOADK r3, " + step + "\nSUB r1, r1, r3\nJMP test\nbody: ADD r0, r0, r1\n"
               "ADD r5, r5, #1\nLT 1, r5, #1000\nJMP test\nRETURN r0, 2\ntest: FORLOOP r1, body\nRETURN r0, 2\n";
    };
    RunTable({
        {loop("#1", "#10", "#1").c_str(), 0, 55},
        {loop("#10", "#1", "#-3").c_str(), 0, 10 + 7 + 4 + 1},
        {loop("#1", "#0", "#1").c_str(), 0, 0},
        {loop("#1", "#10", "\"2\"").c_str(), 0, 1 + 3 + 5 + 7 + 9},
        {loop("#1", "nil", "#-1").c_str(), 0, 1},
        {loop("#1", "\"x\"", "#1").c_str(), ERR_VALUEEXPECTED, 0},
        {"NEWTABLE r1, 0, 0\nLOADNUM r2, 1\nLOADNUM r3, 1\nx: FORLOOP r1, x\nRETURN r0, 1", ERR_VALUEEXPECTED, 0},
    });
    // Step 0 keeps going while the index is not below the limit: the guard
    // counter in r5 stops it after 1000 rounds.
    EXPECT_EQ(Run(loop("#5", "#5", "#0")), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 5000);
}

TEST_F(InterpreterTest, GenericForWalksATableAndANativeIterator)
{
    ASSERT_EQ(Run("NEWTABLE r0, 2, 1\nLOADNUM r1, 10\nLOADNUM r2, 20\nSETLIST r0, 1\nSETTABLE r0, \"x\", #5\n"
                  "LOADNUM r9, 0\nMOVE r1, r0\nLOADNIL r2, r3\nTFORPREP r1, test\nbody: ADD r9, r9, r4\n"
                  "test: TFORLOOP r1, 1\nJMP body\nRETURN r9, 2\n"),
              0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 35);
    // A native iterator asked for 200 results returns one; the rest are nil
    // and land in memory the VM owns.
    SetGlobal("once", [](VmState* s) -> uint32_t { VmType(s, 2) == VM_TNIL ? VmPushNumber(s, 1) : VmPushNil(s); return 1; });
    ASSERT_EQ(Run(".function main maxstack=250\n"
                  "GETGLOBAL r0, \"once\"\nLOADNIL r1, r2\nLOADNUM r3, 0\nSETGLOBAL r3, \"n\"\n"
                  "TFORPREP r0, test\n"
                  "body: GETGLOBAL r3, \"n\"\nADD r3, r3, r2\nSETGLOBAL r3, \"n\"\n"
                  "test: TFORLOOP r0, 199\nJMP body\n"
                  "GETGLOBAL r3, \"n\"\nRETURN r3, 2\n.end\n"),
              0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 1);
}

TEST_F(InterpreterTest, ClosuresShareAndCloseUpvalues)
{
    // make() returns two closures over one local; the local lives on after
    // make returns.
    ASSERT_EQ(Run(".function make\n"
                  ".function inc\n.upval n = r0\nGETUPVAL r0, n\nADD r0, r0, #1\nSETUPVAL r0, n\nRETURN r0, 2\n.end\n"
                  ".function get\n.upval n = r0\nGETUPVAL r0, n\nRETURN r0, 2\n.end\n"
                  "LOADNUM r0, 10\nCLOSURE r1, inc\nCLOSURE r2, get\nRETURN r1, 3\n.end\n"
                  "CLOSURE r0, make\nCALL r0, 1, 3\nMOVE r2, r0\nCALL r2, 1, 1\nMOVE r2, r0\nCALL r2, 1, 1\n"
                  "MOVE r3, r1\nCALL r3, 1, 2\nRETURN r3, 2\n"),
              0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 12);
}

TEST_F(InterpreterTest, VarargsGoIntoTheArgTable)
{
    ASSERT_EQ(Run(".function f params=2 vararg=1\nGETTABLE r3, r2, \"n\"\nGETTABLE r4, r2, #3\n"
                  "MUL r3, r3, #100\nADD r3, r3, r4\nADD r3, r3, r1\nRETURN r3, 2\n.end\nCLOSURE r0, f\n"
                  "LOADNUM r1, 1\nLOADNUM r2, 2\nLOADNUM r3, 3\nLOADNUM r4, 4\nLOADNUM r5, 5\nCALL r0, 6, 2\nRETURN r0, 2\n"),
              0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 3 * 100 + 5 + 2);
}

TEST_F(InterpreterTest, DeepRecursionOverflowsButTailCallsRunInBoundedSpace)
{
    ASSERT_EQ(Run(".function loop params=2\nEQ 1, r0, #0\nJMP done\nSUB r0, r0, #1\nADD r1, r1, #1\n"
                  "GETGLOBAL r2, \"loop\"\nMOVE r3, r0\nMOVE r4, r1\nTAILCALL r2, 3, 0\nRETURN r2, 0\n"
                  "done: RETURN r1, 2\n.end\n"
                  "CLOSURE r0, loop\nSETGLOBAL r0, \"loop\"\nLOADK r1, #100000\nLOADNUM r2, 0\nCALL r0, 3, 2\nRETURN r0, 2\n"),
              0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 100000);
    EXPECT_LE(vm->sizeCi, 16u);
    EXPECT_LE(vm->stackSize, 200u);
    EXPECT_EQ(Run(".function rec\nGETGLOBAL r0, \"rec\"\nCALL r0, 1, 1\nRETURN r0, 1\n.end\n"
                  "CLOSURE r0, rec\nSETGLOBAL r0, \"rec\"\nCALL r0, 1, 1\nRETURN r0, 1\n"),
              static_cast<uint32_t>(ERR_STACK));
    EXPECT_LE(vm->sizeCi, VM_MAXCALLS);
    EXPECT_EQ(Run("LOADNUM r0, 3\nRETURN r0, 2\n"), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 3);
}

TEST_F(InterpreterTest, GosubAndReturnWithinAFunction)
{
    ASSERT_EQ(Run("LOADNUM r0, 1\nGOSUB sub\nMUL r0, r0, #10\nRETURN r0, 2\nsub: ADD r0, r0, #1\nRETSUB\n"), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 20);
    EXPECT_EQ(VmGosubDepth, 0u);
    EXPECT_EQ(Run("RETSUB\nRETURN r0, 1\n"), static_cast<uint32_t>(ERR_RETWOGOSUB));
    // Unbounded Gosub recursion hits the limit.
    EXPECT_EQ(Run("top: GOSUB top\nRETURN r0, 1\n"), static_cast<uint32_t>(ERR_INTERNAL));
    EXPECT_EQ(VmGosubDepth, VM_GOSUB_DEPTH);
    VmGosubDepth = 0;
    // A return address of another function is refused.
    EXPECT_EQ(Run(".function f\nRETSUB\nRETURN r0, 1\n.end\n"
                  "CLOSURE r0, f\nGOSUB call\nRETURN r0, 1\ncall: CALL r0, 1, 1\nRETURN r0, 1\n"),
              static_cast<uint32_t>(ERR_RETWOGOSUB));
}

TEST_F(InterpreterTest, NativeGosubRequestsJumpAndPopTheirRecord)
{
    // The native asks to run the label at instruction index 5 and come back
    // before the call the first time, after it the second.
    static int calls;
    calls = 0;
    SetGlobal("jump", [](VmState*) -> uint32_t {
        calls++;
        VmGosubJumpDistance = 5 - VmCallInstructionIndex;
        return calls == 1 ? VM_GOSUB_BEFORE : (calls == 2 ? VM_GOSUB_AFTER : 0);
    });
    VmCallInfo* before = vm->ci;
    ASSERT_EQ(Run("LOADNUM r1, 0\n"                 // 0
                  "GETGLOBAL r0, \"jump\"\n"        // 1
                  "CALL r0, 1, 1\n"                 // 2
                  "ADD r1, r1, #100\n"              // 3
                  "RETURN r1, 2\n"                  // 4
                  "ADD r1, r1, #1\n"                // 5: the label
                  "RETSUB\n"),                      // 6
              0u);
    // First call: label, then back to GETGLOBAL and the call again; second
    // call: label, back after the call; then 100.
    EXPECT_EQ(VmGetNumber(vm, -1), 102);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(vm->ci, before);
    // A distance outside the code is refused.
    SetGlobal("jump", [](VmState*) -> uint32_t { VmGosubJumpDistance = 1000; return VM_GOSUB_AFTER; });
    EXPECT_EQ(Run("GETGLOBAL r0, \"jump\"\nCALL r0, 1, 1\nRETURN r0, 1\n"), static_cast<uint32_t>(ERR_INTERNAL));
}

TEST_F(InterpreterTest, AbortEndsTheRunAndALaterCallWorks)
{
    SetGlobal("abort", [](VmState*) -> uint32_t { VmAbortFlag = 1; return 0; });
    ASSERT_EQ(Run(".function inner\n.upval x = r0\nGETGLOBAL r1, \"abort\"\nCALL r1, 1, 1\ntop: JMP top\nRETURN r0, 1\n.end\n"
                  "LOADNUM r0, 5\nCLOSURE r1, inner\nCALL r1, 1, 1\ntop: JMP top\nRETURN r0, 1\n"),
              0u);
    EXPECT_EQ(VmGetTop(vm), 0) << "an aborted run yields nothing";
    EXPECT_EQ(vm->openUpval, nullptr);
    VmAbortFlag = 0;
    EXPECT_EQ(Run("LOADNUM r0, 9\nRETURN r0, 2\n"), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 9);
}

TEST_F(InterpreterTest, LineAndCountHooksSeeTheRun)
{
    static std::vector<int> lines;
    lines.clear();
    VmSetHook(vm, [](VmState*, VmDebugRecord* r, uint32_t*) { lines.push_back(r->currentLine); }, VM_MASKLINE, 0);
    // Lines by text line: a loop over lines 5-6 runs three times.
    ASSERT_EQ(Run(".chunk lines=auto\n"
                  "LOADNUM r0, 0\n"       // 2
                  "LOADNUM r1, 0\n"       // 3
                  "LOADNUM r2, 3\nLOADNUM r3, 1\nJMP test\n"  // 4 5 6
                  "body: ADD r0, r0, r1\n"  // 7
                  "test: FORLOOP r1, body\n"  // 8
                  "RETURN r0, 2\n"),       // 9
              0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 6);
    // The first instruction only starts the hook; then every new line and
    // every backward jump.
    EXPECT_EQ(lines, (std::vector<int>{3, 4, 5, 6, 8, 7, 8, 7, 8, 7, 8, 9}));

    static int counted;
    counted = 0;
    VmSetHook(vm, [](VmState*, VmDebugRecord* r, uint32_t* code) {
        EXPECT_EQ(r->event, VM_HOOKCOUNT);
        if (++counted == 3)
            *code = ERR_USERABORT;
    }, VM_MASKCOUNT, 10);
    EXPECT_EQ(Run("top: JMP top\nRETURN r0, 1\n"), static_cast<uint32_t>(ERR_USERABORT));
    EXPECT_EQ(counted, 3);
    VmSetHook(vm, nullptr, 0, 0);
    // Without line information an error's line is 0.
    ASSERT_EQ(Run("LOADNUM r0, 1\nDIV r0, r0, #0\nRETURN r0, 2\n"), static_cast<uint32_t>(ERR_ZERODIVISION));
    EXPECT_EQ(VmErrorLine, 0);
}

// The event hook runs only once a pump is due, at the first new line, backward
// jump or function entry after that; the native "due" raises it.
TEST_F(InterpreterTest, EventHookRunsAtTheNextLineOnlyWhenAPumpIsDue)
{
    struct Case {
        const char* name;
        const char* script;
        std::vector<int> expectLines;
    };
    const Case cases[] = {
        {"nothing due: never called",
         ".line 1\nLOADNUM r0, 0\nLOADNUM r1, 1\nLOADNUM r2, 50\nLOADNUM r3, 1\nJMP test\n"
         ".line 2\nbody: ADD r0, r0, r1\n.line 3\ntest: FORLOOP r1, body\n"
         ".line 4\nRETURN r0, 2\n",
         {}},
        {"raised mid-line: once, at the next line",
         ".line 1\nGETGLOBAL r0, \"due\"\nCALL r0, 1, 1\nLOADNUM r1, 1\n"
         ".line 2\nLOADNUM r2, 2\nLOADNUM r2, 3\n.line 3\nRETURN r2, 2\n",
         {2}},
        {"a line that loops on itself: at its backward jump",
         ".line 5\nLOADNUM r1, 0\n.line 7\ntop: ADD r1, r1, #1\nLT 1, r1, #100\nJMP again\n"
         "RETURN r1, 2\nagain: GETGLOBAL r0, \"due\"\nCALL r0, 1, 1\nJMP top\nRETURN r0, 1\n",
         {7}},
        {"a call: at the callee's entry",
         ".function f\n.line 20\nLOADNUM r0, 1\nRETURN r0, 2\n.end\n"
         ".line 1\nGETGLOBAL r0, \"due\"\nCALL r0, 1, 1\nCLOSURE r0, f\nCALL r0, 1, 2\n"
         ".line 2\nRETURN r0, 2\n",
         {20}},
    };
    static std::vector<int> lines;
    SetGlobal("due", [](VmState*) -> uint32_t { VmRaisePumpDue(); return 0; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lines.clear();
        VmSetEventHook(vm, [](VmState*, VmDebugRecord* r, uint32_t* code) {
            lines.push_back(r->currentLine);
            // Stops the looping case; the others have returned by then.
            if (lines.size() == 1 && r->currentLine == 7)
                *code = ERR_USERABORT;
        });
        VmPumpDue = 0;
        uint32_t status = Run(c.script);
        EXPECT_EQ(status, c.expectLines == std::vector<int>{7} ? uint32_t{ERR_USERABORT} : 0u);
        EXPECT_EQ(lines, c.expectLines);
        EXPECT_EQ(VmPumpDue.load(), 0u) << "cleared when the hook ran";
    }

    // A debug line hook keeps seeing every line beside it; while one is set
    // the interpreter looks at every instruction, and the event hook runs on
    // every new line, as it did before pumps were due.
    static int debugLines;
    debugLines = 0;
    lines.clear();
    VmSetHook(vm, [](VmState*, VmDebugRecord*, uint32_t*) { ++debugLines; }, VM_MASKLINE, 0);
    VmSetEventHook(vm, [](VmState*, VmDebugRecord* r, uint32_t*) { lines.push_back(r->currentLine); });
    EXPECT_EQ(Run(".line 1\nLOADNUM r0, 1\n.line 2\nLOADNUM r0, 2\n.line 3\nRETURN r0, 2\n"), 0u);
    EXPECT_EQ(debugLines, 2);
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 3}));
    VmSetHook(vm, nullptr, 0, 0);
    VmSetEventHook(vm, nullptr);
    VmPumpDue = 0;
}

TEST_F(InterpreterTest, ComparisonConcatAndUnaryMetamethods)
{
    // Two objects sharing one metatable: __lt compares field "v", __eq
    // answers 0 (false) or 1, __concat joins "v"s, __unm negates, __not
    // answers 7, __add 42, __index the key doubled. __le is absent, so
    // a <= b is not (b < a); __sub is absent.
    static double (*get)(VmState*, int) = [](VmState* t, int i) {
        VmPushString(t, "v");
        VmRawGet(t, i);
        double n = VmGetNumber(t, -1);
        VmPop(t, 1);
        return n;
    };
    const char* names[] = {"__lt", "__eq", "__concat", "__unm", "__not", "__add", "__index"};
    VmNativeFunction fns[] = {
        [](VmState* t) -> uint32_t { VmPushNumber(t, get(t, 1) < get(t, 2)); return 1; },
        [](VmState* t) -> uint32_t { VmPushNumber(t, get(t, 1) == get(t, 2)); return 1; },
        [](VmState* t) -> uint32_t { VmPushNumber(t, get(t, 1) * 10 + get(t, 2)); return 1; },
        [](VmState* t) -> uint32_t { VmPushNumber(t, -get(t, 1)); return 1; },
        [](VmState* t) -> uint32_t { VmPushNumber(t, 7); return 1; },
        [](VmState* t) -> uint32_t { VmPushNumber(t, 42); return 1; },
        [](VmState* t) -> uint32_t { VmPushNumber(t, VmGetNumber(t, 2) * 2); return 1; },
    };
    VmPushString(vm, "mt");
    VmNewTable(vm);
    for (int j = 0; j < 7; j++) {
        VmPushString(vm, names[j]);
        VmPushNativeFunction(vm, fns[j]);
        VmRawSet(vm, -3);
    }
    VmRawSet(vm, VM_REGISTRYINDEX);
    SetGlobal("obj", [](VmState* s) -> uint32_t {
        double v = VmGetNumber(s, 1);
        VmNewTable(s);
        VmPushString(s, "v");
        VmPushNumber(s, v);
        VmRawSet(s, -3);
        VmPushString(s, "mt");
        VmRawGet(s, VM_REGISTRYINDEX);
        VmSetMetatable(s, -2);
        return 1;
    });
    auto both = [](const char* ops) {
        return std::string("GETGLOBAL r0, \"obj\"\nLOADNUM r1, 2\nCALL r0, 2, 2\n"
                           "GETGLOBAL r1, \"obj\"\nLOADNUM r2, 3\nCALL r1, 2, 2\n") + ops;
    };
    auto test = [&](const char* op) { return Jumps(both(""), op, "r0", "r1"); };
    RunTable({
        {test("LT").c_str(), 0, 1},
        {test("LE").c_str(), 0, 1},
        {Jumps(both(""), "LE", "r1", "r0").c_str(), 0, 0},
        {Jumps(both("MOVE r2, r0\n"), "LE", "r0", "r2").c_str(), 0, 1},
        {test("EQ").c_str(), 0, 0},
        {both("CONCAT r5, r0, r1\nRETURN r5, 2\n").c_str(), 0, 23},
        {both("UNM r5, r1\nRETURN r5, 2\n").c_str(), 0, -3},
        {both("BNOT r5, r1\nRETURN r5, 2\n").c_str(), 0, 7},
        {Jumps(both("MOVE r2, r0\n"), "EQ", "r0", "r2").c_str(), 0, 1},
        {both("ADD r5, #1, r0\nGETTABLE r6, r0, #21\nADD r5, r5, r6\nRETURN r5, 2\n").c_str(), 0, 84},
        {both("SUB r5, r0, r1\nRETURN r5, 2\n").c_str(), ERR_WRONGOP, 0},
    });
    // With an __le of its own (here: equal "v"s only), <= asks it alone.
    VmPushString(vm, "mt");
    VmRawGet(vm, VM_REGISTRYINDEX);
    VmPushString(vm, "__le");
    VmPushNativeFunction(vm, fns[1]);
    VmRawSet(vm, -3);
    VmPop(vm, 1);
    RunTable({
        {test("LE").c_str(), 0, 0},
        {Jumps(both("MOVE r2, r0\n"), "LE", "r0", "r2").c_str(), 0, 1},
    });
}

TEST_F(InterpreterTest, CallUpToTheTopWithoutAnOpenResultTakesNoArguments)
{
    SetGlobal("noop", [](VmState*) -> uint32_t { return 0; });
    // The first call leaves the top at r0, below the next called function.
    ASSERT_EQ(Run(".function five\nGETGLOBAL r0, \"noop\"\nLOADNUM r0, 5\nRETURN r0, 2\n.end\n"
                  "CLOSURE r2, five\nGETGLOBAL r0, \"noop\"\nCALL r0, 1, 0\nCALL r2, 0, 2\nRETURN r2, 2\n"),
              0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 5);
    ASSERT_EQ(Run("GETGLOBAL r2, \"noop\"\nGETGLOBAL r0, \"noop\"\nCALL r0, 1, 0\nCALL r2, 0, 2\nRETURN r2, 2\n"), 0u);
    EXPECT_EQ(VmType(vm, -1), VM_TNIL);
}
