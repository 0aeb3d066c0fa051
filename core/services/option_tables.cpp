// Option-table fields. Every getter reads the field with the table's
// metamethods honoured, keeps the value on the stack only while it converts
// it, and leaves the stack as it found it (unless it raises).
#include "core/services/option_tables.h"

#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/services/arg_helpers.h"
#include "core/vm/vm.h"

#include <cstring>

namespace {

// A relative index would move as soon as the key is pushed.
int AbsoluteIndex(VmState* vm, int index)
{
    return (index < 0 && index > VM_REGISTRYINDEX) ? VmGetTop(vm) + index + 1 : index;
}

[[noreturn]] void RaiseForField(VmState* vm, uint32_t code, const char* key)
{
    SetErrorText(key);
    VmRaiseError(vm, code);
}

// Pushes t[key]; answers whether it is there (not nil). An absent field is
// popped at once.
bool PushField(VmState* vm, int table, const char* key, bool* found)
{
    table = AbsoluteIndex(vm, table);
    VmPushString(vm, key);
    VmGetTable(vm, table);
    bool present = VmType(vm, -1) != VM_TNIL;
    if (!present)
        VmPop(vm, 1);
    if (found)
        *found = present;
    return present;
}

double FieldNumber(VmState* vm, int index, const char* key)
{
    if (!VmIsNumber(vm, index))
        RaiseForField(vm, ERR_NUMTABLEARG, key);
    return VmGetNumber(vm, index);
}

void SetField(VmState* vm, int table, const char* key)
{
    // The value is on top; slide the key under it.
    VmPushString(vm, key);
    VmInsert(vm, -2);
    VmSetTable(vm, table);
}

} // namespace

void SetTableInt(VmState* vm, int table, const char* key, int32_t value)
{
    table = AbsoluteIndex(vm, table);
    VmPushNumber(vm, value);
    SetField(vm, table, key);
}

void SetTableUnsigned(VmState* vm, int table, const char* key, uint32_t value)
{
    table = AbsoluteIndex(vm, table);
    VmPushNumber(vm, value);
    SetField(vm, table, key);
}

void SetTableNumber(VmState* vm, int table, const char* key, double value)
{
    table = AbsoluteIndex(vm, table);
    VmPushNumber(vm, value);
    SetField(vm, table, key);
}

void SetTableString(VmState* vm, int table, const char* key, const char* value)
{
    table = AbsoluteIndex(vm, table);
    VmPushString(vm, value);
    SetField(vm, table, key);
}

void SetTableObjectId(VmState* vm, int table, const char* key, ObjectId value)
{
    table = AbsoluteIndex(vm, table);
    PushObjectId(vm, value);
    SetField(vm, table, key);
}

bool GetTableNumber(VmState* vm, int table, const char* key, double* out, bool* found)
{
    if (!PushField(vm, table, key, found))
        return false;
    *out = FieldNumber(vm, -1, key);
    VmPop(vm, 1);
    return true;
}

bool GetTableInt(VmState* vm, int table, const char* key, int32_t* out, bool* found)
{
    double value;
    if (!GetTableNumber(vm, table, key, &value, found))
        return false;
    *out = static_cast<int32_t>(DoubleToLow32(value));
    return true;
}

bool GetTableColor(VmState* vm, int table, const char* key, uint32_t* out, bool* found)
{
    double value;
    if (!GetTableNumber(vm, table, key, &value, found))
        return false;
    *out = DoubleToLow32(value);
    return true;
}

bool GetTableNumberOrPercent(VmState* vm, int table, const char* key, double* out, double base,
                             bool allowAbove100, bool* outIsPercent, bool* found)
{
    if (outIsPercent)
        *outIsPercent = false;
    if (!PushField(vm, table, key, found))
        return false;
    if (VmType(vm, -1) == VM_TSTRING) {
        double value;
        bool isPercent;
        if (!ParsePercentText(VmGetString(vm, -1), allowAbove100, &value, &isPercent))
            RaiseForField(vm, ERR_PERCENTFORMATSTR, key);
        if (isPercent && base != 0) {
            value = value * base / 100;
        } else if (isPercent) {
            value /= 100;
            if (outIsPercent)
                *outIsPercent = true;
        }
        *out = value;
    } else {
        *out = FieldNumber(vm, -1, key);
    }
    VmPop(vm, 1);
    return true;
}

