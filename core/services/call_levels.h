// The view of the VM's call stack that the error report needs: for each
// level (0 the running function, 1 its caller, ...; a tail call lost by a
// script level counts as a level of its own) the kind of function, its
// source, the name it was called under and its current line.
//
// A thin view over the VM's debug interface (VmGetStack, VmGetInfo "Sln").
#pragma once

#include <cstdint>

struct VmState;

struct CallLevel {
    const char* what;      // "Quillmere", "main", "C" or "tail"
    const char* source;    // the chunk's source name; "=[C]" and "=(tail call)" otherwise
    const char* name;      // null when unknown
    const char* nameWhat;  // "global", "local", "method", "field" or ""
    int32_t currentLine;   // -1 for natives and lost tail calls, 0 without line information
};

// False when the level does not exist.
bool GetCallLevel(VmState* vm, int level, CallLevel* out);
