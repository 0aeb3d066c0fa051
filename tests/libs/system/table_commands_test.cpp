// Array commands, copying (shared and cyclic tables), iteration, sorting
// against std::sort and with broken comparisons, metatables and types.
#include <algorithm>
#include <cctype>
#include <random>
#include <set>

#include "core/io/error_codes.h"
#include "system_fixture.h"

namespace {

using TableCommands = SystemLibraryTest;

std::vector<Value> Strings(std::initializer_list<const char*> items)
{
    std::vector<Value> out;
    for (const char* s : items)
        out.emplace_back(std::string(s));
    return out;
}

TEST_F(TableCommands, InsertAndRemoveMoveTheItems)
{
    int t = PushArray(Strings({"a", "b"}));
    ASSERT_EQ(Call("InsertItem", {std::string("x"), 0.0}, nullptr, {t}), 0u);
    EXPECT_EQ(ReadArray(t, 4), (std::vector<Value>{std::string("x"), std::string("a"), std::string("b"), Nil{}}));
    ASSERT_EQ(Call("InsertItem", {std::string("y"), 99.0}, nullptr, {t}), 0u);
    EXPECT_EQ(One("RemoveItem", {1.0}, {t}), Value{std::string("a")});
    EXPECT_EQ(ReadArray(t, 4), (std::vector<Value>{std::string("x"), std::string("b"), std::string("y"), Nil{}}));
    EXPECT_EQ(One("RemoveItem", {}, {t}), Value{std::string("y")});
    EXPECT_EQ(One("RemoveItem", {-5.0}, {t}), Value{std::string("b")});

    int empty = PushArray({});
    std::vector<Value> r;
    ASSERT_EQ(Call("RemoveItem", {}, &r, {empty}), 0u);
    EXPECT_TRUE(r.empty());
}

TEST_F(TableCommands, CountsConcatAndHaveItem)
{
    int t = PushArray({std::string("a"), 1.0, std::string("b")});
    SetField(t, std::string("key"), 5.0);
    EXPECT_EQ(One("ListItems", {}, {t}), Value{3.0});
    EXPECT_EQ(One("TableItems", {}, {t}), Value{4.0});
    EXPECT_EQ(One("IsTableEmpty", {}, {t}), Value{0.0});
    EXPECT_EQ(One("IsTableEmpty", {}, {PushArray({})}), Value{1.0});
    EXPECT_EQ(One("Concat", {std::string("-")}, {t}), Value{std::string("a-1-b")});
    EXPECT_EQ(One("Concat", {std::string(""), 1.0, 2.0}, {t}), Value{std::string("1b")});
    int bad = PushArray({std::string("a")});
    SetField(bad, 1.0, Slot{NewTable()});
    EXPECT_EQ(Call("Concat", {}, nullptr, {bad}), static_cast<uint32_t>(ERR_STRINGEXPECTED));
    // Empty and reversed ranges (long joins are the string builder's test).
    EXPECT_EQ(One("Concat", {std::string("-"), 2.0, 1.0}, {t}), Value{std::string("")});
    EXPECT_EQ(One("Concat", {std::string("-"), -1.0, 1.0}, {t}), Value{std::string("")});

    // HaveItem lowers string keys.
    int named = NewTable();
    SetField(named, std::string("name"), 1.0);
    EXPECT_EQ(One("HaveItem", {std::string("NaMe")}, {named}), Value{1.0});
    EXPECT_EQ(One("HaveItem", {std::string("other")}, {named}), Value{0.0});
    EXPECT_EQ(One("HaveItem", {0.0}, {named}), Value{0.0});
}

TEST_F(TableCommands, DeepCopyKeepsSharingAndCycles)
{
    int t = NewTable();
    int shared = NewTable();
    SetField(t, std::string("self"), Slot{t});
    SetField(t, std::string("a"), Slot{shared});
    SetField(t, std::string("b"), Slot{shared});
    SetField(shared, std::string("back"), Slot{t});

    int base;
    ASSERT_EQ(CallKeep("CopyTable", {}, &base, {t}), 0u);
    int copy = base + 1;
    auto field = [&](int table, const char* key) { return PushField(table, std::string(key)); };
    EXPECT_TRUE(VmCompareRawEqual(vm, field(copy, "self"), copy));
    int a = field(copy, "a");
    int b = field(copy, "b");
    EXPECT_TRUE(VmCompareRawEqual(vm, a, b));
    EXPECT_FALSE(VmCompareRawEqual(vm, a, shared));
    EXPECT_TRUE(VmCompareRawEqual(vm, field(a, "back"), copy));

    ASSERT_EQ(CallKeep("CopyTable", {1.0}, &base, {t}), 0u);
    EXPECT_TRUE(VmCompareRawEqual(vm, field(base + 1, "a"), shared));
}

TEST_F(TableCommands, DeepCopyOfALongChainNeedsNoRecursion)
{
    int head = NewTable();
    VmPushValue(vm, head);
    for (int i = 0; i < 200000; ++i) {
        VmNewTable(vm);
        VmPushValue(vm, -1);
        VmRawSetI(vm, -3, 0);
        VmRemove(vm, -2);
    }
    VmPop(vm, 1);
    int base;
    ASSERT_EQ(CallKeep("CopyTable", {}, &base, {head}), 0u);
    int depth = 0;
    VmPushValue(vm, base + 1);
    while (VmType(vm, -1) == VM_TTABLE) {
        VmRawGetI(vm, -1, 0);
        VmRemove(vm, -2);
        ++depth;
    }
    EXPECT_EQ(depth, 200001);
}

uint32_t Greater(VmState* vm)
{
    VmPushNumber(vm, VmGetNumber(vm, 1) > VmGetNumber(vm, 2) ? 1 : 0);
    return 1;
}

TEST_F(TableCommands, SortMatchesStdSortWithOrWithoutAFunction)
{
    std::mt19937 random(7);
    for (int n : {0, 1, 2, 3, 4, 5, 10, 100, 1000}) {
        for (int round = 0; round < 5; ++round) {
            std::vector<double> items(static_cast<size_t>(n));
            for (double& v : items)
                v = static_cast<double>(random() % (round == 0 ? 3 : 1000));
            std::vector<Value> values(items.begin(), items.end());
            int t = PushArray(values);
            ASSERT_EQ(Call("Sort", {}, nullptr, {t}), 0u);
            std::sort(items.begin(), items.end());
            EXPECT_EQ(ReadArray(t, n), std::vector<Value>(items.begin(), items.end())) << n;
            VmPop(vm, 1);
        }
    }

    // With a comparison function, and without one up to an empty string.
    std::vector<double> items = {5, 3, 9, 1, 1, 8, 2, 7};
    int t = PushArray(std::vector<Value>(items.begin(), items.end()));
    ASSERT_EQ(Call("Sort", {}, nullptr, {t, PushFunction(Greater)}), 0u);
    std::sort(items.begin(), items.end(), std::greater<>());
    EXPECT_EQ(ReadArray(t, 8), std::vector<Value>(items.begin(), items.end()));
    int strings = PushArray(Strings({"c", "a", "", "b"}));
    ASSERT_EQ(Call("Sort", {}, nullptr, {strings}), 0u);
    EXPECT_EQ(ReadArray(strings, 4), Strings({"a", "c", "", "b"}));
}

// Without a function strings sort as a reader looks names up: case plays no
// part. The oracle lowers ASCII with the C library, not with the player's
// tables; items that differ only in case may come in either order, so the
// output is checked as a permutation whose lowered form is sorted.
TEST_F(TableCommands, SortWithoutAFunctionIgnoresCase)
{
    auto sortStrings = [&](const std::vector<std::string>& items) {
        std::vector<Value> values(items.begin(), items.end());
        int t = PushArray(values);
        EXPECT_EQ(Call("Sort", {}, nullptr, {t}), 0u);
        std::vector<std::string> out;
        for (const Value& v : ReadArray(t, static_cast<int>(items.size())))
            out.push_back(std::get<std::string>(v));
        VmPop(vm, 1);
        return out;
    };
    auto lowered = [](std::vector<std::string> items) {
        for (std::string& s : items)
            for (char& c : s)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return items;
    };
    // Characters between the cases ('_' and '[' lie between 'Z' and 'a')
    // sort before letters of either case.
    EXPECT_EQ(sortStrings({"a", "_", "Z", "["}), (std::vector<std::string>{"[", "_", "a", "Z"}));
    // Latin-1 letters with umlauts meet their other case; bytes above 127
    // sort after ASCII.
    std::vector<std::string> got = sortStrings({"\xE4pfel", "zebra", "\xC4PFEL", "Apfel"});
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 2), (std::vector<std::string>{"Apfel", "zebra"}));
    EXPECT_EQ(std::set<std::string>(got.begin() + 2, got.end()), (std::set<std::string>{"\xE4pfel", "\xC4PFEL"}));
    // Pieces between zero bytes compare one by one, each without case, and
    // a string that runs out first is the smaller.
    EXPECT_EQ(sortStrings({std::string("a\0B", 3), std::string("A\0a", 3), std::string("AB\0", 3), "ab"}),
              (std::vector<std::string>{std::string("A\0a", 3), std::string("a\0B", 3), "ab", std::string("AB\0", 3)}));

    std::mt19937 random(11);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> items;
        for (int i = 0; i < 200; ++i) {
            std::string word;
            for (size_t n = 1 + random() % 4; n > 0; --n)
                word += static_cast<char>((random() & 1 ? 'a' : 'A') + random() % 3);
            items.push_back(word);
        }
        got = sortStrings(items);
        std::vector<std::string> expect = lowered(items);
        std::sort(expect.begin(), expect.end());
        EXPECT_EQ(lowered(got), expect);
        std::sort(items.begin(), items.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, items);
    }
}

