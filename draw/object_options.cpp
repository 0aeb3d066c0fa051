// The shared object options. The table's fields belong to the drawing
// commands that read them; until those exist the reader accepts the table
// and leaves every field at the value it was given.
#include "draw/object_options.h"

#include <cstring>

#include "core/vm/library_glue.h"

void SetOptionDouble(uint32_t* block, int word, double value) { std::memcpy(block + word, &value, sizeof value); }

uint32_t ReadObjectOptions(VmState* vm, int index, uint32_t*, uint32_t*, uint32_t)
{
    VmCheckTable(vm, index);
    return 0;
}
