// CheckArgs and the readers of arguments with several forms.
#include "core/io/errors.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/startup/run_records.h"
#include "core/vm_fixture.h"

#include <cstring>
#include <string>

namespace {

struct CheckCase {
    int min, max;
    uint32_t major, minor;
};
CheckCase check;

uint32_t CheckingCommand(VmState* vm)
{
    CheckArgs(vm, check.min, check.max, check.major, check.minor);
    return 0;
}

void PushNumbers(VmState* vm, int n)
{
    VmCheckStack(vm, n + 1);
    for (int i = 0; i < n; ++i)
        VmPushNumber(vm, i);
}

class CommandArgs : public VmTest {
protected:
    void TearDown() override
    {
        ProgramAppletInfo = nullptr;
        VmTest::TearDown();
    }
};

} // namespace

TEST_F(CommandArgs, CheckArgsCountsArguments)
{
    struct Case {
        int min, max, given;
        uint32_t expected;
    } cases[] = {
        {0, 0, 0, 0},  {0, 0, 1, ERR_TOOMANYARGS},    {1, -1, 0, ERR_MISSINGPARAMTR},
        {1, -1, 1, 0}, {1, -1, 30, 0},                {2, 3, 1, ERR_MISSINGPARAMTR},
        {2, 3, 2, 0},  {2, 3, 3, 0},                  {2, 3, 4, ERR_TOOMANYARGS},
        {0, -1, 0, 0}, {0, -1, 5, 0},
    };
    for (const Case& c : cases) {
        check = {c.min, c.max, 0, 0};
        EXPECT_EQ(Run(CheckingCommand, [&](VmState* s) { PushNumbers(s, c.given); }), c.expected)
            << c.min << ".." << c.max << " with " << c.given;
        VmSetTop(vm, 0);
    }
}

TEST_F(CommandArgs, VersionRequirementsApplyOnlyOnceAnAppletIsLoaded)
{
    AppletInfo applet{};
    applet.versionMajor = 5;
    applet.versionMinor = 9;
    ProgramAppletInfo = &applet;
    check = {0, -1, 6, 0};
    EXPECT_EQ(Run(CheckingCommand), 0u) << "no applet loaded yet";

    applet.loaded = 1;
    SetErrorText("");
    EXPECT_EQ(Run(CheckingCommand), static_cast<uint32_t>(ERR_OLDAPPLET));
    char message[ERROR_MESSAGE_SIZE];
    GetErrorText(ERR_OLDAPPLET, message, sizeof message);
    EXPECT_NE(std::string(message).find("6.0 or higher"), std::string::npos) << message;

    struct Case {
        uint32_t major, minor;
        bool passes;
    } cases[] = {{5, 8, true}, {5, 9, true}, {5, 10, false}, {4, 20, true}, {6, 0, false}, {0, 0, true}};
    for (const Case& c : cases) {
        check = {0, -1, c.major, c.minor};
        EXPECT_EQ(Run(CheckingCommand) == 0, c.passes) << c.major << "." << c.minor;
    }
    EXPECT_FALSE(RequireAppletVersion(7, 12));
    EXPECT_STREQ(errorArgText, "7.12");
}

namespace {

struct PercentCall {
    double base;
    bool allowAbove100;
    double result;
    bool isPercent;
};
PercentCall percent;

uint32_t PercentCommand(VmState* vm)
{
    percent.result = GetNumberOrPercent(vm, 2, percent.base, percent.allowAbove100, &percent.isPercent);
    return 0;
}

} // namespace

