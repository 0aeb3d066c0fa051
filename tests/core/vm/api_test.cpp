// The native interface: index rules, queries that never raise, pushes,
// tables and metatables through the stack.
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/vm/memory.h"
#include "core/vm/state.h"
#include "core/vm_fixture.h"

using ApiTest = VmTest;

TEST_F(ApiTest, IndicesResolveFromBaseTopAndPseudoSlots)
{
    EXPECT_EQ(RunNative([](VmState* s) {
                  EXPECT_EQ(VmGetTop(s), 0);
                  VmPushNumber(s, 1);
                  VmPushString(s, "two");
                  VmPushBoolean(s, 7);
                  EXPECT_EQ(VmGetTop(s), 3);
                  EXPECT_EQ(VmType(s, 1), VM_TNUMBER);
                  EXPECT_EQ(VmType(s, -1), VM_TBOOLEAN);
                  EXPECT_EQ(VmType(s, 4), VM_TNONE);  // above the top, inside the frame
                  EXPECT_EQ(VmType(s, VM_REGISTRYINDEX), VM_TTABLE);
                  EXPECT_EQ(VmType(s, VM_GLOBALSINDEX), VM_TTABLE);
                  EXPECT_EQ(VmType(s, VmUpvalueIndex(1)), VM_TNONE);
                  EXPECT_EQ(VmGetBoolean(s, 3), 1);
                  VmInsert(s, 1);
                  EXPECT_EQ(VmType(s, 1), VM_TBOOLEAN);
                  VmRemove(s, 1);
                  EXPECT_EQ(VmType(s, 1), VM_TNUMBER);
                  VmPushNumber(s, 9);
                  VmReplace(s, 1);
                  EXPECT_EQ(VmGetNumber(s, 1), 9);
                  VmSetTop(s, 5);
                  EXPECT_EQ(VmType(s, 5), VM_TNIL);
                  VmSetTop(s, -3);
                  EXPECT_EQ(VmGetTop(s), 3);
                  VmPop(s, 3);
                  EXPECT_EQ(VmGetTop(s), 0);
              }),
              0u);
}

TEST_F(ApiTest, AccessOutsideTheFrameRaisesStackOverflow)
{
    EXPECT_EQ(RunNative([](VmState* s) { VmType(s, 500); }), ERR_STACK);
    EXPECT_EQ(RunNative([](VmState* s) { VmType(s, -1); }), ERR_STACK);
    EXPECT_EQ(RunNative([](VmState* s) { VmSetTop(s, 21); }), ERR_STACK);
    EXPECT_EQ(RunNative([](VmState* s) { VmSetTop(s, -2); }), ERR_STACK);
    EXPECT_EQ(RunNative([](VmState* s) { VmReplace(s, 1); }), ERR_STACK);
    EXPECT_EQ(RunNative([](VmState* s) { VmPushNumber(s, 1); VmReplace(s, VM_GLOBALSINDEX); }),
              ERR_TABEXPECTED);
    EXPECT_EQ(RunNative([](VmState* s) {
                  for (int i = 0; i < 21; i++)
                      VmPushNil(s);
              }),
              ERR_STACK);
    // VmCheckStack grants more, up to the frame limit.
    EXPECT_EQ(RunNative([](VmState* s) {
                  ASSERT_EQ(VmCheckStack(s, 1000), 1);
                  for (int i = 0; i < 1000; i++)
                      VmPushNumber(s, i);
                  EXPECT_EQ(VmGetNumber(s, 1000), 999);
                  EXPECT_EQ(VmCheckStack(s, 1049), 0);
                  EXPECT_EQ(VmCheckStack(s, 1048), 1);
              }),
              0u);
    // The flag of a caught error no longer switches the checks off.
    EXPECT_EQ(VmErrorInProgress, 0u);
    EXPECT_EQ(RunNative([](VmState* s) { VmType(s, 500); }), ERR_STACK);
}

