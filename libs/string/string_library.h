// The "string" library: its command table and registration.
#pragma once

#include "core/vm/vm.h"

struct StringCommand {
    const char* name;
    VmNativeFunction function;
};

// Every command, in registration order, ended by a null name.
extern const StringCommand kStringCommands[];

// Registers the commands as global functions under their lower-cased names.
// Returns 0.
uint32_t OpenStringLibrary(VmState* vm);

// Handlers of the pattern commands and FormatStr (pattern_commands.cpp).
uint32_t CmdFormatStr(VmState* vm);
uint32_t CmdPatternFindStr(VmState* vm);
uint32_t CmdPatternFindStrDirect(VmState* vm);
uint32_t CmdPatternFindStrShort(VmState* vm);
uint32_t CmdPatternReplaceStr(VmState* vm);
