// Command and constant registration, argument readers, registry entries by
// name, labels, named metatables, the string builder, table sizes and value
// references (see the header).
#include "core/vm/library_glue.h"

#include <cstring>
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

// The reference table's bookkeeping: slot 1 heads the free list, the
// table's size is the highest number handed out.
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
        ref = VmGetTableSize(state, t) + 1;
        if (ref < kFirstRef)
            ref = kFirstRef;
        VmSetTableSize(state, t, ref);
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

void* VmCheckUserdata(VmState* state, int index)
{
    if (!VmIsUserdata(state, index))
        RaiseArgument(state, ERR_UDEXPECTED, index);
    return VmGetUserdata(state, index);
}

int VmCheckType(VmState* state, int index, int tag)
{
    if (VmType(state, index) == tag)
        return tag;
    ErrorCode code;
    switch (tag) {
    case VM_TNUMBER:
        code = ERR_NUMEXPECTED;
        break;
    case VM_TSTRING:
        code = ERR_STREXPECTED;
        break;
    case VM_TTABLE:
        code = ERR_TABEXPECTED;
        break;
    case VM_TFUNCTION:
        code = ERR_FUNCEXPECTED;
        break;
    default:
        code = ERR_UDEXPECTED;
        break;
    }
    RaiseArgument(state, code, index);
}

namespace {

[[noreturn]] void RaiseField(VmState* state, ErrorCode code, const char* field)
{
    SetErrorText(field ? field : "");
    VmRaiseError(state, code);
}

bool IsStringLike(VmState* state, int index)
{
    int type = VmType(state, index);
    return type == VM_TSTRING || type == VM_TNUMBER || type == VM_TNIL;
}

}  // namespace

double VmCheckTableFieldNumber(VmState* state, int index, const char* field)
{
    if (VmType(state, index) == VM_TNONE || !VmIsNumber(state, index))
        RaiseField(state, ERR_NUMTABLEARG, field);
    return VmGetNumber(state, index);
}

int32_t VmCheckTableFieldInteger(VmState* state, int index, const char* field)
{
    return static_cast<int32_t>(DoubleToLow32(VmCheckTableFieldNumber(state, index, field)));
}

const char* VmCheckTableFieldString(VmState* state, int index, size_t* outLength, const char* field)
{
    if (!IsStringLike(state, index))
        RaiseField(state, ERR_STRTABLEARG, field);
    const char* text = VmGetString(state, index);
    if (outLength)
        *outLength = VmGetStringLength(state, index);
    return text;
}

double VmToNumberOrCode(VmState* state, int index, uint32_t* outCode)
{
    if (VmType(state, index) == VM_TNONE || !VmIsNumber(state, index)) {
        *outCode = ERR_NUMCALLBACK;
        return 0;
    }
    *outCode = 0;
    return VmGetNumber(state, index);
}

const char* VmToStringOrCode(VmState* state, int index, uint32_t* outCode)
{
    if (!IsStringLike(state, index)) {
        *outCode = ERR_STRCALLBACK;
        return nullptr;
    }
    *outCode = 0;
    return VmGetString(state, index);
}

// ---- registry by name ----------------------------------------------------------

namespace {

void PushRegistryEntry(VmState* state, const char* name)
{
    VmPushString(state, name);
    VmRawGet(state, VM_REGISTRYINDEX);
}

}  // namespace

void* VmGetRegistryPointer(VmState* state, const char* name)
{
    PushRegistryEntry(state, name);
    void* p = VmIsUserdata(state, -1) ? VmGetUserdata(state, -1) : nullptr;
    VmPop(state, 1);
    return p;
}

const char* VmGetRegistryString(VmState* state, const char* name)
{
    PushRegistryEntry(state, name);
    const char* text = VmType(state, -1) == VM_TSTRING ? VmGetString(state, -1) : nullptr;
    VmPop(state, 1);
    return text;
}

double VmGetRegistryNumber(VmState* state, const char* name)
{
    PushRegistryEntry(state, name);
    double n = VmGetNumber(state, -1);
    VmPop(state, 1);
    return n;
}

