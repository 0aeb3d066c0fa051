// PNG through libpng. libpng reports errors by longjmp, so the functions
// that call it hold no C++ objects with destructors, and everything that
// must survive the jump lives in a record owned by the caller.
#include <csetjmp>
#include <cstring>

#include <png.h>
#include <zlib.h>

#include "core/io/error_codes.h"
#include "media/image_codecs.h"
#include "platform/posix/os_memory.h"

namespace {

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t position;
};

// What the decoder keeps across a longjmp.
struct PngDecodeState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngSource source{};
    ImageData* out = nullptr;
    uint32_t error = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t count)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > source->size - source->position)
        png_error(png, "truncated");
    std::memcpy(out, source->data + source->position, count);
    source->position += count;
}

[[noreturn]] void ErrorExit(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

void* PngAlloc(png_structp, png_alloc_size_t size)
{
    return OsAllocMem(size, 0);
}

void PngFree(png_structp, png_voidp block)
{
    OsFreeMem(block);
}

// A read or write struct (by its libpng maker) with its info struct, both
// using the hooks above; false when memory ran out. Whatever was made is
// the caller's to destroy either way.
template <typename Create>
bool CreatePng(Create create, png_structp* png, png_infop* info)
{
    *png = create(PNG_LIBPNG_VER_STRING, nullptr, ErrorExit, IgnoreWarning, nullptr, PngAlloc, PngFree);
    *info = *png ? png_create_info_struct(*png) : nullptr;
    return *info != nullptr;
}

void RunDecode(PngDecodeState* s, bool probe)
{
    if (setjmp(png_jmpbuf(s->png))) {
        if (!s->error)
            s->error = ERR_LOADPICTURE;
        return;
    }
    png_set_read_fn(s->png, &s->source, ReadFromMemory);
    png_set_user_limits(s->png, 65535, 65535);
    // Ancillary chunks are kept small: a hostile file cannot make libpng
    // hold many megabytes of text or unknown chunks.
    png_set_chunk_cache_max(s->png, 1000);
    png_set_chunk_malloc_max(s->png, 16u << 20);
    png_read_info(s->png, s->info);
    png_uint_32 width = png_get_image_width(s->png, s->info);
    png_uint_32 height = png_get_image_height(s->png, s->info);
    if ((s->error = CheckImageSize(width, height)) != 0)
        return;
    int colourType = png_get_color_type(s->png, s->info);
    bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(s->png, s->info, PNG_INFO_tRNS);
    s->out->transparentColour = alpha ? -2 : -1;
    s->out->width = static_cast<int32_t>(width);
    s->out->height = static_cast<int32_t>(height);
    if (probe)
        return;

    // Everything becomes 8-bit B, G, R, A bytes: one ARGB word per pixel.
    png_set_expand(s->png);
    png_set_strip_16(s->png);
    png_set_gray_to_rgb(s->png);
    png_set_bgr(s->png);
    if (!alpha)
        png_set_filler(s->png, 0xFF, PNG_FILLER_AFTER);
    int passes = png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    if (png_get_rowbytes(s->png, s->info) != static_cast<size_t>(width) * 4) {
        s->error = ERR_LOADPICTURE;
        return;
    }
    if ((s->error = AllocImagePixels(s->out, width, height, false)) != 0)
        return;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(s->png, reinterpret_cast<png_bytep>(s->out->pixels + static_cast<size_t>(y) * width),
                         nullptr);
    png_read_end(s->png, nullptr);
}

struct PngEncodeState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ByteBuffer* out = nullptr;
    const uint32_t* argb = nullptr;
    size_t rowBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool withAlpha = false;
    uint32_t error = 0;
};

void WriteToMemory(png_structp png, png_bytep data, size_t count)
{
    auto* out = static_cast<ByteBuffer*>(png_get_io_ptr(png));
    if (!AppendBytes(out, data, count))
        png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

void RunEncode(PngEncodeState* s)
{
    if (setjmp(png_jmpbuf(s->png))) {
        s->error = s->out->failed ? ERR_MEM : ERR_SAVEPNG;
        return;
    }
    png_set_write_fn(s->png, s->out, WriteToMemory, FlushNothing);
    // zlib's default strategy and rows filtered by Sub or Up: on
    // photographs libpng's own choices (Z_FILTERED, all five filters) give
    // files no smaller and take a sixth longer.
    png_set_compression_strategy(s->png, Z_DEFAULT_STRATEGY);
    png_set_filter(s->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP);
    png_set_IHDR(s->png, s->info, static_cast<png_uint_32>(s->width), static_cast<png_uint_32>(s->height), 8,
                 s->withAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(s->png, s->info);
    png_set_bgr(s->png);
    if (!s->withAlpha)
        png_set_filler(s->png, 0, PNG_FILLER_AFTER);
    const auto* row = reinterpret_cast<const uint8_t*>(s->argb);
    for (int32_t y = 0; y < s->height; ++y, row += s->rowBytes)
        png_write_row(s->png, const_cast<png_bytep>(row));
    png_write_end(s->png, nullptr);
}

}  // namespace

uint32_t DecodePng(const uint8_t* data, size_t size, bool probe, ImageData* out)
{
    PngDecodeState s;
    s.source = {data, size, 0};
    s.out = out;
    if (CreatePng(png_create_read_struct_2, &s.png, &s.info))
        RunDecode(&s, probe);
    else
        s.error = ERR_MEM;
    png_destroy_read_struct(&s.png, &s.info, nullptr);
    if (s.error)
        FreeImagePixels(out);
    return s.error;
}

uint32_t EncodePng(const uint32_t* argb, size_t rowBytes, int32_t width, int32_t height, bool withAlpha,
                   ByteBuffer* out)
{
    if (width <= 0 || height <= 0 || rowBytes < static_cast<size_t>(width) * 4)
        return ERR_BADDIMENSIONS;
    PngEncodeState s;
    s.out = out;
    s.argb = argb;
    s.rowBytes = rowBytes;
    s.width = width;
    s.height = height;
    s.withAlpha = withAlpha;
    if (CreatePng(png_create_write_struct_2, &s.png, &s.info))
        RunEncode(&s);
    else
        s.error = ERR_MEM;
    png_destroy_write_struct(&s.png, &s.info);
    return s.error;
}
