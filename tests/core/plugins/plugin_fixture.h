// What the plugin tests share: where the test plugins are, the log of their
// calls, and a fixture that leaves no plugin loaded behind.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/io/errors.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/command_services.h"
#include "support/temp_dir.h"

// The folder of the test plugins, beside the test executable.
inline std::string PluginDir()
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "plugins_src").string();
}

inline std::string PluginPath(const std::string& file)
{
    return PluginDir() + "/" + file + ".qmp";
}

// How often word occurs in text.
inline size_t Count(const std::string& text, const std::string& word)
{
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logPath = scratch.file("calls.log");
        setenv("QM_TEST_PLUGIN_LOG", logPath.c_str(), 1);
        CoreTags.quietFlag = 1;
        SetErrorText("");
    }
    void TearDown() override
    {
        FreeAllPlugins();
        unsetenv("QM_TEST_PLUGIN_LOG");
        CoreTags.quietFlag = 0;
    }

    // The calls the plugins logged so far, one per line.
    std::string Log() const
    {
        std::ifstream in(logPath);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Loads a test plugin as the script's LoadPlugin does; 0 or the code.
    uint32_t Load(const std::string& file, PluginRecord** out = nullptr)
    {
        PluginRecord* record = nullptr;
        uint32_t code = LoadPluginFile(PluginPath(file).c_str(), true, &record);
        if (out)
            *out = record;
        return code;
    }

    TempDir scratch;
    std::string logPath;
};
