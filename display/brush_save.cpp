// SaveBrush: a brush written to a file through SaveArgbImage, with what it
// shows through its mask or alpha plane kept where the format can keep it.
// PNG and the savers that store alpha get the alpha bytes (a mask becomes
// alpha 0 or 255); GIF and the savers that take palette indices get a
// transparent colour for every pixel that does not show; BMP, JPEG and
// ILBM store the colours only.
#include "display/brush_save.h"

#include <memory>

#include "core/io/error_codes.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/pictures.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/library/image_save.h"
#include "platform/posix/os_memory.h"

namespace {

struct ArgbBuffer {
    uint32_t* pixels = nullptr;
    ~ArgbBuffer() { OsFreeMem(pixels); }
};

// Whether a pixel that shows has the colour (RGB).
bool ShownWithColour(const uint32_t* argb, size_t count, uint32_t rgb)
{
    for (size_t i = 0; i < count; ++i)
        if (argb[i] >> 24 != 0 && (argb[i] & 0xFFFFFF) == rgb)
            return true;
    return false;
}

// The first colour that no pixel of the picture has: the key of its
// transparent pixels when the brush's own cannot be. 2^24 colours cannot
// all be in a picture of at most 2^24 - 1 pixels that keeps one of them
// invisible, so there always is one.
int32_t UnusedColour(const uint32_t* argb, size_t count)
{
    constexpr size_t kColours = size_t{1} << 24;
    std::unique_ptr<uint64_t[]> seen(new (std::nothrow) uint64_t[kColours / 64]());
    if (!seen)
        return -1;
    for (size_t i = 0; i < count; ++i) {
        uint32_t rgb = argb[i] & 0xFFFFFF;
        seen[rgb / 64] |= uint64_t{1} << (rgb % 64);
    }
    for (size_t word = 0; word < kColours / 64; ++word)
        if (~seen[word])
            for (uint32_t bit = 0; bit < 64; ++bit)
                if (!(seen[word] >> bit & 1))
                    return static_cast<int32_t>(word * 64 + bit);
    return -1;
}

}  // namespace

uint32_t SaveBrushPlanes(const Brush* brush, uint32_t format, const char* file, int32_t quality, int32_t colors,
                         int32_t dither)
{
    BitMapHandle *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t w = 0, h = 0;
    GetBrushPlanes(brush, &bitmap, &mask, &alpha, &w, &h);
    if (!bitmap)
        return ERR_HWBRUSH;
    if (!mask && !alpha && (format == IMGFMT_PNG || format == IMGFMT_JPEG)) {
        // Everything shows and these writers read the colours alone: they
        // get the bitmap's own rows when it holds them as ARGB words.
        BitMapLock lock{};
        if (LockBitMapPixels(bitmap, LOCKBITMAP_READ, &lock)) {
            bool direct = lock.format == PIXFMT_ARGB && lock.rowLength == w && lock.width >= w && lock.height >= h;
            uint32_t error = direct ? SaveArgbImage(format, reinterpret_cast<const uint32_t*>(lock.pixels), w, h, file,
                                                    -1, false, quality, colors, dither)
                                    : 0;
            UnlockBitMapPixels(&lock);
            if (direct)
                return error;
        }
    }
    // The alpha bytes say what shows: the alpha plane's, else the mask's as
    // 0 or 255, else 255.
    ArgbBuffer argb;
    argb.pixels = BitMapToArgbMasked(bitmap, 0, 0, w, h, mask, alpha, kNoTransparentColour, 1, LOCKBITMAP_READ);
    if (!argb.pixels)
        return ERR_MEM;
    const size_t count = static_cast<size_t>(w) * h;
    bool hidden = false;
    for (size_t i = 0; i < count && !hidden; ++i)
        hidden = argb.pixels[i] >> 24 == 0;
    // Formats that keep transparency as one colour of a palette need a key
    // that no visible pixel has, or those pixels would vanish too: the
    // brush's own while nothing shown has it (drawing on a brush or
    // changing its mask can show it), else one the picture lacks.
    int32_t key = -1;
    bool keyed = format != IMGFMT_BMP && format != IMGFMT_PNG && format != IMGFMT_JPEG && format != IMGFMT_ILBM;
    if (hidden && keyed) {
        uint32_t own = brush->transparentColour & 0xFFFFFF;
        key = brush->transparentColour != 0xFFFFFFFFu && !ShownWithColour(argb.pixels, count, own)
                  ? static_cast<int32_t>(own)
                  : UnusedColour(argb.pixels, count);
        if (key < 0)
            return ERR_MEM;
        for (size_t i = 0; i < count; ++i)
            if (argb.pixels[i] >> 24 == 0)
                argb.pixels[i] = static_cast<uint32_t>(key);
    }
    return SaveArgbImage(format, argb.pixels, w, h, file, key, mask || alpha, quality, colors, dither);
}

uint32_t CmdSaveBrush(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    ObjectId id = GetObjectIdArg(vm, 1);
    const char* file = VmCheckString(vm, 2, nullptr);
    auto format = static_cast<uint32_t>(VmOptInteger(vm, 3, IMGFMT_BMP));
    int32_t quality = kDefaultSaveQuality, colors = kDefaultSaveColors, dither = 0;
    GetSaveOptions(vm, 4, &quality, &colors, &dither);
    Brush* brush = nullptr;
    if (uint32_t error = FindBrush(vm, id, &brush, 0))
        return error;
    return SaveBrushPlanes(brush, format, file, quality, colors, dither);
}
