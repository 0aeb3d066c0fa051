// Error locations and the two forms of the final report, from a chunk made
// by the test assembler whose lines belong to included files.
#include "core/io/errors.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/command_services.h"
#include "core/services/error_report.h"
#include "core/startup/run_records.h"
#include "core/vm/error_hooks.h"
#include "core/vm/library_glue.h"
#include "core/vm_fixture.h"
#include "platform/posix/os_console.h"

#include <cstring>
#include <string>

#include "support/temp_dir.h"

namespace {

uint32_t FailCmd(VmState*)
{
    SetErrorArgNumber(7);
    return ERR_FINDFILE;
}

std::string scriptFileSeen;

uint32_t WhereAmI(VmState* vm)
{
    scriptFileSeen = GetScriptFileOfLine(vm);
    return 0;
}

// FailAlias shares its function with FailCmd.
const CommandTableEntry commands[] = {
    {"FailCmd", FailCmd}, {"WhereAmI", WhereAmI}, {"FailAlias", FailCmd}, {nullptr, nullptr}};

// The applet's code holds two files: main.qm at lines 1-10 and
// inc/helpers.qm at lines 11-30, whose first line there is its line 5.
IncludedFileRecord helpers{nullptr, 11, 30, 4, "inc/helpers.qm", "app.qma"};
IncludedFileRecord mainFile{&helpers, 1, 10, 0, "main.qm", "app.qma"};

class ErrorReport : public VmTest {
protected:
    void SetUp() override
    {
        VmTest::SetUp();
        savedTags = CoreTags;
        applet.includedFiles = &mainFile;
        applet.loaded = 1;
        VmSetRegistryPointer(vm, "applet", &applet);
        VmSetRegistryString(vm, "script", ":none:");
        ASSERT_EQ(InitCoreServices(), 0u);
        ResetErrorLocation();
        VmErrorLine = -1;
        CoreTags.exitOnError = 1;
        CoreTags.scriptRunning = 1;
        InstallErrorReportHooks();
        ProgramVmState = vm;
        ASSERT_EQ(RegisterLibrary(commands, "test"), 0u);
        SetGlobal("failcmd", FailCmd);
        SetGlobal("whereami", WhereAmI);
        SetGlobal("failalias", FailCmd);
    }
    void TearDown() override
    {
        FreeCoreLists(vm);
        VmAbortFlag = 0;
        ResetErrorLocation();
        VmErrorLine = -1;
        CoreTags = savedTags;
        ProgramVmState = nullptr;
        VmTest::TearDown();
    }

    uint32_t RunChunk(const std::string& text) { return VmTest::RunChunk(text, "app.qma"); }

    AppletInfo applet{};
    CoreTagState savedTags{};
};

std::string Report(const char* text, bool plain)
{
    char out[ERROR_MESSAGE_SIZE + 512];
    size_t length = ErrorReportText(ProgramVmState, text, plain, out, sizeof out);
    EXPECT_EQ(length, std::strlen(out));
    return out;
}

// main (at line 3 of the applet) calls the nested function inner (under
// the global name given), which sits at applet line 20 when it makes its call.
std::string Chunk(const char* innerCall, const std::string& innerName = "inner")
{
    return ".function main source=\"app.qma\"\n.line 3\nCLOSURE r0, inner\n"
           "SETGLOBAL r0, \"" + innerName + "\"\nGETGLOBAL r0, \"" + innerName + "\"\nCALL r0, 1, 1\nRETURN r0, 1\n"
           ".function inner line=12\n.line 20\nGETGLOBAL r0, \"" + innerCall + "\"\nCALL r0, 1, 1\nRETURN r0, 1\n"
           ".end\n.end\n";
}

} // namespace

