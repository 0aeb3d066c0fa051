// Anim records and the frame sets behind anims and sprites. Loading tries
// the anim loader plugins of the loader chain, then the inbuilt animated-GIF
// reader; a file that neither takes is loaded as a picture and cut into a
// strip ("frames" frames, "fpr" of them a row; one frame when not given).
// Everything a file says is bounded before it is allocated: frame counts,
// the strip's geometry, the decoded size of all frames together.
//
// Declarations that share a file (preloading's "cache" and "cachedload")
// read it once: a strip's picture goes through the graphics cache like a
// brush's; an anim file's frames are copied from the set loaded with
// "cache" while it lives, and read again only when it is gone.
//
// "skiploopframes" and "deinterlace" mean something only to formats that
// have loop frames or fields: the GIF reader always joins interlaced rows
// and has no loop frames, so they go to plugins as flags.
#include "display/anims.h"

#include <algorithm>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/utilities.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/image_loaders.h"
#include "core/plugins/loader_lists.h"
#include "core/services/check_args.h"
#include "core/services/option_tables.h"
#include "core/vm/error_hooks.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/layers.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "display/script_refs.h"
#include "display/sprites.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/bitmaps/copy_bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/blits/plane_ops.h"
#include "gfx/effects/pixel_kernels.h"
#include "gfx/library/gfx_cache.h"
#include "media/gif_anim.h"
#include "media/image_codecs.h"
#include "media/image_files.h"
#include "platform/posix/os_memory.h"

Anim* AnimList;

// The options that must agree for a load to share another's frames.
struct FrameSetShareKey {
    int64_t transparency;
    int32_t width, height;
    bool loadTransparency, loadAlpha, skipLoopFrames, deinterlace, smooth;
};