// A mix of numbers and strings has no order, nor have tables without
// __lt, and the array keeps every item.
TEST_F(TableCommands, SortWithoutAFunctionRefusesItemsWithoutAnOrder)
{
    int mixed = PushArray({std::string("b"), 1.0, std::string("A")});
    EXPECT_EQ(Call("Sort", {}, nullptr, {mixed}), static_cast<uint32_t>(ERR_NUMSTRCMP));
    std::vector<Value> after = ReadArray(mixed, 4);
    EXPECT_EQ(after[3], Value{Nil{}});
    EXPECT_EQ(std::count(after.begin(), after.end(), Value{1.0}), 1);
    int tables = PushArray({});
    SetField(tables, 0.0, Slot{NewTable()});
    SetField(tables, 1.0, Slot{NewTable()});
    EXPECT_EQ(Call("Sort", {}, nullptr, {tables}), static_cast<uint32_t>(ERR_WRONGOP));
}

uint32_t AlwaysBefore(VmState* vm)
{
    VmPushNumber(vm, 1);
    return 1;
}
uint32_t Failing(VmState*) { return ERR_WRONGUSAGE; }
uint32_t Random(VmState* vm)
{
    static std::mt19937 random(3);
    VmPushNumber(vm, random() & 1);
    return 1;
}
// Grows the sorted table on every comparison (its table is upvalue 1).
uint32_t Growing(VmState* vm)
{
    VmPushValue(vm, VmUpvalueIndex(1));
    int n = 0;
    for (;; ++n) {
        VmRawGetI(vm, -1, n);
        bool end = VmType(vm, -1) == VM_TNIL;
        VmPop(vm, 1);
        if (end)
            break;
    }
    VmPushNumber(vm, n);
    VmRawSetI(vm, -2, n);
    VmPushNumber(vm, VmGetNumber(vm, 1) < VmGetNumber(vm, 2) ? 1 : 0);
    return 1;
}

