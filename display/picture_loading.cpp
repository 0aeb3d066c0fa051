// LoadBrush and LoadBGPic. The options that mean something here:
// "transparency" (a colour whose pixels become transparent through a mask),
// "loadtransparency" (the file's own transparent pen), "loadalpha" (the
// file's alpha channel, an error when it has none), "scalewidth" and
// "scaleheight" or "width" and "height" (the size to load at; negative
// values are percentages), "smoothscale" and "loader"; and from resource
// preloading "cache" (keep the picture in the graphics cache) and
// "cachedload" (take it from there when it is cached).
#include "display/picture_loading.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/plugins/image_loaders.h"
#include "core/services/check_args.h"
#include "core/services/option_tables.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/library_support.h"
#include "display/pictures.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/library/gfx_cache.h"

namespace {

// A picture within the size limits may still not fit in memory, while it
// is decoded or while its planes are made; that failure names the file like
// every other failure of a picture.
uint32_t NamePictureError(uint32_t error, const char* file)
{
    if (error != ERR_MEM && error != ERR_BITMAP && error != ERR_ALLOCMASK && error != ERR_ALLOCALPHA)
        return error;
    SetErrorText(file);
    return ERR_LOADPICTURE;
}

struct PictureLoad {
    MadeBitMaps planes{};
    int32_t width = 0;
    int32_t height = 0;
    int32_t transparentColour = -1;
    char loader[kLoaderNameSize] = "";
    ~PictureLoad() { FreeMadeBitMaps(&planes); }
};

// Reads the file at argument 2 with the options table at 3 into planes.
uint32_t LoadPicturePlanes(VmState* vm, PictureLoad* out)
{
    CheckArgs(vm, 2, 3, 0, 0);
    // A picture linked into the applet opens from there; the cache knows it
    // by that name too, so that a file on disk of the same name stays apart.
    const std::string name = GetFileNameArg(vm, 2);
    const char* file = name.c_str();
    ImageLoadRequest request;
    request.file = file;
    int32_t transparency = -1;
    bool cache = false, cachedLoad = false;
    char loader[1024] = "";
    if (VmType(vm, 3) == VM_TTABLE) {
        int32_t value = 0;
        uint32_t colour = 0;
        if (GetTableColor(vm, 3, "transparency", &colour))
            transparency = static_cast<int32_t>(colour & 0xFFFFFF);
        if (GetTableInt(vm, 3, "loadalpha", &value) && value)
            request.alphaMode = IMAGEALPHA_REQUIRED;
        if (GetTableInt(vm, 3, "loadtransparency", &value) && value)
            request.wantTransparentPen = true;
        GetTableInt(vm, 3, "width", &request.width);
        GetTableInt(vm, 3, "height", &request.height);
        GetTableIntOrPercent(vm, 3, "scalewidth", &request.width, true);
        GetTableIntOrPercent(vm, 3, "scaleheight", &request.height, true);
        if (GetTableInt(vm, 3, "smoothscale", &value))
            request.smooth = value != 0;
        if (GetTableString(vm, 3, "loader", loader, sizeof loader))
            request.loaderList = loader;
        cache = GetTableInt(vm, 3, "cache", &value) && value;
        cachedLoad = GetTableInt(vm, 3, "cachedload", &value) && value;
    }
    ImageLoadResult loaded;
    bool fromCache = cachedLoad && LoadCachedImage(file, &loaded) == 0;
    if (!fromCache) {
        if (uint32_t error = LoadImageViaLoaders(request, &loaded))
            return NamePictureError(error, file);
    }
    if (cache && !fromCache) {
        if (uint32_t error = AddGfxCacheEntry(file, loaded.width, loaded.height,
                                              static_cast<uint32_t>(loaded.transparentColour), loaded.handle,
                                              loaded.alpha, 0);
            error && error != ERR_CACHEERROR) {
            ReleaseImageHandle(loaded.handle);
            if (loaded.alpha)
                FreePlaneBitMap(loaded.alpha);
            return NamePictureError(error, file);
        }
    }
    int32_t colour = transparency >= 0 ? transparency : request.wantTransparentPen ? loaded.transparentColour : -1;
    BitMapHandle** mask = colour >= 0 ? &out->planes.mask : nullptr;
    // A picture decoded for this brush alone becomes its bitmap as it is:
    // a copy would hold the picture twice while it is made.
    uint32_t* taken = nullptr;
    if (!cache && !fromCache && loaded.rowLength == loaded.width && CanAdoptArgbPixels(loaded.width, loaded.height))
        taken = TakeDecodedPixels(loaded.handle);
    uint32_t error =
        taken ? CreateBitMapTakingArgb(taken, colour, loaded.width, loaded.height, &out->planes.bitmap, mask)
              : CreateBitMapFromArgb(GetImageHandleData(loaded.handle), colour, loaded.width, loaded.height,
                                     loaded.rowLength, 0, 0, nullptr, &out->planes.bitmap, mask, nullptr);
    ReleaseImageHandle(loaded.handle);
    out->planes.alpha = loaded.alpha;
    out->width = loaded.width;
    out->height = loaded.height;
    out->transparentColour = colour;
    std::snprintf(out->loader, sizeof out->loader, "%s", GetLoaderName(loaded.producer));
    return NamePictureError(error, file);
}

// Loads the planes and hands them to the record maker (AddBrush or
// AddBGPic), which owns them from then on, also when it fails.
template <typename Record, typename AddRecord>
uint32_t LoadPictureRecord(VmState* vm, AddRecord add)
{
    CreateIdArg id = GetCreateIdArg(vm, 1);
    PictureLoad load;
    if (uint32_t error = LoadPicturePlanes(vm, &load))
        return error;
    Record* record = nullptr;
    MadeBitMaps& made = load.planes;
    uint32_t error = add(vm, id.id, id.newHandle, made.bitmap, made.mask, made.alpha, load.width, load.height,
                         &record);
    made = MadeBitMaps{};
    if (error)
        return error;
    if (load.transparentColour >= 0)
        record->transparentColour = static_cast<uint32_t>(load.transparentColour);
    std::memcpy(record->loader, load.loader, sizeof record->loader);
    if (!id.newHandle)
        return 0;
    VmPushLightUserdata(vm, record);
    return 1;
}

}  // namespace

uint32_t CmdLoadBrush(VmState* vm)
{
    return LoadPictureRecord<Brush>(vm, AddBrush);
}

uint32_t CmdLoadBGPic(VmState* vm)
{
    return LoadPictureRecord<BGPic>(vm, AddBGPic);
}
