// The graphics cache: pictures loaded once by name (during preloading) are
// shared by later loads of the same name, each entry holding one
// reference to the loaded image and a private copy of its alpha plane.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/plugins/image_loaders.h"

struct BitMapHandle;

// Names longer than this are not cached.
constexpr size_t kGfxCacheNameSize = 1024;

// Appends an entry; the image gets one more reference and the alpha plane
// (may be null) is copied. 0, ERR_MEM, or ERR_CACHEERROR for a name too
// long to cache.
uint32_t AddGfxCacheEntry(const char* name, int32_t width, int32_t height, uint32_t userWord, ImageHandle* image,
                          BitMapHandle* alpha, uint32_t flags);

// The first entry of that name (case-insensitive); with wantAlpha it must
// have an alpha plane, of which a new copy is handed out. The image gets
// one more reference for the caller. ERR_CACHEERROR when there is none.
uint32_t FindGfxCacheEntry(const char* name, bool wantAlpha, int32_t* width, int32_t* height, uint32_t* userWord,
                           ImageHandle** image, BitMapHandle** alphaCopy, uint32_t* flags);

// The picture cached under the name as a load of it answers: its image
// (one more reference), a new copy of its alpha plane when it has one, its
// size and transparent colour, and the plugin that made it. 0, or
// ERR_CACHEERROR when the name is not cached.
uint32_t LoadCachedImage(const char* name, ImageLoadResult* loaded);

// Releases every entry (after preloading and at shutdown).
void FreeGfxCache();