namespace {

// The most frames a set may have, and the most pixels all of its frames
// may hold together when they are decoded at once.
constexpr uint32_t kMaxFrames = 65535;
constexpr uint64_t kMaxDecodedPixels = uint64_t{1} << 28;

ObjectHeader** ListHead() { return reinterpret_cast<ObjectHeader**>(&AnimList); }

void FreeFramePlanes(AnimFrame* frame)
{
    MadeBitMaps planes{frame->bitmap, frame->mask, frame->alpha};
    FreeMadeBitMaps(&planes);
    frame->bitmap = frame->mask = frame->alpha = nullptr;
}

// The planes made for a frame become the frame's, unless making them
// failed: then they go.
uint32_t HandOverPlanes(uint32_t error, MadeBitMaps* made, AnimFrame* frame)
{
    if (error) {
        FreeMadeBitMaps(made);
        return error;
    }
    frame->bitmap = made->bitmap;
    frame->mask = made->mask;
    frame->alpha = made->alpha;
    return 0;
}

// A frame may hold a gigabyte: its planes are made a band of rows at a
// time, with a look at the abort flag before each, so that an abort is
// answered (ERR_USERABORT) within a band rather than after the whole frame.
constexpr int32_t kBandRows = 64;

template <typename BandWork>
uint32_t InBands(int32_t h, BandWork work)
{
    for (int32_t y = 0; y < h; y += kBandRows) {
        if (VmAbortFlag.load())
            return ERR_USERABORT;
        work(y, std::min(kBandRows, h - y));
    }
    return 0;
}

// The planes asked for, w x h. Their pages are mapped as the bands first
// write them, not all up front: mapping a gigabyte is a good part of the
// work of filling it, and no abort could come in while it lasts. What was
// made stays in made.
uint32_t AllocFramePlanes(MadeBitMaps* made, int32_t w, int32_t h, bool colour, bool mask, bool alpha)
{
    if (colour && !(made->bitmap = AllocColorBitMap(w, h, ALLOCBITMAP_ZEROED, nullptr)))
        return ERR_BITMAP;
    if (mask && !(made->mask = AllocMaskBitMap(made->bitmap, w, h, 1, nullptr, 0)))
        return ERR_ALLOCMASK;
    if (alpha && !(made->alpha = AllocAlphaBitMap(w, h, 0, nullptr, 0)))
        return ERR_ALLOCALPHA;
    return 0;
}

// Makes a frame's planes from w x h ARGB pixels with rows of rowLength.
// With `taken` (the pixels themselves, of rows of w, which CanAdoptArgbPixels
// allows) the colour plane takes them over instead of copying them: they
// are the frame's from then on, also when this fails.
uint32_t MakeFramePlanes(const FrameSet& set, const uint32_t* argb, int32_t rowLength, AnimFrame* frame,
                         uint32_t* taken = nullptr)
{
    const int32_t w = set.width, h = set.height;
    MadeBitMaps made{};
    if (taken && !(made.bitmap = AdoptArgbPixels(taken, w, h))) {
        OsFreeMem(taken);
        return ERR_BITMAP;
    }
    // A mask hides the pixels of the key colour, or those of alpha 0.
    bool keyed = set.maskMode == FRAMEMASK_COLOUR;
    uint32_t hidden = keyed ? set.transparentColour & 0xFFFFFF : 0;
    uint32_t compared = keyed ? 0xFFFFFFu : 0xFF000000u;
    uint32_t error = AllocFramePlanes(&made, w, h, !taken, keyed || set.maskMode == FRAMEMASK_ALPHAZERO,
                                      set.withAlpha);
    PlaneView mask{}, alpha{};
    if (!error && made.mask && !ViewPlane(made.mask, BITMAP_MASK, &mask))
        error = ERR_ALLOCMASK;
    if (!error && made.alpha && !ViewPlane(made.alpha, BITMAP_ALPHA, &alpha))
        error = ERR_ALLOCALPHA;
    if (!error)
        error = InBands(h, [&](int32_t y, int32_t rows) {
            const uint32_t* band = argb + static_cast<size_t>(y) * static_cast<size_t>(rowLength);
            if (!taken)
                WriteArgbToBitMap(argb, 0, y, rowLength * 4, made.bitmap, 0, y, w, rows);
            if (mask.pixels)
                BuildMaskFromColor32(band, mask.pixels + y * mask.bytesPerRow, w, rows,
                                     static_cast<int32_t>(mask.bytesPerRow), hidden, rowLength, compared);
            if (alpha.pixels)
                ExtractAlphaBytes(band, w, rows, rowLength, alpha.pixels + y * alpha.bytesPerRow,
                                  static_cast<int32_t>(alpha.bytesPerRow));
        });
    return HandOverPlanes(error, &made, frame);
}

QmAnimParams PluginParams(const FrameSetRequest& request)
{
    QmAnimParams params{};
    params.flags = (request.skipLoopFrames ? static_cast<uint32_t>(QM_ANIM_SKIPLOOPFRAMES) : 0u) |
                   (request.deinterlace ? static_cast<uint32_t>(QM_ANIM_DEINTERLACE) : 0u) |
                   (request.fromDisk ? static_cast<uint32_t>(QM_ANIM_FROMDISK) : 0u);
    params.transparentColour = -1;
    return params;
}

// Decodes one frame from the open source into its planes. With `last` no
// frame is decoded after this one, so its planes may take the GIF reader's
// canvas over rather than hold the picture a second time.
uint32_t DecodeFrame(FrameSet* set, uint32_t frame, bool last = false)
{
    if (set->gif) {
        const uint32_t* pixels = nullptr;
        if (uint32_t error = DecodeGifAnimFrame(set->gif, frame, &pixels))
            return error == ERR_MEM || error == ERR_USERABORT ? error : uint32_t{ERR_LOADFRAME};
        uint32_t* taken =
            last && CanAdoptArgbPixels(set->width, set->height) ? TakeGifAnimCanvas(set->gif) : nullptr;
        return MakeFramePlanes(*set, pixels, set->width, &set->frames[frame], taken);
    }
    if (set->pluginAnim && set->loader) {
        QmAnimParams params{};
        params.width = set->width;
        params.height = set->height;
        params.frames = static_cast<int32_t>(set->frameCount);
        auto load = reinterpret_cast<QmLoadFrameFunc>(set->loader->LoadFrame);
        auto free = reinterpret_cast<QmFreeFrameFunc>(set->loader->FreeFrame);
        uint32_t* pixels = load ? load(set->pluginAnim, static_cast<int32_t>(frame), &params) : nullptr;
        if (!pixels)
            return ERR_LOADFRAME;
        uint32_t error = MakeFramePlanes(*set, pixels, set->width, &set->frames[frame]);
        if (free)
            free(set->pluginAnim, pixels);
        return error;
    }
    return ERR_LOADFRAME;
}

void CloseSource(FrameSet* set)
{
    CloseGifAnim(set->gif);
    set->gif = nullptr;
    if (set->pluginAnim && set->loader && set->loader->CloseAnim)
        reinterpret_cast<QmCloseAnimFunc>(set->loader->CloseAnim)(set->pluginAnim);
    set->pluginAnim = nullptr;
}

// Frames from an open source: all of them now, or none until asked.
uint32_t TakeFrames(const FrameSetRequest& request, FrameSet* set)
{
    if (set->frameCount == 0 || set->frameCount > kMaxFrames)
        return ERR_BADDIMENSIONS;
    if (uint32_t error = CheckImageSize(set->width, set->height))
        return error;
    set->frames = static_cast<AnimFrame*>(OsAllocMem(sizeof(AnimFrame) * set->frameCount, 1));
    if (!set->frames)
        return ERR_MEM;
    for (uint32_t i = 0; i < set->frameCount; ++i) {
        if (set->gif)
            set->frames[i].delay = GetGifAnimFrameDelay(set->gif, i);
        else if (set->loader && set->loader->GetFrameDelay)
            set->frames[i].delay = reinterpret_cast<QmGetFrameDelayFunc>(set->loader->GetFrameDelay)(
                set->pluginAnim, static_cast<int32_t>(i));
    }
    if (request.fromDisk)
        return 0;
    if (uint64_t{set->frameCount} * static_cast<uint64_t>(set->width) * static_cast<uint64_t>(set->height) >
        kMaxDecodedPixels)
        return ERR_MEM;
    for (uint32_t i = 0; i < set->frameCount; ++i) {
        if (uint32_t error = DecodeFrame(set, i, i + 1 == set->frameCount)) {
            SetErrorArgNumber(static_cast<int32_t>(i + 1));
            return error;
        }
    }
    CloseSource(set);
    return 0;
}

void ApplyTransparency(const FrameSetRequest& request, int32_t sourceKey, FrameSet* set)
{
    if (request.transparency >= 0) {
        set->maskMode = FRAMEMASK_COLOUR;
        set->transparentColour = static_cast<uint32_t>(request.transparency) & 0xFFFFFF;
    } else if (request.loadTransparency && sourceKey >= 0) {
        set->maskMode = FRAMEMASK_ALPHAZERO;
        set->transparentColour = static_cast<uint32_t>(sourceKey);
    }
}

// 1 when a plugin of the chain took the file (then 0 or an error through
// *error), 0 when none did.
int OpenWithPlugin(const FrameSetRequest& request, FrameSet* set, uint32_t* error)
{
    BuildLoaderChain(request.loaderList, PLUGINCAPS_ANIM);
    for (PluginListNode* n = GetPluginListForCapability(PLUGINCAPS_ANIM); n; n = n->next) {
        PluginInfo* info = n->info;
        if (!info || !info->OpenAnim || !PluginPassesLoaderList(info, request.loaderList))
            continue;
        QmAnimParams params = PluginParams(request);
        void* anim = reinterpret_cast<QmOpenAnimFunc>(info->OpenAnim)(request.file, &params);
        if (!anim)
            continue;
        set->loader = info;
        set->pluginAnim = anim;
        set->width = params.width;
        set->height = params.height;
        set->frameCount = params.frames > 0 ? static_cast<uint32_t>(params.frames) : 0;
        set->withAlpha = request.loadAlpha && params.hasAlpha;
        if (request.loadAlpha && !params.hasAlpha) {
            SetErrorText(request.file);
            *error = ERR_NOALPHA;
            return 1;
        }
        ApplyTransparency(request, params.transparentColour, set);
        *error = TakeFrames(request, set);
        return 1;
    }
    return 0;
}

// 1 when the file is a GIF (then 0 or an error through *error).
int OpenWithGifReader(const FrameSetRequest& request, FrameSet* set, uint32_t* error)
{
    if (!IsLoaderAllowed(request.loaderList, "inbuilt", false))
        return 0;
    uint8_t* data = nullptr;
    size_t size = 0;
    if (uint32_t readError = ReadWholeImageFile(request.file, request.loaderList, &data, &size)) {
        *error = readError;
        return 1;
    }
    if (size < 6 || std::memcmp(data, "GIF8", 4) != 0) {
        OsFreeMem(data);
        return 0;
    }
    GifAnimInfo info{};
    uint32_t openError = OpenGifAnim(data, size, &set->gif, &info);
    if (openError) {
        *error = openError == ERR_LOADPICTURE ? uint32_t{ERR_OPENANIM2} : openError;
        SetErrorText(request.file);
        return 1;
    }
    set->width = info.width;
    set->height = info.height;
    set->frameCount = info.frameCount;
    if (request.loadAlpha) {
        SetErrorText(request.file);
        *error = ERR_NOALPHA;
        return 1;
    }
    ApplyTransparency(request, info.transparentColour, set);
    *error = TakeFrames(request, set);
    if (*error == ERR_LOADFRAME) {
        *error = ERR_OPENANIM2;
        SetErrorText(request.file);
    }
    return 1;
}

// The picture of a strip, shared through the graphics cache with the other
// declarations of the file (brushes among them) as LoadBrush shares it.
uint32_t LoadStripPicture(const FrameSetRequest& request, const ImageLoadRequest& load, ImageLoadResult* loaded)
{
    if (request.cachedLoad && LoadCachedImage(request.file, loaded) == 0)
        return 0;
    if (uint32_t error = LoadImageViaLoaders(load, loaded))
        return error;
    if (!request.cache)
        return 0;
    uint32_t error = AddGfxCacheEntry(request.file, loaded->width, loaded->height,
                                      static_cast<uint32_t>(loaded->transparentColour), loaded->handle,
                                      loaded->alpha, 0);
    if (error && error != ERR_CACHEERROR) {
        ReleaseImageHandle(loaded->handle);
        if (loaded->alpha)
            FreePlaneBitMap(loaded->alpha);
        *loaded = ImageLoadResult{};
        return error;
    }
    return 0;
}

// One picture cut into frames of equal size, left to right and top down.
uint32_t LoadStrip(const FrameSetRequest& request, FrameSet* set)
{
    uint32_t frames = request.frames > 0 ? static_cast<uint32_t>(request.frames) : 1;
    uint32_t perRow = request.framesPerRow > 0 ? static_cast<uint32_t>(request.framesPerRow) : frames;
    if (perRow > frames)
        perRow = frames;
    ImageLoadRequest load;
    load.file = request.file;
    load.loaderList = request.loaderList;
    load.alphaMode = request.loadAlpha ? IMAGEALPHA_REQUIRED : IMAGEALPHA_OFF;
    load.wantTransparentPen = request.loadTransparency;
    load.width = request.width;
    load.height = request.height;
    load.smooth = request.smooth;
    ImageLoadResult loaded;
    if (uint32_t error = LoadStripPicture(request, load, &loaded))
        return error;
    uint32_t rows = (frames + perRow - 1) / perRow;
    uint32_t error = 0;
    if (frames > kMaxFrames || perRow > static_cast<uint32_t>(loaded.width) ||
        rows > static_cast<uint32_t>(loaded.height)) {
        error = ERR_BADDIMENSIONS;
    } else {
        set->width = loaded.width / static_cast<int32_t>(perRow);
        set->height = loaded.height / static_cast<int32_t>(rows);
        set->frameCount = frames;
        set->withAlpha = loaded.alpha != nullptr;
        set->loader = loaded.producer;
        ApplyTransparency(request, loaded.transparentColour, set);
        if (set->maskMode == FRAMEMASK_ALPHAZERO)
            set->maskMode = FRAMEMASK_COLOUR;  // a picture's pen is a colour
        set->frames = static_cast<AnimFrame*>(OsAllocMem(sizeof(AnimFrame) * frames, 1));
        if (!set->frames)
            error = ERR_MEM;
    }
    const uint32_t* pixels = GetImageHandleData(loaded.handle);
    for (uint32_t i = 0; !error && i < frames; ++i) {
        size_t x = static_cast<size_t>(i % perRow) * static_cast<size_t>(set->width);
        size_t y = static_cast<size_t>(i / perRow) * static_cast<size_t>(set->height);
        error = MakeFramePlanes(*set, pixels + y * static_cast<size_t>(loaded.rowLength) + x, loaded.rowLength,
                                &set->frames[i]);
    }
    ReleaseImageHandle(loaded.handle);
    if (loaded.alpha)
        FreePlaneBitMap(loaded.alpha);
    return error;
}

FrameSetShareKey ShareKeyOf(const FrameSetRequest& r)
{
    return FrameSetShareKey{r.transparency, r.width,        r.height,         r.loadTransparency,
                            r.loadAlpha,    r.skipLoopFrames, r.deinterlace, r.smooth};
}

bool SameKey(const FrameSetShareKey& a, const FrameSetShareKey& b)
{
    return a.transparency == b.transparency && a.width == b.width && a.height == b.height &&
           a.loadTransparency == b.loadTransparency && a.loadAlpha == b.loadAlpha &&
           a.skipLoopFrames == b.skipLoopFrames && a.deinterlace == b.deinterlace && a.smooth == b.smooth;
}

// A set of the file loaded to be shared, with every frame in memory and
// loaded with the same options; null when there is none.
const FrameSet* FindSharedFrameSet(const FrameSetRequest& request)
{
    FrameSetShareKey key = ShareKeyOf(request);
    auto matches = [&](const FrameSet& set) {
        return set.sharedName && set.shareKey && !set.gif && !set.pluginAnim &&
               StrCaseCmp(set.sharedName, request.file) == 0 && SameKey(*set.shareKey, key);
    };
    for (Anim* a = AnimList; a; a = reinterpret_cast<Anim*>(a->header.next))
        if (matches(a->frames))
            return &a->frames;
    for (Sprite* s = SpriteList; s; s = reinterpret_cast<Sprite*>(s->header.next))
        if (matches(s->frames))
            return &s->frames;
    return nullptr;
}

// A frame of a set in memory copied into new planes, in bands as it was made.
uint32_t CopyFramePlanes(const AnimFrame& from, int32_t w, int32_t h, AnimFrame* copy)
{
    MadeBitMaps made{};
    uint32_t error = AllocFramePlanes(&made, w, h, true, from.mask != nullptr, from.alpha != nullptr);
    PlaneView alphaFrom{}, alphaTo{};
    if (!error && made.alpha &&
        !(ViewPlane(from.alpha, BITMAP_ALPHA, &alphaFrom) && ViewPlane(made.alpha, BITMAP_ALPHA, &alphaTo)))
        error = ERR_ALLOCALPHA;
    if (!error)
        error = InBands(h, [&](int32_t y, int32_t rows) {
            BltBitMapRect(from.bitmap, 0, y, made.bitmap, 0, y, w, rows);
            if (made.mask)
                BltMaskPlane(from.mask, 0, y, made.mask, 0, y, w, rows, MASKVANILLACOPY, nullptr, 0);
            for (int32_t j = y; alphaTo.pixels && j < y + rows; ++j)
                std::memcpy(alphaTo.pixels + j * alphaTo.bytesPerRow, alphaFrom.pixels + j * alphaFrom.bytesPerRow,
                            static_cast<size_t>(w));
        });
    return HandOverPlanes(error, &made, copy);
}

uint32_t CopyFrameSet(const FrameSet& from, FrameSet* out)
{
    out->width = from.width;
    out->height = from.height;
    out->transparentColour = from.transparentColour;
    out->maskMode = from.maskMode;
    out->withAlpha = from.withAlpha;
    out->loader = from.loader;
    out->frames = static_cast<AnimFrame*>(OsAllocMem(sizeof(AnimFrame) * from.frameCount, 1));
    if (!out->frames)
        return ERR_MEM;
    out->frameCount = from.frameCount;
    for (uint32_t i = 0; i < from.frameCount; ++i) {
        const AnimFrame& f = from.frames[i];
        out->frames[i].delay = f.delay;
        if (uint32_t error = CopyFramePlanes(f, from.width, from.height, &out->frames[i]))
            return error;
    }
    return 0;
}

// Marks a set loaded with "cache" as the one later loads of the file copy.
uint32_t ShareFrameSet(const FrameSetRequest& request, FrameSet* set)
{
    size_t n = std::strlen(request.file);
    set->sharedName = static_cast<char*>(OsAllocMem(n + 1, 0));
    set->shareKey = static_cast<FrameSetShareKey*>(OsAllocMem(sizeof(FrameSetShareKey), 0));
    if (!set->sharedName || !set->shareKey)
        return ERR_MEM;
    std::memcpy(set->sharedName, request.file, n + 1);
    *set->shareKey = ShareKeyOf(request);
    return 0;
}

}  // namespace

