// Message building and CRC-32: how the runtime's error texts are filled and
// how its table-driven CRC compares with zlib's.
#include "core/io/errors.h"
#include "core/io/messages.h"
#include "core/io/utilities.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <vector>

static void BM_GetErrorTextFileName(benchmark::State& state)
{
    SetErrorText(":::chunk4096:1000*pictures/holiday/pic.png?/opt/app/program");
    char out[ERROR_MESSAGE_SIZE];
    for (auto _ : state) {
        SetErrorText("/home/user/pictures/holiday/pic.png");
        GetErrorText(ERR_READFILE, out, sizeof out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_GetErrorTextFileName);

static void BM_GetErrorTextNumber(benchmark::State& state)
{
    SetErrorArgNumber(1234);
    char out[ERROR_MESSAGE_SIZE];
    for (auto _ : state) {
        GetErrorText(ERR_FINDFILE, out, sizeof out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_GetErrorTextNumber);

static void BM_CalcCrc32(benchmark::State& state)
{
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
    for (auto _ : state)
        benchmark::DoNotOptimize(CalcCrc32(data.data(), static_cast<long>(data.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_CalcCrc32)->Arg(64)->Arg(65536);

static void BM_ZlibCrc32(benchmark::State& state)
{
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ZlibCrc32)->Arg(64)->Arg(65536);
