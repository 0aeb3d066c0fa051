// Calling script functions by name from native code.
#include "core/services/script_calls.h"

#include "core/io/case_tables.h"
#include "core/vm/vm.h"

#include <string>

namespace {

void PushScriptArg(VmState* vm, const ScriptArg& arg)
{
    switch (arg.type) {
    case SCRIPTARG_INT: VmPushNumber(vm, static_cast<int32_t>(arg.number)); break;
    case SCRIPTARG_UNSIGNED: VmPushNumber(vm, static_cast<uint32_t>(arg.number)); break;
    case SCRIPTARG_STRING: VmPushString(vm, arg.text); break;
    case SCRIPTARG_REFERENCE: VmRawGetI(vm, VM_REGISTRYINDEX, static_cast<int>(arg.number)); break;
    case SCRIPTARG_OBJECTID:
        if (arg.objectId.handle)
            VmPushLightUserdata(vm, reinterpret_cast<void*>(arg.objectId.handle));
        else
            VmPushNumber(vm, arg.objectId.id);
        break;
    default: VmPushNil(vm); break;
    }
}

} // namespace

uint32_t CallScriptFunction(VmState* vm, const char* name, int nResults, int argCount, const ScriptArg* args)
{
    if (!vm)
        return 0;
    std::string lowered(name);
    for (char& c : lowered)
        c = static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(c)));
    VmPushLString(vm, lowered.data(), lowered.size());
    VmGetTable(vm, VM_GLOBALSINDEX);
    for (int i = 0; i < argCount; ++i)
        PushScriptArg(vm, args[i]);
    return VmCall(vm, argCount, nResults);
}

uint32_t CallScriptFunction(VmState* vm, const char* name, int nResults, std::initializer_list<ScriptArg> args)
{
    return CallScriptFunction(vm, name, nResults, static_cast<int>(args.size()), args.begin());
}