TEST_F(ApiTest, QueriesAndComparisonsFollowTheirOwnRules)
{
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmPushNil(s);         // 1
                  VmPushNumber(s, 0);   // 2
                  VmPushString(s, "12");  // 3
                  VmPushString(s, "x");   // 4
                  VmNewTable(s);          // 5
                  VmPushLightUserdata(s, s);  // 6
                  EXPECT_EQ(VmGetBoolean(s, 2), 1) << "0 is true here";
                  EXPECT_EQ(VmGetBoolean(s, 1), 0);
                  EXPECT_EQ(VmIsNumber(s, 1), 1);
                  EXPECT_EQ(VmGetNumber(s, 1), 0);
                  EXPECT_EQ(VmIsNumber(s, 3), 1);
                  EXPECT_EQ(VmGetNumber(s, 3), 12);
                  EXPECT_EQ(VmIsNumber(s, 4), 0);
                  EXPECT_EQ(VmGetNumber(s, 4), 0);
                  EXPECT_EQ(VmIsString(s, 2), 1);
                  EXPECT_EQ(VmIsString(s, 1), 0);
                  EXPECT_EQ(VmIsUserdata(s, 6), 1);
                  EXPECT_EQ(VmGetUserdata(s, 6), s);
                  EXPECT_EQ(VmGetPointer(s, 6), s);
                  EXPECT_NE(VmGetPointer(s, 5), nullptr);
                  EXPECT_EQ(VmGetPointer(s, 2), nullptr);
                  EXPECT_EQ(VmGetString(s, 5), nullptr);
                  EXPECT_EQ(VmGetStringLength(s, 5), 0u);
                  EXPECT_EQ(VmCompareEqual(s, 1, 2), 0) << "different types";
                  EXPECT_EQ(VmCompareRawEqual(s, 1, 9), 0) << "no value";
                  EXPECT_EQ(VmCompareLess(s, 2, 9, 1), 0);
                  // In-place conversion of numbers and nil.
                  EXPECT_STREQ(VmGetString(s, 2), "0");
                  EXPECT_EQ(VmType(s, 2), VM_TSTRING);
                  EXPECT_STREQ(VmGetString(s, 1), "");
                  EXPECT_EQ(VmType(s, 1), VM_TSTRING);
                  VmPushNumber(s, 2.5);
                  EXPECT_EQ(VmGetStringLength(s, -1), 3u);
                  EXPECT_EQ(VmType(s, -1), VM_TSTRING);
              }),
              0u);
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmPushString(s, "abc");
                  VmPushString(s, "ABD");
                  VmPushLString(s, "a\0b", 3);
                  VmPushLString(s, "a\0c", 3);
                  VmPushLString(s, "a", 1);
                  EXPECT_EQ(VmCompareLess(s, 2, 1, 1), 1) << "byte-wise: 'A' < 'a'";
                  EXPECT_EQ(VmCompareLess(s, 1, 2, 0), 1) << "abc < ABD without case";
                  EXPECT_EQ(VmCompareLess(s, 3, 4, 1), 1) << "past an embedded zero";
                  EXPECT_EQ(VmCompareLess(s, 5, 3, 1), 1) << "prefix is smaller";
                  EXPECT_EQ(VmCompareLess(s, 3, 5, 1), 0);
                  VmPushString(s, "abc");
                  EXPECT_EQ(VmCompareRawEqual(s, 1, 6), 1);
              }),
              0u);
}

TEST_F(ApiTest, ConcatJoinsConvertibleValues)
{
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmConcat(s, 0);
                  EXPECT_EQ(VmType(s, -1), VM_TSTRING);
                  EXPECT_EQ(VmGetStringLength(s, -1), 0u);
                  VmPop(s, 1);
                  VmPushString(s, "a");
                  VmPushNumber(s, 1.5);
                  VmPushNil(s);
                  VmPushLString(s, "\0z", 2);
                  VmConcat(s, 4);
                  EXPECT_EQ(VmGetTop(s), 1);
                  ASSERT_EQ(VmGetStringLength(s, 1), 6u);
                  EXPECT_EQ(std::memcmp(VmGetString(s, 1), "a1.5\0z", 6), 0);
                  VmConcat(s, 1);
                  EXPECT_EQ(VmGetTop(s), 1);
              }),
              0u);
}

