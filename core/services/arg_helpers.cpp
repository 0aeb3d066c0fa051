// Arguments with more than one form.
#include "core/services/arg_helpers.h"

#include "core/io/errors.h"
#include "core/io/number_conv.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"

#include <cstring>

namespace {

[[noreturn]] void RaiseForArgument(VmState* vm, uint32_t code, int index)
{
    SetErrorArgNumber(index);
    VmRaiseError(vm, code);
}

} // namespace

ObjectId GetObjectIdArg(VmState* vm, int index)
{
    if (VmType(vm, index) == VM_TLIGHTUSERDATA)
        return MakeHandleId(reinterpret_cast<uintptr_t>(VmGetUserdata(vm, index)));
    return MakeObjectId(static_cast<uint32_t>(VmCheckInteger(vm, index)));
}

void PushObjectId(VmState* vm, ObjectId id)
{
    if (id.handle)
        VmPushLightUserdata(vm, reinterpret_cast<void*>(id.handle));
    else
        VmPushNumber(vm, id.id);
}

OptionalInt GetOptionalInt(VmState* vm, int index)
{
    int type = VmType(vm, index);
    if (type == VM_TNIL || type == VM_TNONE)
        return {0, true};
    return {VmCheckInteger(vm, index), false};
}

bool ParsePercentText(const char* text, bool allowAbove100, double* outValue, bool* outIsPercent)
{
    size_t length = std::strlen(text);
    size_t used = 0;
    ErrorCode error = ERR_NONE;
    double value = StringToNumber(text, length, &used, &error);
    if (error != ERR_NONE || used == 0)
        return false;
    bool isPercent = text[used] == '%';
    if (isPercent && (value < 0 || (value > 100 && !allowAbove100)))
        return false;
    *outValue = value;
    *outIsPercent = isPercent;
    return true;
}

double GetNumberOrPercent(VmState* vm, int index, double base, bool allowAbove100, bool* outIsPercent)
{
    if (outIsPercent)
        *outIsPercent = false;
    switch (VmType(vm, index)) {
    case VM_TNUMBER:
        return VmGetNumber(vm, index);
    case VM_TNIL:
    case VM_TNONE:
        return 0;
    case VM_TSTRING: {
        double value;
        bool isPercent;
        if (!ParsePercentText(VmGetString(vm, index), allowAbove100, &value, &isPercent))
            RaiseForArgument(vm, ERR_PERCENTFORMAT, index);
        if (!isPercent)
            return value;
        if (base != 0)
            return value * base / 100;
        if (outIsPercent)
            *outIsPercent = true;
        return value / 100;
    }
    default:
        RaiseForArgument(vm, ERR_STRORNUM, index);
    }
}
