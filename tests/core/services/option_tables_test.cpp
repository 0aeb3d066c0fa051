// Option tables: absent fields keeping the caller's defaults, percentages,
// lists, and wrong-typed fields raising their codes.
#include "core/io/errors.h"
#include "core/services/option_tables.h"
#include "core/vm_fixture.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

std::function<void(VmState*)> body;

// Runs `body` as a command whose first argument is the option table.
uint32_t TableCommand(VmState* vm)
{
    body(vm);
    return 0;
}

class OptionTables : public VmTest {
protected:
    // Runs `b` against a table filled by `fill` (which gets the table on top).
    uint32_t WithTable(std::function<void(VmState*)> fill, std::function<void(VmState*)> b)
    {
        body = std::move(b);
        SetErrorText("");
        uint32_t code = Run(TableCommand, [&](VmState* s) {
            VmNewTable(s);
            fill(s);
        });
        VmSetTop(vm, 0);
        return code;
    }
};

} // namespace

TEST_F(OptionTables, AbsentFieldsKeepDefaults)
{
    ASSERT_EQ(WithTable([](VmState* s) { SetTableString(s, -1, "other", "x"); },
                        [](VmState* s) {
                            int32_t i = 11;
                            double n = 1.5, m[4] = {1, 2, 3, 4};
                            char text[8] = "keep";
                            ObjectId id{3, 0};
                            bool found = true, isPercent = true;
                            EXPECT_FALSE(GetTableInt(s, 1, "missing", &i, &found));
                            EXPECT_FALSE(found);
                            EXPECT_FALSE(GetTableNumber(s, 1, "missing", &n));
                            EXPECT_FALSE(GetTableString(s, 1, "missing", text, sizeof text));
                            EXPECT_FALSE(GetTableObjectId(s, 1, "missing", &id));
                            EXPECT_FALSE(GetTableIntOrPercent(s, 1, "missing", &i, false));
                            EXPECT_FALSE(GetTableNumberOrPercent(s, 1, "missing", &n, 10, false, &isPercent));
                            EXPECT_FALSE(GetTableTransform(s, 1, "missing", m));
                            EXPECT_EQ(i, 11);
                            EXPECT_EQ(n, 1.5);
                            EXPECT_STREQ(text, "keep");
                            EXPECT_EQ(id.id, 3u);
                            EXPECT_EQ(m[3], 4);
                            EXPECT_EQ(VmGetTop(s), 1);
                        }),
              0u);
}

TEST_F(OptionTables, PercentFieldsAndTheirErrors)
{
    struct Case {
        const char* value;  // a string, or null for the number 30
        bool allow;
        uint32_t code;
        int32_t stored;
    } cases[] = {
        {"50%", false, 0, -50}, {"100%", false, 0, -100}, {"0%", false, 0, 0},
        {"101%", false, ERR_PERCENTFORMATSTR, 0}, {"150%", true, 0, -150},
        {"x%", false, ERR_PERCENTFORMATSTR, 0},  {"64", false, 0, 64}, {nullptr, false, 0, 30},
    };
    for (const Case& c : cases) {
        int32_t stored = 12345;
        uint32_t code = WithTable(
            [&](VmState* s) {
                if (c.value)
                    SetTableString(s, -1, "width", c.value);
                else
                    SetTableNumber(s, -1, "width", 30);
            },
            [&](VmState* s) { GetTableIntOrPercent(s, 1, "width", &stored, c.allow); });
        SCOPED_TRACE(c.value ? c.value : "30");
        EXPECT_EQ(code, c.code);
        if (code)
            EXPECT_STREQ(errorArgText, "width") << "the error names the field";
        else
            EXPECT_EQ(stored, c.stored);
    }

    // Without a base the fraction comes back, marked as a percentage.
    for (double base : {0.0, 800.0}) {
        double n = 0;
        bool isPercent = base != 0;
        EXPECT_EQ(WithTable([](VmState* s) { SetTableString(s, -1, "x", "25%"); },
                            [&](VmState* s) { GetTableNumberOrPercent(s, 1, "x", &n, base, false, &isPercent); }),
                  0u);
        EXPECT_EQ(n, base == 0 ? 0.25 : 200.0);
        EXPECT_EQ(isPercent, base == 0);
    }
}

