// PNG: decoding through libspng, encoding with libdeflate.
//
// The decoder reads row by row straight into the picture's pixels, from
// memory or from a stream that is read as it goes, so a picture costs its
// own bytes and nothing more, and it stops between rows
// when the run is being aborted. Every allocation libspng makes goes
// through a cap, and ancillary chunks have limits of their own: a chunk
// length that lies cannot make it allocate more than a few megabytes.
//
// The encoder filters every row with the filter whose output has the
// smallest sum of magnitudes (png_filters.h) and compresses the whole
// filtered picture in one call of libdeflate, which on photographs is
// several times faster than zlib for a smaller file; the PNG chunks around
// it are written here.
#include <cstdlib>
#include <cstring>

#include <emmintrin.h>

#include <libdeflate.h>
#include <spng.h>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "media/image_codecs.h"
#include "media/png_filters.h"
#include "platform/posix/os_memory.h"

namespace {

// libspng allocates row buffers, chunk data and its inflate state; none of
// that comes near this for a picture within the size limits.
constexpr size_t kMaxSpngAllocation = 64u << 20;
constexpr size_t kMaxChunkSize = 16u << 20;
constexpr size_t kMaxChunkCache = 64u << 20;

void* CappedMalloc(size_t size)
{
    return size <= kMaxSpngAllocation ? std::malloc(size) : nullptr;
}

void* CappedRealloc(void* block, size_t size)
{
    return size <= kMaxSpngAllocation ? std::realloc(block, size) : nullptr;
}

void* CappedCalloc(size_t count, size_t size)
{
    if (size && count > kMaxSpngAllocation / size)
        return nullptr;
    return std::calloc(count, size);
}

const spng_alloc kCappedAlloc = {CappedMalloc, CappedRealloc, CappedCalloc, std::free};

// R, G, B, A bytes to the B, G, R, A bytes of ARGB words, in place.
void SwapRedBlue(uint32_t* pixels, size_t count)
{
    size_t i = 0;
    const __m128i greenAlpha = _mm_set1_epi32(static_cast<int>(0xFF00FF00u)), low = _mm_set1_epi32(0xFF);
    for (; i + 4 <= count; i += 4) {
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i));
        __m128i swapped = _mm_or_si128(_mm_and_si128(p, greenAlpha),
                                       _mm_or_si128(_mm_and_si128(_mm_srli_epi32(p, 16), low),
                                                    _mm_slli_epi32(_mm_and_si128(p, low), 16)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i), swapped);
    }
    for (; i < count; ++i) {
        uint32_t p = pixels[i];
        pixels[i] = (p & 0xFF00FF00u) | ((p >> 16) & 0xFF) | ((p & 0xFF) << 16);
    }
}

// One row of file bytes, freed on every way out of the decoder.
struct RgbRow {
    uint8_t* bytes;
    ~RgbRow() { OsFreeMem(bytes); }
};

uint32_t SpngError(int error)
{
    return error == SPNG_EMEM ? uint32_t{ERR_MEM} : uint32_t{ERR_LOADPICTURE};
}

// Grey and palette pictures of up to 8 bits, not interlaced, are expanded
// here from the file's own rows, through a table of the colour of every
// byte: libspng would expand them one pixel at a time, which for a 1-bit
// picture costs several times its inflating. The colours are the ones
// libspng gives: grey levels scaled to 8 bits, palette entries with their
// tRNS alpha (black past the palette), and alpha 0 for the tRNS grey.
struct PackedRows {
    uint32_t perByte;      // pixels in a byte of a row
    size_t rowBytes;
    uint32_t* byteColours; // perByte colours for each of the 256 byte values
    uint8_t* row;          // one row as the file has it
};

bool HasPackedRows(const spng_ihdr& ihdr)
{
    return ihdr.interlace_method == 0 && ihdr.bit_depth <= 8 &&
           (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_INDEXED);
}

