// The table of entry points in docs/plugins.md against the loader: for each
// capability, a plugin with every entry point the table lists loads, and a
// plugin that lacks any one of them is refused, naming it.
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "core/io/error_codes.h"
#include "core/plugins/plugin_loader.h"
#include "plugin_fixture.h"

namespace {

struct CapabilityRow {
    std::string name;  // PLUGINCAPS_...
    std::string bit;
    std::vector<std::string> entryPoints;
};

std::vector<CapabilityRow> ReadTable()
{
    std::ifstream page(QM_SOURCE_DIR "/docs/plugins.md");
    const std::regex row(R"(\| `(PLUGINCAPS_\w+)` \| (0x[0-9a-f]+) \| (.*) \|)");
    const std::regex entryPoint("`(\\w+)`");
    std::vector<CapabilityRow> rows;
    std::string line;
    std::smatch m;
    while (std::getline(page, line)) {
        if (!std::regex_match(line, m, row))
            continue;
        CapabilityRow r{m[1], m[2], {}};
        std::string names = m[3];
        for (std::sregex_iterator it(names.begin(), names.end(), entryPoint), end; it != end; ++it)
            r.entryPoints.push_back((*it)[1]);
        rows.push_back(r);
    }
    return rows;
}

// C source of a plugin of module `module` with the row's capability and a
// stub for each of its entry points but `left`. It does not compile when
// the header gives the capability another bit.
std::string StubSource(const CapabilityRow& row, const std::string& module, const std::string& left)
{
    std::string source = "#include \"quillmere/plugin_abi.h\"\n_Static_assert(" + row.name + " == " + row.bit +
                         ", \"the bit\");\n"
                         "int InitPlugin(PluginInfo* info, const PluginHostApi* host, const char* path)\n"
                         "{ (void)host, (void)path; info->capabilities = " + row.name +
                         "; info->modulename = \"" + module + "\"; return 1; }\n"
                         "void ClosePlugin(void) {}\n";
    for (const std::string& e : row.entryPoints)
        if (e != left)
            source += "long " + e + "(void) { return 0; }\n";
    return source;
}

using EntryPoints = PluginTest;

TEST_F(EntryPoints, EachCapabilityNeedsTheEntryPointsThePageLists)
{
    std::vector<CapabilityRow> rows = ReadTable();
    ASSERT_EQ(rows.size(), 18u) << "a row for each of the 18 capability bits";
    // Stub n is of the row of stubs[n] and lacks its entry point ("" for none).
    std::vector<std::pair<const CapabilityRow*, std::string>> stubs;
    for (const CapabilityRow& row : rows) {
        stubs.push_back({&row, ""});
        for (const std::string& e : row.entryPoints)
            stubs.push_back({&row, e});
    }
    for (size_t n = 0; n < stubs.size(); ++n) {
        std::string module = "stub" + std::to_string(n);
        std::ofstream(scratch.file(module + ".c")) << StubSource(*stubs[n].first, module, stubs[n].second);
    }
    std::string build = "cd '" + scratch.path() + "' && ls stub*.c | sed 's/\\.c$//' | xargs -P 4 -I@ cc -shared -fPIC -I '" +
                        QM_SOURCE_DIR "/include' -o @.qmp @.c";
    ASSERT_EQ(std::system(build.c_str()), 0);

    for (size_t n = 0; n < stubs.size(); ++n) {
        const std::string& missing = stubs[n].second;
        SCOPED_TRACE(stubs[n].first->name + " without " + (missing.empty() ? "nothing" : missing));
        SetErrorText("");
        uint32_t capabilities = 0;
        PluginNode* node = nullptr;
        std::string file = scratch.file("stub" + std::to_string(n) + ".qmp");
        uint32_t code = OpenPluginLibrary(file.c_str(), &capabilities, &node);
        EXPECT_EQ(code, missing.empty() ? 0u : uint32_t(ERR_PLUGINSYMBOL));
        EXPECT_EQ(errorArgText, missing);
        if (code == 0)
            UnloadPlugin(node);
    }
}

}  // namespace
