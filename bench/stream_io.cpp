// Throughput of the stream layer's byte and block reads over a host file
// and a memory block, and of the container in both directions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/io/container.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"

namespace {

constexpr size_t kSize = 4 << 20;

std::vector<uint8_t> Data()
{
    std::vector<uint8_t> bytes(kSize);
    uint32_t x = 12345;
    for (size_t i = 0; i < kSize; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>((x >> 16) % 40 + 'a');  // compressible, not trivially
    }
    return bytes;
}

std::string TempPath(const char* tag)
{
    return std::string("/tmp/qmbench_") + tag + "_" + std::to_string(getpid());
}

std::string HostFile()
{
    static const std::string path = [] {
        std::string p = TempPath("plain");
        FILE* f = std::fopen(p.c_str(), "wb");
        std::vector<uint8_t> d = Data();
        std::fwrite(d.data(), 1, d.size(), f);
        std::fclose(f);
        return p;
    }();
    return path;
}

void ReadByBytes(benchmark::State& state, const std::string& name)
{
    for (auto _ : state) {
        StreamHandle* s = StreamOpen(name.c_str(), STREAM_READ);
        uint32_t sum = 0;
        int c;
        while ((c = StreamGetC(s)) != -1)
            sum += static_cast<uint32_t>(c);
        benchmark::DoNotOptimize(sum);
        StreamClose(s);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
}

void BM_GetCHostFile(benchmark::State& state)
{
    ReadByBytes(state, HostFile());
}
BENCHMARK(BM_GetCHostFile)->Unit(benchmark::kMillisecond);

void BM_GetCMemory(benchmark::State& state)
{
    static const std::vector<uint8_t> data = Data();
    char name[MEMORY_NAME_MAX];
    MakeMemoryName(data.data(), data.size(), name, sizeof name);
    ReadByBytes(state, name);
}
BENCHMARK(BM_GetCMemory)->Unit(benchmark::kMillisecond);

void BM_BlockReadHostFile(benchmark::State& state)
{
    std::vector<uint8_t> block(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        StreamHandle* s = StreamOpen(HostFile().c_str(), STREAM_READ);
        while (StreamRead(s, block.data(), block.size()) == block.size()) {
        }
        StreamClose(s);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
}
BENCHMARK(BM_BlockReadHostFile)->Arg(512)->Arg(16384)->Unit(benchmark::kMillisecond);

void BM_DeflateContainer(benchmark::State& state)
{
    std::string out = TempPath("packed");
    for (auto _ : state)
        DeflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, HostFile().c_str(), out.c_str(), nullptr, nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
    std::remove(out.c_str());
}
BENCHMARK(BM_DeflateContainer)->Unit(benchmark::kMillisecond);

void BM_InflateContainer(benchmark::State& state)
{
    std::string packed = TempPath("packed2");
    std::string out = TempPath("unpacked");
    DeflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, HostFile().c_str(), packed.c_str(), nullptr, nullptr);
    for (auto _ : state)
        InflateFileWithMagic(CONTAINER_MAGIC_PACKAGE, packed.c_str(), out.c_str(), nullptr, 0, nullptr, nullptr,
                             nullptr, 0);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
    std::remove(packed.c_str());
    std::remove(out.c_str());
}
BENCHMARK(BM_InflateContainer)->Unit(benchmark::kMillisecond);

} // namespace
