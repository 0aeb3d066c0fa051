// The player's own command and constant tables, as its libraries register
// them: every library of the start-up table is opened in order in a VM of
// its own, and what each one added (its command table, its constants) is
// noted under its name. The assembler resolves "#NAME" through the opened
// VM and the command reference is generated from the notes, so both follow
// whatever the libraries register, with nothing copied by hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/vm/vm.h"

struct PlayerConstant {
    std::string name;  // upper case, as the libraries write them
    bool isText = false;
    double number = 0;
    std::string text;
};

struct PlayerCommand {
    std::string name;  // the spelling of the command table
    VmNativeFunction function = nullptr;
};

struct PlayerLibrary {
    std::string name;
    std::vector<PlayerCommand> commands;
    std::vector<PlayerConstant> constants;  // sorted by name
};

struct PlayerTables {
    VmState* vm = nullptr;
    std::vector<PlayerLibrary> libraries;
};

// 0 or the error code of the library that failed to open.
uint32_t OpenPlayerTables(PlayerTables* tables);
void ClosePlayerTables(PlayerTables* tables);

// A registered constant by name (any case); false when there is none.
bool FindPlayerConstant(const PlayerTables& tables, const std::string& name, PlayerConstant* out);