static void ReadFrameSetOptions(VmState* vm, int index, FrameSetRequest* request)
{
    if (VmType(vm, index) != VM_TTABLE)
        return;
    int32_t value = 0;
    uint32_t colour = 0;
    GetTableInt(vm, index, "frames", &request->frames);
    GetTableInt(vm, index, "fpr", &request->framesPerRow);
    if (GetTableInt(vm, index, "fromdisk", &value))
        request->fromDisk = value != 0;
    if (GetTableInt(vm, index, "skiploopframes", &value))
        request->skipLoopFrames = value != 0;
    if (GetTableInt(vm, index, "deinterlace", &value))
        request->deinterlace = value != 0;
    if (GetTableColor(vm, index, "transparency", &colour))
        request->transparency = colour & 0xFFFFFF;
    if (GetTableInt(vm, index, "loadtransparency", &value))
        request->loadTransparency = value != 0;
    if (GetTableInt(vm, index, "loadalpha", &value))
        request->loadAlpha = value != 0;
    GetTableInt(vm, index, "width", &request->width);
    GetTableInt(vm, index, "height", &request->height);
    GetTableIntOrPercent(vm, index, "scalewidth", &request->width, true);
    GetTableIntOrPercent(vm, index, "scaleheight", &request->height, true);
    if (GetTableInt(vm, index, "smoothscale", &value))
        request->smooth = value != 0;
    if (GetTableInt(vm, index, "cache", &value))
        request->cache = value != 0;
    if (GetTableInt(vm, index, "cachedload", &value))
        request->cachedLoad = value != 0;
}

