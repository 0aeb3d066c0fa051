// The collector: what it frees, what it keeps, finalisers, weak tables,
// shrinking, and the threshold knobs. Memory is judged by the VM's own byte
// count, which every allocation goes through.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/memory.h"
#include "core/vm/state.h"
#include "script_fixture.h"

namespace {

// Under the stress build every collection point collects, so what a test
// can see between two explicit collections is less.
#if defined(QM_GC_STRESS) && QM_GC_STRESS
constexpr bool kStress = true;
#else
constexpr bool kStress = false;
#endif

std::vector<int> Finalised;
int FailingId = -1;

uint32_t RecordFinaliser(VmState* s)
{
    int id = *static_cast<int*>(VmGetUserdata(s, 1));
    Finalised.push_back(id);
    if (id == FailingId)
        return ERR_MEM;  // handed back as a code, not raised
    return 0;
}

uint32_t RaisingFinaliser(VmState* s)
{
    Finalised.push_back(*static_cast<int*>(VmGetUserdata(s, 1)));
    VmRaiseError(s, ERR_WRONGOP);
}

}  // namespace

class GcTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        Finalised.clear();
        FailingId = -1;
    }

    // Allocated bytes apart from the string table's slots, whose number
    // trails the number of strings by a few collections.
    uint64_t Bytes() const { return vm->g->nblocks - vm->g->strt.size * sizeof *vm->g->strt.slots; }
    void Collect() { VmCollectGarbage(vm); }

    void PushFinaliserMeta(VmNativeFunction f)
    {
        VmNewTable(vm);
        VmPushString(vm, "__gc");
        VmPushNativeFunction(vm, f);
        VmRawSet(vm, -3);
        VmPushString(vm, "meta");
        VmPushValue(vm, -2);
        VmRawSet(vm, VM_REGISTRYINDEX);
    }
    void PushUserdata(int id, int meta)
    {
        meta = meta < 0 ? VmGetTop(vm) + meta + 1 : meta;
        *static_cast<int*>(VmNewUserdata(vm, sizeof(int))) = id;
        VmPushValue(vm, meta);
        VmSetMetatable(vm, -2);
    }
    void PushWeakTable(const char* mode)
    {
        VmNewTable(vm);
        VmNewTable(vm);
        VmPushString(vm, "__mode");
        VmPushString(vm, mode);
        VmRawSet(vm, -3);
        VmSetMetatable(vm, -2);
    }
    int CountEntries(int t)
    {
        int n = 0;
        VmPushNil(vm);
        while (VmNext(vm, t)) {
            n++;
            VmPop(vm, 1);
        }
        return n;
    }
};

TEST_F(GcTest, UnreachableObjectsAreFreedAndReachableOnesKept)
{
    for (int i = 0; i < 4; i++)
        Collect();
    uint64_t base = Bytes();
    VmSetGCThreshold(vm, 0x400000);
    for (int i = 0; i < 200; i++) {
        VmNewTableSized(vm, 8, 3);
        VmPushString(vm, ("garbage " + std::to_string(i)).c_str());
        VmPushNativeClosure(vm, RecordFinaliser, 2);
        VmNewUserdata(vm, 100);
        VmSetTop(vm, 0);
    }
    if (!kStress) {
        EXPECT_GT(Bytes(), base + 200 * 100);
    }
    for (int i = 0; i < 4; i++)
        Collect();  // the string table shrinks one step per collection
    EXPECT_EQ(Bytes(), base);
}

TEST_F(GcTest, FinaliserRunsOnceInOrderAndTheNextCollectionFrees)
{
    PushFinaliserMeta(RecordFinaliser);
    Collect();
    uint64_t base = Bytes();
    for (int id = 1; id <= 3; id++)
        PushUserdata(id, 1);
    PushUserdata(4, 1);  // stays reachable
    for (int i = 0; i < 3; i++)
        VmRemove(vm, 2);
    uint64_t withAll = Bytes();
    Collect();
    // The newest unreachable userdata comes first; the survivor is untouched.
    EXPECT_EQ(Finalised, (std::vector<int>{3, 2, 1}));
    if (!kStress) {
        EXPECT_EQ(Bytes(), withAll) << "finalised userdata are freed by the next collection, not this one";
    }
    Collect();
    EXPECT_EQ(Finalised.size(), 3u) << "a finaliser runs once";
    EXPECT_LT(Bytes(), withAll);
    VmSetTop(vm, 1);
    Collect();
    Collect();
    EXPECT_EQ(Finalised, (std::vector<int>{3, 2, 1, 4}));
    EXPECT_EQ(Bytes(), base);
}

