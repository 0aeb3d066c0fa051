// Plugin libraries in the VM: commands under their base name in any case,
// constants in the user constants, and InitLibrary, RequirePlugin and the
// library list entry once however often a plugin is activated or required.
#include <cstring>

#include "core/io/error_codes.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "plugin_fixture.h"

namespace {

class RegistrationTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        VmHooks = {};
        vm = VmOpenState();
        ASSERT_NE(vm, nullptr);
    }
    void TearDown() override
    {
        FreePluginLibraries(vm);
        VmCloseState(vm);
        PluginTest::TearDown();
    }

    // Calls base.command(2, 3) from the globals; the number it answers.
    double CallAdd(const char* base, const char* command)
    {
        VmPushString(vm, base);
        VmGetTable(vm, VM_GLOBALSINDEX);
        EXPECT_EQ(VmType(vm, -1), VM_TTABLE);
        VmPushString(vm, command);
        VmGetTable(vm, -2);
        VmPushNumber(vm, 2);
        VmPushNumber(vm, 3);
        EXPECT_EQ(VmPCall(vm, 2, 1, 0), 0u);
        double result = VmGetNumber(vm, -1);
        VmSetTop(vm, 0);
        return result;
    }

    // registry.userconstants[name] as text or number.
    std::string UserConstant(const char* name)
    {
        VmPushString(vm, "userconstants");
        VmGetTable(vm, VM_REGISTRYINDEX);
        if (VmType(vm, -1) != VM_TTABLE) {
            VmSetTop(vm, 0);
            return "(no table)";
        }
        VmPushString(vm, name);
        VmGetTable(vm, -2);
        std::string value = VmType(vm, -1) == VM_TSTRING   ? VmGetString(vm, -1)
                            : VmType(vm, -1) == VM_TNUMBER ? std::to_string(VmGetNumber(vm, -1))
                                                           : "(absent)";
        VmSetTop(vm, 0);
        return value;
    }

    // The type of the global `base`, or of base[field] when it is a table.
    int GlobalType(const char* base, const char* field = nullptr)
    {
        VmPushString(vm, base);
        VmGetTable(vm, VM_GLOBALSINDEX);
        if (field && VmType(vm, -1) == VM_TTABLE) {
            VmPushString(vm, field);
            VmGetTable(vm, -2);
        }
        int type = VmType(vm, -1);
        VmSetTop(vm, 0);
        return type;
    }

    static int LibraryEntries(const char* name)
    {
        int n = 0;
        for (LibraryNode* node = LibraryList; node; node = node->next)
            n += std::strcmp(node->name, name) == 0;
        return n;
    }

    VmState* vm = nullptr;
};

TEST_F(RegistrationTest, ActivationRegistersCommandsAndConstantsOnce)
{
    PluginRecord* record = nullptr;
    ASSERT_EQ(Load("mathx", &record), 0u);
    int before = LibraryEntries("mathx");
    ASSERT_EQ(ActivatePlugin(vm, record), 0u);
    ASSERT_EQ(ActivatePlugin(vm, record), 0u);
    EXPECT_EQ(LibraryEntries("mathx"), before + 1);
    EXPECT_EQ(Count(Log(), "initlibrary mathx"), 1u);

    EXPECT_EQ(CallAdd("mathx", "add"), 5.0);
    EXPECT_EQ(GlobalType("mathx", "unused"), VM_TNIL);  // an entry without a function is skipped

    EXPECT_EQ(UserConstant("mathx_one"), std::to_string(1.0));
    EXPECT_EQ(UserConstant("mathx_name"), "mathx");
    EXPECT_EQ(UserConstant("MATHX_ONE"), "(absent)");

    // Requiring it does not register again; RequirePlugin runs once.
    EXPECT_EQ(FindOrLoadPlugin(vm, "mathx", 1, 0, false, false, nullptr, nullptr), 0u);
    EXPECT_EQ(FindOrLoadPlugin(vm, "mathx", 1, 2, false, false, nullptr, nullptr), 0u);
    EXPECT_EQ(LibraryEntries("mathx"), before + 1);
    EXPECT_EQ(Count(Log(), "require mathx"), 1u);
    EXPECT_NE(Log().find("require mathx 1.0\n"), std::string::npos);

    FreePluginLibraries(vm);
    EXPECT_EQ(Count(Log(), "freelibrary mathx"), 1u);
}

