// "#NAME" constant references: the name ends at the first character that
// cannot be part of it. GetConstant's tests hold the refusals.
#include "core/services/arg_helpers.h"
#include "core/vm/library_glue.h"
#include "core/vm_fixture.h"

using ConstantNames = VmTest;

TEST_F(ConstantNames, ConstantNamesResolveThroughTheConstantTables)
{
    const ConstantTableEntry constants[] = {
        {"PI", nullptr, 3.25}, {"Greeting$", "hello", 0}, {nullptr, nullptr, 0}};
    VmRegisterConstants(vm, constants, 0);

    struct Case {
        const char* text;
        size_t length;
        const char* string;
        double number;
    } cases[] = {
        {"#pi+1", 3, nullptr, 3.25},
        {"#greeting$ rest", 10, "hello", 0},
    };
    for (const Case& c : cases) {
        size_t length = 0;
        const char* string = nullptr;
        double number = 0;
        ASSERT_EQ(ResolveConstantName(vm, c.text, &length, &string, &number), 0u) << c.text;
        EXPECT_EQ(length, c.length) << c.text;
        EXPECT_STREQ(string, c.string) << c.text;
        EXPECT_EQ(number, c.number) << c.text;
    }
}
