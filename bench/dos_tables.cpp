// Table files: writing and reading a table of 100000 entries (numbers and
// short strings, one nested table per 100 entries) in the binary and the
// Base64 text form, through a host file in the temporary folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "core/io/stream.h"
#include "core/vm/vm.h"
#include "libs/dos/dos_library.h"
#include "platform/posix/os_env.h"

namespace {

constexpr int kEntries = 100000;

struct Fixture {
    VmState* vm = VmOpenState();
    std::string path;
    Fixture()
    {
        char name[4096];
        OsGetTempFileName(name, sizeof name);
        path = name;
        VmNewTableSized(vm, kEntries, 0);
        for (int i = 0; i < kEntries; ++i) {
            if (i % 100 == 0) {
                VmNewTable(vm);
                VmPushString(vm, "inner");
                VmPushNumber(vm, i);
                VmRawSet(vm, -3);
            } else if (i % 2) {
                VmPushString(vm, ("entry" + std::to_string(i)).c_str());
            } else {
                VmPushNumber(vm, i * 0.5);
            }
            VmRawSetI(vm, 1, i);
        }
    }
    ~Fixture()
    {
        unlink(path.c_str());
        VmCloseState(vm);
    }
    void Write(bool text)
    {
        StreamHandle* s = StreamOpen(path.c_str(), STREAM_WRITE);
        WriteTableToStream(vm, 1, s, text, false);
        StreamClose(s);
    }
};

void BM_WriteTable(benchmark::State& state)
{
    Fixture f;
    bool text = state.range(0) != 0;
    for (auto _ : state)
        f.Write(text);
}

void BM_ReadTable(benchmark::State& state)
{
    Fixture f;
    f.Write(state.range(0) != 0);
    for (auto _ : state) {
        StreamHandle* s = StreamOpen(f.path.c_str(), STREAM_READ);
        uint32_t code = ReadTableFromStream(f.vm, s);
        StreamClose(s);
        if (code)
            state.SkipWithError("read failed");
        VmSetTop(f.vm, 1);
    }
}

} // namespace

BENCHMARK(BM_WriteTable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
