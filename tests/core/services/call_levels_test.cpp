// The call levels the error report reads: kinds, sources, lines and the
// names under which functions were called, from assembled chunks.
#include "core/services/call_levels.h"
#include "core/vm_fixture.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> levels;

// Records every level it can see, as "what name-kind name line".
uint32_t Probe(VmState* vm)
{
    levels.clear();
    CallLevel level;
    for (int i = 0; GetCallLevel(vm, i, &level); ++i)
        levels.push_back(std::string(level.what) + " " + level.nameWhat + " " + (level.name ? level.name : "-") +
                         " " + std::to_string(level.currentLine));
    return 0;
}

class CallLevels : public VmTest {
protected:
    void SetUp() override
    {
        VmTest::SetUp();
        SetGlobal("probe", Probe);
        // t = {probe = <the same native>}
        VmPushString(vm, "t");
        VmNewTable(vm);
        VmPushString(vm, "probe");
        VmPushString(vm, "probe");
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmSetTable(vm, -3);
        VmSetTable(vm, VM_GLOBALSINDEX);
    }

    std::vector<std::string> Run(const std::string& text)
    {
        levels.clear();
        EXPECT_EQ(RunChunk(text, "levels"), 0u);
        return levels;
    }
};

using Levels = std::vector<std::string>;

} // namespace

TEST_F(CallLevels, NamesComeFromHowTheCallerLoadedTheFunction)
{
    struct Case {
        const char* what;
        const char* code;
        const char* level0;
    } cases[] = {
        {"global", "GETGLOBAL r0, \"probe\"\nCALL r0, 1, 1\n", "C global probe -1"},
        {"field", "GETGLOBAL r0, \"t\"\nGETTABLE r1, r0, \"probe\"\nCALL r1, 1, 1\n", "C field probe -1"},
        {"method", "GETGLOBAL r0, \"t\"\nSELF r1, r0, \"probe\"\nCALL r1, 2, 1\n", "C method probe -1"},
        {"local", ".local \"lp\" 1 3\nGETGLOBAL r0, \"probe\"\nCALL r0, 1, 1\n", "C local lp -1"},
        {"moved", "GETGLOBAL r0, \"probe\"\nMOVE r1, r0\nCALL r1, 1, 1\n", "C global probe -1"},
    };
    for (const Case& c : cases) {
        Levels seen = Run(std::string(".function main source=\"app\"\n.line 7\n") + c.code + "RETURN r0, 1\n.end\n");
        ASSERT_EQ(seen.size(), 2u) << c.what;
        EXPECT_EQ(seen[0], c.level0) << c.what;
        EXPECT_EQ(seen[1], "main  - 7") << c.what;
    }
}

TEST_F(CallLevels, NestedFunctionsAndLostTailCalls)
{
    // main calls f, which tail-calls g, which calls probe.
    Levels seen = Run(".function main source=\"app\"\n"
                      ".line 2\nCLOSURE r0, f\nSETGLOBAL r0, \"f\"\nCLOSURE r0, g\nSETGLOBAL r0, \"g\"\n"
                      ".line 3\nGETGLOBAL r0, \"f\"\nCALL r0, 1, 1\nRETURN r0, 1\n"
                      ".function f line=10\n.line 11\nGETGLOBAL r0, \"g\"\nTAILCALL r0, 1, 0\nRETURN r0, 0\n.end\n"
                      ".function g line=20\n.line 21\nGETGLOBAL r0, \"probe\"\nCALL r0, 1, 1\nRETURN r0, 1\n.end\n"
                      ".end\n");
    // g lost its caller f to the tail call: it is still found by its global
    // name, and f's level is a tail level.
    EXPECT_EQ(seen, (Levels{"C global probe -1", "Quillmere global g 21", "tail  - -1", "main  - 3"}));
}
