// Table 3's image slots over the host image loader.
#include "core/plugins/host_images.h"

#include <cstring>

#include "core/plugins/host_runtime.h"
#include "media/image_codecs.h"
#include "media/image_files.h"
#include "platform/posix/os_memory.h"

int HostOpenImageFile(const char* file, void** outImage, int32_t* outWidth, int32_t* outHeight,
                      int32_t* outHasAlpha)
{
    ImageData* image = nullptr;
    HostImageInfo info{};
    if (!file || LoadImageFile(file, nullptr, 0, HOSTIMAGE_LOAD, &image, nullptr, &info))
        return 0;
    if (outImage)
        *outImage = image;
    else
        FreeImageData(image);
    if (outWidth)
        *outWidth = info.width;
    if (outHeight)
        *outHeight = info.height;
    if (outHasAlpha)
        *outHasAlpha = static_cast<int32_t>(info.hasAlpha);
    return 1;
}

uint32_t* HostLoadImageArgb(const char* file, QmTagItem* tags, int32_t* outWidth, int32_t* outHeight,
                            int32_t* outHasAlpha)
{
    bool keepArgb = HostTagValue(tags, 1, 0) != 0;
    ImageData* image = nullptr;
    HostImageInfo info{};
    if (!file || LoadImageFile(file, nullptr, 0, HOSTIMAGE_LOAD, &image, nullptr, &info))
        return nullptr;
    size_t count = static_cast<size_t>(info.width) * info.height;
    auto* pixels = static_cast<uint32_t*>(OsAllocMem(count * 4, 0));
    if (pixels) {
        std::memcpy(pixels, image->pixels, count * 4);
        if (!keepArgb) {
            uint32_t opaque = info.hasAlpha ? 0 : 0xFF000000u;
            for (size_t i = 0; i < count; ++i) {
                uint32_t p = pixels[i];
                pixels[i] = (p & 0xFF00FF00u) | ((p >> 16) & 0xFF) | ((p & 0xFF) << 16) | opaque;
            }
        }
        if (outWidth)
            *outWidth = info.width;
        if (outHeight)
            *outHeight = info.height;
        if (outHasAlpha)
            *outHasAlpha = static_cast<int32_t>(info.hasAlpha);
    }
    FreeImageData(image);
    return pixels;
}

uint32_t* HostGetImagePixels(void* image)
{
    return image ? GetImageDataPixels(static_cast<ImageData*>(image)) : nullptr;
}

void HostFreeImageData(void* image)
{
    FreeImageData(static_cast<ImageData*>(image));
}
