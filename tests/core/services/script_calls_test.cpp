// Calling script-visible functions from native code, and listing objects.
#include "core/services/command_services.h"
#include "core/services/object_registry.h"
#include "core/services/script_calls.h"
#include "core/vm_fixture.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> seen;

// Describes each argument it is called with.
uint32_t Probe(VmState* vm)
{
    seen.clear();
    for (int i = 1; i <= VmGetTop(vm); ++i) {
        switch (VmType(vm, i)) {
        case VM_TNUMBER: seen.push_back("n" + std::to_string(static_cast<long long>(VmGetNumber(vm, i)))); break;
        case VM_TSTRING: seen.push_back(std::string("s") + VmGetString(vm, i)); break;
        case VM_TNIL: seen.push_back("nil"); break;
        case VM_TLIGHTUSERDATA:
            seen.push_back("h" + std::to_string(reinterpret_cast<uintptr_t>(VmGetUserdata(vm, i))));
            break;
        default: seen.push_back("?"); break;
        }
    }
    VmPushNumber(vm, 77);
    return 1;
}

using ScriptCalls = VmTest;

} // namespace

TEST_F(ScriptCalls, ArgumentsArePushedByTheirTypeAndErrorsComeBack)
{
    SetGlobal("probe", Probe);
    VmPushString(vm, "kept");
    VmRawSetI(vm, VM_REGISTRYINDEX, 50);

    uintptr_t handle = 0x1234;
    ASSERT_EQ(CallScriptFunction(vm, "PrObE", 1,
                                 {ScriptArgInt(-3), ScriptArgUnsigned(0xFFFFFFFFu), ScriptArgString("x"),
                                  ScriptArgNil(), ScriptArgReference(50), ScriptArgObject(MakeObjectId(8)),
                                  ScriptArgObject(MakeHandleId(handle))}),
              0u);
    EXPECT_EQ(seen, (std::vector<std::string>{"n-3", "n4294967295", "sx", "nil", "skept", "n8",
                                              "h" + std::to_string(handle)}));
    ASSERT_EQ(VmGetTop(vm), 1);
    EXPECT_EQ(VmGetNumber(vm, -1), 77);
    VmSetTop(vm, 0);

    EXPECT_EQ(CallScriptFunction(nullptr, "probe", 0, {}), 0u);

    // The call answers the callee's error code.
    SetGlobal("failing", [](VmState*) -> uint32_t { return 1178; });
    EXPECT_EQ(CallScriptFunction(vm, "Failing", 0, {}), 1178u);
}

TEST_F(ScriptCalls, ObjectsOfATypeAreListedFromZero)
{
    struct Record {
        ObjectHeader header;
    };
    Record a{}, b{}, c{};
    a.header = {OBJ_BRUSH, 4, 0, nullptr, &b.header};
    b.header = {OBJ_FILE, 4, 0, nullptr, &c.header};
    c.header = {OBJ_BRUSH, 0, reinterpret_cast<uintptr_t>(&c), nullptr, nullptr};
    Record* list = &a;
    ASSERT_EQ(RegisterObjectList(&list), 0u);

    VmNewTable(vm);
    EXPECT_EQ(PushObjectsOfType(vm, OBJ_BRUSH), 2u);
    VmRawGetI(vm, 1, 0);
    EXPECT_EQ(VmGetNumber(vm, -1), 4);
    VmRawGetI(vm, 1, 1);
    EXPECT_EQ(VmGetUserdata(vm, -1), &c);
    FreeCoreLists(vm);
}
