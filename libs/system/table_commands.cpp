// Generic table commands of the "system" library: 0-based arrays, copying,
// iteration, sorting, metatables, types and the collector's knobs.
//
// Arrays are read and written raw, so a metatable never sees the shuffling
// that InsertItem, RemoveItem and Sort do.
#include <string>

#include "core/io/case_tables.h"
#include "core/io/error_codes.h"
#include "core/io/number_conv.h"
#include "core/services/check_args.h"
#include "core/vm/interpreter.h"
#include "display/display_library.h"
#include "libs/system/system_library.h"

namespace {

// Brushes, anims, text objects, background pictures and videos.
constexpr uint32_t kAllObjectCaches = 31;

// The stack slots a comparison needs: the function, two items and a result.
constexpr int kSortStackSlots = 40;

bool IsTrueCondition(VmState* vm, int index, bool* out)
{
    switch (VmType(vm, index)) {
    case VM_TNIL: *out = false; return true;
    case VM_TNUMBER: *out = VmGetNumber(vm, index) != 0; return true;
    case VM_TSTRING: *out = VmGetStringLength(vm, index) != 0; return true;
    default: return false;
    }
}

void SwapItems(VmState* vm, int t, int32_t a, int32_t b)
{
    VmRawGetI(vm, t, a);
    VmRawGetI(vm, t, b);
    VmRawSetI(vm, t, a);
    VmRawSetI(vm, t, b);
}

// Whether the value below the top sorts before the top value; both are
// popped. With a function f (a stack index) its result decides, else the
// VM's less-than in its case-blind mode, so that names sort as a reader
// looks them up ("a", "B", "c") rather than by code point.
uint32_t LessTop(VmState* vm, int f, bool* out)
{
    if (!f) {
        *out = VmCompareLess(vm, -2, -1, 0) != 0;
        VmPop(vm, 2);
        return 0;
    }
    VmPushValue(vm, f);
    VmInsert(vm, -3);
    if (uint32_t code = VmPCall(vm, 2, 1, 0))
        return code;
    *out = VmGetNumber(vm, -1) != 0;
    VmPop(vm, 1);
    return 0;
}

uint32_t LessItems(VmState* vm, int t, int f, int32_t a, int32_t b, bool* out)
{
    VmRawGetI(vm, t, a);
    VmRawGetI(vm, t, b);
    return LessTop(vm, f, out);
}

// The pivot sits in the stack slot `pivot`; `pivotFirst` puts it left.
uint32_t LessPivot(VmState* vm, int t, int f, int pivot, int32_t item, bool pivotFirst, bool* out)
{
    if (pivotFirst) {
        VmPushValue(vm, pivot);
        VmRawGetI(vm, t, item);
    } else {
        VmRawGetI(vm, t, item);
        VmPushValue(vm, pivot);
    }
    return LessTop(vm, f, out);
}

uint32_t SortRange(VmState* vm, int t, int f, int32_t lo, int32_t hi)
{
    bool less;
    while (lo < hi) {
        if (uint32_t code = LessItems(vm, t, f, hi, lo, &less))
            return code;
        if (less)
            SwapItems(vm, t, lo, hi);
        if (hi - lo == 1)
            break;
        int32_t m = lo + (hi - lo) / 2;
        if (uint32_t code = LessItems(vm, t, f, m, lo, &less))
            return code;
        if (less) {
            SwapItems(vm, t, m, lo);
        } else {
            if (uint32_t code = LessItems(vm, t, f, hi, m, &less))
                return code;
            if (less)
                SwapItems(vm, t, m, hi);
        }
        if (hi - lo == 2)
            break;
        VmRawGetI(vm, t, m);
        int pivot = VmGetTop(vm);
        SwapItems(vm, t, m, hi - 1);
        int32_t i = lo, j = hi - 1;
        for (;;) {
            // A consistent order stops both scans inside [lo, hi]: t[hi]
            // does not sort before the pivot and the pivot not before t[lo].
            // A scan that would leave the range means the order is broken.
            for (;;) {
                if (++i > hi) {
                    VmPop(vm, 1);
                    return ERR_SORTFUNC;
                }
                if (uint32_t code = LessPivot(vm, t, f, pivot, i, false, &less))
                    return code;
                if (!less)
                    break;
            }
            for (;;) {
                if (--j < lo) {
                    VmPop(vm, 1);
                    return ERR_SORTFUNC;
                }
                if (uint32_t code = LessPivot(vm, t, f, pivot, j, true, &less))
                    return code;
                if (!less)
                    break;
            }
            if (j < i)
                break;
            SwapItems(vm, t, i, j);
        }
        VmPop(vm, 1);
        SwapItems(vm, t, hi - 1, i);
        // Recurse into the smaller part so that the depth stays logarithmic.
        int32_t subLo, subHi;
        if (i - lo < hi - i) {
            subLo = lo;
            subHi = i - 1;
            lo = i + 1;
        } else {
            subLo = i + 1;
            subHi = hi;
            hi = i - 1;
        }
        if (uint32_t code = SortRange(vm, t, f, subLo, subHi))
            return code;
    }
    return 0;
}

// Copies the table at `source` into a new table pushed on the stack. Tables
// among the values are copied too unless shallow; every table is copied once,
// so shared and cyclic structures come out with the same shape. The work
// list lives in the VM rather than on the C stack, so depth costs nothing.
void CopyTableValues(VmState* vm, int source, bool shallow)
{
    VmNewTable(vm);
    int copies = VmGetTop(vm);  // original -> copy
    VmNewTable(vm);
    int pending = VmGetTop(vm);  // originals whose entries are still to copy
    int32_t pendingCount = 0;
    VmNewTable(vm);
    int root = VmGetTop(vm);
    VmPushValue(vm, source);
    VmPushValue(vm, root);
    VmRawSet(vm, copies);
    VmPushValue(vm, source);
    VmRawSetI(vm, pending, pendingCount++);
    while (pendingCount > 0) {
        VmRawGetI(vm, pending, --pendingCount);
        VmPushNil(vm);
        VmRawSetI(vm, pending, pendingCount);
        int from = VmGetTop(vm);
        VmPushValue(vm, from);
        VmRawGet(vm, copies);
        int to = VmGetTop(vm);
        VmPushNil(vm);
        while (VmNext(vm, from)) {
            // key at -2, value at -1
            if (!shallow && VmType(vm, -1) == VM_TTABLE) {
                VmPushValue(vm, -1);
                VmRawGet(vm, copies);
                if (VmType(vm, -1) == VM_TNIL) {
                    VmPop(vm, 1);
                    VmNewTable(vm);
                    VmPushValue(vm, -2);
                    VmPushValue(vm, -2);
                    VmRawSet(vm, copies);
                    VmPushValue(vm, -2);
                    VmRawSetI(vm, pending, pendingCount++);
                }
                VmReplace(vm, -2);
            }
            VmPushValue(vm, -2);
            VmInsert(vm, -2);
            VmRawSet(vm, to);
        }
        VmSetTop(vm, from - 1);
    }
    VmSetTop(vm, root);
    VmReplace(vm, copies);
    VmSetTop(vm, copies);
}

uint32_t CallEntryFunction(VmState* vm, int f, int ud, bool* stop)
{
    // key and value are on top
    VmPushValue(vm, f);
    VmInsert(vm, -3);
    int nargs = 2;
    if (ud) {
        VmPushValue(vm, ud);
        ++nargs;
    }
    if (uint32_t code = VmPCall(vm, nargs, 1, 0))
        return code;
    *stop = VmType(vm, -1) != VM_TNIL;
    return 0;
}

}  // namespace

