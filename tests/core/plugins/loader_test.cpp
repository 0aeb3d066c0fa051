// Loading single plugin files: the checks, entry points bound by capability,
// the loader lists a plugin enters, and the clean-up after every failure.
#include <cstring>

#include "core/io/error_codes.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/plugin_loader.h"
#include "plugin_fixture.h"

namespace {

using LoaderTest = PluginTest;

struct LoadCase {
    const char* file;
    uint32_t code;
    const char* errorText;  // null: not checked
    bool initRan;           // the plugin's InitPlugin ran and answered
};

const LoadCase kCases[] = {
    {"extonly", 0, nullptr, true},
    {"abcd", 0, nullptr, true},            // module ABCD in abcd.qmp
    {"_abc", 0, nullptr, true},            // a leading '_' before the module name
    {"_native", 0, nullptr, true},         // reserved, but matched through '_'
    {"wrongname", ERR_LOADPLUGIN, "wrongname.qmp", true},
    {"inbuilt", ERR_LOADPLUGIN, "inbuilt.qmp", true},
    {"newer", ERR_NEWQMPLUGIN, "6.2", true},
    {"newer7", ERR_NEWQMPLUGIN, "7.0", true},
    {"noinit", ERR_LOADPLUGIN, "noinit.qmp", false},
    {"noclose", ERR_LOADPLUGIN, "noclose.qmp", false},
    {"noinitsym", ERR_LOADPLUGIN, "noinitsym.qmp", false},
    {"nosymbol", ERR_PLUGINSYMBOL, "GetLibraryCount", true},
    {"unknowncaps", ERR_PLUGINTYPE, "40000", true},
    {"missing", ERR_LOADPLUGIN, "missing.qmp", false},
};

TEST_F(LoaderTest, EachCheckAnswersItsCodeAndEntryPointsFollowTheCapabilities)
{
    for (const LoadCase& c : kCases) {
        SCOPED_TRACE(c.file);
        std::remove(logPath.c_str());
        SetErrorText("");
        uint32_t capabilities = 0;
        PluginNode* node = nullptr;
        uint32_t code = OpenPluginLibrary(PluginPath(c.file).c_str(), &capabilities, &node);
        EXPECT_EQ(code, c.code);
        if (c.errorText) {
            EXPECT_STREQ(errorArgText, c.errorText);
        }
        size_t closes = Count(Log(), "close ");
        if (code == 0) {
            ASSERT_NE(node, nullptr);
            EXPECT_EQ(capabilities, node->info->capabilities);
            EXPECT_EQ(closes, 0u);
            UnloadPlugin(node);
            EXPECT_EQ(Count(Log(), "close "), 1u);
        } else {
            // ClosePlugin exactly once when InitPlugin succeeded, never otherwise.
            EXPECT_EQ(closes, c.initRan ? 1u : 0u);
        }
    }

    std::string path = scratch.file("garbage.qmp");
    WriteFileBytes(path, PatternBytes(4096));
    uint32_t capabilities = 0;
    PluginNode* node = nullptr;
    EXPECT_EQ(OpenPluginLibrary(path.c_str(), &capabilities, &node), uint32_t(ERR_LOADPLUGIN));
    EXPECT_STREQ(errorArgText, "garbage.qmp");
    EXPECT_EQ(node, nullptr);
    // leaky.qmp enters the file-adapter list in InitPlugin, then fails the
    // name check: its info block is freed, so no node may point at it.
    EXPECT_EQ(OpenPluginLibrary(PluginPath("leaky").c_str(), &capabilities, &node), uint32_t(ERR_LOADPLUGIN));
    EXPECT_EQ(GetPluginListForCapability(PLUGINCAPS_FILEADAPTER), nullptr);

    ASSERT_EQ(OpenPluginLibrary(PluginPath("memfile").c_str(), &capabilities, &node), 0u);
    // What other capabilities would bind stays unbound.
    PluginInfo* info = node->info;
    EXPECT_EQ(info->OpenDir, nullptr);
    EXPECT_EQ(info->GetExtensions, nullptr);
    EXPECT_EQ(info->GetCommands, nullptr);
    UnloadPlugin(node);

    ASSERT_EQ(OpenPluginLibrary(PluginPath("mathreq").c_str(), &capabilities, &node), 0u);
    info = node->info;
    EXPECT_EQ(info->extensions[1], uint32_t(QM_LIBEXT_ON_REQUIRE));
    EXPECT_EQ(info->extensions[10], 0u);  // the REQUIRE bit's word
    EXPECT_EQ(info->GetLibraryCount, nullptr);  // not asked for, so not bound
    UnloadPlugin(node);
    // Image loaders enter their list unless they are only to be named.
    PluginNode* byName = nullptr;
    PluginNode* byDefault = nullptr;
    ASSERT_EQ(OpenPluginLibrary(PluginPath("imgbyname").c_str(), &capabilities, &byName), 0u);
    ASSERT_EQ(OpenPluginLibrary(PluginPath("imgdefault").c_str(), &capabilities, &byDefault), 0u);
    EXPECT_FALSE(IsPluginInCapabilityList(byName->info, PLUGINCAPS_IMAGE));
    EXPECT_TRUE(IsPluginInCapabilityList(byDefault->info, PLUGINCAPS_IMAGE));
    UnloadPlugin(byDefault);
    EXPECT_EQ(GetPluginListForCapability(PLUGINCAPS_IMAGE), nullptr);
    UnloadPlugin(byName);

    PluginInfo a = {}, b = {};
    EXPECT_EQ(AddPluginToCapabilityList(&a, PLUGINCAPS_SOUND), 0);
    EXPECT_EQ(AddPluginToCapabilityList(&b, PLUGINCAPS_SOUND), 0);
    EXPECT_EQ(AddPluginToCapabilityList(&a, PLUGINCAPS_SOUND), 0);
    EXPECT_EQ(AddPluginToCapabilityList(&a, PLUGINCAPS_LIBRARY), int(ERR_WRONGUSAGE));
    std::vector<PluginInfo*> order;
    for (PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_SOUND); node; node = node->next)
        order.push_back(node->info);
    EXPECT_EQ(order, (std::vector<PluginInfo*>{&a, &b}));
    EXPECT_EQ(GetPluginListForCapability(PLUGINCAPS_LIBRARY), nullptr);
    RemovePluginFromCapabilityList(&a, PLUGINCAPS_SOUND);
    EXPECT_EQ(GetPluginListForCapability(PLUGINCAPS_SOUND)->info, &b);
    RemovePluginFromAllCapabilityLists(&b);
    EXPECT_EQ(GetPluginListForCapability(PLUGINCAPS_SOUND), nullptr);
}

} // namespace