void VmSetRegistryPointer(VmState* state, const char* name, void* pointer)
{
    VmPushString(state, name);
    VmPushLightUserdata(state, pointer);
    VmRawSet(state, VM_REGISTRYINDEX);
}

void VmSetRegistryString(VmState* state, const char* name, const char* text)
{
    VmPushString(state, name);
    VmPushString(state, text);
    VmRawSet(state, VM_REGISTRYINDEX);
}

int32_t VmFindLabel(VmState* state, const char* name)
{
    PushRegistryEntry(state, "labels");
    if (VmType(state, -1) != VM_TTABLE) {
        VmPop(state, 1);
        return -1;
    }
    std::string lower = LowerName(name);
    VmPushLString(state, lower.data(), lower.size());
    VmRawGet(state, -2);
    int32_t index = VmType(state, -1) == VM_TNUMBER ? static_cast<int32_t>(DoubleToLow32(VmGetNumber(state, -1))) : -1;
    VmPop(state, 2);
    return index;
}

int VmFindString(const char* text, const char* const* list)
{
    for (int i = 0; list && list[i]; i++) {
        if (std::strcmp(list[i], text) == 0)
            return i;
    }
    return -1;
}

// ---- named metatables and meta-fields -------------------------------------------

int VmNewNamedMetatable(VmState* state, const char* name)
{
    PushRegistryEntry(state, name);
    if (VmType(state, -1) != VM_TNIL)
        return 0;
    VmPop(state, 1);
    VmNewTable(state);
    VmPushString(state, name);
    VmPushValue(state, -2);
    VmRawSet(state, VM_REGISTRYINDEX);
    return 1;
}

void VmGetNamedMetatable(VmState* state, const char* name)
{
    PushRegistryEntry(state, name);
}

void* VmCheckNamedUserdata(VmState* state, int index, const char* name)
{
    index = AbsoluteIndex(state, index);
    if (VmType(state, index) != VM_TUSERDATA || !VmGetMetatable(state, index))
        return nullptr;
    PushRegistryEntry(state, name);
    bool same = VmCompareRawEqual(state, -1, -2);
    VmPop(state, 2);
    return same ? VmGetUserdata(state, index) : nullptr;
}

int VmGetMetaField(VmState* state, int index, const char* field)
{
    if (!VmGetMetatable(state, index))
        return 0;
    VmPushString(state, field);
    VmRawGet(state, -2);
    if (VmType(state, -1) == VM_TNIL) {
        VmPop(state, 2);
        return 0;
    }
    VmRemove(state, -2);
    return 1;
}

int VmCallMetaField(VmState* state, int index, const char* field)
{
    index = AbsoluteIndex(state, index);
    if (!VmGetMetaField(state, index, field))
        return 0;
    VmPushValue(state, index);
    VmCall(state, 1, 1);
    return 1;
}

// ---- string builder ---------------------------------------------------------------

namespace {

// Pieces merged into one while the stack would otherwise hold this many.
constexpr int kMaxPieces = 10;

bool FlushBuffer(VmStringBuilder* b)
{
    size_t n = static_cast<size_t>(b->p - b->buffer);
    if (n == 0)
        return false;
    VmPushLString(b->state, b->buffer, n);
    b->p = b->buffer;
    b->pieces++;
    return true;
}

// Merges the newest pieces: a piece is taken in while the pieces above it
// are together longer, so each byte is copied a logarithmic number of
// times.
void AdjustPieces(VmStringBuilder* b)
{
    if (b->pieces <= 1)
        return;
    VmState* state = b->state;
    int toget = 1;
    size_t toplen = VmGetStringLength(state, -1);
    do {
        size_t l = VmGetStringLength(state, -(toget + 1));
        if (b->pieces - toget + 1 >= kMaxPieces || toplen > l) {
            toplen += l;
            toget++;
        } else {
            break;
        }
    } while (toget < b->pieces);
    VmConcat(state, toget);
    b->pieces = b->pieces - toget + 1;
}

inline size_t FreeSpace(const VmStringBuilder* b)
{
    return VM_BUFFER_SIZE - static_cast<size_t>(b->p - b->buffer);
}

}  // namespace

