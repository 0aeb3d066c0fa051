// The host's image loader as plugins reach it through table 3: the inbuilt
// decoders, without the plugin loaders (a plugin asking the host must not
// be asked back).
#pragma once

#include <cstdint>

#include "quillmere/plugin_abi.h"

int HostOpenImageFile(const char* file, void** outImage, int32_t* outWidth, int32_t* outHeight,
                      int32_t* outHasAlpha);
uint32_t* HostLoadImageArgb(const char* file, QmTagItem* tags, int32_t* outWidth, int32_t* outHeight,
                            int32_t* outHasAlpha);
uint32_t* HostGetImagePixels(void* image);
void HostFreeImageData(void* image);