TEST_F(CommandArgs, NumbersOrPercentages)
{
    struct Case {
        const char* text;  // null: the number 12.5; "nil": nil; "table": a table
        double base;
        bool allow;
        uint32_t code;
        double result;
        bool isPercent;
    } cases[] = {
        {"50%", 640, false, 0, 320, false},   {"50%", 0, false, 0, 0.5, true},
        {"100%", 200, false, 0, 200, false},  {"0%", 200, false, 0, 0, false},
        {"150%", 100, false, ERR_PERCENTFORMAT, 0, false},  {"150%", 100, true, 0, 150, false},
        {"-5%", 100, true, ERR_PERCENTFORMAT, 0, false},    {"12.5%", 0, false, 0, 0.125, true},
        {"42", 640, false, 0, 42, false},     {"-7", 640, false, 0, -7, false},
        {"abc", 640, false, ERR_PERCENTFORMAT, 0, false},   {"%50", 640, false, ERR_PERCENTFORMAT, 0, false},
        {"", 640, false, ERR_PERCENTFORMAT, 0, false},      {nullptr, 640, false, 0, 12.5, false},
        {"nil", 640, false, 0, 0, false},     {"table", 640, false, ERR_STRORNUM, 0, false},
    };
    for (const Case& c : cases) {
        percent = {c.base, c.allow, -1, false};
        SetErrorArgNumber(0);
        uint32_t code = Run(PercentCommand, [&](VmState* s) {
            VmPushNumber(s, 1);
            if (!c.text)
                VmPushNumber(s, 12.5);
            else if (std::strcmp(c.text, "nil") == 0)
                VmPushNil(s);
            else if (std::strcmp(c.text, "table") == 0)
                VmNewTable(s);
            else
                VmPushString(s, c.text);
        });
        SCOPED_TRACE(c.text ? c.text : "number");
        EXPECT_EQ(code, c.code);
        if (code) {
            EXPECT_EQ(errorArgNumber, 2) << "the error names the argument";
        } else {
            EXPECT_DOUBLE_EQ(percent.result, c.result);
            EXPECT_EQ(percent.isPercent, c.isPercent);
        }
        VmSetTop(vm, 0);
    }
}

namespace {

ObjectId readId;
OptionalInt readOptional;

uint32_t IdCommand(VmState* vm)
{
    readId = GetObjectIdArg(vm, 1);
    readOptional = GetOptionalInt(vm, 2);
    PushObjectId(vm, readId);
    return 1;
}

} // namespace

TEST_F(CommandArgs, ObjectIdsAreNumbersOrHandles)
{
    int anchor = 0;
    ASSERT_EQ(Run(IdCommand, [&](VmState* s) { VmPushLightUserdata(s, &anchor); }, 1), 0u);
    EXPECT_EQ(readId.id, 0u);
    EXPECT_EQ(readId.handle, reinterpret_cast<uintptr_t>(&anchor));
    EXPECT_TRUE(readOptional.absent);
    EXPECT_EQ(VmType(vm, -1), VM_TLIGHTUSERDATA);
    EXPECT_EQ(VmGetUserdata(vm, -1), &anchor);
    VmSetTop(vm, 0);

    ASSERT_EQ(Run(IdCommand, [](VmState* s) { VmPushNumber(s, 17.9); VmPushNumber(s, -3); }, 1), 0u);
    EXPECT_EQ(readId.id, 17u);
    EXPECT_EQ(readId.handle, 0u);
    EXPECT_FALSE(readOptional.absent);
    EXPECT_EQ(readOptional.value, -3);
    EXPECT_EQ(VmType(vm, -1), VM_TNUMBER);
    EXPECT_EQ(VmGetNumber(vm, -1), 17);
    VmSetTop(vm, 0);

    ASSERT_EQ(Run(IdCommand, [](VmState* s) { VmPushString(s, "5"); VmPushNil(s); }, 1), 0u);
    EXPECT_EQ(readId.id, 5u);
    EXPECT_TRUE(readOptional.absent);
    VmSetTop(vm, 0);

    SetErrorArgNumber(0);
    EXPECT_EQ(Run(IdCommand, [](VmState* s) { VmNewTable(s); }), static_cast<uint32_t>(ERR_NUMEXPECTED));
    EXPECT_EQ(errorArgNumber, 1);
}
