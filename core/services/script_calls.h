// Calling a script function by name from native code.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "core/services/object_registry.h"

struct VmState;

enum ScriptArgType : uint32_t {
    SCRIPTARG_INT = 0,
    SCRIPTARG_UNSIGNED = 1,
    SCRIPTARG_STRING = 2,
    SCRIPTARG_NIL = 3,
    SCRIPTARG_REFERENCE = 4,  // a VM registry reference: its value is pushed
    SCRIPTARG_OBJECTID = 5,   // a light userdata for a handle, else the number
};

struct ScriptArg {
    uint32_t type;
    int64_t number;       // INT, UNSIGNED, REFERENCE
    const char* text;     // STRING
    ObjectId objectId;    // OBJECTID
};

inline ScriptArg ScriptArgInt(int32_t v) { return {SCRIPTARG_INT, v, nullptr, {}}; }
inline ScriptArg ScriptArgUnsigned(uint32_t v) { return {SCRIPTARG_UNSIGNED, v, nullptr, {}}; }
inline ScriptArg ScriptArgString(const char* s) { return {SCRIPTARG_STRING, 0, s, {}}; }
inline ScriptArg ScriptArgNil() { return {SCRIPTARG_NIL, 0, nullptr, {}}; }
inline ScriptArg ScriptArgReference(int32_t ref) { return {SCRIPTARG_REFERENCE, ref, nullptr, {}}; }
inline ScriptArg ScriptArgObject(ObjectId id) { return {SCRIPTARG_OBJECTID, 0, nullptr, id}; }

// Looks the lower-cased name up in the globals table, pushes the arguments
// and calls it with VmCall, leaving nResults results on the stack. Answers
// VmCall's result; a null vm does nothing and answers 0.
uint32_t CallScriptFunction(VmState* vm, const char* name, int nResults, int argCount, const ScriptArg* args);
uint32_t CallScriptFunction(VmState* vm, const char* name, int nResults, std::initializer_list<ScriptArg> args);
