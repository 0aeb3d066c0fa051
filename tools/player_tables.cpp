// Opening the player's libraries one by one and noting what each adds.
#include "tools/player_tables.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "core/io/error_codes.h"
#include "core/services/command_services.h"
#include "core/services/library_table.h"
#include "core/startup/applet.h"
#include "core/startup/run_records.h"
#include "core/vm/library_glue.h"
#include "platform/posix/os_memory.h"

namespace {

// The names now in registry "constants" (stored lower-cased).
std::vector<PlayerConstant> RegisteredConstants(VmState* vm)
{
    std::vector<PlayerConstant> out;
    VmPushCString(vm, "constants");
    VmRawGet(vm, VM_REGISTRYINDEX);
    int table = VmGetTop(vm);
    if (VmType(vm, table) == VM_TTABLE) {
        VmPushNil(vm);
        while (VmNext(vm, table)) {
            if (VmType(vm, -2) == VM_TSTRING) {
                PlayerConstant c;
                c.name = VmGetString(vm, -2);
                std::transform(c.name.begin(), c.name.end(), c.name.begin(),
                               [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
                c.isText = VmType(vm, -1) == VM_TSTRING;
                if (c.isText)
                    c.text = VmGetString(vm, -1);
                else
                    c.number = VmGetNumber(vm, -1);
                out.push_back(std::move(c));
            }
            VmPop(vm, 1);
        }
    }
    VmSetTop(vm, table - 1);
    return out;
}

// The start-up records the libraries read while opening; they live as long
// as the VM.
AppletInfo* probeApplet = nullptr;
CoreContext* probeContext = nullptr;

}  // namespace

uint32_t OpenPlayerTables(PlayerTables* tables)
{
    if (uint32_t error = InitCoreServices())
        return error;
    probeApplet = static_cast<AppletInfo*>(OsAllocMem(sizeof(AppletInfo), 1));
    probeContext = static_cast<CoreContext*>(OsAllocMem(sizeof(CoreContext), 1));
    tables->vm = VmOpenState();
    if (!probeApplet || !probeContext || !tables->vm)
        return ERR_MEM;
    probeApplet->versionMajor = 6;
    probeApplet->versionMinor = 1;
    VmState* vm = tables->vm;
    SetUpLibraryRegistry(probeApplet, vm, probeContext);
    std::set<std::string> seenConstants;
    const LibraryNode* seenLibrary = nullptr;
    for (const LibraryTableEntry& entry : LibraryTable) {
        if (uint32_t error = OpenLibrary(entry, vm))
            return error;
        PlayerLibrary library;
        library.name = entry.name;
        // The command tables this library appended to the list.
        const LibraryNode* node = seenLibrary ? seenLibrary->next : LibraryList;
        for (; node; node = node->next) {
            seenLibrary = node;
            for (const CommandTableEntry* c = node->commands; c && c->name; ++c)
                library.commands.push_back({c->name, c->function});
        }
        for (PlayerConstant& c : RegisteredConstants(vm)) {
            if (seenConstants.insert(c.name).second)
                library.constants.push_back(std::move(c));
        }
        std::sort(library.constants.begin(), library.constants.end(),
                  [](const PlayerConstant& a, const PlayerConstant& b) { return a.name < b.name; });
        tables->libraries.push_back(std::move(library));
    }
    return AddLibraryTagHandlers();
}

void ClosePlayerTables(PlayerTables* tables)
{
    if (tables->vm) {
        CloseAllLibraries(tables->vm);
        FreeCoreLists(tables->vm);
        VmCloseState(tables->vm);
        tables->vm = nullptr;
    }
    OsFreeMem(probeApplet);
    OsFreeMem(probeContext);
    probeApplet = nullptr;
    probeContext = nullptr;
    tables->libraries.clear();
}

bool FindPlayerConstant(const PlayerTables& tables, const std::string& name, PlayerConstant* out)
{
    double number = 0;
    const char* text = nullptr;
    if (!tables.vm || !VmFindConstant(tables.vm, name.c_str(), &number, &text))
        return false;
    out->name = name;
    out->isText = text != nullptr;
    out->number = number;
    out->text = text ? text : "";
    return true;
}
