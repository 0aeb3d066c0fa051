// The image loader chain. A plugin is asked first, in the order of the
// image-loader list, when the loader list allows it; the host's decoders
// come last. A plugin that answers with an image but no pixels counts as
// failing, and the next loader is tried.
#include "core/plugins/image_loaders.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/virtual_names.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/loader_lists.h"
#include "core/plugins/plugin_loader.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/scale.h"
#include "media/image_codecs.h"
#include "media/image_files.h"
#include "platform/posix/os_memory.h"

const char* ImageLoaderCallerFileName = nullptr;

namespace {

template <typename F>
F Entry(QmProc proc)
{
    return reinterpret_cast<F>(proc);
}

void FreeHandleImage(ImageHandle* handle)
{
    if (handle->producer) {
        if (handle->image && !IsForeignCallForm(handle->producer))
            Entry<QmFreeImageFunc>(handle->producer->FreeImage)(handle->image);
    } else if (handle->wrapped) {
        if (handle->freeSource && handle->wrappedCallForm != QM_CALLFORM_FOREIGN)
            handle->freeSource(handle->image);
    } else if (handle->image) {
        FreeImageData(static_cast<ImageData*>(handle->image));
    }
    handle->image = nullptr;
}

// The size a request gives: 0 the image's own, negative a percentage of it
// (never less than one pixel).
int32_t RequestedSize(int32_t requested, int32_t size)
{
    if (requested == 0)
        return size;
    if (requested > 0)
        return requested;
    double scaled = static_cast<double>(-static_cast<int64_t>(requested)) / 100.0 * size;
    if (scaled >= 65535)
        return 65535;
    int32_t pixels = static_cast<int32_t>(scaled);
    return pixels < 1 ? 1 : pixels;
}

// The name an old "svgimage" plugin is given for a file inside the applet:
// the region and the real file's name part before the inner name.
bool IsOldSvgPlugin(const PluginInfo* info)
{
    return info->modulename && PluginNamesEqual(info->modulename, "svgimage") && info->version == 1 &&
           info->revision < 2;
}

std::string OldSvgChunkName(const char* file)
{
    ChunkNameParts parts{};
    if (!IsChunkName(file) || !ParseChunkName(file, &parts) || parts.isString)
        return file;
    std::string container(parts.file);
    size_t slash = container.find_last_of('/');
    std::string filePart = slash == std::string::npos ? container : container.substr(slash + 1);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, ":::chunk%lu:%lu*", static_cast<unsigned long>(parts.offset),
                  static_cast<unsigned long>(parts.size));
    return prefix + filePart + "/" + std::string(parts.displayName);
}

// Asks the plugins of the chain; true when one delivered a picture.
bool LoadThroughPlugins(const ImageLoadRequest& request, ImageHandle* handle, ImageLoadResult* r, bool* alphaOn,
                        bool* sizeMet)
{
    for (PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_IMAGE); node; node = node->next) {
        PluginInfo* info = node->info;
        if (!PluginPassesLoaderList(info, request.loaderList) || IsForeignCallForm(info))
            continue;
        QmLoadImageParams p{};
        p.renderFlags = request.wantTransparentPen ? 0x2 : 0;
        p.requestedWidth = request.width;
        p.requestedHeight = request.height;
        p.smooth = request.smooth ? 1 : 0;
        p.option = request.options[0];
        void* image;
        if (IsOldSvgPlugin(info) && IsChunkName(request.file)) {
            std::string name = OldSvgChunkName(request.file);
            ImageLoaderCallerFileName = request.file;
            image = Entry<QmLoadImageFunc>(info->LoadImage)(name.c_str(), &p);
            ImageLoaderCallerFileName = nullptr;
        } else {
            image = Entry<QmLoadImageFunc>(info->LoadImage)(request.file, &p);
        }
        if (!image)
            continue;
        uint32_t* pixels = Entry<QmGetImageFunc>(info->GetImage)(image, &p);
        if (!pixels || CheckImageSize(p.width, p.height)) {
            Entry<QmFreeImageFunc>(info->FreeImage)(image);
            continue;
        }
        handle->producer = info;
        handle->image = image;
        handle->pixels = pixels;
        r->width = p.width;
        r->height = p.height;
        r->rowLength = p.rowLength >= p.width ? p.rowLength : p.width;
        r->hasAlpha = p.hasAlpha != 0;
        if (p.vector == 1) {
            r->scalable = 1;
            bool rendered = p.renderFlags & 0x1;
            handle->sourceWidth = rendered ? p.sourceWidth : p.width;
            handle->sourceHeight = rendered ? p.sourceHeight : p.height;
            *sizeMet = rendered;
        }
        if (p.alphaOn)
            *alphaOn = true;
        r->loaderKind = 0;
        r->producer = info;
        return true;
    }
    return false;
}

