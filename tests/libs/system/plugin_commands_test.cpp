// Plugin commands with the test plugins built in the tree.
#include <filesystem>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/command_services.h"
#include "system_fixture.h"

namespace {

std::string TestPlugin(const std::string& file)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "plugins_src" / file).string();
}

class PluginCommands : public SystemLibraryTest {
protected:
    void SetUp() override
    {
        SystemLibraryTest::SetUp();
        CoreTags.quietFlag = 1;
    }
    void TearDown() override
    {
        FreeAllPlugins();
        CoreTags.quietFlag = 0;
        SystemLibraryTest::TearDown();
    }
};

TEST_F(PluginCommands, LoadAskAndCheckTheVersion)
{
    EXPECT_EQ(One("HavePlugin", {std::string("extonly")}), Value{0.0});
    ASSERT_EQ(Call("LoadPlugin", {TestPlugin("extonly")}), 0u);
    // The test plugins are version 1.4.
    const std::pair<std::vector<Value>, double> cases[] = {
        {{std::string("extonly")}, 1}, {{std::string("EXTONLY.qmp")}, 1}, {{std::string("extonly"), 1.0, 4.0}, 1},
        {{std::string("extonly"), 1.0, 5.0}, 0}, {{std::string("extonly"), 0.0, 9.0}, 1},
        {{std::string("extonly"), 2.0}, 0}, {{std::string("other")}, 0},
    };
    for (const auto& [args, have] : cases)
        EXPECT_EQ(One("HavePlugin", args), Value{have});
    EXPECT_EQ(Call("LoadPlugin", {TestPlugin("extonly")}), static_cast<uint32_t>(ERR_PLUGINDOUBLET));

    // Loading checks the version the options want.
    int options = NewTable();
    SetField(options, std::string("version"), 3.0);
    SetField(options, std::string("mode"), std::string("fast"));
    EXPECT_EQ(Call("LoadPlugin", {TestPlugin("mathx")}, nullptr, {}), 0u);
    FreeAllPlugins();
    int base = VmGetTop(vm);
    VmPushString(vm, TestPlugin("mathx").c_str());
    EXPECT_EQ(Call("LoadPlugin", {}, nullptr, {base + 1, options}), static_cast<uint32_t>(ERR_REQUIREPLUGIN));

    int bad = NewTable();
    SetField(bad, 1.0, std::string("x"));
    EXPECT_EQ(Call("LoadPlugin", {}, nullptr, {base + 1, bad}), static_cast<uint32_t>(ERR_WRONGUSAGE));
}

TEST_F(PluginCommands, PluginTableDescribesLoadedPlugins)
{
    ASSERT_EQ(Call("LoadPlugin", {TestPlugin("saver")}), 0u);
    int base;
    ASSERT_EQ(CallKeep("GetPlugins", {}, &base), 0u);
    int table = base + 1;
    int entry = PushField(table, 0.0);
    EXPECT_EQ(Field(entry, "modulename"), Value{std::string("saver")});
    EXPECT_EQ(Field(entry, "version"), Value{1.0});
    EXPECT_EQ(Field(entry, "author"), Value{std::string("Test author")});
    EXPECT_EQ(Field(entry, "disabled"), Value{0.0});
    EXPECT_EQ(Field(entry, "path"), Value{TestPlugin("saver.qmp")});
    int second = PushField(PushField(entry, std::string("filetypes")), 1.0);
    EXPECT_EQ(Field(second, "name"), Value{std::string("qmhex")});
    EXPECT_EQ(Field(second, "formatid"), Value{8.0});
    VmRawGetI(vm, table, 1);
    EXPECT_EQ(VmType(vm, -1), VM_TNIL);

    // An image saver's formats say whether they keep alpha.
    ASSERT_EQ(Call("LoadPlugin", {TestPlugin("images/procimage")}), 0u);
    ASSERT_EQ(CallKeep("GetPlugins", {}, &base), 0u);
    int procTypes = PushField(PushField(base + 1, 1.0), std::string("filetypes"));
    const std::pair<const char*, double> expected[2] = {{"procraw", 3}, {"procidx", 1}};
    for (int i = 0; i < 2; ++i) {
        int type = PushField(procTypes, double(i));
        EXPECT_EQ(Field(type, "name"), Value{std::string(expected[i].first)});
        EXPECT_EQ(Field(type, "type"), Value{0.0});
        EXPECT_EQ(Field(type, "flags"), Value{expected[i].second});
    }
    ASSERT_EQ(Call("DisablePlugin", {std::string("saver")}), 0u);
    ASSERT_EQ(CallKeep("GetPlugins", {}, &base), 0u);
    EXPECT_EQ(Field(PushField(base + 1, 0.0), "disabled"), Value{1.0});
    ASSERT_EQ(Call("EnablePlugin", {std::string("saver.qmp")}), 0u);
    EXPECT_EQ(Call("EnablePlugin", {std::string("none")}), static_cast<uint32_t>(ERR_FINDPLUGIN));
    EXPECT_STREQ(errorArgText, "none");
}

}  // namespace