int32_t CountTableItems(VmState* vm, int index, bool raw)
{
    return VmCountItems(vm, index, !raw);
}

uint32_t QuickSortItems(VmState* vm, int index, bool hasFunction, int32_t low, int32_t high)
{
    if (index < 0 && index > VM_REGISTRYINDEX)
        index = VmGetTop(vm) + index + 1;
    if (!VmCheckStack(vm, kSortStackSlots))
        return ERR_STACK;
    int top = VmGetTop(vm);
    uint32_t code = SortRange(vm, index, hasFunction ? index + 1 : 0, low, high);
    VmSetTop(vm, top);
    return code;
}

uint32_t CmdListItems(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmCheckTable(vm, 1);
    VmPushNumber(vm, CountTableItems(vm, 1, true));
    return 1;
}

uint32_t CmdTableItems(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmCheckTable(vm, 1);
    double n = 0;
    VmPushNil(vm);
    while (VmNext(vm, 1)) {
        VmPop(vm, 1);
        ++n;
    }
    VmPushNumber(vm, n);
    return 1;
}

uint32_t CmdIsTableEmpty(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmCheckTable(vm, 1);
    VmPushNil(vm);
    bool empty = !VmNext(vm, 1);
    VmSetTop(vm, 1);
    VmPushNumber(vm, empty ? 1 : 0);
    return 1;
}

