// The library table: the registry entries start-up makes, every library
// joining the list once, and exits that are safe without opening.
#include "core/services/library_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/services/command_services.h"
#include "core/startup/run_records.h"
#include "core/vm/vm.h"

namespace {

TEST(LibraryTable, OpenAllRegistersRecordsAndEveryLibrary)
{
    VmState* vm = VmOpenState();
    // Closing is safe before anything was opened, and twice.
    CloseAllLibraries(vm);
    CloseAllLibraries(vm);
    ASSERT_EQ(InitCoreServices(), 0u);
    CoreContext context{};
    AppletInfo applet{};
    ASSERT_EQ(OpenAllLibraries(&applet, vm, &context), 0u);
    EXPECT_EQ(VmGetTop(vm), 0);
    EXPECT_EQ(GetAppletInfo(vm), &applet);
    EXPECT_EQ(GetClargsTable(vm), &context);

    VmPushCString(vm, "_g");
    VmRawGet(vm, VM_GLOBALSINDEX);
    VmPushValue(vm, VM_GLOBALSINDEX);
    EXPECT_TRUE(VmCompareRawEqual(vm, -1, -2));
    VmSetTop(vm, 0);
    VmPushCString(vm, "inclevels");
    VmRawGet(vm, VM_REGISTRYINDEX);
    VmPushCString(vm, "count");
    VmRawGet(vm, -2);
    EXPECT_EQ(VmType(vm, -1), VM_TNUMBER);
    EXPECT_EQ(VmGetNumber(vm, -1), 0);
    VmSetTop(vm, 0);

    // Every library the table names has joined the library list once.
    std::vector<std::string> listed;
    for (LibraryNode* node = LibraryList; node; node = node->next)
        listed.emplace_back(node->name);
    for (const LibraryTableEntry& library : LibraryTable)
        EXPECT_EQ(std::count(listed.begin(), listed.end(), library.name), 1) << library.name;

    CloseAllLibraries(vm);
    FreeCoreLists(vm);
    VmCloseState(vm);
}

}  // namespace