TEST_F(OptionTables, WrongTypedFieldsRaiseTheirCodesWithTheFieldName)
{
    auto tableField = [](VmState* s) {
        VmPushString(s, "field");
        VmNewTable(s);
        VmSetTable(s, -3);
    };
    auto stringField = [](VmState* s) { SetTableString(s, -1, "field", "abc"); };
    struct Case {
        const char* what;
        std::function<void(VmState*)> fill;
        std::function<void(VmState*)> read;
        uint32_t code;
    } cases[] = {
        {"int from a string", stringField, [](VmState* s) { int32_t v; GetTableInt(s, 1, "field", &v); },
         ERR_NUMTABLEARG},
        {"number from a table", tableField, [](VmState* s) { double v; GetTableNumber(s, 1, "field", &v); },
         ERR_NUMTABLEARG},
        {"string from a table", tableField,
         [](VmState* s) { char v[4]; GetTableString(s, 1, "field", v, sizeof v); }, ERR_STRTABLEARG},
        {"object id from a string", stringField,
         [](VmState* s) { ObjectId v; GetTableObjectId(s, 1, "field", &v); }, ERR_NUMTABLEARG},
        {"percent from a table", tableField,
         [](VmState* s) { int32_t v; GetTableIntOrPercent(s, 1, "field", &v, false); }, ERR_NUMTABLEARG},
        {"transform from a string", stringField,
         [](VmState* s) { double m[4]; GetTableTransform(s, 1, "field", m); }, ERR_TABEXPECTED2},
        {"number list from a string", stringField,
         [](VmState* s) { double v[2]; uint32_t n; GetTableNumbers(s, 1, "field", v, 2, &n); }, ERR_TABEXPECTED2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WithTable(c.fill, c.read), c.code) << c.what;
        EXPECT_STREQ(errorArgText, "field") << c.what;
    }
}

TEST_F(OptionTables, NumberListsAndTransforms)
{
    auto matrix = [](std::vector<const char*> cells) {
        return [cells](VmState* s) {
            VmPushString(s, "m");
            VmNewTable(s);
            int i = 0;
            for (const char* cell : cells) {
                if (!cell)
                    VmPushNil(s);
                else if (std::strcmp(cell, "str") == 0)
                    VmPushString(s, "str");
                else
                    VmPushNumber(s, std::atof(cell));
                VmRawSetI(s, -2, i++);
            }
            VmSetTable(s, -3);
        };
    };
    // Number lists stop at the first nil or at their room; a string inside is refused.
    struct ListCase {
        std::vector<const char*> cells;
        uint32_t room, code, count;
    } lists[] = {
        {{"1", "2", nullptr, "4"}, 4, 0, 2},
        {{"1", "2", "3", "4"}, 3, 0, 3},
        {{}, 3, 0, 0},
        {{"1", "str"}, 4, ERR_NUMTABLEARG, 0},
        {{"1", "str"}, 1, 0, 1},
    };
    for (const ListCase& c : lists) {
        double v[4] = {};
        uint32_t n = 99;
        EXPECT_EQ(WithTable(matrix(c.cells), [&](VmState* s) { GetTableNumbers(s, 1, "m", v, c.room, &n); }), c.code);
        if (c.code)
            continue;
        EXPECT_EQ(n, c.count);
        for (uint32_t i = 0; i < n; ++i)
            EXPECT_EQ(v[i], i + 1.0);
    }
    double m[4] = {};
    EXPECT_EQ(WithTable(matrix({"1", "0.5", "-2", "4"}), [&](VmState* s) { GetTableTransform(s, 1, "m", m); }), 0u);
    EXPECT_EQ(std::vector<double>(m, m + 4), (std::vector<double>{1, 0.5, -2, 4}));
    EXPECT_EQ(WithTable(matrix({"1", "0", "0"}), [&](VmState* s) { GetTableTransform(s, 1, "m", m); }),
              static_cast<uint32_t>(ERR_MISSINGPARAMTR));
    EXPECT_STREQ(errorArgText, "m");
    EXPECT_EQ(WithTable(matrix({"1", "str", "0", "1"}), [&](VmState* s) { GetTableTransform(s, 1, "m", m); }),
              static_cast<uint32_t>(ERR_NUMTABLEARG));
    EXPECT_STREQ(errorArgText, "m");
}