// Items count from key 0 to the first nil, across the array and hash
// parts, raw; the empty string ends them only when asked.
TEST_F(ApiTest, CountItemsStopsAtTheFirstNilOrEmptyString)
{
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmNewTable(s);
                  EXPECT_EQ(VmCountItems(s, 1, false), 0);
                  for (int n = 0; n < 40; n++) {
                      VmPushString(s, n == 7 ? "" : "x");
                      VmRawSetI(s, 1, n);
                  }
                  EXPECT_EQ(VmCountItems(s, 1, false), 40);
                  EXPECT_EQ(VmCountItems(s, -1, true), 7);
                  VmPushNil(s);
                  VmRawSetI(s, 1, 25);
                  EXPECT_EQ(VmCountItems(s, 1, false), 25);
                  // A metatable's __index is not consulted.
                  VmNewTable(s);
                  VmPushString(s, "__index");
                  VmPushValue(s, 1);
                  VmSetTable(s, -3);
                  VmNewTable(s);
                  VmPushValue(s, -2);
                  VmSetMetatable(s, -2);
                  EXPECT_EQ(VmCountItems(s, -1, false), 0);
              }),
              0u);
    EXPECT_EQ(RunNative([](VmState* s) { VmPushNumber(s, 1); VmCountItems(s, -1, false); }),
              ERR_TABEXPECTED);
    // So does a raw read from what is no table (the interpreter's tests
    // index a number).
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmPushNumber(s, 1);
                  VmPushNil(s);
                  VmRawGet(s, 1);
              }),
              ERR_TABEXPECTED);
}

// A string filled in place: grown and shrunk with its bytes kept, pushed
// as an interned string (one equal to an existing string is that string),
// and its memory counted while it lives and given back after.
TEST_F(ApiTest, StringBlocksBecomeInternedStringsWithoutLeaks)
{
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmCollectGarbage(s);
                  uint64_t before = s->g->nblocks;
                  const std::string text = "filled in place";
                  char* block = VmNewStringBlock(s, 8);
                  ASSERT_NE(block, nullptr);
                  std::memcpy(block, text.data(), 8);
                  // Past the size the pool takes, so that it moves.
                  block = VmResizeStringBlock(s, block, 8, 100000);
                  ASSERT_NE(block, nullptr);
                  std::memcpy(block + 8, text.data() + 8, text.size() - 8);
                  EXPECT_GT(s->g->nblocks, before + 100000);
                  VmPushStringBlock(s, block, 100000, text.size());
                  EXPECT_EQ(std::string(VmGetString(s, -1), VmGetStringLength(s, -1)), text);
                  VmPushString(s, text.c_str());
                  EXPECT_EQ(VmStrValue(s->top - 1), VmStrValue(s->top - 2));
                  // Equal to a string that exists: that one is answered.
                  block = VmNewStringBlock(s, 4000);
                  std::memcpy(block, text.data(), text.size());
                  VmPushStringBlock(s, block, 4000, text.size());
                  EXPECT_EQ(VmStrValue(s->top - 1), VmStrValue(s->top - 2));
                  VmPushStringBlock(s, VmNewStringBlock(s, 600), 600, 0);
                  EXPECT_EQ(VmGetStringLength(s, -1), 0u);
                  VmFreeStringBlock(s, VmNewStringBlock(s, 1 << 20), 1 << 20);
                  VmSetTop(s, 0);
                  VmCollectGarbage(s);
                  EXPECT_EQ(s->g->nblocks, before);
              }),
              0u);
}

TEST_F(ApiTest, MetatablesAndIndexMetamethods)
{
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmNewTable(s);  // 1: object
                  EXPECT_EQ(VmGetMetatable(s, 1), 0) << "the default metatable counts as none";
                  VmNewTable(s);  // 2: metatable, used before it has __index
                  VmPushValue(s, 2);
                  EXPECT_EQ(VmSetMetatable(s, 1), 1);
                  VmPushString(s, "x");
                  VmGetTable(s, 1);
                  EXPECT_EQ(VmType(s, -1), VM_TNIL);
                  VmPop(s, 1);
                  // __index added after first use is still found.
                  VmPushString(s, "__index");
                  VmPushNativeFunction(s, [](VmState* t) -> uint32_t { VmPushString(t, "from meta"); return 1; });
                  VmSetTable(s, 2);
                  VmPushString(s, "x");
                  VmGetTable(s, 1);
                  EXPECT_STREQ(VmGetString(s, -1), "from meta");
                  VmPop(s, 1);
                  ASSERT_EQ(VmGetMetatable(s, 1), 1);
                  EXPECT_EQ(VmCompareRawEqual(s, -1, 2), 1);
                  VmPop(s, 1);
                  VmPushNil(s);
                  EXPECT_EQ(VmSetMetatable(s, 1), 1);
                  EXPECT_EQ(VmGetMetatable(s, 1), 0);
                  VmPushNumber(s, 3);
                  VmNewTable(s);
                  EXPECT_EQ(VmSetMetatable(s, -2), 0) << "numbers have no metatable";
                  // Userdata carry a metatable too.
                  void* data = VmNewUserdata(s, 16);
                  std::memset(data, 0xAB, 16);
                  EXPECT_EQ(VmGetMetatable(s, -1), 0);
                  VmPushValue(s, 2);
                  EXPECT_EQ(VmSetMetatable(s, -2), 1);
                  VmPushString(s, "y");
                  VmGetTable(s, -2);
                  EXPECT_STREQ(VmGetString(s, -1), "from meta");
              }),
              0u);
}

