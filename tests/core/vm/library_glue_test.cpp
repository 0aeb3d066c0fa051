// Library glue: command names in any case, constants, references and the
// argument readers' errors.
#include "core/vm/library_glue.h"

#include <gtest/gtest.h>

#include "core/io/error_codes.h"
#include "core/io/errors.h"

namespace {

class LibraryGlue : public ::testing::Test {
protected:
    void SetUp() override { vm = VmOpenState(); }
    void TearDown() override { VmCloseState(vm); }
    VmState* vm = nullptr;
};

uint32_t AnswerSeven(VmState* vm)
{
    VmPushNumber(vm, 7);
    return 1;
}

uint32_t ReadsANumber(VmState* vm)
{
    VmPushNumber(vm, VmCheckNumber(vm, 2));
    return 1;
}

TEST_F(LibraryGlue, CommandsAreStoredUnderLowerCaseNames)
{
    const CommandTableEntry commands[] = {{"PlayMusic", AnswerSeven}, {"Skipped", nullptr}, {nullptr, nullptr}};
    VmPushValue(vm, VM_GLOBALSINDEX);
    EXPECT_EQ(VmRegisterLibrary(vm, nullptr, commands, 0), 1);
    EXPECT_EQ(VmGetTop(vm), 0);
    VmPushString(vm, "playmusic");
    VmGetTable(vm, VM_GLOBALSINDEX);
    EXPECT_EQ(VmType(vm, -1), VM_TFUNCTION);
    EXPECT_EQ(VmCall(vm, 0, 1), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 7);
    VmPushString(vm, "skipped");
    VmGetTable(vm, VM_GLOBALSINDEX);
    EXPECT_EQ(VmType(vm, -1), VM_TNIL);

    const CommandTableEntry none[] = {{"Nothing", nullptr}, {nullptr, nullptr}};
    EXPECT_EQ(VmRegisterLibrary(vm, "lib", none, 0), 0);
    EXPECT_EQ(VmRegisterLibrary(vm, "lib", commands, 0), 1);
    VmPushString(vm, "lib");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmPushString(vm, "playmusic");
    VmGetTable(vm, -2);
    EXPECT_EQ(VmType(vm, -1), VM_TFUNCTION);
}

TEST_F(LibraryGlue, ConstantsAreFoundInAnyCase)
{
    const ConstantTableEntry builtIn[] = {{"TICKS", nullptr, 2}, {"NAME", "text", 0}, {nullptr, nullptr, 0}};
    const ConstantTableEntry user[] = {{"Plugin_Value", nullptr, 9}, {nullptr, nullptr, 0}};
    VmRegisterConstants(vm, builtIn, 0);
    VmRegisterConstants(vm, user, 1);
    double number = -1;
    const char* text = "unset";
    EXPECT_EQ(VmFindConstant(vm, "Ticks", &number, &text), 1);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(VmFindConstant(vm, "name", &number, &text), 1);
    EXPECT_STREQ(text, "text");
    EXPECT_EQ(VmFindConstant(vm, "PLUGIN_VALUE", &number, &text), 1);
    EXPECT_EQ(number, 9);
    EXPECT_EQ(VmFindConstant(vm, "missing", &number, &text), 0);
    EXPECT_EQ(VmLookupConstantTable(vm, "userconstants", "ticks", &number, &text), 0);
    EXPECT_EQ(VmGetTop(vm), 0);
}

TEST_F(LibraryGlue, ReferencesStartAtThreeAndAreReused)
{
    VmNewTable(vm);
    VmPushString(vm, "a");
    int32_t first = VmRefValue(vm, 1);
    EXPECT_EQ(first, 3);
    VmPushString(vm, "b");
    EXPECT_EQ(VmRefValue(vm, 1), 4);
    VmPushNil(vm);
    EXPECT_EQ(VmRefValue(vm, 1), VM_NOREF);
    VmUnrefValue(vm, 1, first);
    // Reserved numbers are no references and must not join the free list.
    VmUnrefValue(vm, 1, 1);
    VmUnrefValue(vm, 1, 0);
    VmUnrefValue(vm, 1, VM_NOREF);
    VmPushString(vm, "c");
    EXPECT_EQ(VmRefValue(vm, 1), 3);
    VmPushString(vm, "d");
    EXPECT_EQ(VmRefValue(vm, 1), 5);
    VmPushRef(vm, 1, 4);
    EXPECT_STREQ(VmGetString(vm, -1), "b");
    VmPushRef(vm, 1, 3);
    EXPECT_STREQ(VmGetString(vm, -1), "c");
    EXPECT_EQ(VmGetTop(vm), 3);
}

TEST_F(LibraryGlue, ReadersNameTheArgument)
{
    VmPushNativeFunction(vm, ReadsANumber);
    VmPushNumber(vm, 1);
    VmNewTable(vm);
    EXPECT_EQ(VmPCall(vm, 2, 1, 0), static_cast<uint32_t>(ERR_NUMEXPECTED));
    EXPECT_EQ(errorArgNumber, 2);
    VmSetTop(vm, 0);
    VmPushNativeFunction(vm, ReadsANumber);
    VmPushNumber(vm, 1);
    VmPushString(vm, "12");
    EXPECT_EQ(VmPCall(vm, 2, 1, 0), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 12);
}

}  // namespace