void ReadFrameSetArgs(VmState* vm, FrameSetRequest* request, FrameSetArgTexts* texts)
{
    texts->file = GetFileNameArg(vm, 2);
    request->file = texts->file.c_str();
    if (VmType(vm, 3) == VM_TTABLE && GetTableString(vm, 3, "loader", texts->loader, sizeof texts->loader))
        request->loaderList = texts->loader;
    ReadFrameSetOptions(vm, 3, request);
}

// A file that does not fit (in the limits or in memory) names itself like
// every other failure of a load, as a picture's does.
static uint32_t NameFrameSetError(uint32_t error, const char* file)
{
    if (error != ERR_MEM && error != ERR_BADDIMENSIONS && error != ERR_BITMAP && error != ERR_ALLOCMASK &&
        error != ERR_ALLOCALPHA)
        return error;
    SetErrorText(file);
    return ERR_OPENANIM2;
}

uint32_t LoadFrameSet(const FrameSetRequest& request, FrameSet* out)
{
    *out = FrameSet{};
    out->transparentColour = 0xFFFFFFFF;
    out->decodedFrame = -1;
    uint32_t error = 0;
    if (request.frames < 0 || request.framesPerRow < 0)
        return ERR_WRONGUSAGE;
    bool strip = request.frames > 0;
    const FrameSet* shared = !strip && request.cachedLoad ? FindSharedFrameSet(request) : nullptr;
    if (shared)
        error = CopyFrameSet(*shared, out);
    else if (strip || !(OpenWithPlugin(request, out, &error) || OpenWithGifReader(request, out, &error)))
        error = LoadStrip(request, out);
    // A strip is shared as a picture, through the graphics cache.
    if (!error && !strip && request.cache && !request.fromDisk)
        error = ShareFrameSet(request, out);
    if (error) {
        FreeFrameSet(out);
        return NameFrameSetError(error, request.file);
    }
    return 0;
}

