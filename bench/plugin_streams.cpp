// Costs of the plugin host: loading and unloading a plugin library, reading
// through a file adapter against reading a memory block directly, and
// emulated seeks on a stream that cannot seek. The test plugins come from
// the tests' build (tests/plugins_src beside this folder's build output).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/command_services.h"

namespace {

std::string PluginPath(const char* name)
{
    auto exe = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (exe.parent_path() / "tests" / "plugins_src" / (std::string(name) + ".qmp")).string();
}

bool LoadForBench(benchmark::State& state, const char* name)
{
    CoreTags.quietFlag = 1;
    PluginRecord* record = nullptr;
    uint32_t code = LoadPluginFile(PluginPath(name).c_str(), true, &record);
    if (code && code != PLUGIN_ALREADY_KNOWN) {
        state.SkipWithError("test plugins not built");
        return false;
    }
    return true;
}

void BM_LoadAndUnloadPlugin(benchmark::State& state)
{
    std::string path = PluginPath("extonly");
    for (auto _ : state) {
        uint32_t capabilities = 0;
        PluginNode* node = nullptr;
        if (OpenPluginLibrary(path.c_str(), &capabilities, &node)) {
            state.SkipWithError("test plugins not built");
            break;
        }
        UnloadPlugin(node);
    }
}
BENCHMARK(BM_LoadAndUnloadPlugin);

void ReadWhole(benchmark::State& state, StreamHandle* stream)
{
    char buffer[64];
    size_t total = 0;
    for (auto _ : state) {
        StreamSeek(stream, 0, STREAM_SEEK_BEGINNING);
        size_t n;
        while ((n = StreamRead(stream, buffer, sizeof buffer)) > 0)
            total += n;
        benchmark::DoNotOptimize(buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}

void BM_ReadThroughFileAdapter(benchmark::State& state)
{
    if (!LoadForBench(state, "memfile"))
        return;
    StreamHandle* stream = StreamOpen("mem:data.bin", STREAM_READ | STREAM_ADAPTERS);
    ReadWhole(state, stream);
    StreamClose(stream);
    FreeAllPlugins();
}
BENCHMARK(BM_ReadThroughFileAdapter);

void BM_ReadMemoryBlock(benchmark::State& state)
{
    std::vector<char> block(1000, 1);
    MemoryName name;
    MakeMemoryName(block.data(), block.size(), &name);
    StreamHandle* stream = StreamOpen(name.c_str(), STREAM_READ);
    ReadWhole(state, stream);
    StreamClose(stream);
}
BENCHMARK(BM_ReadMemoryBlock);

void BM_EmulatedSeekBackAndForth(benchmark::State& state)
{
    if (!LoadForBench(state, "memnoseek"))
        return;
    StreamHandle* stream = StreamOpen("mem:data.bin", STREAM_READ | STREAM_ADAPTERS | STREAM_SEEKEMULATION);
    for (auto _ : state) {
        benchmark::DoNotOptimize(StreamSeek(stream, 900, STREAM_SEEK_BEGINNING));
        benchmark::DoNotOptimize(StreamSeek(stream, 10, STREAM_SEEK_BEGINNING));
    }
    StreamClose(stream);
    FreeAllPlugins();
}
BENCHMARK(BM_EmulatedSeekBackAndForth);

} // namespace