TEST_F(RegistrationTest, OnRequireLibrariesWaitForTheirFirstRequirement)
{
    PluginRecord* record = nullptr;
    ASSERT_EQ(Load("mathreq", &record), 0u);
    ASSERT_EQ(ActivatePlugin(vm, record), 0u);
    EXPECT_EQ(Count(Log(), "initlibrary"), 0u);
    EXPECT_EQ(GlobalType("mathreq"), VM_TNIL);

    // Constants only: no commands, no RequirePlugin.
    EXPECT_EQ(FindOrLoadPlugin(vm, "mathreq", 0, 0, true, false, nullptr, nullptr), 0u);
    EXPECT_EQ(UserConstant("mathx_one"), std::to_string(1.0));
    EXPECT_EQ(Count(Log(), "initlibrary"), 0u);
    EXPECT_EQ(Count(Log(), "require"), 0u);

    int before = LibraryEntries("mathreq");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(FindOrLoadPlugin(vm, "mathreq", 1, 4, false, false, nullptr, nullptr), 0u);
    EXPECT_EQ(LibraryEntries("mathreq"), before + 1);
    EXPECT_EQ(Count(Log(), "initlibrary mathreq"), 1u);
    EXPECT_EQ(Count(Log(), "require mathreq 1.4"), 1u);
    EXPECT_EQ(CallAdd("mathreq", "add"), 5.0);
}

TEST_F(RegistrationTest, ForeignFormsSaverFormatsAndStartupRequirements)
{
    PluginRecord* record = nullptr;
    ASSERT_EQ(Load("foreign", &record), 0u);
    PluginInfo* info = record->node->info;
    EXPECT_EQ(info->extensions[1], 0u);  // GetExtensions counts as answering 0
    ASSERT_EQ(ActivatePlugin(vm, record), 0u);
    EXPECT_EQ(FindOrLoadPlugin(vm, "foreign", 1, 0, false, false, nullptr, nullptr), 0u);
    EXPECT_EQ(GlobalType("foreign"), VM_TNIL);
    FreeAllPlugins();
    EXPECT_EQ(Log(), "init foreign\n");  // nothing after InitPlugin, not even ClosePlugin

    ASSERT_EQ(Load("mathx"), 0u);
    EXPECT_EQ(FindOrLoadPlugin(vm, "mathx", 0, 0, false, true, nullptr, nullptr), 0u);
    EXPECT_EQ(Count(Log(), "require"), 0u);

    // "saverback" reads the answer of its last format before it ends the list.
    for (const char* plugin : {"saver", "saverback"}) {
        SCOPED_TRACE(plugin);
        PluginRecord* record = nullptr;
        ASSERT_EQ(Load(plugin, &record), 0u);
        ASSERT_EQ(ActivatePlugin(vm, record), 0u);
        const QmSaverFormat* hooks = record->node->info->imageSaverFormats;
        ASSERT_NE(hooks, nullptr);
        std::vector<std::pair<uint32_t, std::string>> seen;
        for (int i = 0; i < 3; ++i)
            seen.emplace_back(hooks[i].formatId, hooks[i].name ? hooks[i].name : "(end)");
        EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, std::string>>{{7, "raw"}, {8, "hex"}, {0, "(end)"}}));
        EXPECT_EQ(UserConstant("imgfmt_raw"), std::to_string(7.0));
        EXPECT_EQ(UserConstant("imgfmt_hex"), std::to_string(8.0));
        ASSERT_EQ(ActivatePlugin(vm, record), 0u);
        EXPECT_EQ(record->node->info->imageSaverFormats, hooks);  // kept, not rebuilt
        FreePluginLibraries(vm);
        FreeAllPlugins();
    }
    // A saver that never ends its list is refused.
    record = nullptr;
    ASSERT_EQ(Load("saverendless", &record), 0u);
    EXPECT_EQ(ActivatePlugin(vm, record), static_cast<uint32_t>(ERR_LOADPLUGIN));
    EXPECT_EQ(record->node->info->imageSaverFormats, nullptr);

    ASSERT_EQ(Load("mathx"), 0u);
    char* savedPlugins = Startup.requirePlugins;
    char* savedTags = Startup.requireTags;
    char plugins[] = "MATHX\0";
    char tags[] = "other[x=1] mathx[quality=2, engine='free type', fast=true]";
    Startup.requirePlugins = plugins;
    Startup.requireTags = tags;
    uint32_t answer = 0;
    EXPECT_EQ(RequireStartupPlugins(vm, &answer), 0u);
    EXPECT_NE(Log().find("require mathx 0.0 quality=2 engine=free type fast=1\n"), std::string::npos) << Log();
    char malformed[] = "mathx[[[";
    Startup.requireTags = malformed;
    EXPECT_EQ(RequireStartupPlugins(vm, &answer), uint32_t{ERR_REQUIRETAGFMT});
    Startup.requirePlugins = savedPlugins;
    Startup.requireTags = savedTags;
}

} // namespace
