// Command and constant registration and value references (see the header).
#include "core/vm/library_glue.h"

#include <string>

#include "core/io/case_tables.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/number_conv.h"

namespace {

// Pseudo-indices stay put while the stack grows; relative ones do not.
int AbsoluteIndex(VmState* state, int index)
{
    return (index < 0 && index > VM_REGISTRYINDEX) ? VmGetTop(state) + index + 1 : index;
}

std::string LowerName(const char* name)
{
    std::string lower(name);
    for (char& c : lower)
        c = static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(c)));
    return lower;
}

// Pushes registry[name], creating it as an empty table when absent.
void PushRegistryTable(VmState* state, const char* name)
{
    VmPushString(state, name);
    VmRawGet(state, VM_REGISTRYINDEX);
    if (VmType(state, -1) == VM_TTABLE)
        return;
    VmPop(state, 1);
    VmNewTable(state);
    VmPushString(state, name);
    VmPushValue(state, -2);
    VmRawSet(state, VM_REGISTRYINDEX);
}

// The reference table's bookkeeping: slot 1 heads the free list, field "n"
// holds the highest number handed out.
constexpr int kFreeListSlot = 1;
constexpr int32_t kFirstRef = 3;

int32_t ReadInt(VmState* state, int t, int slot)
{
    VmRawGetI(state, t, slot);
    auto v = static_cast<int32_t>(VmGetNumber(state, -1));
    VmPop(state, 1);
    return v;
}

}  // namespace

int VmRegisterLibrary(VmState* state, const char* libraryName, const CommandTableEntry* entries, int nup)
{
    bool any = false;
    for (const CommandTableEntry* e = entries; e && e->name; ++e)
        any = any || e->function != nullptr;
    if (libraryName) {
        VmPushString(state, libraryName);
        VmGetTable(state, VM_GLOBALSINDEX);
        if (VmType(state, -1) != VM_TTABLE) {
            VmPop(state, 1);
            VmNewTable(state);
            VmPushString(state, libraryName);
            VmPushValue(state, -2);
            VmSetTable(state, VM_GLOBALSINDEX);
        }
        VmInsert(state, -(nup + 1));
    }
    int table = VmGetTop(state) - nup;  // the upvalues sit above it
    for (const CommandTableEntry* e = entries; e && e->name; ++e) {
        if (!e->function)
            continue;
        std::string lower = LowerName(e->name);
        VmPushLString(state, lower.data(), lower.size());
        for (int i = 0; i < nup; ++i)
            VmPushValue(state, table + 1 + i);
        VmPushNativeClosure(state, e->function, nup);
        VmSetTable(state, table);
    }
    VmSetTop(state, table - 1);
    return any ? 1 : 0;
}

void VmRegisterConstants(VmState* state, const ConstantTableEntry* entries, int userFlag)
{
    PushRegistryTable(state, userFlag ? "userconstants" : "constants");
    for (const ConstantTableEntry* e = entries; e && e->name; ++e) {
        std::string lower = LowerName(e->name);
        VmPushLString(state, lower.data(), lower.size());
        if (e->text)
            VmPushString(state, e->text);
        else
            VmPushNumber(state, e->number);
        VmRawSet(state, -3);
    }
    VmPop(state, 1);
}

int VmLookupConstantTable(VmState* state, const char* tableName, const char* name, double* outNumber,
                          const char** outText)
{
    VmPushString(state, tableName);
    VmRawGet(state, VM_REGISTRYINDEX);
    if (VmType(state, -1) != VM_TTABLE) {
        VmPop(state, 1);
        return 0;
    }
    std::string lower = LowerName(name);
    VmPushLString(state, lower.data(), lower.size());
    VmRawGet(state, -2);
    int found = 1;
    switch (VmType(state, -1)) {
    case VM_TNUMBER:
        if (outNumber)
            *outNumber = VmGetNumber(state, -1);
        if (outText)
            *outText = nullptr;
        break;
    case VM_TSTRING:
        // The text stays alive in the constants table after the pops.
        if (outText)
            *outText = VmGetString(state, -1);
        break;
    default:
        found = 0;
    }
    VmPop(state, 2);
    return found;
}