void FreeFrameSet(FrameSet* set)
{
    for (uint32_t i = 0; set->frames && i < set->frameCount; ++i)
        FreeFramePlanes(&set->frames[i]);
    OsFreeMem(set->frames);
    set->frames = nullptr;
    CloseSource(set);
    set->frameCount = 0;
    OsFreeMem(set->sharedName);
    OsFreeMem(set->shareKey);
    set->sharedName = nullptr;
    set->shareKey = nullptr;
}

uint32_t GetFrameSetPlanes(FrameSet* set, uint32_t frame, BitMapHandle** bitmap, BitMapHandle** mask,
                           BitMapHandle** alpha)
{
    *bitmap = *mask = *alpha = nullptr;
    if (frame >= set->frameCount)
        return SetRangeErrorDetail(ERR_ANIMFRAME, "frame", int64_t{frame} + 1, 1, set->frameCount);
    AnimFrame* f = &set->frames[frame];
    if (!f->bitmap) {
        if (set->decodedFrame >= 0)
            FreeFramePlanes(&set->frames[set->decodedFrame]);
        set->decodedFrame = -1;
        if (uint32_t error = DecodeFrame(set, frame)) {
            SetErrorArgNumber(static_cast<int32_t>(frame + 1));
            return error;
        }
        set->decodedFrame = frame;
    }
    *bitmap = f->bitmap;
    *mask = f->mask;
    *alpha = f->alpha;
    return 0;
}