TEST_F(ApiTest, NewIndexChainsAndTheirLimit)
{
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmNewTable(s);  // 1: proxy
                  VmNewTable(s);  // 2: store
                  VmNewTable(s);  // 3: metatable
                  VmPushString(s, "__newindex");
                  VmPushValue(s, 2);
                  VmSetTable(s, 3);
                  VmPushValue(s, 3);
                  VmSetMetatable(s, 1);
                  VmPushString(s, "a");
                  VmPushNumber(s, 1);
                  VmSetTable(s, 1);
                  VmPushString(s, "a");
                  VmRawGet(s, 2);
                  EXPECT_EQ(VmGetNumber(s, -1), 1);
              }),
              0u);
    // A table that is its own __index loops until the limit.
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmNewTable(s);
                  VmNewTable(s);
                  VmPushString(s, "__index");
                  VmPushValue(s, 2);
                  VmSetTable(s, 2);
                  VmPushValue(s, 2);
                  VmSetMetatable(s, 2);
                  VmPushValue(s, 2);
                  VmSetMetatable(s, 1);
                  VmPushString(s, "k");
                  VmGetTable(s, 1);
              }),
              ERR_INTERNAL1);
}

TEST_F(ApiTest, UpvaluesOfNativeClosures)
{
    EXPECT_EQ(RunNative([](VmState* s) {
                  VmPushNumber(s, 10);
                  VmPushString(s, "u2");
                  VmPushNativeClosure(s, [](VmState* t) -> uint32_t {
                      EXPECT_EQ(VmGetNumber(t, VmUpvalueIndex(1)), 11) << "set from outside";
                      EXPECT_STREQ(VmGetString(t, VmUpvalueIndex(2)), "u2");
                      EXPECT_EQ(VmType(t, VmUpvalueIndex(3)), VM_TNONE);
                      return static_cast<uint32_t>(VmPushUpvalues(t));
                  }, 2);
                  EXPECT_EQ(VmGetTop(s), 1);
                  EXPECT_EQ(VmIsNativeFunction(s, 1), 1);
                  EXPECT_EQ(VmGetUpvalue(s, 1, 0), nullptr);
                  EXPECT_EQ(VmGetUpvalue(s, 1, 3), nullptr);
                  EXPECT_EQ(VmGetTop(s), 1);
                  EXPECT_STREQ(VmGetUpvalue(s, 1, 2), "");
                  EXPECT_STREQ(VmGetString(s, -1), "u2");
                  VmPop(s, 1);
                  VmPushNumber(s, 11);
                  EXPECT_STREQ(VmSetUpvalue(s, 1, 1), "");
                  VmPushNumber(s, 12);
                  EXPECT_EQ(VmSetUpvalue(s, 1, 0), nullptr);
                  EXPECT_EQ(VmGetTop(s), 1);
                  VmPushValue(s, 1);
                  EXPECT_EQ(VmCall(s, 0, VM_MULTRET), 0u);
                  EXPECT_EQ(VmGetTop(s), 3);
                  EXPECT_EQ(VmGetNumber(s, 2), 11);
                  // Natives have the thread's globals as environment.
                  VmGetFunctionEnv(s, 1);
                  EXPECT_EQ(VmCompareRawEqual(s, -1, VM_GLOBALSINDEX), 1);
                  VmNewTable(s);
                  EXPECT_EQ(VmSetFunctionEnv(s, 1), 0);
              }),
              0u);
}
