// BMP decoder: the OS/2 core header and the Windows info headers up to
// version 5; 1, 4 and 8 bits through the palette, 16, 24 and 32 bits
// direct or through bit-field masks, RLE8 and RLE4. Palette indices past
// the palette give black; run lengths are cut at the row's end.
//
// An uncompressed file read from a source is decoded a block of rows at a
// time, so that a large picture costs its pixels and not its file as well
// (24-bit files are three quarters of their picture). The headers are
// parsed from the same bytes as in memory, so both routes take and refuse
// the same files; whatever does not fit reading as it goes (run lengths,
// outsized headers, rows far past the headers) is read whole first.
#include <cstring>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/vm/error_hooks.h"
#include "media/image_codecs.h"
#include "media/image_files.h"
#include "platform/posix/os_memory.h"

namespace {

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

struct Channel {
    uint32_t mask;
    uint32_t shift;
    uint32_t bits;
};

Channel MakeChannel(uint32_t mask)
{
    Channel c{mask, 0, 0};
    if (!mask)
        return c;
    while (!((mask >> c.shift) & 1))
        ++c.shift;
    while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1))
        ++c.bits;
    return c;
}

uint32_t Extract(const Channel& c, uint32_t pixel, uint32_t absent)
{
    if (!c.bits)
        return absent;
    uint32_t v = (pixel & c.mask) >> c.shift;
    v &= c.bits >= 32 ? 0xFFFFFFFFu : (1u << c.bits) - 1;
    if (c.bits >= 8)
        return v >> (c.bits - 8);
    return v * 255 / ((1u << c.bits) - 1);
}

struct BmpLayout {
    int32_t width;
    int32_t height;
    bool topDown;
    uint32_t bits;
    uint32_t compression;
    uint32_t dataOffset;
    uint32_t palette[256];
    uint32_t paletteCount;
    Channel channels[4];  // red, green, blue, alpha
};

uint32_t* RowOf(const BmpLayout& l, ImageData* out, int64_t fileRow)
{
    int64_t y = l.topDown ? fileRow : l.height - 1 - fileRow;
    return out->pixels + static_cast<size_t>(y) * static_cast<size_t>(l.width);
}

uint32_t PaletteColour(const BmpLayout& l, uint32_t index)
{
    return index < l.paletteCount ? l.palette[index] : 0xFF000000u;
}

uint64_t RowStride(const BmpLayout& l)
{
    return ((static_cast<uint64_t>(l.width) * l.bits + 31) / 32) * 4;
}