void FlushFrameSetCache(FrameSet* set)
{
    if (set->decodedFrame < 0)
        return;
    FreeFramePlanes(&set->frames[set->decodedFrame]);
    set->decodedFrame = -1;
}

uint32_t FindAnim(VmState*, ObjectId id, Anim** out, uint32_t)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(*ListHead(), id, ERR_FINDANIM, &r);
    *out = reinterpret_cast<Anim*>(r);
    return error;
}

int32_t LookupAnimFrameDelay(const Anim* anim, uint32_t frame)
{
    return frame < anim->frames.frameCount ? anim->frames.frames[frame].delay : 0;
}

void FreeAnim(VmState* vm, Anim* anim)
{
    if (!anim)
        return;
    ReleaseLayerObject(vm, OBJ_ANIM, &anim->header);
    UnlinkObject(ListHead(), &anim->header);
    ReleaseObjectData(vm, &anim->header);
    FreeFrameSet(&anim->frames);
    OsFreeMem(anim);
}

void FreeAllAnims(VmState* vm)
{
    while (AnimList)
        FreeAnim(vm, AnimList);
}

void FlushAnimCaches()
{
    for (Anim* a = AnimList; a; a = reinterpret_cast<Anim*>(a->header.next))
        FlushFrameSetCache(&a->frames);
}

uint32_t CmdLoadAnim(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    FrameSetRequest request;
    FrameSetArgTexts texts;
    ReadFrameSetArgs(vm, &request, &texts);
    auto* anim = static_cast<Anim*>(OsAllocMem(sizeof(Anim), 1));
    if (!anim)
        return ERR_MEM;
    if (uint32_t error = LoadFrameSet(request, &anim->frames)) {
        OsFreeMem(anim);
        return error;
    }
    if (!id.newHandle) {
        Anim* old = nullptr;
        if (FindAnim(vm, id.id, &old, 0) == 0)
            FreeAnim(vm, old);
    }
    return AppendCreatedObject(vm, ListHead(), &anim->header, OBJ_ANIM, id.id, id.newHandle);
}