// Scales the handle's pixels in software into its converted buffer, with
// coordinate tables of this call's own (the shared ones may be in use).
uint32_t ScaleInSoftware(ImageHandle* handle, const ImageLoadResult& r, int32_t width, int32_t height, bool smooth)
{
    auto* converted = static_cast<uint32_t*>(OsAllocMem(static_cast<size_t>(width) * height * 4, 0));
    size_t xBytes = static_cast<size_t>(width) * 4 + 4, yBytes = static_cast<size_t>(height) * 4 + 4;
    auto* xFraction = static_cast<int32_t*>(OsAllocMem(xBytes, 0));
    auto* xAdvance = static_cast<int32_t*>(OsAllocMem(xBytes, 0));
    auto* yFraction = static_cast<int32_t*>(OsAllocMem(yBytes, 0));
    auto* yAdvance = static_cast<int32_t*>(OsAllocMem(yBytes, 0));
    uint32_t error = converted && xFraction && xAdvance && yFraction && yAdvance ? 0u : uint32_t{ERR_MEM};
    if (!error) {
        ScaleParams p{};
        p.srcPixels = reinterpret_cast<const uint8_t*>(GetImageHandleData(handle));
        p.dstPixels = reinterpret_cast<uint8_t*>(converted);
        p.srcW = r.width;
        p.srcH = r.height;
        p.dstW = width;
        p.dstH = height;
        p.srcRowLength = r.rowLength;
        p.dstRowLength = width;
        p.smooth = smooth ? 1 : 0;
        p.format = PIXFMT_ARGB;
        p.bytesPerPixel = 4;
        p.xFraction = xFraction;
        p.xAdvance = xAdvance;
        p.yFraction = yFraction;
        p.yAdvance = yAdvance;
        ScalePixels(&p);
        OsFreeMem(handle->converted);
        handle->converted = converted;
        converted = nullptr;
    }
    OsFreeMem(converted);
    OsFreeMem(xFraction);
    OsFreeMem(xAdvance);
    OsFreeMem(yFraction);
    OsFreeMem(yAdvance);
    return error;
}

// Copies rows that a plugin handed over wider than the picture into the
// handle's converted buffer, so that every handle holds rows exactly as wide
// as its picture: the graphics cache and the copies made from it know only
// the picture's width.
uint32_t MakeRowsTight(ImageHandle* handle, ImageLoadResult* r)
{
    if (r->rowLength == r->width)
        return 0;
    size_t width = static_cast<size_t>(r->width), rowLength = static_cast<size_t>(r->rowLength);
    auto* tight = static_cast<uint32_t*>(OsAllocMem(width * static_cast<size_t>(r->height) * 4, 0));
    if (!tight)
        return ERR_MEM;
    const uint32_t* from = GetImageHandleData(handle);
    for (size_t y = 0; y < static_cast<size_t>(r->height); ++y)
        std::memcpy(tight + y * width, from + y * rowLength, width * 4);
    OsFreeMem(handle->converted);
    handle->converted = tight;
    r->rowLength = r->width;
    return 0;
}

}  // namespace

ImageHandle* CreateImageHandle(int32_t width, int32_t height)
{
    if (CheckImageSize(width, height))
        return nullptr;
    auto* handle = static_cast<ImageHandle*>(OsAllocMem(sizeof(ImageHandle), 1));
    if (!handle)
        return nullptr;
    handle->pixels = static_cast<uint32_t*>(OsAllocMem(static_cast<size_t>(width) * height * 4, 1));
    if (!handle->pixels) {
        OsFreeMem(handle);
        return nullptr;
    }
    handle->references = 1;
    handle->ownsPixels = 1;
    return handle;
}

