// How applets see values compared, as the player runs them: Nil against 0
// and "", strings by their bytes, handles by identity, and the mixed
// comparisons that end the applet whatever error handling it set up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/test_applet.h"

using namespace qmasm;

namespace {

// Assembly text that prints the label and 1 when `op A, b, c` (A = 1)
// takes its jump, else 0; `n` keeps its labels apart.
std::string Compared(const std::string& label, const char* op, const std::string& b, const std::string& c, int n)
{
    std::string yes = "yes" + std::to_string(n), out = "out" + std::to_string(n);
    return "    " + std::string(op) + " 1, " + b + ", " + c + "\n    JMP " + yes + "\n    LOADNUM r5, 0\n    JMP " +
           out + "\n" + yes + ":\n    LOADNUM r5, 1\n" + out + ":\n    GETGLOBAL r6, \"debugprint\"\n    LOADK r7, \"" +
           label + "\"\n    MOVE r8, r5\n    CALL r6, 3, 1\n";
}

// Prints the label and what `command` answers for each of the values.
std::string Answers(const std::string& label, const std::string& command)
{
    std::string t = "    GETGLOBAL r6, \"debugprint\"\n    LOADK r7, \"" + label + "\"\n";
    const char* values[] = {"LOADNIL r%, r%", "LOADK r%, #0", "LOADK r%, \"\""};
    for (int i = 0; i < 3; ++i) {
        std::string r = std::to_string(8 + i), value = std::to_string(9 + i);
        t += "    GETGLOBAL r" + r + ", \"" + command + "\"\n    " + Fill(values[i], {{"%", value}}) + "\n    CALL r" + r +
             ", 2, 2\n";
    }
    return t + "    CALL r6, 5, 1\n";
}

TEST(Values, NilEqualsZeroAndTheEmptyStringWhileStringsAndHandlesKeepApart)
{
    TempDir dir;
    // Two memory blocks made for the id Nil: r1 and r2 hold their handles;
    // "abc" is built at run time, so that only its bytes match the constant.
    std::string body = CommandCall("allocmem", {"nil", "#4"}, 1) + "    MOVE r11, r0\n" +
                       CommandCall("allocmem", {"nil", "#4"}, 1) +
                       "    MOVE r2, r0\n    MOVE r1, r11\n    LOADK r3, \"ab\"\n    LOADK r4, \"c\"\n"
                       "    CONCAT r3, r3, r4\n    NEWTABLE r4, 0, 0\n";
    int n = 0;
    body += Compared("nil == 0", "EQ", "nil", "#0", n++) + Compared("nil == empty", "EQ", "nil", "\"\"", n++) +
            Compared("nil == handle", "EQ", "nil", "r1", n++) +
            Compared("nil == table", "EQ", "nil", "r4", n++) + Compared("handle == itself", "EQ", "r1", "r1", n++) +
            Compared("handle == other", "EQ", "r1", "r2", n++) +
            Compared("built == abc", "EQ", "r3", "\"abc\"", n++) + Compared("a == A", "EQ", "\"a\"", "\"A\"", n++) +
            Compared("nil < 1", "LT", "nil", "#1", n++) + Compared("nil <= empty", "LE", "nil", "\"\"", n++);
    body += Answers("IsNil", "isnil") + Answers("GetType", "gettype");
    PlayerRun run = PlayApplet(dir, AssembleTestApplet(MainScript(body)), {"-debugdevice", "console"});
    EXPECT_EQ(run.status, 0) << run.err;
    // GetType: #NIL 0, #NUMBER 2, #STRING 3.
    ExpectLines(run.out, {"nil == 0 1", "nil == empty 1", "nil == handle 0", "nil == table 0", "handle == itself 1",
                          "handle == other 0", "built == abc 1", "a == A 0", "nil < 1 1", "nil <= empty 0",
                          "IsNil 1 0 0", "GetType 0 2 3"});
}

// The VM's own errors: neither ExitOnError(0) nor a RaiseOnError handler
// (which would print "caught") keeps the applet going.
TEST(Values, MixedComparisonsEndTheAppletWhateverHandlesErrors)
{
    const std::string handling = ".function onerror params=4\n" + CommandCall("debugprint", {"\"caught\""}) +
                                 "    RETURN r0, 1\n.end\n" + CommandCall("exitonerror", {"#0"}) +
                                 "    GETGLOBAL r0, \"raiseonerror\"\n    CLOSURE r1, onerror\n    CALL r0, 2, 1\n";
    const struct {
        std::string compare;
        const char* message;
    } cases[] = {
        {"    EQ 1, #0, \"0\"\n", "Attempt to compare a number with a string!"},
        {"    LE 1, \"1\", #2\n", "Attempt to compare a number with a string!"},
        {"    NEWTABLE r1, 0, 0\n    EQ 1, r1, #0\n",
         "Wrong operator for this type! (Comparison (==) of a table and a number)"},
        {CommandCall("allocmem", {"nil", "#4"}, 1) + "    NEWTABLE r1, 0, 0\n    EQ 1, r0, r1\n",
         "Wrong operator for this type! (Comparison (==) of a userdata and a table)"},
        {CommandCall("allocmem", {"nil", "#4"}, 1) + "    LT 1, r0, r0\n",
         "Wrong operator for this type! (Comparison (<) of a userdata and a userdata)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compare);
        TempDir dir;
        std::string body = handling + c.compare + "    JMP +0\n" + CommandCall("debugprint", {"\"went on\""});
        PlayerRun run = PlayApplet(dir, AssembleTestApplet(MainScript(body)), {"-debugdevice", "console"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out.find("caught"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("went on"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(std::string(c.message) + "\n"), std::string::npos) << run.out;
    }
}

}  // namespace