TEST_F(GcTest, ResurrectedUserdataIsNotFinalisedAgain)
{
    PushFinaliserMeta([](VmState* s) -> uint32_t {
        Finalised.push_back(*static_cast<int*>(VmGetUserdata(s, 1)));
        VmPushString(s, "saved");
        VmPushValue(s, 1);
        VmSetTable(s, VM_GLOBALSINDEX);
        return 0;
    });
    PushUserdata(7, 1);
    VmSetTop(vm, 1);
    Collect();
    ASSERT_EQ(Finalised, (std::vector<int>{7}));
    VmPushString(vm, "saved");
    VmGetTable(vm, VM_GLOBALSINDEX);
    ASSERT_EQ(VmType(vm, -1), VM_TUSERDATA);
    EXPECT_EQ(*static_cast<int*>(VmGetUserdata(vm, -1)), 7);
    VmSetTop(vm, 1);
    VmPushString(vm, "saved");
    VmPushNil(vm);
    VmSetTable(vm, VM_GLOBALSINDEX);
    uint64_t before = Bytes();
    Collect();
    Collect();
    EXPECT_EQ(Finalised.size(), 1u);
    EXPECT_LT(Bytes(), before);
}

TEST_F(GcTest, RaisingFinaliserReachesTheProtectedCallAndTheRestRunLater)
{
    if (kStress)
        GTEST_SKIP() << "any allocation would run the raising finaliser";
    PushFinaliserMeta(RaisingFinaliser);
    PushUserdata(1, 1);
    PushUserdata(2, 1);
    VmSetTop(vm, 0);
    EXPECT_EQ(RunNative([](VmState* s) { VmSetGCThreshold(s, 0); }), static_cast<uint32_t>(ERR_WRONGOP));
    EXPECT_EQ(Finalised, (std::vector<int>{2}));
    EXPECT_EQ(vm->allowHook, 1) << "hooks are allowed again after the failed finaliser";
    EXPECT_EQ(RunNative([](VmState* s) { VmSetGCThreshold(s, 0); }), static_cast<uint32_t>(ERR_WRONGOP));
    EXPECT_EQ(Finalised, (std::vector<int>{2, 1}));
    EXPECT_EQ(RunNative([](VmState* s) { VmSetGCThreshold(s, 0); }), 0u);
    EXPECT_EQ(Finalised.size(), 2u);
}

TEST_F(GcTest, ClosingRunsFinalisersLeftPendingByAnError)
{
    if (kStress)
        GTEST_SKIP() << "any allocation would run the raising finaliser";
    PushFinaliserMeta(RaisingFinaliser);
    for (int id = 1; id <= 3; id++)
        PushUserdata(id, 1);
    VmSetTop(vm, 0);
    EXPECT_NE(RunNative([](VmState* s) { VmSetGCThreshold(s, 0); }), 0u);
    ASSERT_EQ(Finalised, (std::vector<int>{3}));
    VmCloseState(vm);
    vm = VmOpenState();
    EXPECT_EQ(Finalised, (std::vector<int>{3, 2, 1}));
}