uint32_t PreparePackedRows(spng_ctx* ctx, const spng_ihdr& ihdr, PackedRows* p)
{
    const uint32_t depth = ihdr.bit_depth, levels = 1u << depth;
    uint32_t colours[256];
    spng_trns trns{};
    bool hasTrns = spng_get_trns(ctx, &trns) == 0;
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        if (spng_get_plte(ctx, &plte))
            plte.n_entries = 0;
        for (uint32_t i = 0; i < levels; ++i) {
            uint32_t alpha = hasTrns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255u;
            colours[i] = i < plte.n_entries ? alpha << 24 | uint32_t{plte.entries[i].red} << 16 |
                                                  uint32_t{plte.entries[i].green} << 8 | plte.entries[i].blue
                                            : 0xFF000000u;
        }
    } else {
        for (uint32_t i = 0; i < levels; ++i) {
            uint32_t grey = i * 255 / (levels - 1);
            uint32_t alpha = hasTrns && trns.gray == i ? 0u : 255u;
            colours[i] = alpha << 24 | grey * 0x010101u;
        }
    }
    p->perByte = 8 / depth;
    p->rowBytes = (static_cast<size_t>(ihdr.width) * depth + 7) / 8;
    p->byteColours = static_cast<uint32_t*>(OsAllocMem(sizeof(uint32_t) * 256 * p->perByte, 0));
    p->row = static_cast<uint8_t*>(OsAllocMem(p->rowBytes, 0));
    if (!p->byteColours || !p->row)
        return ERR_MEM;
    // Pixels lie from the most significant bits of a byte down.
    for (uint32_t b = 0; b < 256; ++b)
        for (uint32_t k = 0; k < p->perByte; ++k)
            p->byteColours[b * p->perByte + k] = colours[(b >> (8 - depth * (k + 1))) & (levels - 1)];
    return 0;
}

void ExpandPackedRow(const PackedRows& p, uint32_t* target, size_t width)
{
    const size_t whole = width / p.perByte, rest = width % p.perByte;
    const size_t bytes = p.perByte * sizeof(uint32_t);
    for (size_t i = 0; i < whole; ++i)
        std::memcpy(target + i * p.perByte, p.byteColours + size_t{p.row[i]} * p.perByte, bytes);
    if (rest)
        std::memcpy(target + whole * p.perByte, p.byteColours + size_t{p.row[whole]} * p.perByte,
                    rest * sizeof(uint32_t));
}

void FreePackedRows(PackedRows* p)
{
    OsFreeMem(p->byteColours);
    OsFreeMem(p->row);
}

uint32_t RunPackedDecode(spng_ctx* ctx, const spng_ihdr& ihdr, ImageData* out)
{
    PackedRows packed{};
    uint32_t error = PreparePackedRows(ctx, ihdr, &packed);
    if (!error) {
        int spngError = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE);
        error = spngError ? SpngError(spngError) : AllocImagePixels(out, ihdr.width, ihdr.height, false);
    }
    for (uint32_t y = 0; !error && y < ihdr.height; ++y) {
        if (VmAbortFlag.load()) {
            error = ERR_USERABORT;
            break;
        }
        int spngError = spng_decode_row(ctx, packed.row, packed.rowBytes);
        if (spngError && spngError != SPNG_EOI) {
            error = SpngError(spngError);
            break;
        }
        ExpandPackedRow(packed, out->pixels + static_cast<size_t>(y) * ihdr.width, ihdr.width);
        if (spngError == SPNG_EOI && y + 1 < ihdr.height)
            error = ERR_LOADPICTURE;
    }
    FreePackedRows(&packed);
    return error;
}

