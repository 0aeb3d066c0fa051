// Listing writers over the library list, the constants table and the
// object type names. Names are data: they travel as "%s" arguments.
#include "core/io/listings.h"

#include <cstdio>

#include "core/io/stream.h"
#include "core/io/utilities.h"
#include "core/services/command_services.h"
#include "core/vm/vm.h"
#include "display/library_support.h"

namespace {

// Starts with the types scripts meet most, then the others by id.
constexpr const char* ObjectTypeNames[] = {
    "BGPIC",   "BRUSH",   "ANIM",     "SPRITE",    "SAMPLE",    "MUSIC",   "FILE",   "FONT",
    "TEXTOBJECT", "DISPLAY", "LAYER", "CLIPREGION", "POINTER", "ASYNCDRAW", "MEMORY", "INTERVAL",
    "TIMEOUT", "DIRECTORY", "VECTORPATH", "VIDEO", "TIMER",     "CLIENT",  "SERVER", "UDPOBJECT",
    "MENU",
};

void WriteLine(StreamHandle* stream, const char* text)
{
    StreamWriteString(stream, text);
    StreamWriteString(stream, "\n");
}

} // namespace

void WriteLibraryListing(const char* fileName)
{
    StreamHandle* stream = StreamOpen(fileName, STREAM_WRITE);
    if (!stream)
        return;
    for (const LibraryNode* library = LibraryList; library; library = library->next) {
        unsigned long count = 0;
        for (const CommandTableEntry* entry = library->commands; entry && entry->name; ++entry)
            ++count;
        char line[96];
        std::snprintf(line, sizeof line, "::%s", library->name);
        WriteLine(stream, line);
        std::snprintf(line, sizeof line, "%lu", count);
        WriteLine(stream, line);
        for (const CommandTableEntry* entry = library->commands; entry && entry->name; ++entry)
            WriteLine(stream, entry->name);
    }
    WriteLine(stream, "::end");
    StreamClose(stream);
}

void WriteConstantsList(VmState* vm, const char* fileName)
{
    StreamHandle* stream = StreamOpen(fileName, STREAM_WRITE);
    if (!stream)
        return;
    int top = VmGetTop(vm);
    VmPushString(vm, "constants");
    VmRawGet(vm, VM_REGISTRYINDEX);
    if (VmType(vm, -1) == VM_TTABLE) {
        VmPushNil(vm);
        while (VmNext(vm, -2)) {
            // Only string keys are names; reading a number key as a string
            // would change it in place and break the traversal.
            if (VmType(vm, -2) == VM_TSTRING)
                WriteLine(stream, VmGetString(vm, -2));
            VmPop(vm, 1);
        }
    }
    VmSetTop(vm, top);
    StreamClose(stream);
}

void WriteObjectTypeList(const char* fileName)
{
    StreamHandle* stream = StreamOpen(fileName, STREAM_WRITE);
    if (!stream)
        return;
    for (const char* name : ObjectTypeNames)
        WriteLine(stream, name);
    StreamClose(stream);
}