TEST_F(ErrorReport, AFailingCommandIsNamedByItsTableSpellingInItsOwnFileAndLine)
{
    ASSERT_EQ(RunChunk(Chunk("failcmd")), static_cast<uint32_t>(ERR_FINDFILE));
    EXPECT_EQ(VmLastErrorCode, static_cast<uint32_t>(ERR_FINDFILE));
    EXPECT_EQ(VmAbortFlag.load(), 1u);
    EXPECT_STREQ(errorFunctionName, "FailCmd");
    EXPECT_STREQ(errorScriptName, "app.qma");
    EXPECT_EQ(VmErrorLine, 20);
    EXPECT_EQ(GetErrorLine(vm), 14);

    char message[ERROR_MESSAGE_SIZE];
    const char* file = nullptr;
    int32_t line = 0;
    GetErrorInfo(vm, ERR_FINDFILE, message, sizeof message, &file, &line);
    EXPECT_STREQ(message, "Could not find file handle 7!");
    EXPECT_STREQ(file, "inc/helpers.qm");
    EXPECT_EQ(line, 14);
    EXPECT_EQ(Report(message, false),
              "Could not find file handle 7!\nFile: helpers.qm (current line: 14 - In function: FailCmd)");
    EXPECT_EQ(FormatDebugErrorLine(message, file, line), "@_qmerror14:inc/helpers.qm*Could not find file handle 7!");
    EXPECT_EQ(Report(message, true), message);
}

// Of two commands sharing a function, the one called by its own name is
// named; called through any other name, the first registered.
TEST_F(ErrorReport, ACommandSharingItsFunctionIsNamedAsCalledWhenThatIsOneOfItsNames)
{
    for (const char* call : {"failalias", "failcmd", "other"}) {
        SCOPED_TRACE(call);
        ResetErrorLocation();
        VmAbortFlag = 0;
        VmPushString(vm, "other");
        VmPushNativeFunction(vm, FailCmd);
        VmSetTable(vm, VM_GLOBALSINDEX);
        ASSERT_EQ(RunChunk(Chunk(call)), static_cast<uint32_t>(ERR_FINDFILE));
        EXPECT_STREQ(errorFunctionName, std::strcmp(call, "failalias") == 0 ? "FailAlias" : "FailCmd");
    }
}

// Inside the error handler the failure unwinds the run but aborts nothing.
TEST_F(ErrorReport, WithoutExitOnErrorTheScriptGoesOnAndTheLocationIsReset)
{
    CoreTags.exitOnError = 0;
    EXPECT_EQ(RunChunk(Chunk("failcmd")), 0u);
    EXPECT_EQ(VmLastErrorCode, static_cast<uint32_t>(ERR_FINDFILE));
    EXPECT_STREQ(errorFunctionName, "----");
    EXPECT_EQ(VmErrorLine, -1);
    EXPECT_EQ(VmAbortFlag.load(), 0u);
    CoreTags.exitOnError = 1;
    CoreTags.errorHandlerNesting = 1;
    EXPECT_EQ(RunChunk(Chunk("failcmd")), static_cast<uint32_t>(ERR_FINDFILE));
    EXPECT_EQ(VmAbortFlag.load(), 0u);
}

TEST_F(ErrorReport, LinesOfASingleScriptCountTheIncludedFilesBeforeIt)
{
    // A script that was not built from several files: its name is in the
    // registry, and every included record under that name adds its lines.
    VmSetRegistryString(vm, "script", "Main.QM");
    VmPushCString(vm, "beginline");
    VmPushNumber(vm, 5);
    VmRawSet(vm, VM_REGISTRYINDEX);
    VmErrorLine = 40;
    EXPECT_EQ(GetErrorLine(vm), 40 - 5 + 1 + (10 - 1));
    const char* file = nullptr;
    int32_t line = 0;
    char message[ERROR_MESSAGE_SIZE];
    GetErrorInfo(vm, ERR_MEM, message, sizeof message, &file, &line);
    EXPECT_STREQ(message, "Out of memory!");
    EXPECT_STREQ(file, "Main.QM");
    EXPECT_EQ(line, 45);
    EXPECT_EQ(Report(message, false), "Out of memory!\nFile: Main.QM (current line: 45)");
}