bool GetTableIntOrPercent(VmState* vm, int table, const char* key, int32_t* out, bool allowAbove100,
                          bool* found)
{
    if (!PushField(vm, table, key, found))
        return false;
    if (VmType(vm, -1) == VM_TSTRING) {
        double value;
        bool isPercent;
        if (!ParsePercentText(VmGetString(vm, -1), allowAbove100, &value, &isPercent))
            RaiseForField(vm, ERR_PERCENTFORMATSTR, key);
        // Sizes keep percentages as negative numbers until the base is known.
        *out = isPercent ? -DoubleToInt32(value) : static_cast<int32_t>(DoubleToLow32(value));
    } else {
        *out = static_cast<int32_t>(DoubleToLow32(FieldNumber(vm, -1, key)));
    }
    VmPop(vm, 1);
    return true;
}

bool GetTableString(VmState* vm, int table, const char* key, char* out, size_t outSize, bool* found)
{
    if (!PushField(vm, table, key, found))
        return false;
    if (!VmIsString(vm, -1))
        RaiseForField(vm, ERR_STRTABLEARG, key);
    const char* text = VmGetString(vm, -1);
    size_t length = VmGetStringLength(vm, -1);
    if (outSize > 0) {
        if (length >= outSize)
            length = outSize - 1;
        std::memcpy(out, text, length);
        out[length] = '\0';
    }
    VmPop(vm, 1);
    return true;
}

bool GetTableObjectId(VmState* vm, int table, const char* key, ObjectId* out, bool* found)
{
    if (!PushField(vm, table, key, found))
        return false;
    if (VmType(vm, -1) == VM_TLIGHTUSERDATA)
        *out = MakeHandleId(reinterpret_cast<uintptr_t>(VmGetUserdata(vm, -1)));
    else
        *out = MakeObjectId(DoubleToLow32(FieldNumber(vm, -1, key)));
    VmPop(vm, 1);
    return true;
}

bool GetTableNumbers(VmState* vm, int table, const char* key, double* out, uint32_t max, uint32_t* count,
                     bool* found)
{
    if (!PushField(vm, table, key, found))
        return false;
    if (VmType(vm, -1) != VM_TTABLE)
        RaiseForField(vm, ERR_TABEXPECTED2, key);
    uint32_t n = 0;
    for (; n < max; ++n) {
        VmRawGetI(vm, -1, static_cast<int>(n));
        if (VmType(vm, -1) == VM_TNIL) {
            VmPop(vm, 1);
            break;
        }
        out[n] = FieldNumber(vm, -1, key);
        VmPop(vm, 1);
    }
    *count = n;
    VmPop(vm, 1);
    return true;
}

bool GetTableTransform(VmState* vm, int table, const char* key, double out[4], bool* found)
{
    if (!PushField(vm, table, key, found))
        return false;
    if (VmType(vm, -1) != VM_TTABLE)
        RaiseForField(vm, ERR_TABEXPECTED2, key);
    double matrix[4];
    for (int i = 0; i < 4; ++i) {
        VmRawGetI(vm, -1, i);
        int type = VmType(vm, -1);
        if (type == VM_TNIL)
            RaiseForField(vm, ERR_MISSINGPARAMTR, key);
        if (type != VM_TNUMBER)
            RaiseForField(vm, ERR_NUMTABLEARG, key);
        matrix[i] = VmGetNumber(vm, -1);
        VmPop(vm, 1);
    }
    std::memcpy(out, matrix, sizeof matrix);
    VmPop(vm, 1);
    return true;
}