uint32_t CmdInsertItem(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    VmCheckTable(vm, 1);
    int32_t pos = VmOptInteger(vm, 3, -1);
    int32_t n = CountTableItems(vm, 1, true);
    if (pos < 0 || pos > n)
        pos = n;
    for (int32_t i = n; i > pos; --i) {
        VmRawGetI(vm, 1, i - 1);
        VmRawSetI(vm, 1, i);
    }
    VmPushValue(vm, 2);
    VmRawSetI(vm, 1, pos);
    return 0;
}

uint32_t CmdRemoveItem(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    VmCheckTable(vm, 1);
    int32_t pos = VmOptInteger(vm, 2, -1);
    int32_t n = CountTableItems(vm, 1, true);
    if (n == 0)
        return 0;
    if (pos < 0 || pos >= n)
        pos = n - 1;
    VmRawGetI(vm, 1, pos);
    for (int32_t i = pos; i < n - 1; ++i) {
        VmRawGetI(vm, 1, i + 1);
        VmRawSetI(vm, 1, i);
    }
    VmPushNil(vm);
    VmRawSetI(vm, 1, n - 1);
    return 1;
}

uint32_t CmdUnpack(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmCheckTable(vm, 1);
    int32_t n = CountTableItems(vm, 1, true);
    if (static_cast<uint32_t>(n) > VM_MAX_RESULTS || !VmCheckStack(vm, n))
        return ERR_STACK;
    for (int32_t i = 0; i < n; ++i)
        VmRawGetI(vm, 1, i);
    return static_cast<uint32_t>(n);
}

uint32_t CmdConcat(VmState* vm)
{
    CheckArgs(vm, 1, 4, 0, 0);
    VmCheckTable(vm, 1);
    size_t sepLength;
    const char* sep = VmOptString(vm, 2, "", &sepLength);
    int32_t n = CountTableItems(vm, 1, true);
    int32_t first = VmOptInteger(vm, 3, 0);
    int32_t last = VmOptInteger(vm, 4, n - 1);
    if (uint32_t code = VmJoinItems(vm, 1, sep, sepLength, first, last))
        return code;
    return 1;
}

uint32_t CmdCopyTable(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    VmCheckTable(vm, 1);
    bool shallow = VmOptInteger(vm, 2, 0) != 0;
    CopyTableValues(vm, 1, shallow);
    return 1;
}

uint32_t CmdHaveItem(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    VmCheckTable(vm, 1);
    if (VmType(vm, 2) == VM_TSTRING) {
        std::string key(VmGetString(vm, 2), VmGetStringLength(vm, 2));
        for (char& c : key)
            c = static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(c)));
        VmPushLString(vm, key.data(), key.size());
    } else {
        VmPushValue(vm, 2);
    }
    VmGetTable(vm, 1);
    VmPushNumber(vm, VmType(vm, -1) != VM_TNIL ? 1 : 0);
    return 1;
}

uint32_t CmdSort(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    VmCheckTable(vm, 1);
    bool hasFunction = VmType(vm, 2) != VM_TNONE && VmType(vm, 2) != VM_TNIL;
    if (hasFunction)
        VmCheckFunction(vm, 2);
    VmSetTop(vm, hasFunction ? 2 : 1);
    // Without a function an empty string ends the array, as it always has.
    int32_t n = CountTableItems(vm, 1, hasFunction);
    if (uint32_t code = QuickSortItems(vm, 1, hasFunction, 0, n - 1))
        return code;
    // A comparison that added or removed items has left no sorted array.
    if (CountTableItems(vm, 1, hasFunction) != n)
        return ERR_SORTFUNC;
    return 0;
}

uint32_t CmdIPairs(VmState* vm)
{
    CheckArgs(vm, 1, 2, 0, 0);
    VmCheckTable(vm, 1);
    if (VmGetTop(vm) == 1) {
        VmPushNativeFunction(vm, CmdIPairs);
        VmPushValue(vm, 1);
        VmPushNumber(vm, -1);
        return 3;
    }
    int32_t i = VmCheckInteger(vm, 2) + 1;
    VmRawGetI(vm, 1, i);
    if (VmType(vm, -1) == VM_TNIL)
        return 0;
    VmPushNumber(vm, i);
    VmInsert(vm, -2);
    return 2;
}

uint32_t CmdPairs(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmCheckTable(vm, 1);
    VmPushNativeFunction(vm, VmNextItem);
    VmPushValue(vm, 1);
    VmPushNil(vm);
    return 3;
}

