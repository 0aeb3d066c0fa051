// A VM with the "dos" library registered and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "core/services/command_services.h"
#include "libs/dos/dos_library.h"
#include "libs/library_fixture.h"
#include "support/oracles.h"
#include "support/temp_dir.h"

using namespace slotcalls;

class DosTest : public LibraryTest {
protected:
    void SetUp() override
    {
        OpenVm(RegisterDosLibrary);
        SetTags(nullptr, {{TAG_QUIET, 1}});
    }
    void TearDown() override
    {
        CleanupDosLibrary(vm);
        SetTags(nullptr, {{TAG_QUIET, 0}});
        VmCloseState(vm);
    }

    std::string Path(const std::string& name) const { return dir.file(name); }

    TempDir dir;
};

inline std::string BytesToString(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }
inline std::vector<uint8_t> StringToBytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Runs a shell command line; true when it exited with status 0.
inline bool RunShell(const std::string& line) { return std::system(line.c_str()) == 0; }