TEST_F(ErrorReport, LinesOutsideEveryRecordKeepTheChunksOwnNumbering)
{
    VmErrorLine = 99;  // outside every record
    std::strcpy(errorScriptName, "app.qma");
    const char* file = "x";
    int32_t line = 5;
    char message[ERROR_MESSAGE_SIZE];
    GetErrorInfo(vm, ERR_MEM, message, sizeof message, &file, &line);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(line, 0);
    EXPECT_EQ(Report(message, false), "Out of memory!\nFile: app.qma (current line: 99)");
    EXPECT_EQ(FormatDebugErrorLine(message, file, line), "@_qmerror0:\"\"*Out of memory!");
    VmErrorLine = -1;  // no line at all
    EXPECT_EQ(Report(message, false), "Out of memory!");
}

TEST_F(ErrorReport, LongFunctionNamesAreCutToTheirBuffer)
{
    std::string name(300, 'f');
    ASSERT_EQ(RunChunk(Chunk("nosuchfunction", name)), static_cast<uint32_t>(ERR_FUNCDECLA));
    EXPECT_EQ(std::string(errorFunctionName), name.substr(0, ERROR_FUNCTION_NAME_SIZE - 1));
}

TEST_F(ErrorReport, TheRunningLineIsFoundInItsIncludedFile)
{
    scriptFileSeen = "unset";
    ASSERT_EQ(RunChunk(Chunk("whereami")), 0u);
    EXPECT_EQ(scriptFileSeen, "inc/helpers.qm");

    // A line that no record covers, and a script that names itself.
    helpers.lastLine = 19;
    scriptFileSeen = "unset";
    ASSERT_EQ(RunChunk(Chunk("whereami")), 0u);
    helpers.lastLine = 30;
    EXPECT_EQ(scriptFileSeen, "");
    VmSetRegistryString(vm, "script", "single.qm");
    ASSERT_EQ(RunChunk(Chunk("whereami")), 0u);
    EXPECT_EQ(scriptFileSeen, "single.qm");
}

uint32_t g_platformFlag;
uint32_t AnswerPlatformFlag(void*, uint32_t attr, const QmTagItem*) { return attr == 16 ? g_platformFlag : 7; }

TEST_F(ErrorReport, TheFatalReportGoesToTheDebugDeviceAsOneLine)
{
    ASSERT_EQ(RunChunk(Chunk("failcmd")), static_cast<uint32_t>(ERR_FINDFILE));
    const std::string line = "@_qmerror14:inc/helpers.qm*Could not find file handle 7!\n";
    // A display adapter that answers the platform flag with 0 has the
    // progress word "failed" printed first; without one the platform's 1
    // leaves the line alone.
    const struct {
        bool adapter;
        uint32_t flag;
        std::string expected;
    } cases[] = {{true, 1, line}, {true, 0, "failed\n" + line}};
    for (const auto& c : cases) {
        PluginInfo adapter{};
        adapter.GetBitMapAttr = reinterpret_cast<QmProc>(AnswerPlatformFlag);
        g_platformFlag = c.flag;
        DisplayAdapterPlugin = c.adapter ? &adapter : nullptr;
        TempDir dir;
        std::string path = dir.file("fatal.txt");
        ASSERT_EQ(OsOpenDebugChannel(("::file" + path).c_str()), 0);
        DebugDeviceSet = 1;
        CoreContext context{};
        ReportFatalError(0, &context, vm);
        ReportFatalError(ERR_USERABORT, &context, vm);
        ReportFatalError(ERR_FINDFILE, &context, vm);
        DebugDeviceSet = 0;
        DisplayAdapterPlugin = nullptr;
        OsCloseDebugChannel();
        std::vector<uint8_t> written = ReadFileBytes(path);
        EXPECT_EQ(std::string(written.begin(), written.end()), c.expected) << "adapter " << c.adapter << " flag " << c.flag;
        EXPECT_STREQ(context.errorText, "Could not find file handle 7!");
    }
}
