// Tables against an independent map and the keys of every kind.
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

#include "core/io/error_codes.h"
#include "core/vm/strings.h"
#include "core/vm/table.h"
#include "core/vm_fixture.h"

namespace {

struct TableTest : VmTest {
    VmTable* NewTable(uint64_t asize = 0, int hlog = 0)
    {
        VmTable* t = VmNewTableObject(vm, asize, hlog);
        // Keep it on the stack, as a script would.
        VmSetTableValue(vm->top++, t);
        return t;
    }
    VmValue Num(double n)
    {
        VmValue v;
        VmSetNumber(&v, n);
        return v;
    }
    VmValue Str(const std::string& s)
    {
        VmValue v;
        VmSetString(&v, VmNewString(vm, s.data(), s.size()));
        return v;
    }
    void Set(VmTable* t, const VmValue& k, const VmValue& v) { *VmTableSet(vm, t, &k) = v; }
    const VmValue* Get(VmTable* t, const VmValue& k) { return VmTableGet(t, &k); }
};

// A key as the model sees it.
std::string ModelKey(const VmValue& k)
{
    switch (k.tt) {
    case VM_TNUMBER: {
        double n = k.v.n == 0 ? 0 : k.v.n;  // -0 and 0 are one key
        return "n" + std::to_string(n) + "/" + std::to_string(std::signbit(n));
    }
    case VM_TSTRING:
        return "s" + std::string(VmSvalue(&k), VmStrValue(&k)->len);
    case VM_TBOOLEAN:
        return k.v.b ? "btrue" : "bfalse";
    default:
        return "?";
    }
}

}  // namespace

TEST_F(TableTest, MatchesAMapThroughInsertsDeletesAndWalks)
{
    std::mt19937 rng(12345);
    VmTable* t = NewTable();
    std::map<std::string, double> model;
    auto randomKey = [&]() -> VmValue {
        switch (rng() % 6) {
        case 0:
            return Num(static_cast<double>(rng() % 300) + 1);  // array candidates
        case 1:
            return Num(static_cast<double>(static_cast<int>(rng() % 5000)) - 2500);
        case 2:
            return Num((rng() % 1000) / 8.0);
        case 3: {
            VmValue b;
            VmSetBool(&b, static_cast<int>(rng() % 2));
            return b;
        }
        case 4:
            return Num(1e12 + rng() % 100);
        default:
            return Str("k" + std::to_string(rng() % 3000));
        }
    };
    uint32_t status = RunNative([&](VmState*) {
        for (int phase = 0; phase < 10; phase++) {
            for (int op = 0; op < 10000; op++) {
                VmValue k = randomKey();
                std::string mk = ModelKey(k);
                unsigned what = rng() % 10;
                if (what < 6) {
                    double v = rng() % 1000000;
                    Set(t, k, Num(v));
                    model[mk] = v;
                } else if (what < 9) {
                    VmValue nil;
                    VmSetNil(&nil);
                    Set(t, k, nil);
                    model.erase(mk);
                } else {
                    const VmValue* v = Get(t, k);
                    auto it = model.find(mk);
                    if (it == model.end()) {
                        ASSERT_TRUE(VmIsNil(v)) << mk;
                    } else {
                        ASSERT_EQ(v->tt, VM_TNUMBER) << mk;
                        ASSERT_EQ(v->v.n, it->second) << mk;
                    }
                }
            }
            // A full walk visits every live key exactly once.
            std::set<std::string> seen;
            VmValue* kv = vm->top;
            vm->top += 2;
            VmSetNil(&kv[0]);
            while (VmTableNext(vm, t, kv)) {
                std::string mk = ModelKey(kv[0]);
                ASSERT_TRUE(seen.insert(mk).second) << "visited twice: " << mk;
                auto it = model.find(mk);
                ASSERT_NE(it, model.end()) << mk;
                ASSERT_EQ(kv[1].v.n, it->second);
            }
            vm->top -= 2;
            ASSERT_EQ(seen.size(), model.size());
            for (auto& [mk, v] : model)
                ASSERT_TRUE(seen.count(mk)) << mk;
        }
    });
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(VmIsNil(&vm->g->dummynode.key));
    EXPECT_TRUE(VmIsNil(&vm->g->dummynode.val));
}

TEST_F(TableTest, KeysOfEveryKindNilAsZeroAndTheWalksOrder)
{
    ASSERT_EQ(RunNative([&](VmState*) {
                  VmTable* t = NewTable();
                  VmValue nil;
                  VmSetNil(&nil);
                  Set(t, nil, Num(5));
                  EXPECT_EQ(Get(t, Num(0))->v.n, 5);
                  EXPECT_EQ(Get(t, Num(-0.0))->v.n, 5);

                  VmTable* u = NewTable();
                  Set(u, Num(1), Num(10));
                  Set(u, Num(2), Num(20));
                  Set(u, Str("x"), Num(1));
                  VmValue* kv = vm->top;
                  vm->top += 2;
                  VmSetNil(kv);
                  std::string order;
                  while (VmTableNext(vm, u, kv))
                      order += kv[0].tt == VM_TNUMBER ? std::to_string(static_cast<int>(kv[0].v.n)) : VmSvalue(&kv[0]);
                  EXPECT_EQ(order, "12x");
              }),
              0u);
    ASSERT_EQ(RunNative([&](VmState*) {
                  VmTable* t = NewTable();
                  VmTable* other = NewTable();
                  VmValue keys[6];
                  VmSetBool(&keys[0], 1);
                  VmSetBool(&keys[1], 0);
                  VmSetLight(&keys[2], &keys);
                  VmSetTableValue(&keys[3], other);
                  keys[4] = Num(-1.5);
                  keys[5] = Num(4294967296.0);
                  for (int i = 0; i < 6; i++)
                      Set(t, keys[i], Num(i + 100));
                  for (int i = 0; i < 6; i++)
                      EXPECT_EQ(Get(t, keys[i])->v.n, i + 100) << i;
              }),
              0u);
}

TEST_F(TableTest, BadKeysGiveTheirCodes)
{
    EXPECT_EQ(RunNative([&](VmState*) { Set(NewTable(), Num(NAN), Num(1)); }), ERR_TABLEINDEX);
    EXPECT_EQ(RunNative([&](VmState*) {
                  VmTable* t = NewTable();
                  Set(t, Str("a"), Num(1));
                  VmValue kv[2] = {Str("missing"), {}};
                  VmTableNext(vm, t, kv);
              }),
              ERR_INVNEXTKEY);
    EXPECT_EQ(RunNative([&](VmState*) { VmNewTableObject(vm, 0, 25); }), ERR_TABLEOVERFLOW);
    EXPECT_EQ(RunNative([&](VmState*) { VmNewTableObject(vm, (1u << 24) + 1, 0); }), ERR_TABLEOVERFLOW);
}