uint32_t RunDecode(spng_ctx* ctx, bool probe, ImageData* out)
{
    spng_set_image_limits(ctx, 65535, 65535);
    spng_set_chunk_limits(ctx, kMaxChunkSize, kMaxChunkCache);
    spng_ihdr ihdr{};
    if (int error = spng_get_ihdr(ctx, &ihdr))
        return SpngError(error);
    if (uint32_t error = CheckImageSize(ihdr.width, ihdr.height))
        return error;
    spng_trns trns{};
    bool alpha = (ihdr.color_type & 4) != 0 || spng_get_trns(ctx, &trns) == 0;
    out->transparentColour = alpha ? -2 : -1;
    out->width = static_cast<int32_t>(ihdr.width);
    out->height = static_cast<int32_t>(ihdr.height);
    if (probe)
        return 0;
    if (HasPackedRows(ihdr))
        return RunPackedDecode(ctx, ihdr, out);
    // 8-bit RGB rows come as the file holds them and are widened here,
    // eight pixels at a time, where libspng would widen them a byte at a
    // time and leave red and blue to be turned round after.
    const bool interlaced = ihdr.interlace_method != 0;
    const bool rgb = ihdr.bit_depth == 8 && ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && !alpha && !interlaced;
    if (int error = spng_decode_image(ctx, nullptr, 0, rgb ? SPNG_FMT_PNG : SPNG_FMT_RGBA8,
                                      rgb ? SPNG_DECODE_PROGRESSIVE : SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE))
        return SpngError(error);
    if (uint32_t error = AllocImagePixels(out, ihdr.width, ihdr.height, interlaced))
        return error;
    const size_t width = ihdr.width;
    RgbRow rgbRow{rgb ? static_cast<uint8_t*>(OsAllocMem(width * 3, 0)) : nullptr};
    if (rgb && !rgbRow.bytes)
        return ERR_MEM;
    const PngRgbRowFn widen = ChosenPngRgbRow();
    for (;;) {
        if (VmAbortFlag.load())
            return ERR_USERABORT;
        spng_row_info row{};
        int error = spng_get_row_info(ctx, &row);
        if (error == SPNG_EOI)
            break;
        if (error)
            return SpngError(error);
        uint32_t* target = out->pixels + row.row_num * width;
        error = rgb ? spng_decode_row(ctx, rgbRow.bytes, width * 3) : spng_decode_row(ctx, target, width * 4);
        if (error && error != SPNG_EOI)
            return SpngError(error);
        // The passes of an interlaced picture fill each row in steps; its
        // bytes are turned round once at the end.
        if (rgb)
            widen(rgbRow.bytes, target, width);
        else if (!interlaced)
            SwapRedBlue(target, width);
        if (error == SPNG_EOI)
            break;
    }
    if (interlaced)
        SwapRedBlue(out->pixels, width * ihdr.height);
    // A picture whose pixels all arrived is kept even when the file is cut
    // after them; a cut inside the pixels is an error.
    return 0;
}

// ---------------------------------------------------------------------------
// Encoder

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The compression levels, chosen by measurement on a 4000 x 3000
// photograph and flat graphics against vips, PIL and OpenCV (see
// bench/codecs_vs_peers.py). A photograph's filtered bytes are mostly grain
// that no search for repeats shortens: from level 2 to 9 the file shrinks
// by 3% while the time triples, and level 2 already writes files 5% smaller
// than PIL's default in a third of vips's time. A drawing's bytes are
// mostly zeros and long repeats, where a deeper search costs little: level
// 7 is the first to write files no larger than PIL's, 18% smaller than
// level 2's, for a tenth of a second more; level 8 takes half as long again
// for 1%. The share of zero bytes among the filtered rows tells the two
// apart: a few percent on photographs, most of them on drawings.
constexpr int kPhotoLevel = 2;
constexpr int kGraphicsLevel = 7;
// Every how many rows the zeros are counted; a quarter of the bytes being
// zeros makes a drawing.
constexpr int32_t kZeroSampleRows = 8;
// Large IDAT chunks, as most writers make them.
constexpr size_t kIdatChunk = 1u << 20;

bool AppendChunk(ByteBuffer* out, const char type[4], const uint8_t* data, size_t size)
{
    uint8_t head[8];
    StoreBE32(head, static_cast<uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    crc = libdeflate_crc32(crc, data, size);
    uint8_t tail[4];
    StoreBE32(tail, crc);
    return AppendBytes(out, head, 8) && AppendBytes(out, data, size) && AppendBytes(out, tail, 4);
}

size_t CountZeros(const uint8_t* bytes, size_t n)
{
    size_t zeros = 0;
    for (size_t i = 0; i < n; ++i)
        zeros += bytes[i] == 0;
    return zeros;
}

int ReadSource(spng_ctx*, void* user, void* destination, size_t length)
{
    auto* source = static_cast<ImageByteSource*>(user);
    auto* bytes = static_cast<uint8_t*>(destination);
    while (length) {
        size_t n = source->read(source->context, bytes, length);
        if (!n)
            return SPNG_IO_EOF;
        bytes += n;
        length -= n;
    }
    return 0;
}

// Decodes from the buffer, or from the source when data is null. The
// CRC-32 of every chunk is checked, the compressed pixels' included, which
// proves them intact; the zlib stream's Adler-32 over the inflated bytes
// would only check the inflater again, for a tenth of the decoding time.
uint32_t Decode(const uint8_t* data, size_t size, ImageByteSource* source, bool probe, ImageData* out)
{
    spng_ctx* ctx = spng_ctx_new2(const_cast<spng_alloc*>(&kCappedAlloc), SPNG_CTX_IGNORE_ADLER32);
    uint32_t error = ctx ? 0u : uint32_t{ERR_MEM};
    if (!error && (data ? spng_set_png_buffer(ctx, data, size) : spng_set_png_stream(ctx, ReadSource, source)))
        error = ERR_LOADPICTURE;
    if (!error)
        error = RunDecode(ctx, probe, out);
    spng_ctx_free(ctx);
    if (error)
        FreeImagePixels(out);
    return error;
}

}  // namespace