TEST_F(GcTest, WeakTablesDropUnreachedObjectsByMode)
{
    struct Case {
        const char* mode;
        bool keysWeak;
        bool valuesWeak;
    };
    for (const Case& c : {Case{"k", true, false}, Case{"v", false, true}, Case{"kv", true, true},
                          Case{"vk", true, true}, Case{"x", false, false}}) {
        SCOPED_TRACE(c.mode);
        VmSetTop(vm, 0);
        PushWeakTable(c.mode);  // 1
        VmNewTable(vm);          // 2: a key kept elsewhere
        // Table key -> number; number and string keys -> table values;
        // string values are never weak. The doomed objects wait at 3-5
        // until the table is complete. Below 10 a key or value is a slot.
        VmNewTable(vm);
        VmNewTable(vm);
        VmNewTable(vm);
        VmPushString(vm, "name");  // 6
        auto push = [this](int v) { v < 10 ? VmPushValue(vm, v) : VmPushNumber(vm, v); };
        for (auto [key, value] : {std::pair{3, 21}, {2, 22}, {10, 4}, {6, 5}, {12, 2}}) {
            push(key);
            push(value);
            VmRawSet(vm, 1);
        }
        VmPushNumber(vm, 11);
        VmPushString(vm, "a string value");
        VmRawSet(vm, 1);
        VmSetTop(vm, 2);
        ASSERT_EQ(CountEntries(1), 6);
        Collect();
        int expected = 6 - (c.keysWeak ? 1 : 0) - (c.valuesWeak ? 2 : 0);
        EXPECT_EQ(CountEntries(1), expected);
        VmRawGetI(vm, 1, 11);
        EXPECT_STREQ(VmGetString(vm, -1), "a string value");
        VmRawGetI(vm, 1, 12);
        EXPECT_TRUE(VmCompareRawEqual(vm, -1, 2));
        VmPushValue(vm, 2);
        VmRawGet(vm, 1);
        EXPECT_EQ(VmGetNumber(vm, -1), 22);
    }
    // A weak table itself lives only while it is reached.
    VmSetTop(vm, 0);
    Collect();
    uint64_t base = Bytes();
    PushWeakTable("k");
    VmNewTable(vm);
    VmPushNumber(vm, 1);
    VmRawSet(vm, -3);
    Collect();
    EXPECT_GT(Bytes(), base);
    VmSetTop(vm, 0);
    Collect();
    EXPECT_EQ(Bytes(), base) << "an unreachable weak table is freed";
}

TEST_F(GcTest, TraversalContinuesPastEntriesTheCollectorRemoved)
{
    // Walking a weak-valued table while a collection drops the entries
    // behind the walk: the key in hand still finds its place.
    PushWeakTable("v");
    for (int i = 0; i < 50; i++) {
        VmPushString(vm, ("k" + std::to_string(i)).c_str());
        VmNewTable(vm);
        VmRawSet(vm, 1);
    }
    int seen = 1;
    VmPushNil(vm);
    ASSERT_EQ(VmNext(vm, 1), 1);
    VmPop(vm, 1);
    Collect();
    while (VmNext(vm, 1)) {
        seen++;
        VmPop(vm, 1);
    }
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(CountEntries(1), 0);
}

TEST_F(GcTest, StackAndCallRecordsShrinkAfterDeepRecursion)
{
    ASSERT_EQ(Run(".function rec params=1\nEQ 1, r0, #0\nJMP done\nGETGLOBAL r1, \"rec\"\nSUB r2, r0, #1\n"
                  "CALL r1, 2, 1\ndone: RETURN r0, 1\n.end\n"
                  "CLOSURE r0, rec\nSETGLOBAL r0, \"rec\"\nLOADK r1, #1000\nCALL r0, 2, 1\nRETURN r0, 1\n"),
              0u);
    if (!kStress) {  // there the return already collected
        ASSERT_GT(vm->stackSize, 1000u);
        ASSERT_GT(vm->sizeCi, 500u);
    }
    for (int i = 0; i < 12; i++)
        Collect();
    EXPECT_LE(vm->stackSize, 100u);
    EXPECT_LE(vm->sizeCi, 16u);
    EXPECT_EQ(Run("LOADNUM r0, 5\nRETURN r0, 2"), 0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 5);
}