ImageHandle* WrapImageHandle(void* source, ImageSourcePixelsFunc getPixels, ImageSourceFreeFunc freeSource,
                             ImageSourceTransformFunc transform, uint32_t callForm)
{
    auto* handle = static_cast<ImageHandle*>(OsAllocMem(sizeof(ImageHandle), 1));
    if (!handle)
        return nullptr;
    handle->image = source;
    handle->references = 1;
    handle->wrapped = 1;
    handle->wrappedCallForm = callForm;
    handle->getPixels = getPixels;
    handle->freeSource = freeSource;
    handle->transform = transform;
    if (getPixels && callForm != QM_CALLFORM_FOREIGN)
        handle->pixels = getPixels(source);
    return handle;
}

void RetainImageHandle(ImageHandle* handle)
{
    ++handle->references;
}

void ReleaseImageHandle(ImageHandle* handle)
{
    if (!handle || --handle->references > 0)
        return;
    FreeHandleImage(handle);
    if (handle->ownsPixels)
        OsFreeMem(handle->pixels);
    OsFreeMem(handle->converted);
    OsFreeMem(handle);
}

uint32_t* TakeDecodedPixels(ImageHandle* handle)
{
    if (handle->references != 1 || handle->producer || handle->wrapped || handle->converted || handle->ownsPixels ||
        !handle->image)
        return nullptr;
    auto* image = static_cast<ImageData*>(handle->image);
    if (image->pixels != handle->pixels)
        return nullptr;
    uint32_t* pixels = image->pixels;
    image->pixels = nullptr;
    handle->pixels = nullptr;
    return pixels;
}

uint32_t* GetImageHandleData(ImageHandle* handle)
{
    return handle->converted ? handle->converted : handle->pixels;
}

void GetImageHandleSize(const ImageHandle* handle, int32_t* width, int32_t* height)
{
    *width = handle->sourceWidth;
    *height = handle->sourceHeight;
}

const char* GetLoaderName(const PluginInfo* producer)
{
    if (!producer)
        return "inbuilt";
    if (reinterpret_cast<uintptr_t>(producer) == 1)
        return "native";
    return producer->modulename ? producer->modulename : "";
}

uint32_t RunPluginImageLoader(ImageHandle* handle, const QmImageTransform& transform, int32_t width,
                              int32_t height, uint32_t** outPixels, uint32_t* outHasAlpha)
{
    if (handle->producer) {
        PluginInfo* info = handle->producer;
        if (IsForeignCallForm(info) ||
            !Entry<QmTransformImageFunc>(info->TransformImage)(handle->image, &transform, width, height))
            return ERR_TFIMAGE;
        QmLoadImageParams p{};
        uint32_t* pixels = Entry<QmGetImageFunc>(info->GetImage)(handle->image, &p);
        if (!pixels)
            return ERR_TFIMAGE;
        *outPixels = pixels;
        *outHasAlpha = p.hasAlpha != 0;
        return 0;
    }
    if (handle->wrapped && handle->transform && handle->getPixels &&
        handle->wrappedCallForm != QM_CALLFORM_FOREIGN) {
        if (!handle->transform(handle->image, &transform, width, height))
            return ERR_TFIMAGE;
        uint32_t* pixels = handle->getPixels(handle->image);
        if (!pixels)
            return ERR_TFIMAGE;
        *outPixels = pixels;
        *outHasAlpha = 1;
        return 0;
    }
    return ERR_TFIMAGE;
}

