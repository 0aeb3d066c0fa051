// The "string" library: its command table and registration.
#pragma once

#include "core/vm/library_glue.h"
#include "core/vm/vm.h"

// Every command, in registration order, ended by a null name.
extern const CommandTableEntry kStringCommands[];

// Registers the commands as global functions under their lower-cased names
// and records the library as "string"; 0 or ERR_MEM.
uint32_t OpenStringLibrary(VmState* vm);

// Handlers of the pattern commands and FormatStr (pattern_commands.cpp).
uint32_t CmdFormatStr(VmState* vm);
uint32_t CmdPatternFindStr(VmState* vm);
uint32_t CmdPatternFindStrDirect(VmState* vm);
uint32_t CmdPatternFindStrShort(VmState* vm);
uint32_t CmdPatternReplaceStr(VmState* vm);