TEST_F(GcTest, SweepLeavesEveryLiveStringFindable)
{
    VmSetGCThreshold(vm, 0x400000);
    // Ordinary strings, and 64-byte ones differing only in bytes the hash
    // does not sample: one hash, so one long run of neighbouring slots,
    // which removals in its middle must not break.
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; i++)
        texts.push_back("s" + std::to_string(i));
    for (int i = 0; i < 300; i++) {
        std::string t(64, 'x');
        t[1] = static_cast<char>('a' + i % 26);
        t[2] = static_cast<char>('a' + i / 26);
        texts.push_back(t);
    }
    VmNewTable(vm);
    std::vector<const char*> kept;
    for (size_t i = 0; i < texts.size(); i++) {
        VmPushLString(vm, texts[i].data(), texts[i].size());
        if (i % 3 == 1) {
            kept.push_back(VmGetString(vm, -1));
            VmRawSetI(vm, 1, static_cast<int>(kept.size()));
        } else {
            VmPop(vm, 1);
        }
    }
    uint64_t before = vm->g->strt.nuse;
    Collect();
    VmSetGCThreshold(vm, 0x400000);
    EXPECT_EQ(vm->g->strt.nuse, before - (texts.size() - kept.size()));
    // Each kept string is still the one object of its bytes; each dropped
    // one is made anew and counted once.
    for (size_t i = 0, k = 0; i < texts.size(); i++) {
        VmPushLString(vm, texts[i].data(), texts[i].size());
        if (i % 3 == 1) {
            EXPECT_EQ(VmGetString(vm, -1), kept[k++]) << i;
        }
        VmPop(vm, 1);
    }
    EXPECT_EQ(vm->g->strt.nuse, before);
}

TEST_F(GcTest, ThresholdKnobs)
{
    VmSetGCThreshold(vm, 0x400000);
    EXPECT_EQ(VmGetGCThreshold(vm), 0x3FFFFFu);
    // No automatic collection: an unreachable finalisable userdata waits.
    PushFinaliserMeta(RecordFinaliser);
    PushUserdata(1, 1);
    VmSetTop(vm, 1);
    for (int i = 0; i < 20000; i++) {
        VmNewTable(vm);
        VmPop(vm, 1);
    }
    EXPECT_TRUE(Finalised.empty());
    EXPECT_GT(VmGetGCCount(vm), 20000u * 40 / 1024);
    // A threshold below the allocated bytes collects at once.
    VmSetGCThreshold(vm, 1);
    EXPECT_EQ(Finalised, (std::vector<int>{1}));
}

TEST_F(GcTest, ScriptLoopOfShortLivedTablesStaysBounded)
{
    // Without collection this is tens of megabytes.
    ASSERT_EQ(Run("LOADNUM r0, 0\nLOADK r1, #200000\nLOADNUM r2, 1\nJMP test\n"
                  "body: NEWTABLE r3, 0, 1\nSETTABLE r3, \"a\", r0\nMOVE r4, r0\nMOVE r5, r0\nCONCAT r4, r4, r5\n"
                  "SETTABLE r3, r4, r4\ntest: FORLOOP r0, body\nRETURN r0, 2\n"),
              0u);
    EXPECT_EQ(VmGetNumber(vm, -1), 200000);
    EXPECT_LT(vm->g->nblocks, 1024u * 1024u);
}

TEST_F(GcTest, ClosuresKeepTheirUpvaluesAndPrototypes)
{
    // make() returns a closure over a table; only the closure keeps it.
    ASSERT_EQ(Run(".function make\n.function get\n.upval t = r0\nGETUPVAL r0, t\nGETTABLE r0, r0, #1\nRETURN r0, 2\n.end\n"
                  "NEWTABLE r0, 0, 0\nSETTABLE r0, #1, \"inside\"\nCLOSURE r1, get\nRETURN r1, 2\n.end\n"
                  "CLOSURE r0, make\nCALL r0, 1, 2\nSETGLOBAL r0, \"getter\"\nRETURN r0, 1\n"),
              0u);
    Collect();
    Collect();
    ASSERT_EQ(Run("GETGLOBAL r0, \"getter\"\nCALL r0, 1, 2\nRETURN r0, 2"), 0u);
    EXPECT_STREQ(VmGetString(vm, -1), "inside");
}

