// The per-command costs of the core services: finding an object by id or by
// handle over the registered lists, and the argument check every handler
// makes.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/services/check_args.h"
#include "core/services/command_services.h"
#include "core/services/object_registry.h"
#include "core/vm/vm.h"

namespace {

struct Record {
    ObjectHeader header;
    int payload;
};

// `lists` lists of `perList` records each; every other record is a handle
// object. Answers the records (which must stay where they are).
std::vector<Record> MakeLists(int lists, int perList, std::vector<Record*>& heads)
{
    std::vector<Record> records(static_cast<size_t>(lists) * perList);
    heads.assign(lists, nullptr);
    for (int l = 0; l < lists; ++l) {
        for (int i = 0; i < perList; ++i) {
            Record& r = records[static_cast<size_t>(l) * perList + i];
            bool byHandle = i % 2;
            r.header = {static_cast<uint32_t>(l + 1), byHandle ? 0u : static_cast<uint32_t>(i),
                        byHandle ? reinterpret_cast<uintptr_t>(&r) : 0, nullptr,
                        i + 1 < perList ? &records[static_cast<size_t>(l) * perList + i + 1].header : nullptr};
        }
        heads[l] = &records[static_cast<size_t>(l) * perList];
    }
    for (Record*& head : heads)
        RegisterObjectList(&head);
    return records;
}

void BM_FindObjectById(benchmark::State& state)
{
    std::vector<Record*> heads;
    std::vector<Record> records = MakeLists(20, static_cast<int>(state.range(0)), heads);
    uint32_t lastId = static_cast<uint32_t>(state.range(0) - 2);  // the last numeric id of the last list
    for (auto _ : state)
        benchmark::DoNotOptimize(FindObjectOfType(20, MakeObjectId(lastId)));
    FreeCoreLists(nullptr);
}
BENCHMARK(BM_FindObjectById)->Arg(16)->Arg(256);

void BM_FindObjectByHandle(benchmark::State& state)
{
    std::vector<Record*> heads;
    std::vector<Record> records = MakeLists(20, static_cast<int>(state.range(0)), heads);
    uintptr_t handle = records.back().header.handle;
    for (auto _ : state)
        benchmark::DoNotOptimize(FindObjectOfType(20, MakeHandleId(handle)));
    FreeCoreLists(nullptr);
}
BENCHMARK(BM_FindObjectByHandle)->Arg(16)->Arg(256);

uint32_t Checked(VmState* vm)
{
    CheckArgs(vm, 1, 3, 6, 0);
    return 0;
}

void BM_CheckArgsInACommandCall(benchmark::State& state)
{
    VmState* vm = VmOpenState();
    for (auto _ : state) {
        VmPushNativeFunction(vm, Checked);
        VmPushNumber(vm, 1);
        VmPushNumber(vm, 2);
        VmCall(vm, 2, 0);
    }
    VmCloseState(vm);
}
BENCHMARK(BM_CheckArgsInACommandCall);

} // namespace