namespace {

// Loads, scales and makes the alpha plane of the picture into the handle;
// 0 or an error code, the handle then the caller's to release.
uint32_t LoadIntoHandle(const ImageLoadRequest& request, ImageHandle* handle, ImageLoadResult* out)
{
    ImageLoadResult& r = *out;
    BuildLoaderChain(request.loaderList, PLUGINCAPS_IMAGE);
    bool alphaOn = request.alphaMode != IMAGEALPHA_OFF;
    bool pen = request.wantTransparentPen;
    bool sizeMet = false;
    if (!LoadThroughPlugins(request, handle, &r, &alphaOn, &sizeMet)) {
        ImageData* image = nullptr;
        HostImageInfo info{};
        uint32_t hostMode = pen ? HOSTIMAGE_TRANSPARENT_PEN : request.hostMode;
        if (uint32_t error = LoadImageFile(request.file, request.loaderList,
                                           static_cast<uint32_t>(request.options[0]), hostMode, &image,
                                           &r.loaderKind, &info))
            return error;
        handle->image = image;
        handle->pixels = GetImageDataPixels(image);
        r.width = r.rowLength = info.width;
        r.height = info.height;
        r.transparentColour = info.transparentColour;
        if (r.transparentColour == -2) {
            r.transparentColour = -1;
            r.hasAlpha = 1;
            alphaOn = true;
            pen = false;
        }
    }

    int32_t width = RequestedSize(request.width, r.width);
    int32_t height = RequestedSize(request.height, r.height);
    if (!sizeMet && (width != r.width || height != r.height)) {
        if (r.scalable) {
            QmImageTransform t{};
            t.matrix[0] = static_cast<double>(width) / r.width;
            t.matrix[3] = static_cast<double>(height) / r.height;
            uint32_t* pixels = nullptr;
            uint32_t hasAlpha = 0;
            if (uint32_t error = RunPluginImageLoader(handle, t, width, height, &pixels, &hasAlpha))
                return error;
            handle->pixels = pixels;
            r.hasAlpha = r.hasAlpha || hasAlpha;
        } else if (uint32_t error = ScaleInSoftware(handle, r, width, height, request.smooth)) {
            return error;
        }
        r.width = r.rowLength = width;
        r.height = height;
    }
    if (uint32_t error = MakeRowsTight(handle, &r))
        return error;

    if (alphaOn) {
        if (r.hasAlpha) {
            r.alpha = AllocAlphaBitMapFrom(GetImageHandleData(handle), r.width, r.height, r.rowLength);
            if (!r.alpha)
                return ERR_MEM;
        } else if (request.alphaMode != IMAGEALPHA_OPTIONAL) {
            SetErrorText(request.file);
            return ERR_NOALPHA;
        }
    }
    if (pen && !r.alpha && r.transparentColour == -1) {
        SetErrorText(request.file);
        return ERR_NOTRANSPARENCY;
    }
    return 0;
}

}  // namespace

uint32_t LoadImageViaLoaders(const ImageLoadRequest& request, ImageLoadResult* result)
{
    *result = ImageLoadResult{};
    auto* handle = static_cast<ImageHandle*>(OsAllocMem(sizeof(ImageHandle), 1));
    if (!handle)
        return ERR_MEM;
    handle->references = 1;
    ImageLoadResult r;
    if (uint32_t error = LoadIntoHandle(request, handle, &r)) {
        ReleaseImageHandle(handle);
        return error;
    }
    r.handle = handle;
    *result = r;
    return 0;
}

int ProbeImageLoaders(const char* file, const char* loaderList, int32_t option, ImageProbe* probe)
{
    *probe = ImageProbe{};
    for (PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_IMAGE); node; node = node->next) {
        PluginInfo* info = node->info;
        if (info->disabled || !IsLoaderAllowed(loaderList, info->modulename ? info->modulename : "", true) ||
            IsForeignCallForm(info))
            continue;
        QmLoadImageParams p{};
        p.option = option;
        if (!Entry<QmIsImageFunc>(info->IsImage)(file, &p))
            continue;
        probe->width = p.width;
        probe->height = p.height;
        probe->hasAlpha = p.hasAlpha != 0;
        probe->vector = p.vector == 1;
        probe->transparency = (p.renderFlags & 0x2) != 0;
        return 1;
    }
    HostImageInfo info{};
    if (LoadImageFile(file, loaderList, static_cast<uint32_t>(option), HOSTIMAGE_PROBE, nullptr, nullptr, &info))
        return 0;
    probe->width = info.width;
    probe->height = info.height;
    probe->hasAlpha = info.hasAlpha;
    probe->transparency = info.transparentColour >= 0;
    return 1;
}