uint32_t DecodePng(const uint8_t* data, size_t size, bool probe, ImageData* out)
{
    return Decode(data, size, nullptr, probe, out);
}

uint32_t DecodePngSource(ImageByteSource* source, bool probe, ImageData* out)
{
    return Decode(nullptr, 0, source, probe, out);
}

uint32_t EncodePng(const uint32_t* argb, size_t rowBytes, int32_t width, int32_t height, bool withAlpha,
                   ByteBuffer* out)
{
    if (width <= 0 || height <= 0 || rowBytes < static_cast<size_t>(width) * 4)
        return ERR_BADDIMENSIONS;
    const size_t bpp = withAlpha ? 4 : 3, n = static_cast<size_t>(width) * bpp;
    const size_t filteredSize = (n + 1) * static_cast<size_t>(height);
    auto* filtered = static_cast<uint8_t*>(OsAllocMem(filteredSize, 0));
    // Two rows, each after its zero padding, and the four scratch rows.
    const size_t stride = kPngFilterPad + n;
    auto* rows = static_cast<uint8_t*>(OsAllocMem(2 * stride + 4 * n, 1));
    const PngFilterRowFn filterRow = ChosenPngFilterRow();
    libdeflate_compressor* compressor = nullptr;
    uint8_t* compressed = nullptr;
    uint32_t error = filtered && rows ? 0u : uint32_t{ERR_MEM};
    if (!error) {
        size_t sampled = 0, zeros = 0;
        uint8_t *current = rows + kPngFilterPad, *above = current + stride, *scratch = rows + 2 * stride;
        for (int32_t y = 0; y < height; ++y) {
            const auto* source = reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(argb) + y * rowBytes);
            uint8_t* d = current;
            for (int32_t x = 0; x < width; ++x, d += bpp) {
                uint32_t p = source[x];
                d[0] = static_cast<uint8_t>(p >> 16);
                d[1] = static_cast<uint8_t>(p >> 8);
                d[2] = static_cast<uint8_t>(p);
                if (withAlpha)
                    d[3] = static_cast<uint8_t>(p >> 24);
            }
            uint8_t* line = filtered + static_cast<size_t>(y) * (n + 1);
            filterRow(current, above, n, bpp, line, scratch);
            if (y % kZeroSampleRows == 0) {
                sampled += n;
                zeros += CountZeros(line + 1, n);
            }
            uint8_t* t = above;
            above = current;
            current = t;
        }
        compressor = libdeflate_alloc_compressor(zeros * 4 >= sampled ? kGraphicsLevel : kPhotoLevel);
        size_t bound = compressor ? libdeflate_zlib_compress_bound(compressor, filteredSize) : 0;
        compressed = compressor ? static_cast<uint8_t*>(OsAllocMem(bound, 0)) : nullptr;
        error = compressed ? 0u : uint32_t{ERR_MEM};
        size_t size = error ? 0 : libdeflate_zlib_compress(compressor, filtered, filteredSize, compressed, bound);
        if (!error && !size)
            error = ERR_SAVEPNG;
        OsFreeMem(filtered);
        filtered = nullptr;
        if (!error) {
            uint8_t ihdr[13];
            StoreBE32(ihdr, static_cast<uint32_t>(width));
            StoreBE32(ihdr + 4, static_cast<uint32_t>(height));
            ihdr[8] = 8;
            ihdr[9] = withAlpha ? 6 : 2;
            ihdr[10] = ihdr[11] = ihdr[12] = 0;
            bool ok = AppendBytes(out, kSignature, sizeof kSignature) && AppendChunk(out, "IHDR", ihdr, sizeof ihdr);
            for (size_t at = 0; ok && at < size; at += kIdatChunk)
                ok = AppendChunk(out, "IDAT", compressed + at, size - at < kIdatChunk ? size - at : kIdatChunk);
            ok = ok && AppendChunk(out, "IEND", nullptr, 0);
            if (!ok)
                error = ERR_MEM;
        }
    }
    OsFreeMem(compressed);
    OsFreeMem(filtered);
    OsFreeMem(rows);
    libdeflate_free_compressor(compressor);
    return error;
}