void DecodeRow(const BmpLayout& l, const uint8_t* src, uint32_t* dst)
{
    switch (l.bits) {
    case 1:
        for (int32_t x = 0; x < l.width; ++x)
            dst[x] = PaletteColour(l, (src[x >> 3] >> (7 - (x & 7))) & 1);
        break;
    case 4:
        for (int32_t x = 0; x < l.width; ++x)
            dst[x] = PaletteColour(l, (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
        break;
    case 8:
        for (int32_t x = 0; x < l.width; ++x)
            dst[x] = PaletteColour(l, src[x]);
        break;
    case 24:
        for (int32_t x = 0; x < l.width; ++x, src += 3)
            dst[x] = 0xFF000000u | (uint32_t{src[2]} << 16) | (uint32_t{src[1]} << 8) | src[0];
        break;
    default:
        for (int32_t x = 0; x < l.width; ++x) {
            uint32_t p = l.bits == 16 ? LoadLE16(src + x * 2) : LoadLE32(src + x * 4);
            uint32_t a = Extract(l.channels[3], p, 255);
            dst[x] = (a << 24) | (Extract(l.channels[0], p, 0) << 16) | (Extract(l.channels[1], p, 0) << 8) |
                     Extract(l.channels[2], p, 0);
        }
        break;
    }
}

uint32_t DecodeRows(const BmpLayout& l, const uint8_t* data, size_t size, ImageData* out)
{
    uint64_t stride = RowStride(l);
    if (l.dataOffset > size || stride * static_cast<uint64_t>(l.height) > size - l.dataOffset)
        return ERR_LOADPICTURE;
    for (int32_t r = 0; r < l.height; ++r) {
        if (VmAbortFlag.load())
            return ERR_USERABORT;
        DecodeRow(l, data + l.dataOffset + static_cast<size_t>(r) * stride, RowOf(l, out, r));
    }
    return 0;
}

// Every step consumes at least two bytes, so a run ends with the data.
uint32_t DecodeRle(const BmpLayout& l, const uint8_t* data, size_t size, ImageData* out)
{
    if (l.dataOffset > size)
        return ERR_LOADPICTURE;
    const uint8_t* p = data + l.dataOffset;
    const uint8_t* end = data + size;
    bool four = l.compression == BI_RLE4;
    int64_t x = 0, row = 0;
    auto put = [&](uint32_t index) {
        if (x < l.width && row < l.height)
            RowOf(l, out, row)[x] = PaletteColour(l, index);
        ++x;
    };
    while (end - p >= 2 && row < l.height) {
        uint32_t count = p[0], value = p[1];
        p += 2;
        if (count) {
            for (uint32_t i = 0; i < count && x < l.width; ++i)
                put(four ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) {
            x = 0;
            ++row;
        } else if (value == 1) {
            return 0;
        } else if (value == 2) {
            if (end - p < 2)
                return ERR_LOADPICTURE;
            x += p[0];
            row += p[1];
            p += 2;
        } else {
            size_t bytes = four ? (value + 1) / 2 : value;
            size_t padded = (bytes + 1) & ~size_t{1};
            if (static_cast<size_t>(end - p) < bytes)
                return ERR_LOADPICTURE;
            for (uint32_t i = 0; i < value && x < l.width; ++i)
                put(four ? ((i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
            p += static_cast<size_t>(end - p) < padded ? static_cast<size_t>(end - p) : padded;
        }
    }
    return 0;
}

// The headers, bit-field masks and palette from the first bytes of the
// file (all of it, or at least kHeadBytes past the info header): the
// layout, and the size and transparency in out.
uint32_t ParseHeaders(const uint8_t* data, size_t size, BmpLayout* layout, ImageData* out)
{
    if (size < 26 || data[0] != 'B' || data[1] != 'M')
        return ERR_LOADPICTURE;
    BmpLayout& l = *layout;
    l.dataOffset = LoadLE32(data + 10);
    uint32_t headerSize = LoadLE32(data + 14);
    if (headerSize < 12 || headerSize > size - 14)
        return ERR_LOADPICTURE;
    const uint8_t* h = data + 14;
    int64_t height;
    uint32_t paletteEntrySize = 4, coloursUsed = 0;
    if (headerSize == 12) {
        l.width = LoadLE16(h + 4);
        height = LoadLE16(h + 6);
        l.bits = LoadLE16(h + 10);
        paletteEntrySize = 3;
    } else {
        if (headerSize < 40)
            return ERR_LOADPICTURE;
        l.width = static_cast<int32_t>(LoadLE32(h + 4));
        height = static_cast<int32_t>(LoadLE32(h + 8));
        l.bits = LoadLE16(h + 14);
        l.compression = LoadLE32(h + 16);
        coloursUsed = LoadLE32(h + 32);
    }
    l.topDown = height < 0;
    height = height < 0 ? -height : height;
    if (uint32_t error = CheckImageSize(l.width, height))
        return error;
    l.height = static_cast<int32_t>(height);

    bool rle = l.compression == BI_RLE8 || l.compression == BI_RLE4;
    bool fields = l.compression == BI_BITFIELDS || l.compression == BI_ALPHABITFIELDS;
    if ((l.compression == BI_RLE8 && l.bits != 8) || (l.compression == BI_RLE4 && l.bits != 4) ||
        (fields && l.bits != 16 && l.bits != 32) || (!rle && !fields && l.compression != BI_RGB))
        return ERR_LOADPICTURE;
    if (l.bits != 1 && l.bits != 4 && l.bits != 8 && l.bits != 16 && l.bits != 24 && l.bits != 32)
        return ERR_LOADPICTURE;

    uint32_t masks[4] = {0, 0, 0, 0};
    if (fields) {
        // The masks follow a 40-byte header, or sit inside a longer one.
        uint32_t count = l.compression == BI_ALPHABITFIELDS ? 4 : 3;
        if (headerSize >= 52)
            count = headerSize >= 56 ? 4 : 3;
        if (14 + 40 + count * 4 > size)
            return ERR_LOADPICTURE;
        for (uint32_t i = 0; i < count; ++i)
            masks[i] = LoadLE32(h + 40 + i * 4);
    } else if (l.bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (l.bits == 32) {
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    }
    for (int i = 0; i < 4; ++i)
        l.channels[i] = MakeChannel(masks[i]);
    out->transparentColour = l.channels[3].bits ? -2 : -1;
    out->width = l.width;
    out->height = l.height;

    if (l.bits <= 8) {
        uint32_t count = coloursUsed && coloursUsed < (1u << l.bits) ? coloursUsed : 1u << l.bits;
        size_t at = 14 + static_cast<size_t>(headerSize) + (fields ? 12 : 0);
        for (uint32_t i = 0; i < count && at + paletteEntrySize <= size; ++i, at += paletteEntrySize)
            l.palette[l.paletteCount++] = 0xFF000000u | (data[at + 2] << 16) | (data[at + 1] << 8) | data[at];
    }
    return 0;
}

// What ParseHeaders may read past the info header: the masks after a
// 40-byte header and the largest palette.
constexpr size_t kHeadBytes = 16 + 256 * 4;
// Info headers up to this size are read as the file goes; the largest
// known one is 124 bytes.
constexpr uint32_t kMaxStreamedHeader = 64 * 1024;
// Rows further than this past the headers are found by reading the file
// whole, which bounds what is read in vain.
constexpr uint32_t kMaxStreamedGap = 1u << 20;
// Bytes of rows read at a time.
constexpr size_t kRowBlockBytes = 256 * 1024;

// Up to count bytes, fewer only at the end of the source.
size_t ReadUpTo(ImageByteSource* source, uint8_t* buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        size_t n = source->read(source->context, buffer + done, count - done);
        if (!n)
            break;
        done += n;
    }
    return done;
}

// Appends up to count more bytes of the source to bytes; false when
// memory ran out.
bool AppendFromSource(ImageByteSource* source, size_t count, ByteBuffer* bytes)
{
    uint8_t block[4096];
    while (count) {
        size_t n = ReadUpTo(source, block, count < sizeof block ? count : sizeof block);
        if (!AppendBytes(bytes, block, n))
            return false;
        if (n < (count < sizeof block ? count : sizeof block))
            break;
        count -= n;
    }
    return true;
}

// The rest of the source after the bytes already read, decoded in memory.
uint32_t DecodeWhole(ImageByteSource* source, ByteBuffer* bytes, bool probe, ImageData* out)
{
    uint8_t block[16384];
    for (;;) {
        size_t n = ReadUpTo(source, block, sizeof block);
        if (!n)
            break;
        if (bytes->size + n > kMaxImageFileSize)
            return ERR_READFILE;
        if (!AppendBytes(bytes, block, n))
            return ERR_MEM;
    }
    return DecodeBmp(bytes->data, bytes->size, probe, out);
}

// The rows of an uncompressed file, from dataOffset on: those already in
// head first, then the source's, a block at a time.
uint32_t StreamRows(const BmpLayout& l, ImageByteSource* source, const ByteBuffer& head, ImageData* out)
{
    const size_t stride = static_cast<size_t>(RowStride(l));
    size_t rowsPerBlock = kRowBlockBytes / stride ? kRowBlockBytes / stride : 1;
    auto* block = static_cast<uint8_t*>(OsAllocMem(rowsPerBlock * stride, 0));
    if (!block)
        return ERR_MEM;
    size_t skip = l.dataOffset > head.size ? l.dataOffset - head.size : 0;
    const uint8_t* early = head.data + (l.dataOffset < head.size ? l.dataOffset : head.size);
    size_t earlyLeft = head.size - static_cast<size_t>(early - head.data);
    uint32_t error = 0;
    while (skip && !error) {
        size_t n = ReadUpTo(source, block, skip < rowsPerBlock * stride ? skip : rowsPerBlock * stride);
        skip -= n;
        if (!n)
            error = ERR_LOADPICTURE;
    }
    for (int32_t r = 0; r < l.height && !error;) {
        size_t rows = static_cast<size_t>(l.height - r) < rowsPerBlock ? static_cast<size_t>(l.height - r)
                                                                        : rowsPerBlock;
        size_t want = rows * stride, have = earlyLeft < want ? earlyLeft : want;
        std::memcpy(block, early, have);
        early += have;
        earlyLeft -= have;
        if (ReadUpTo(source, block + have, want - have) != want - have) {
            error = ERR_LOADPICTURE;
            break;
        }
        for (size_t i = 0; i < rows && !error; ++i, ++r) {
            if (VmAbortFlag.load())
                error = ERR_USERABORT;
            else
                DecodeRow(l, block + i * stride, RowOf(l, out, r));
        }
    }
    OsFreeMem(block);
    return error;
}

uint32_t DecodeSource(ImageByteSource* source, bool probe, ImageData* out, ByteBuffer* head)
{
    // The file header and the info header's size first, then every byte
    // the headers may take, so that they parse as from the whole file.
    if (!AppendFromSource(source, 18, head))
        return ERR_MEM;
    uint32_t headerSize = head->size >= 18 ? LoadLE32(head->data + 14) : 0;
    if (head->size < 18 || headerSize > kMaxStreamedHeader)
        return DecodeWhole(source, head, probe, out);
    if (!AppendFromSource(source, 14 + headerSize + kHeadBytes - head->size, head))
        return ERR_MEM;
    BmpLayout l{};
    if (uint32_t error = ParseHeaders(head->data, head->size, &l, out))
        return error;
    if (probe)
        return 0;
    if (l.compression == BI_RLE8 || l.compression == BI_RLE4 || l.dataOffset > head->size + kMaxStreamedGap)
        return DecodeWhole(source, head, probe, out);
    // Rows that the file cannot hold are refused before the picture is
    // allocated, as in memory.
    uint64_t rowBytes = RowStride(l) * static_cast<uint64_t>(l.height);
    if (source->knownSize && (l.dataOffset > source->knownSize || rowBytes > source->knownSize - l.dataOffset))
        return ERR_LOADPICTURE;
    if (uint32_t error = AllocImagePixels(out, l.width, l.height, false))
        return error;
    uint32_t error = StreamRows(l, source, *head, out);
    if (error)
        FreeImagePixels(out);
    return error;
}

}  // namespace

uint32_t DecodeBmp(const uint8_t* data, size_t size, bool probe, ImageData* out)
{
    BmpLayout l{};
    if (uint32_t error = ParseHeaders(data, size, &l, out))
        return error;
    if (probe)
        return 0;
    bool rle = l.compression == BI_RLE8 || l.compression == BI_RLE4;
    if (uint32_t error = AllocImagePixels(out, l.width, l.height, false))
        return error;
    if (rle) {
        uint32_t black = 0xFF000000u;
        for (size_t i = 0, n = static_cast<size_t>(l.width) * l.height; i < n; ++i)
            out->pixels[i] = black;
    }
    uint32_t error = rle ? DecodeRle(l, data, size, out) : DecodeRows(l, data, size, out);
    if (error)
        FreeImagePixels(out);
    return error;
}

uint32_t DecodeBmpSource(ImageByteSource* source, bool probe, ImageData* out)
{
    ByteBuffer head;
    uint32_t error = DecodeSource(source, probe, out, &head);
    FreeByteBuffer(&head);
    return error;
}
