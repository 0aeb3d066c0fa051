// The process's clipboard: one block from the allocator holding a text (with
// a zero after it) or a picture's pixels, and the record that describes it.
// Only the script thread reaches it, as only script commands use it.
#include "platform/posix/os_clipboard.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"

namespace {

struct HeldClipboard {
    uint32_t type = OSCLIPBOARD_EMPTY;
    void* block = nullptr;
    OsClipboardRecord record{};
} held;

}  // namespace

uint32_t OsSetClipboard(uint32_t type, const OsClipboardRecord* record)
{
    OsClipboardRecord copy{};
    size_t size;
    if (type == OSCLIPBOARD_TEXT) {
        size = record->textLength;
        copy.textLength = size;
    } else if (type == OSCLIPBOARD_IMAGE) {
        if (!record->pixels || record->width < 1 || record->height < 1)
            return ERR_BADDIMENSIONS;
        size_t count = static_cast<size_t>(record->width) * static_cast<size_t>(record->height);
        if (count > SIZE_MAX / sizeof(uint32_t))
            return ERR_MEM;
        size = count * sizeof(uint32_t);
        copy.width = record->width;
        copy.height = record->height;
        copy.alpha = record->alpha ? 1 : 0;
    } else {
        return ERR_CLIPFORMAT;
    }
    if (size == SIZE_MAX)
        return ERR_MEM;
    // One byte more keeps a text zero-terminated, and a copy of nothing valid.
    auto* block = static_cast<char*>(OsAllocMem(size + 1, 0));
    if (!block)
        return ERR_MEM;
    if (size)
        std::memcpy(block, type == OSCLIPBOARD_TEXT ? static_cast<const void*>(record->text) : record->pixels, size);
    block[size] = '\0';
    if (type == OSCLIPBOARD_TEXT)
        copy.text = block;
    else
        copy.pixels = reinterpret_cast<const uint32_t*>(block);
    OsClearClipboard();
    held.type = type;
    held.block = block;
    held.record = copy;
    return 0;
}

uint32_t OsGetClipboard(OsClipboardRecord* out, uint32_t* type)
{
    *out = held.record;
    *type = held.type;
    return 0;
}

uint32_t OsPeekClipboard(uint32_t* type)
{
    *type = held.type;
    return 0;
}

uint32_t OsClearClipboard()
{
    OsFreeMem(held.block);
    held = HeldClipboard{};
    return 0;
}