int VmFindConstant(VmState* state, const char* name, double* outNumber, const char** outText)
{
    return VmLookupConstantTable(state, "constants", name, outNumber, outText) ||
           VmLookupConstantTable(state, "userconstants", name, outNumber, outText);
}

int32_t VmRefValue(VmState* state, int t)
{
    t = AbsoluteIndex(state, t);
    if (VmType(state, -1) == VM_TNIL) {
        VmPop(state, 1);
        return VM_NOREF;
    }
    int32_t ref = ReadInt(state, t, kFreeListSlot);
    if (ref >= kFirstRef) {
        VmPushNumber(state, ReadInt(state, t, ref));
        VmRawSetI(state, t, kFreeListSlot);
    } else {
        VmPushString(state, "n");
        VmRawGet(state, t);
        ref = static_cast<int32_t>(VmGetNumber(state, -1)) + 1;
        VmPop(state, 1);
        if (ref < kFirstRef)
            ref = kFirstRef;
        VmPushString(state, "n");
        VmPushNumber(state, ref);
        VmRawSet(state, t);
    }
    VmRawSetI(state, t, ref);
    return ref;
}

void VmUnrefValue(VmState* state, int t, int32_t ref)
{
    // The reserved slots are no references: putting one on the free list
    // would hand out the list's own head as a value slot.
    if (ref < kFirstRef)
        return;
    t = AbsoluteIndex(state, t);
    VmRawGetI(state, t, kFreeListSlot);
    VmRawSetI(state, t, ref);
    VmPushNumber(state, ref);
    VmRawSetI(state, t, kFreeListSlot);
}

void VmPushRef(VmState* state, int t, int32_t ref)
{
    if (ref < kFirstRef)
        VmPushNil(state);
    else
        VmRawGetI(state, t, ref);
}

namespace {

[[noreturn]] void RaiseArgument(VmState* state, ErrorCode code, int index)
{
    SetErrorArgNumber(index);
    VmRaiseError(state, code);
}

}  // namespace

double VmCheckNumber(VmState* state, int index)
{
    if (VmType(state, index) == VM_TNONE || !VmIsNumber(state, index))
        RaiseArgument(state, ERR_NUMEXPECTED, index);
    return VmGetNumber(state, index);
}

int32_t VmCheckInteger(VmState* state, int index)
{
    return static_cast<int32_t>(DoubleToLow32(VmCheckNumber(state, index)));
}

const char* VmCheckString(VmState* state, int index, size_t* outLength)
{
    int type = VmType(state, index);
    if (type != VM_TSTRING && type != VM_TNUMBER && type != VM_TNIL)
        RaiseArgument(state, ERR_STREXPECTED, index);
    const char* text = VmGetString(state, index);  // numbers and nil convert in place
    if (outLength)
        *outLength = VmGetStringLength(state, index);
    return text;
}

int VmCheckTable(VmState* state, int index)
{
    if (VmType(state, index) != VM_TTABLE)
        RaiseArgument(state, ERR_TABEXPECTED, index);
    return VM_TTABLE;
}

int VmCheckFunction(VmState* state, int index)
{
    if (VmType(state, index) != VM_TFUNCTION)
        RaiseArgument(state, ERR_FUNCEXPECTED, index);
    return VM_TFUNCTION;
}

double VmOptNumber(VmState* state, int index, double fallback)
{
    return VmType(state, index) == VM_TNONE ? fallback : VmCheckNumber(state, index);
}

int32_t VmOptInteger(VmState* state, int index, int32_t fallback)
{
    return VmType(state, index) == VM_TNONE ? fallback : VmCheckInteger(state, index);
}

const char* VmOptString(VmState* state, int index, const char* fallback, size_t* outLength)
{
    if (VmType(state, index) != VM_TNONE)
        return VmCheckString(state, index, outLength);
    if (outLength)
        *outLength = fallback ? std::char_traits<char>::length(fallback) : 0;
    return fallback;
}