uint32_t CmdForEach(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    VmCheckTable(vm, 1);
    VmCheckFunction(vm, 2);
    int ud = VmGetTop(vm) >= 3 ? 3 : 0;
    VmSetTop(vm, ud ? 3 : 2);
    VmPushNil(vm);
    while (VmNext(vm, 1)) {
        int keySlot = VmGetTop(vm) - 1;
        VmPushValue(vm, -2);
        VmPushValue(vm, -2);
        bool stop = false;
        if (uint32_t code = CallEntryFunction(vm, 2, ud, &stop))
            return code;
        if (stop)
            return 1;
        VmSetTop(vm, keySlot);
    }
    return 0;
}

uint32_t CmdForEachI(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    VmCheckTable(vm, 1);
    VmCheckFunction(vm, 2);
    int ud = VmGetTop(vm) >= 3 ? 3 : 0;
    VmSetTop(vm, ud ? 3 : 2);
    int base = VmGetTop(vm);
    for (int32_t i = 0; i < INT32_MAX; ++i) {
        VmRawGetI(vm, 1, i);
        if (VmType(vm, -1) == VM_TNIL)
            break;
        VmPushNumber(vm, i);
        VmInsert(vm, -2);
        bool stop = false;
        if (uint32_t code = CallEntryFunction(vm, 2, ud, &stop))
            return code;
        if (stop)
            return 1;
        VmSetTop(vm, base);
    }
    return 0;
}

uint32_t CmdGetMetaTable(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    if (!VmGetMetatable(vm, 1)) {
        VmPushNil(vm);
        return 1;
    }
    VmPushString(vm, "__metatable");
    VmRawGet(vm, -2);
    if (VmType(vm, -1) == VM_TNIL)
        VmPop(vm, 1);
    return 1;
}

uint32_t CmdSetMetaTable(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    VmCheckTable(vm, 1);
    int type = VmType(vm, 2);
    if (type != VM_TTABLE && type != VM_TNIL)
        return ERR_TABLEORNIL;
    if (VmGetMetatable(vm, 1)) {
        VmPushString(vm, "__metatable");
        VmRawGet(vm, -2);
        bool protectedTable = VmType(vm, -1) != VM_TNIL;
        VmPop(vm, 2);
        if (protectedTable)
            return ERR_PROTMETATABLE;
    }
    VmSetTop(vm, 2);
    VmSetMetatable(vm, 1);
    return 1;
}

uint32_t CmdRawEqual(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    VmPushNumber(vm, VmCompareRawEqual(vm, 1, 2) ? 1 : 0);
    return 1;
}

uint32_t CmdRawGet(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    VmCheckTable(vm, 1);
    VmSetTop(vm, 2);
    VmRawGet(vm, 1);
    return 1;
}

uint32_t CmdRawSet(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    VmCheckTable(vm, 1);
    VmRawSet(vm, 1);
    return 1;
}

uint32_t CmdGetType(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    double type;
    switch (VmType(vm, 1)) {
    case VM_TNIL: type = 0; break;
    case VM_TNUMBER: type = 2; break;
    case VM_TSTRING: type = 3; break;
    case VM_TTABLE: type = 4; break;
    case VM_TFUNCTION: type = 5; break;
    case VM_TUSERDATA: type = 8; break;
    case VM_TLIGHTUSERDATA: type = 9; break;
    case VM_TTHREAD: type = 10; break;
    default: type = -1; break;
    }
    VmPushNumber(vm, type);
    return 1;
}

uint32_t CmdIsNil(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmPushNumber(vm, VmType(vm, 1) == VM_TNIL ? 1 : 0);
    return 1;
}

uint32_t CmdIIf(VmState* vm)
{
    CheckArgs(vm, 3, 3, 0, 0);
    bool condition;
    if (!IsTrueCondition(vm, 1, &condition))
        return ERR_WRONGDTYPE;
    VmPushValue(vm, condition ? 2 : 3);
    return 1;
}

uint32_t CmdGCInfo(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    VmPushNumber(vm, VmGetGCCount(vm));
    VmPushNumber(vm, VmGetGCThreshold(vm));
    return 2;
}

uint32_t CmdCollectGarbage(VmState* vm)
{
    CheckArgs(vm, 0, 1, 0, 0);
    double threshold = VmOptNumber(vm, 1, 0);
    VmSetGCThreshold(vm, threshold > 0 ? DoubleToLow32(threshold) : 0);
    FlushObjectCaches(vm, kAllObjectCaches);
    return 0;
}
