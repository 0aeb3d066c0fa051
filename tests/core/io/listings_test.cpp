// Listings read back from their files.
#include "core/io/listings.h"
#include "core/services/command_services.h"
#include "core/vm/vm.h"
#include "display/library_support.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace {

std::string ReadBack(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

uint32_t Nothing(VmState*) { return 0; }

const CommandTableEntry firstCommands[] = {{"Alpha", Nothing}, {"Beta%s", Nothing}, {nullptr, nullptr}};
const CommandTableEntry emptyCommands[] = {{nullptr, nullptr}};

} // namespace

TEST(Listings, LibrariesWithTheirCommandsInOrder)
{
    FreeCoreLists(nullptr);
    ASSERT_EQ(RegisterLibrary(firstCommands, "first"), 0u);
    ASSERT_EQ(RegisterLibrary(emptyCommands, std::string(100, 'e').c_str()), 0u);  // the name is cut to 63
    TempDir dir;
    std::string path = dir.file("library_listing.txt");
    WriteLibraryListing(path.c_str());
    FreeCoreLists(nullptr);
    EXPECT_EQ(ReadBack(path), "::first\n2\nAlpha\nBeta%s\n::" + std::string(63, 'e') + "\n0\n::end\n");

    path = dir.file("no_libraries.txt");
    WriteLibraryListing(path.c_str());
    EXPECT_EQ(ReadBack(path), "::end\n");
    // Unwritable files are skipped.
    path = dir.file("no/such/dir/listing.txt");
    WriteLibraryListing(path.c_str());
    WriteObjectTypeList(path.c_str());
    EXPECT_FALSE(FileExists(path));
}

TEST(Listings, ConstantsAreTheKeysOfTheRegistryTable)
{
    VmState* vm = VmOpenState();
    ASSERT_NE(vm, nullptr);
    VmPushString(vm, "constants");
    VmNewTable(vm);
    for (const char* name : {"#CENTER", "#BRUSH", "#LANGUAGE_GERMAN"}) {
        VmPushString(vm, name);
        VmPushNumber(vm, 1);
        VmRawSet(vm, -3);
    }
    VmPushNumber(vm, 7);
    VmPushNumber(vm, 1);
    VmRawSet(vm, -3);
    VmRawSet(vm, VM_REGISTRYINDEX);

    TempDir dir;
    std::string path = dir.file("constants_listing.txt");
    WriteConstantsList(vm, path.c_str());
    EXPECT_EQ(VmGetTop(vm), 0);
    VmCloseState(vm);

    std::set<std::string> lines;
    std::stringstream text(ReadBack(path));
    for (std::string line; std::getline(text, line);)
        lines.insert(line);
    EXPECT_EQ(lines, (std::set<std::string>{"#CENTER", "#BRUSH", "#LANGUAGE_GERMAN"}));
}
