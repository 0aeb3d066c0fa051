// The number-list reader of the brush commands.
#include "display/brush_args.h"

#include <cstdio>

#include "core/io/errors.h"
#include "core/vm/vm.h"

uint32_t ReadNumberList(VmState* vm, int index, WorkBuffer<double>* numbers, int32_t* count)
{
    VmCheckTable(vm, index);
    int32_t n = 0;
    for (;; ++n) {
        VmRawGetI(vm, index, n);
        bool end = VmType(vm, -1) == VM_TNIL;
        VmPop(vm, 1);
        if (end) break;
        if (n == INT32_MAX - 1) return ERR_ARGS;
    }
    if (n == 0) return ERR_ARGS;
    if (!numbers->Allocate(static_cast<size_t>(n))) return ERR_MEM;
    for (int32_t i = 0; i < n; ++i) {
        VmRawGetI(vm, index, i);
        bool number = VmIsNumber(vm, -1);
        if (number) (*numbers)[i] = VmCheckNumber(vm, -1);
        VmPop(vm, 1);
        if (!number) {
            char text[16];
            std::snprintf(text, sizeof text, "%d", i);
            SetErrorText(text);
            return ERR_NUMTABLEARG;
        }
    }
    *count = n;
    return 0;
}
