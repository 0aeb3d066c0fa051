// "#NAME" constant references.
#include "core/io/errors.h"
#include "core/services/arg_helpers.h"
#include "core/vm/library_glue.h"
#include "core/vm_fixture.h"

#include <string>

using ConstantNames = VmTest;

TEST_F(ConstantNames, ConstantNamesResolveThroughTheConstantTables)
{
    const ConstantTableEntry constants[] = {
        {"PI", nullptr, 3.25}, {"Greeting$", "hello", 0}, {nullptr, nullptr, 0}};
    VmRegisterConstants(vm, constants, 0);

    struct Case {
        const char* text;
        uint32_t code;
        size_t length;
        const char* string;
        double number;
    } cases[] = {
        {"#PI", 0, 3, nullptr, 3.25},
        {"#pi+1", 0, 3, nullptr, 3.25},
        {"#greeting$ rest", 0, 10, "hello", 0},
        {"PI", ERR_WRONGUSAGE, 0, nullptr, 0},
        {"#1X", ERR_SYNTAXERROR, 0, nullptr, 0},
        {"#", ERR_SYNTAXERROR, 0, nullptr, 0},
        {"#NOPE", ERR_FINDCST, 0, nullptr, 0},
    };
    for (const Case& c : cases) {
        size_t length = 0;
        const char* string = nullptr;
        double number = 0;
        EXPECT_EQ(ResolveConstantName(vm, c.text, &length, &string, &number), c.code) << c.text;
        if (c.code)
            continue;
        EXPECT_EQ(length, c.length) << c.text;
        EXPECT_STREQ(string, c.string) << c.text;
        EXPECT_EQ(number, c.number) << c.text;
    }
    // A name is read for at most 64 characters; the rest is not part of it.
    std::string longName = "#" + std::string(64, 'a') + "b";
    EXPECT_EQ(ResolveConstantName(vm, longName.c_str(), nullptr, nullptr, nullptr),
              static_cast<uint32_t>(ERR_FINDCST));
    EXPECT_EQ(std::string(errorArgText), std::string(64, 'a'));
}
