// Message building: placeholder filling that never treats a text as a
// format, file parts of error arguments, user error codes, progress lines.
#include "core/io/errors.h"
#include "core/io/file_parts.h"
#include "core/io/messages.h"
#include "core/services/command_services.h"
#include "core/vm/error_hooks.h"
#include "platform/posix/os_console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/temp_dir.h"

namespace {

std::string Format(const char* text, const char* arg, int32_t number, size_t size = 256)
{
    std::string out(size, '\x7f');
    size_t length = FormatMessageText(text, arg, number, out.data(), size);
    EXPECT_EQ(out[length], '\0');
    return out.substr(0, length);
}

std::string ErrorText(uint32_t code)
{
    char out[ERROR_MESSAGE_SIZE];
    GetErrorText(code, out, sizeof out);
    return out;
}

class ErrorContext : public ::testing::Test {
protected:
    void SetUp() override
    {
        FreeUserErrorCodes();
        SetErrorText("");
        SetErrorArgNumber(0);
    }
    void TearDown() override { FreeUserErrorCodes(); }
};

} // namespace

TEST(FormatMessageText, FillsOnePlaceholderAndLeavesEveryOtherPercent)
{
    struct Case { const char* text; const char* arg; int32_t number; const char* expected; } cases[] = {
        {"Cannot read file %s !", "pic.png", 0, "Cannot read file pic.png !"},
        {"Could not find file handle %ld!", "", -7, "Could not find file handle -7!"},
        {"%d%% done", "", 5, "5%% done"}, {"%s and %s", "x", 0, "x and %s"},
        {"%d then %s", "x", 3, "%d then x"},         // a text placeholder takes precedence
        {"%%s then %s", "x", 0, "%%s then x"},       // "%%" is no placeholder
        {"%n%p%x%f 100%", "x", 1, "%n%p%x%f 100%"},  // nothing to fill: copied as it stands
        {"ends in %", "x", 1, "ends in %"}, {"%l", "x", 1, "%l"},
        {"Arg %s", "%s%n%d", 9, "Arg %s%n%d"},      // the argument is never read as a format
        {"no arg", nullptr, 0, "no arg"}, {"%s", nullptr, 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Format(c.text, c.arg, c.number), c.expected) << c.text;
    // Cut to the buffer and terminated.
    EXPECT_EQ(Format("Cannot read file %s !", "abcdefgh", 0, 20), "Cannot read file ab");
    EXPECT_EQ(Format("%s!", "abc", 0, 3), "ab");
    EXPECT_EQ(Format("%d", "", 123456, 4), "123");
    EXPECT_EQ(Format("x", "", 0, 1), "");
    char untouched = 'z';
    EXPECT_EQ(FormatMessageText("x", "", 0, &untouched, 0), 0u);
    EXPECT_EQ(untouched, 'z');
}

TEST(ChunkNames, FilePartOfPathsAndChunkNames)
{
    struct Case { const char* name; const char* part; } cases[] = {
        {"x", "x"}, {":", ":"}, {"", ""}, {":::chunkS12:34*gfx\\sub\\pic.png?", "pic.png"},
        {":::chunk1:2*pic.png", "pic.png"}, {":::chunk1:2*a?b/c", "a"}, {"DH0:pic.png", "pic.png"},
        // The runtime's own names keep every colon.
        {":::memory1000:40", ":::memory1000:40"}, {":::chunk1:2", ":::chunk1:2"},
    };
    char out[64];
    for (const Case& c : cases) {
        ChunkNameToFileName(c.name, out, sizeof out);
        EXPECT_STREQ(out, c.part) << c.name;
    }
    std::strcpy(out, ":::chunk1:2*dir/pic.png?p");
    ChunkNameToFileName(out, out, sizeof out);
    EXPECT_STREQ(out, "pic.png");
    ChunkNameToFileName("/a/verylongname", out, 5);
    EXPECT_STREQ(out, "very");
}

TEST_F(ErrorContext, CodesShowTheFilePartNumbersFixedTextsOrTheText)
{
    SetErrorText("C:\\data\\pictures\\pic.png");
    EXPECT_EQ(ErrorText(ERR_READFILE), "Cannot read file pic.png !");
    // The context keeps the full name for codes that show it whole.
    EXPECT_EQ(ErrorText(ERR_CREATEDIR), "Error creating directory C:\\data\\pictures\\pic.png !");

    SetErrorText(":::chunk4096:1000*pictures/pic.png?/opt/app/program");
    EXPECT_EQ(ErrorText(ERR_READFILE), "Cannot read file pic.png !");
    EXPECT_STREQ(errorArgText, "pic.png");
    SetErrorArgNumber(7);
    EXPECT_EQ(ErrorText(ERR_FINDFILE), "Could not find file handle 7!");
    EXPECT_EQ(ErrorText(ERR_NONE), "No error occurred!");
    for (uint32_t unknown : {1u, 999u, 1249u, 1407u})
        EXPECT_EQ(ErrorText(unknown), "Unknown error code!") << unknown;
    // Every code that shows a file part shows a memory name whole.
    for (uint32_t code : {ERR_LOADPICTURE, ERR_READFILE, ERR_OPENSOUND, ERR_NOALPHA, ERR_OPENANIM2, ERR_OPENSOUND2,
                          ERR_LOADPICTURE2, ERR_IMAGEERROR, ERR_LOADVIDEO, ERR_NOTRANSPARENCY}) {
        SetErrorText(":::memory1000:40");
        EXPECT_NE(ErrorText(code).find(":::memory1000:40"), std::string::npos) << ErrorText(code);
        SetErrorText("C:\\pictures\\pic.png");
        EXPECT_EQ(ErrorText(code).find("pictures"), std::string::npos) << ErrorText(code);
    }
    // These show the error text as it stands.
    SetErrorText("100% wrong %s %d %n");
    EXPECT_EQ(ErrorText(ERR_ERRORCALLED), "100% wrong %s %d %n");
    EXPECT_EQ(ErrorText(ERR_OPENFONT), "100% wrong %s %d %n");
}

TEST_F(ErrorContext, SetErrorTextKeeps1023CharactersAndMayOverlap)
{
    std::string longText(5000, 'a');
    longText[1022] = 'b';
    SetErrorText(longText.c_str());
    EXPECT_EQ(std::strlen(errorArgText), 1023u);
    EXPECT_EQ(errorArgText[1022], 'b');

    SetErrorText("prefix/name");
    SetErrorText(errorArgText + 7);
    EXPECT_STREQ(errorArgText, "name");
    SetErrorText(nullptr);
    EXPECT_STREQ(errorArgText, "");
}

TEST_F(ErrorContext, DetailBelongsToItsCodeAndItsRaise)
{
    DropErrorDetail();
    SetErrorDetail(ERR_WRONGOP, "Addition of a table and a number");
    EXPECT_STREQ(GetErrorDetail(ERR_WRONGOP), "Addition of a table and a number");
    EXPECT_STREQ(GetErrorDetail(ERR_ANIMFRAME), "");
    // The raise it was stored for keeps it, until the next raise, which
    // brings no detail of its own.
    ClaimErrorDetail(ERR_WRONGOP);
    EXPECT_STREQ(GetErrorDetail(ERR_WRONGOP), "Addition of a table and a number");
    ClaimErrorDetail(ERR_WRONGOP);
    EXPECT_STREQ(GetErrorDetail(ERR_WRONGOP), "");
    SetErrorDetail(ERR_WRONGOP, "x");
    DropErrorDetail();
    EXPECT_STREQ(GetErrorDetail(ERR_WRONGOP), "");
    EXPECT_STREQ(GetErrorDetail(0), "");
    // Cut to the buffer, never past it.
    std::string longText(3000, 'd');
    SetErrorDetail(ERR_WRONGOP, longText.c_str());
    EXPECT_EQ(std::strlen(GetErrorDetail(ERR_WRONGOP)), ERROR_TEXT_SIZE - 1);

    EXPECT_EQ(SetRangeErrorDetail(ERR_ANIMFRAME, "frame", -3, 1, 0), static_cast<uint32_t>(ERR_ANIMFRAME));
    EXPECT_STREQ(GetErrorDetail(ERR_ANIMFRAME), "Frame -3 asked for; no frames exist");
    DropErrorDetail();
}

TEST_F(ErrorContext, UserCodesCountFromTheFirstUserCode)
{
    EXPECT_EQ(AddUserErrorCode("first"), 1581u);
    EXPECT_EQ(AddUserErrorCode("Disk %d%% full"), 1582u);
    EXPECT_EQ(ErrorText(1581), "first");
    SetErrorArgNumber(95);
    EXPECT_EQ(ErrorText(1582), "Disk 95%% full");
    EXPECT_EQ(ErrorText(1590), "Unknown error code!");
    FreeUserErrorCodes();
    EXPECT_EQ(ErrorText(1581), "Unknown error code!");
    EXPECT_EQ(AddUserErrorCode("again"), 1581u);
}

TEST_F(ErrorContext, ProgressLinesGoToTheDebugChannelUnlessQuiet)
{
    TempDir dir;
    std::string path = dir.file("progress_lines.txt");
    ASSERT_EQ(OsOpenDebugChannel(("::file" + path).c_str()), 0);
    CoreTags.quietFlag = 0;
    PrintMessage("Opening script %s", ":::chunk1:2*scripts/game.qma?/opt/p", 1);
    PrintDone();
    PrintMessage("100% %s %n", nullptr, 0);
    PrintMessage("Compiling script", nullptr, 1);
    PrintFailed();
    CoreTags.quietFlag = 1;
    PrintMessage("hidden", nullptr, 1);
    PrintDone();
    PrintFailed();
    CoreTags.quietFlag = 0;
    OsCloseDebugChannel();

    std::vector<uint8_t> text = ReadFileBytes(path);
    EXPECT_EQ(std::string(text.begin(), text.end()), "Opening script game.qma...done\n100% %s %nCompiling script...failed\n");
}

TEST_F(ErrorContext, ReportTakesNoTextAsAFormatAndIsCut)
{
    // Both forms of the report are the player's tests'; here texts that look
    // like formats, and the cut.
    char out[ERROR_MESSAGE_SIZE];
    FormatErrorReport("50% %s done", "%d.qms", -1, nullptr, out, sizeof out);
    EXPECT_STREQ(out, "50% %s done\nFile: %d.qms (current line: -1)");
    EXPECT_EQ(FormatErrorReport("abcdef", "f", 1, nullptr, out, 4), 3u);
    EXPECT_STREQ(out, "abc");
}

TEST(CoreServices, ScriptNameBufferLivesFromStartToExit)
{
    ASSERT_EQ(InitCoreServices(), 0u);
    EXPECT_STREQ(errorScriptName, "?");
    ASSERT_EQ(AddUserErrorCode("kept until exit"), ERR_FIRST_USER);
    FreeCoreLists(nullptr);
    EXPECT_EQ(errorScriptName, nullptr);
    char out[ERROR_MESSAGE_SIZE];
    GetErrorText(ERR_FIRST_USER, out, sizeof out);
    EXPECT_STREQ(out, "Unknown error code!");
    // The VM's error texts reach the context from its start.
    SetErrorText("stale");
    SetErrorFunctionName("old");
    InitErrorContext();
    EXPECT_STREQ(errorArgText, "");
    EXPECT_STREQ(errorFunctionName, "----");
    EXPECT_EQ(VmErrorLine, -1);
    VmHooks.setErrorText("t.field");
    GetErrorText(ERR_FIELDINIT, out, sizeof out);
    EXPECT_STREQ(out, "Table field t.field was not initialized!");
}