void VmBufferInit(VmState* state, VmStringBuilder* builder)
{
    builder->state = state;
    builder->p = builder->buffer;
    builder->pieces = 0;
}

char* VmBufferPrepare(VmStringBuilder* builder)
{
    if (FlushBuffer(builder))
        AdjustPieces(builder);
    return builder->buffer;
}

void VmBufferAddBytes(VmStringBuilder* builder, const char* bytes, size_t n)
{
    while (n > 0) {
        if (FreeSpace(builder) == 0)
            VmBufferPrepare(builder);
        size_t chunk = n < FreeSpace(builder) ? n : FreeSpace(builder);
        std::memcpy(builder->p, bytes, chunk);
        builder->p += chunk;
        bytes += chunk;
        n -= chunk;
    }
}

void VmBufferAddString(VmStringBuilder* builder, const char* text)
{
    VmBufferAddBytes(builder, text, std::strlen(text));
}

void VmBufferAddValue(VmStringBuilder* builder)
{
    VmState* state = builder->state;
    size_t n = VmGetStringLength(state, -1);
    if (n <= FreeSpace(builder)) {
        const char* text = VmGetString(state, -1);
        if (n != 0)
            std::memcpy(builder->p, text, n);
        builder->p += n;
        VmPop(state, 1);
        return;
    }
    // Too long for the buffer: the value becomes a piece of its own, above
    // what the buffer held.
    if (FlushBuffer(builder))
        VmInsert(state, -2);
    builder->pieces++;
    AdjustPieces(builder);
}

void VmBufferPushResult(VmStringBuilder* builder)
{
    FlushBuffer(builder);
    VmConcat(builder->state, builder->pieces);
    builder->pieces = 1;
}

// ---- table sizes --------------------------------------------------------------------

namespace {

constexpr const char* kSizesKey = "sizes";

// Pushes raw t.n; true when it converts to a number (a missing "n" does).
bool PushSizeField(VmState* state, int t)
{
    VmPushString(state, "n");
    VmRawGet(state, t);
    return VmIsNumber(state, -1) != 0;
}

}  // namespace

void VmGetSizesTable(VmState* state)
{
    PushRegistryEntry(state, kSizesKey);
    if (VmType(state, -1) == VM_TTABLE)
        return;
    VmPop(state, 1);
    VmNewTable(state);
    VmNewTable(state);
    VmPushString(state, "__mode");
    VmPushString(state, "k");
    VmRawSet(state, -3);
    VmSetMetatable(state, -2);
    VmPushString(state, kSizesKey);
    VmPushValue(state, -2);
    VmRawSet(state, VM_REGISTRYINDEX);
}

int32_t VmGetTableSize(VmState* state, int t)
{
    t = AbsoluteIndex(state, t);
    bool converts = PushSizeField(state, t);
    if (converts) {
        auto n = static_cast<int32_t>(DoubleToLow32(VmGetNumber(state, -1)));
        VmPop(state, 1);
        return n;
    }
    VmPop(state, 1);
    VmGetSizesTable(state);
    VmPushValue(state, t);
    VmRawGet(state, -2);
    if (VmType(state, -1) == VM_TNUMBER) {
        auto n = static_cast<int32_t>(DoubleToLow32(VmGetNumber(state, -1)));
        VmPop(state, 2);
        return n;
    }
    VmPop(state, 2);
    int32_t n = 0;
    for (;; n++) {
        VmRawGetI(state, t, n + 1);
        bool isNil = VmType(state, -1) == VM_TNIL;
        VmPop(state, 1);
        if (isNil)
            return n;
    }
}

void VmSetTableSize(VmState* state, int t, int32_t n)
{
    t = AbsoluteIndex(state, t);
    bool converts = PushSizeField(state, t);
    VmPop(state, 1);
    if (converts) {
        VmPushString(state, "n");
        VmPushNumber(state, n);
        VmRawSet(state, t);
        return;
    }
    VmGetSizesTable(state);
    VmPushValue(state, t);
    VmPushNumber(state, n);
    VmRawSet(state, -3);
    VmPop(state, 1);
}