// Blocks of every size class and beyond keep their bytes through growing
// and shrinking, the count moves by exactly the sizes asked for, and freed
// blocks are handed out again.
TEST_F(GcTest, AllocatorKeepsBytesAndTheCountExact)
{
    const size_t sizes[] = {1, 15, 16, 17, 100, 511, 512, 513, 4096, 70000, 600};
    std::vector<std::pair<uint8_t*, size_t>> blocks;
    uint64_t before = vm->g->nblocks, total = 0;
    uint8_t fill = 1;
    for (size_t size : sizes) {
        auto* b = static_cast<uint8_t*>(VmRealloc(vm, nullptr, 0, size));
        std::memset(b, fill++, size);
        blocks.push_back({b, size});
        total += size;
    }
    EXPECT_EQ(vm->g->nblocks - before, total);
    // Each block moves to the size of its neighbour: up, down, within a
    // class, across the pool's limit, and between large sizes.
    for (size_t i = 0; i < blocks.size(); i++) {
        size_t to = sizes[(i + 1) % blocks.size()];
        auto* moved = static_cast<uint8_t*>(VmRealloc(vm, blocks[i].first, blocks[i].second, to));
        for (size_t j = 0; j < std::min(to, blocks[i].second); j++)
            ASSERT_EQ(moved[j], static_cast<uint8_t>(i + 1)) << "block " << i << " byte " << j;
        total += to - blocks[i].second;
        blocks[i] = {moved, to};
    }
    EXPECT_EQ(vm->g->nblocks - before, total);
    for (auto& [b, size] : blocks)
        VmRealloc(vm, b, size, 0);
    EXPECT_EQ(vm->g->nblocks, before);
    // Large blocks growing by copy into a fresh block and by remapping, and
    // shrinking: the bytes and the count come along every way.
    size_t size = size_t{1} << 20;
    auto* big = static_cast<uint8_t*>(VmRealloc(vm, nullptr, 0, size));
    for (size_t j = 0; j < size; j++)
        big[j] = static_cast<uint8_t>(j * 13 + 5);
    for (size_t to : {size_t{3} << 20, (size_t{5} << 20) + 7, size_t{70} << 20, size_t{2} << 20}) {
        auto* moved = static_cast<uint8_t*>(VmRealloc(vm, big, size, to));
        bool same = true;
        for (size_t j = 0; j < std::min(size, to) && j < (size_t{1} << 20); j++)
            same = same && moved[j] == static_cast<uint8_t>(j * 13 + 5);
        EXPECT_TRUE(same) << "grown to " << to;
        moved[to - 1] = 1;
        EXPECT_EQ(vm->g->nblocks - before, to);
        big = moved;
        size = to;
    }
    VmRealloc(vm, big, size, 0);
    EXPECT_EQ(vm->g->nblocks, before);
}

// A native leaves strings high on the stack; a collection made from a
// shallower native frame frees them; then the event hook lends the script
// frame VM_MINSTACK more slots and collects. Whatever those slots hold is
// marked, so none of them may still point at what was freed.
TEST_F(GcTest, SlotsAHookUncoversHoldNothingAnEarlierCollectionFreed)
{
    SetGlobal("spill", [](VmState* s) -> uint32_t {
        EXPECT_TRUE(VmCheckStack(s, 40));
        for (int i = 0; i < 40; i++)
            VmPushString(s, ("spilled " + std::to_string(i)).c_str());
        return 0;
    });
    SetGlobal("collect", [](VmState* s) -> uint32_t {
        VmCollectGarbage(s);
        return 0;
    });
    SetGlobal("due", [](VmState*) -> uint32_t {
        VmRaisePumpDue();
        return 0;
    });
    static int hookRuns, stale;
    hookRuns = stale = 0;
    VmSetEventHook(vm, [](VmState* s, VmDebugRecord*, uint32_t*) {
        hookRuns++;
        for (VmValue* p = s->top; p < s->ci->top; p++)
            stale += VmIsCollectable(p);
        VmCollectGarbage(s);
    });
    VmPumpDue = 0;
    // r9 widens the script frame past the top of the collecting native's
    // frame, which the hook's slots then reach beyond.
    EXPECT_EQ(Run(R"(
.line 1
    LOADNUM r9, 0
    GETGLOBAL r0, "spill"
    CALL r0, 1, 1
    GETGLOBAL r0, "collect"
    CALL r0, 1, 1
    GETGLOBAL r0, "due"
    CALL r0, 1, 1
.line 2
    LOADNUM r0, 7
    RETURN r0, 2
)"),
              0u);
    VmSetEventHook(vm, nullptr);
    VmPumpDue = 0;
    EXPECT_EQ(hookRuns, 1);
    EXPECT_EQ(stale, 0);
    EXPECT_EQ(VmGetNumber(vm, -1), 7);
}