TEST_F(TableCommands, BrokenComparisonsFailWithoutLeavingTheArray)
{
    const std::pair<VmNativeFunction, uint32_t> cases[] = {{AlwaysBefore, ERR_SORTFUNC}, {Failing, ERR_WRONGUSAGE}};
    for (auto [compare, error] : cases) {
        int t = PushArray({3.0, 1.0, 2.0, 5.0, 4.0, 6.0, 0.0});
        EXPECT_EQ(Call("Sort", {}, nullptr, {t, PushFunction(compare)}), error);
        // Every item is still there, whatever the order.
        std::vector<Value> after = ReadArray(t, 8);
        EXPECT_EQ(after[7], Value{Nil{}});
        std::vector<double> numbers;
        for (int i = 0; i < 7; ++i)
            numbers.push_back(std::get<double>(after[static_cast<size_t>(i)]));
        std::sort(numbers.begin(), numbers.end());
        EXPECT_EQ(numbers, (std::vector<double>{0, 1, 2, 3, 4, 5, 6}));
        VmSetTop(vm, t - 1);
    }
    // A comparison that answers at random ends one way or the other, never
    // outside the array.
    for (int round = 0; round < 50; ++round) {
        std::vector<Value> values;
        for (int i = 0; i < 64; ++i)
            values.emplace_back(static_cast<double>(i));
        int t = PushArray(values);
        uint32_t code = Call("Sort", {}, nullptr, {t, PushFunction(Random)});
        EXPECT_TRUE(code == 0 || code == ERR_SORTFUNC);
        VmRawGetI(vm, t, 64);
        EXPECT_EQ(VmType(vm, -1), VM_TNIL);
        VmSetTop(vm, t - 1);
    }
    // A comparison that resizes the table is an error.
    int t = PushArray({3.0, 1.0, 2.0, 5.0, 4.0});
    VmPushValue(vm, t);
    VmPushNativeClosure(vm, Growing, 1);
    EXPECT_EQ(Call("Sort", {}, nullptr, {t, VmGetTop(vm)}), static_cast<uint32_t>(ERR_SORTFUNC));
}

// Iteration.
uint32_t StopAtTwo(VmState* vm)
{
    if (VmGetNumber(vm, 2) == 2) {
        VmPushString(vm, "found");
        return 1;
    }
    return 0;
}
uint32_t FailAtTwo(VmState* vm) { return VmGetNumber(vm, 2) == 2 ? static_cast<uint32_t>(ERR_WRONGUSAGE) : 0u; }
uint32_t SumWithUserData(VmState* vm)
{
    // the running sum lives in the user data table at key "sum"
    VmPushString(vm, "sum");
    VmPushString(vm, "sum");
    VmRawGet(vm, 3);
    VmPushNumber(vm, VmGetNumber(vm, -1) + VmGetNumber(vm, 2));
    VmRemove(vm, -2);
    VmRawSet(vm, 3);
    return 0;
}

