// The graphics cache: a list in insertion order, searched from the head.
#include "gfx/library/gfx_cache.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/utilities.h"
#include "core/plugins/image_loaders.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "platform/posix/os_memory.h"

namespace {

struct GfxCacheEntry {
    GfxCacheEntry* next;
    char name[kGfxCacheNameSize];
    int32_t width;
    int32_t height;
    uint32_t userWord;
    uint32_t flags;
    ImageHandle* image;
    BitMapHandle* alpha;
};

GfxCacheEntry* cacheHead;
GfxCacheEntry* cacheTail;

uint32_t CopyAlpha(BitMapHandle* alpha, BitMapHandle** out)
{
    *out = nullptr;
    if (!alpha)
        return 0;
    uint32_t error = CopyBitMap(nullptr, nullptr, alpha, 0, 0, alpha->width, alpha->height, 0, nullptr, nullptr,
                                nullptr, nullptr, out);
    return error ? uint32_t{ERR_MEM} : 0u;
}

}  // namespace

uint32_t AddGfxCacheEntry(const char* name, int32_t width, int32_t height, uint32_t userWord, ImageHandle* image,
                          BitMapHandle* alpha, uint32_t flags)
{
    size_t length = std::strlen(name);
    if (length >= kGfxCacheNameSize)
        return ERR_CACHEERROR;
    auto* entry = static_cast<GfxCacheEntry*>(OsAllocMem(sizeof(GfxCacheEntry), 1));
    if (!entry)
        return ERR_MEM;
    if (CopyAlpha(alpha, &entry->alpha)) {
        OsFreeMem(entry);
        return ERR_MEM;
    }
    std::memcpy(entry->name, name, length + 1);
    entry->width = width;
    entry->height = height;
    entry->userWord = userWord;
    entry->flags = flags;
    entry->image = image;
    if (image)
        RetainImageHandle(image);
    if (cacheTail)
        cacheTail->next = entry;
    else
        cacheHead = entry;
    cacheTail = entry;
    return 0;
}

uint32_t FindGfxCacheEntry(const char* name, bool wantAlpha, int32_t* width, int32_t* height, uint32_t* userWord,
                           ImageHandle** image, BitMapHandle** alphaCopy, uint32_t* flags)
{
    for (GfxCacheEntry* entry = cacheHead; entry; entry = entry->next) {
        if (StrCaseCmp(entry->name, name) != 0)
            continue;
        if (wantAlpha && !entry->alpha)
            return ERR_CACHEERROR;
        BitMapHandle* copy = nullptr;
        if (wantAlpha && CopyAlpha(entry->alpha, &copy))
            return ERR_MEM;
        if (alphaCopy)
            *alphaCopy = copy;
        if (width)
            *width = entry->width;
        if (height)
            *height = entry->height;
        if (userWord)
            *userWord = entry->userWord;
        if (flags)
            *flags = entry->flags;
        if (image) {
            *image = entry->image;
            if (entry->image)
                RetainImageHandle(entry->image);
        }
        return 0;
    }
    return ERR_CACHEERROR;
}

uint32_t LoadCachedImage(const char* name, ImageLoadResult* loaded)
{
    *loaded = ImageLoadResult{};
    uint32_t colour = 0;
    if (FindGfxCacheEntry(name, true, &loaded->width, &loaded->height, &colour, &loaded->handle, &loaded->alpha,
                          nullptr) != 0 &&
        FindGfxCacheEntry(name, false, &loaded->width, &loaded->height, &colour, &loaded->handle, nullptr,
                          nullptr) != 0)
        return ERR_CACHEERROR;
    loaded->rowLength = loaded->width;
    loaded->transparentColour = static_cast<int32_t>(colour);
    // The plugin that decoded it is still the picture's loader.
    loaded->producer = loaded->handle ? loaded->handle->producer : nullptr;
    return 0;
}

void FreeGfxCache()
{
    while (GfxCacheEntry* entry = cacheHead) {
        cacheHead = entry->next;
        ReleaseImageHandle(entry->image);
        if (entry->alpha)
            FreePlaneBitMap(entry->alpha);
        OsFreeMem(entry);
    }
    cacheTail = nullptr;
}
