// ApplyPatch on a 4 MB file with a 2 MB patch (half the bytes patched, half
// complemented), with and without a progress callback, against a
// straightforward python3 program doing the same work on the same files in
// the same run. Compare the per-iteration times (or bytes per second); both
// sides are rated by the wall clock, as python3 times itself.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/python_peer.h"
#include "core/services/command_services.h"
#include "core/vm/vm.h"
#include "libs/dos/dos_library.h"

namespace {

constexpr size_t kSource = 4 << 20, kPatch = 2 << 20;

void WriteBytes(const std::string& path, size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(seed >> 16);
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

struct Files {
    std::string source = ScratchPath("patch_source"), patch = ScratchPath("patch_patch"),
                out = ScratchPath("patch_out");
    Files()
    {
        WriteBytes(source, kSource, 1);
        WriteBytes(patch, kPatch, 2);
    }
    ~Files()
    {
        for (const std::string* p : {&source, &patch, &out})
            std::remove(p->c_str());
    }
};

uint32_t Progress(VmState*) { return 0; }

// Calls a global command after push() has pushed its arguments; 0 or its
// error.
template <typename Push>
uint32_t Command(VmState* vm, const char* name, Push push)
{
    int top = VmGetTop(vm);
    VmPushString(vm, name);
    VmGetTable(vm, VM_GLOBALSINDEX);
    push();
    return VmPCall(vm, VmGetTop(vm) - top - 1, 0, 0);
}

uint32_t Open(VmState* vm, double id, const std::string& path, double mode)
{
    return Command(vm, "openfile", [&] {
        VmPushNumber(vm, id);
        VmPushString(vm, path.c_str());
        VmPushNumber(vm, mode);
    });
}

void RunPatch(benchmark::State& state, bool callback)
{
    Files files;
    VmState* vm = VmOpenState();
    RegisterDosLibrary(vm);
    SetTags(nullptr, {{TAG_QUIET, 1}});
    for (auto _ : state) {
        uint32_t code = Open(vm, 1, files.source, MODE_READ) || Open(vm, 2, files.patch, MODE_READ) ||
                        Open(vm, 3, files.out, MODE_WRITE);
        if (!code)
            code = Command(vm, "applypatch", [&] {
                for (double id : {1.0, 2.0, 3.0})
                    VmPushNumber(vm, id);
                if (callback)
                    VmPushNativeFunction(vm, Progress);
            });
        for (double id : {1.0, 2.0, 3.0})
            Command(vm, "closefile", [&] { VmPushNumber(vm, id); });
        if (code) {
            state.SkipWithError("ApplyPatch failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSource));
    CleanupDosLibrary(vm);
    VmCloseState(vm);
}

void BM_ApplyPatch(benchmark::State& state) { RunPatch(state, false); }
void BM_ApplyPatchWithProgress(benchmark::State& state) { RunPatch(state, true); }

void BM_ApplyPatch_Python(benchmark::State& state)
{
    Files files;
    std::string program = "src = open('" + files.source + "', 'rb').read()\n"
                          "pat = open('" + files.patch + "', 'rb').read()\n"
                          "n = len(pat)\n"
                          "out = bytearray(len(src))\n"
                          "for i in range(len(src)):\n"
                          "    out[i] = src[i] ^ pat[i] if i < n else src[i] ^ 0xFF\n"
                          "open('" + files.out + "', 'wb').write(out)\n";
    RunPython(state, program.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSource));
}

}  // namespace

BENCHMARK(BM_ApplyPatch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ApplyPatchWithProgress)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ApplyPatch_Python)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