TEST_F(TableCommands, ForEachStopsAtTheFirstResultAndPassesErrors)
{
    int t = PushArray({1.0, 2.0, 3.0});
    int f = PushFunction(StopAtTwo);
    EXPECT_EQ(One("ForEach", {}, {t, f}), Value{std::string("found")});
    EXPECT_EQ(One("ForEachI", {}, {t, f}), Value{std::string("found")});
    int g = PushFunction(FailAtTwo);
    EXPECT_EQ(Call("ForEach", {}, nullptr, {t, g}), static_cast<uint32_t>(ERR_WRONGUSAGE));
    EXPECT_EQ(Call("ForEachI", {}, nullptr, {t, g}), static_cast<uint32_t>(ERR_WRONGUSAGE));
    int ud = NewTable();
    std::vector<Value> r;
    ASSERT_EQ(Call("ForEachI", {}, &r, {t, PushFunction(SumWithUserData), ud}), 0u);
    EXPECT_TRUE(r.empty());
    VmPushString(vm, "sum");
    VmRawGet(vm, ud);
    EXPECT_EQ(VmGetNumber(vm, -1), 6);
}

TEST_F(TableCommands, PairsAndIPairsGiveGenericForTriples)
{
    int t = PushArray({std::string("a"), std::string("b")});
    int base;
    ASSERT_EQ(CallKeep("IPairs", {}, &base, {t}), 0u);
    ASSERT_EQ(VmGetTop(vm), base + 3);
    EXPECT_EQ(Read(vm, base + 3), Value{-1.0});
    std::vector<Value> r;
    ASSERT_EQ(Call("IPairs", {-1.0}, &r, {t}), 0u);
    EXPECT_EQ(r, (std::vector<Value>{0.0, std::string("a")}));
    ASSERT_EQ(Call("IPairs", {1.0}, &r, {t}), 0u);
    EXPECT_TRUE(r.empty());

    ASSERT_EQ(CallKeep("Pairs", {}, &base, {t}), 0u);
    ASSERT_EQ(VmGetTop(vm), base + 3);
    EXPECT_EQ(VmType(vm, base + 1), VM_TFUNCTION);
    int seen = 0;
    std::vector<Value> key{Nil{}};
    for (;;) {
        ASSERT_EQ(Call("NextItem", key, &r, {t}), 0u);
        if (r[0] == Value{Nil{}})
            break;
        key = {r[0]};
        ++seen;
    }
    EXPECT_EQ(seen, 2);
}

TEST_F(TableCommands, ALockedMetatableIsProtected)
{
    int t = NewTable();
    int mt = NewTable();
    ASSERT_EQ(Call("SetMetaTable", {}, nullptr, {t, mt}), 0u);
    int base;
    ASSERT_EQ(CallKeep("GetMetaTable", {}, &base, {t}), 0u);
    EXPECT_TRUE(VmCompareRawEqual(vm, base + 1, mt));
    EXPECT_EQ(Call("SetMetaTable", {5.0}, nullptr, {t}), static_cast<uint32_t>(ERR_TABLEORNIL));
    SetField(mt, std::string("__metatable"), std::string("locked"));
    EXPECT_EQ(One("GetMetaTable", {}, {t}), Value{std::string("locked")});
    EXPECT_EQ(Call("SetMetaTable", {Nil{}}, nullptr, {t}), static_cast<uint32_t>(ERR_PROTMETATABLE));
    EXPECT_EQ(One("GetMetaTable", {5.0}), Value{Nil{}});
}

TEST_F(TableCommands, TypesAndConditions)
{
    int t = NewTable();
    VmPushBoolean(vm, 1);
    int b = VmGetTop(vm);
    // Booleans have no type of their own in scripts.
    EXPECT_EQ(One("GetType", {}, {b}), Value{-1.0});

    const std::string a = "a", z = "b";
    const std::pair<Value, std::string> conditions[] = {
        {0.0, z}, {2.0, a}, {std::string(""), z}, {std::string("0"), a}, {Nil{}, z}};
    for (const auto& [condition, picked] : conditions)
        EXPECT_EQ(One("IIf", {condition, a, z}), Value{picked});
    EXPECT_EQ(Call("IIf", {a, z}, nullptr, {b}), static_cast<uint32_t>(ERR_WRONGDTYPE));
    EXPECT_EQ(Call("IIf", {a, z}, nullptr, {t}), static_cast<uint32_t>(ERR_WRONGDTYPE));
}

}  // namespace
