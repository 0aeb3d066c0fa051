// The plugin manager: folder scans with skip lists and recorded files,
// loading on demand, requirement by version, the listing and plugin array.
#include <algorithm>
#include <filesystem>

#include "core/io/error_codes.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/plugin_manager.h"
#include "plugin_fixture.h"

namespace fs = std::filesystem;

namespace {

class ManagerTest : public PluginTest {
protected:
    // Copies test plugins into a folder of their own.
    std::string Folder(const std::string& name, std::initializer_list<const char*> files)
    {
        std::string folder = scratch.file(name);
        fs::create_directories(folder);
        for (const char* file : files)
            fs::copy_file(PluginPath(file), folder + "/" + file + ".qmp");
        return folder;
    }

    // Each record's name, '+' when loaded, in name order (the host's folder
    // order is not sorted).
    static std::string Names()
    {
        std::vector<std::string> names;
        for (PluginRecord* r = PluginList; r; r = r->next)
            names.push_back(std::string(r->name) + (r->node ? "+" : "-"));
        std::sort(names.begin(), names.end());
        std::string text;
        for (const std::string& name : names)
            text += (text.empty() ? "" : " ") + name;
        return text;
    }

    static PluginRecord* Find(const char* name)
    {
        for (PluginRecord* r = PluginList; r; r = r->next)
            if (PluginNamesEqual(r->name, name))
                return r;
        return nullptr;
    }
};

// Skip lists are zero-separated names ended by an empty one.
std::string SkipList(std::initializer_list<const char*> names)
{
    std::string list;
    for (const char* name : names) {
        list += name;
        list += '\0';
    }
    list += '\0';
    return list;
}

TEST_F(ManagerTest, ScanLoadsRecordsSkipsAndPassesOverDoublesAndFailedFiles)
{
    struct Case {
        const char* label;
        std::string skip;
        const char* expected;
    };
    const Case cases[] = {
        {"no skip list", "", "abc.qmp- abcd.qmp+ extonly.qmp+"},
        {"skip all", SkipList({"*"}), "abc.qmp- abcd.qmp- extonly.qmp-"},
        {"skip without extension", SkipList({"extonly"}), "abc.qmp- abcd.qmp+ extonly.qmp-"},
        {"skip with extension, any case", SkipList({"nothing", "ABCD.QMP"}), "abc.qmp- abcd.qmp- extonly.qmp+"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string folder = Folder(std::string("scan") + std::to_string(&c - cases), {"abcd", "extonly", "_abc"});
        std::string program = folder + "/player";
        ASSERT_EQ(ScanPluginDirectories(program.c_str(), nullptr, c.skip.empty() ? nullptr : c.skip.data(), nullptr),
                  0u);
        EXPECT_EQ(Names(), c.expected);
        FreeAllPlugins();
    }
    // Counting only counts plugin files and loads nothing.
    std::string folder = Folder("count", {"abcd", "extonly", "_abc"});
    WriteFileBytes(folder + "/notes.txt", {1, 2, 3});
    fs::create_directories(folder + "/dir.qmp");
    uint32_t counter = 0;
    std::string program = folder + "/player";
    EXPECT_EQ(ScanPluginDirectories(program.c_str(), nullptr, nullptr, &counter), 0u);
    EXPECT_EQ(counter, 3u);
    EXPECT_EQ(PluginList, nullptr);

    std::string temp = Folder("temp", {"extonly"});
    program = Folder("prog", {"extonly", "abcd"}) + "/player";
    ASSERT_EQ(ScanPluginDirectories(program.c_str(), temp.c_str(), nullptr, nullptr), 0u);
    EXPECT_EQ(Names(), "abcd.qmp+ extonly.qmp+");
    EXPECT_EQ(std::string(Find("extonly.qmp")->path), temp + "/extonly.qmp");

    FreeAllPlugins();
    program = Folder("bad", {"wrongname", "extonly"}) + "/player";
    EXPECT_EQ(ScanPluginDirectories(program.c_str(), nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(Names(), "extonly.qmp+");
    FreeAllPlugins();

    program = Folder("progress", {"abcd", "extonly"}) + "/player";
    static int steps;
    steps = 0;
    auto step = []() -> uint32_t { return ++steps == 1 ? uint32_t(ERR_USERABORT) : 0u; };
    EXPECT_EQ(ScanPluginDirectories(program.c_str(), nullptr, nullptr, nullptr, step), uint32_t(ERR_USERABORT));
    EXPECT_EQ(steps, 1);
}

TEST_F(ManagerTest, LoadingByNameOnDemandAndByVersion)
{
    PluginRecord* first = nullptr;
    PluginRecord* again = nullptr;
    EXPECT_EQ(LoadPluginFile((PluginDir() + "/extonly").c_str(), true, &first), 0u);  // ".qmp" added
    EXPECT_EQ(LoadPluginFile(PluginPath("extonly").c_str(), true, &again), PLUGIN_ALREADY_KNOWN);
    EXPECT_EQ(first, again);
    EXPECT_EQ(Load("wrongname"), uint32_t(ERR_LOADPLUGIN));
    EXPECT_EQ(Find("wrongname.qmp"), nullptr);

    FreeAllPlugins();
    std::string program = Folder("ondemand", {"_abc", "extonly"}) + "/player";
    std::string skip = SkipList({"*"});
    ASSERT_EQ(ScanPluginDirectories(program.c_str(), nullptr, skip.data(), nullptr), 0u);
    EXPECT_EQ(Names(), "abc.qmp- extonly.qmp-");

    EXPECT_EQ(FindOrLoadPlugin(nullptr, "abc.qmp", 0, 0, false, false, nullptr, nullptr), 0u);
    EXPECT_NE(Find("abc.qmp")->node, nullptr);
    // A bare name that does not exist here loads the recorded file instead.
    PluginRecord* record = nullptr;
    EXPECT_EQ(LoadPluginFile("extonly", true, &record), 0u);
    EXPECT_EQ(record, Find("extonly.qmp"));
    EXPECT_NE(record->node, nullptr);

    struct Case {
        const char* name;
        int version, revision;
        uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {"extonly", 1, 4, 0, nullptr},
        {"EXTONLY.QMP", 1, 0, 0, nullptr},
        {"extonly", 1, 5, ERR_REQUIREPLUGIN, "extonly.qmp 1.5"},
        {"extonly", 2, 0, ERR_REQUIREPLUGIN, "extonly.qmp 2.0"},
        {"absent", 0, 0, ERR_REQUIREPLUGIN, "absent.qmp"},
        {"absent.qmp", 3, 1, ERR_REQUIREPLUGIN, "absent.qmp 3.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.version) + "." + std::to_string(c.revision));
        SetErrorText("");
        EXPECT_EQ(FindOrLoadPlugin(nullptr, c.name, c.version, c.revision, false, false, nullptr, nullptr), c.code);
        if (c.text) {
            EXPECT_STREQ(errorArgText, c.text);
        }
    }
}

TEST_F(ManagerTest, TheListingAndThePluginArrayShowLoadedPluginsAndFreeingUnloadsEachOnce)
{
    std::string listing = scratch.file("listing.txt");
    ASSERT_NE(DumpPluginInfo(listing.c_str()), 0);
    std::vector<uint8_t> empty = ReadFileBytes(listing);
    EXPECT_EQ(std::string(empty.begin(), empty.end()), "::end\n");

    ASSERT_EQ(Load("mathx"), 0u);
    ASSERT_EQ(Load("extonly"), 0u);
    std::string program = Folder("listing", {"_abc"}) + "/player";
    ASSERT_EQ(ScanPluginDirectories(program.c_str(), nullptr, nullptr, nullptr), 0u);  // recorded only
    ASSERT_NE(DumpPluginInfo(listing.c_str()), 0);
    std::vector<uint8_t> bytes = ReadFileBytes(listing);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "::plugin\n1.4\n0x00000402\nTest plugin mathx\nTest author\nPlugin for the host's tests\nnone\n\n"
              "07.12.2026\n\n\n"
              "::commands\nmathx.Add\nmathx.Fail\nmathx.Unused\nmathx.WriteCopy\n::constants\nMATHX_ONE\nMATHX_NAME\n"
              "::plugin\n1.4\n0x00020000\nTest plugin extonly\nTest author\nPlugin for the host's tests\nnone\n\n"
              "07.12.2026\n\n\n"
              "::end\n");
    EXPECT_EQ(DumpPluginInfo(scratch.file("missing/listing.txt").c_str()), 0);

    FreeAllPlugins();
    const PluginHostApi* host = GetPluginHostApi();
    EXPECT_EQ(host->pluginList->GetPluginArray(), nullptr);
    program = Folder("array", {"_abc"}) + "/player";
    ASSERT_EQ(ScanPluginDirectories(program.c_str(), nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(host->pluginList->GetPluginArray(), nullptr);
    PluginRecord* a = nullptr;
    PluginRecord* b = nullptr;
    ASSERT_EQ(Load("extonly", &a), 0u);
    ASSERT_EQ(Load("abcd", &b), 0u);
    QmPluginArrayEntry* array = host->pluginList->GetPluginArray();
    std::vector<PluginInfo*> infos;
    for (QmPluginArrayEntry* entry = array; entry; entry = entry->next)
        infos.push_back(entry->info);
    EXPECT_EQ(infos, (std::vector<PluginInfo*>{a->node->info, b->node->info}));
    host->pluginList->HostFreeMem(array);

    EXPECT_EQ(host->pluginList->SetPluginDisabled(a->node->info, 1), 1u);
    EXPECT_EQ(a->node->info->disabled, 1u);
    EXPECT_EQ(FindPluginByInfo(b->node->info), b);
    EXPECT_EQ(FindPluginByInfo(nullptr), nullptr);

    FreeAllPlugins();
    std::remove(logPath.c_str());
    ASSERT_EQ(Load("extonly"), 0u);
    ASSERT_EQ(Load("memfile"), 0u);
    FreeAllPlugins();
    EXPECT_EQ(PluginList, nullptr);
    EXPECT_EQ(GetPluginListForCapability(PLUGINCAPS_FILEADAPTER), nullptr);
    EXPECT_EQ(Count(Log(), "close extonly\n"), 1u);
    EXPECT_EQ(Count(Log(), "close memfile\n"), 1u);
}

} // namespace
