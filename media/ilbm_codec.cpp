// IFF ILBM (and its chunky sibling PBM): the decoder of 1-8 bitplanes
// through the colour map (with extra-half-brite and hold-and-modify), 24
// and 32 planes of true colour, the mask plane and the transparent colour;
// and the writer of 24-plane files. ByteRun1 runs are cut at the end of
// their row, and a BODY that ends early leaves the rest of the picture
// black rather than failing.
#include <cstring>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "media/image_codecs.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr uint32_t kCamgHam = 0x800, kCamgHalfBrite = 0x80;
enum : uint8_t { MASK_NONE = 0, MASK_PLANE = 1, MASK_COLOUR = 2 };

struct IlbmHeader {
    uint32_t width = 0, height = 0, planes = 0;
    uint8_t masking = 0, compression = 0;
    uint32_t transparentIndex = 0;
    uint32_t camg = 0;
    uint32_t palette[256];
    uint32_t entries = 0;
    const uint8_t* body = nullptr;
    size_t bodySize = 0;
    bool chunky = false;
    bool haveHeader = false;
};

// Fills one row of `length` bytes; answers the bytes consumed.
size_t UnpackRow(const uint8_t* src, size_t available, bool compressed, uint8_t* row, size_t length)
{
    if (!compressed) {
        size_t n = available < length ? available : length;
        std::memcpy(row, src, n);
        std::memset(row + n, 0, length - n);
        return n;
    }
    size_t in = 0, out = 0;
    while (out < length && in < available) {
        int8_t n = static_cast<int8_t>(src[in++]);
        if (n >= 0) {
            size_t count = static_cast<size_t>(n) + 1;
            size_t copy = count;
            if (copy > available - in)
                copy = available - in;
            size_t fit = copy < length - out ? copy : length - out;
            std::memcpy(row + out, src + in, fit);
            out += fit;
            in += copy;
        } else if (n != -128) {
            if (in >= available)
                break;
            size_t count = static_cast<size_t>(-n) + 1;
            size_t fit = count < length - out ? count : length - out;
            std::memset(row + out, src[in++], fit);
            out += fit;
        }
    }
    std::memset(row + out, 0, length - out);
    return in;
}

uint32_t ReadChunks(const uint8_t* data, size_t size, IlbmHeader* h)
{
    uint64_t formEnd = static_cast<uint64_t>(LoadBE32(data + 4)) + 8;
    size_t end = formEnd < size ? static_cast<size_t>(formEnd) : size;
    h->chunky = std::memcmp(data + 8, "PBM ", 4) == 0;
    size_t at = 12;
    while (at + 8 <= end) {
        const uint8_t* id = data + at;
        uint32_t length = LoadBE32(data + at + 4);
        at += 8;
        size_t available = end - at;
        size_t n = length < available ? length : available;
        const uint8_t* c = data + at;
        if (std::memcmp(id, "BMHD", 4) == 0) {
            if (n < 20)
                return ERR_LOADPICTURE;
            h->width = LoadBE16(c);
            h->height = LoadBE16(c + 2);
            h->planes = c[8];
            h->masking = c[9];
            h->compression = c[10];
            h->transparentIndex = LoadBE16(c + 12);
            h->haveHeader = true;
        } else if (std::memcmp(id, "CMAP", 4) == 0) {
            h->entries = static_cast<uint32_t>(n / 3 < 256 ? n / 3 : 256);
            bool fourBit = true;
            for (size_t i = 0; i < h->entries * 3; ++i)
                fourBit = fourBit && (c[i] & 0x0F) == 0;
            for (uint32_t i = 0; i < h->entries; ++i) {
                uint32_t r = c[i * 3], g = c[i * 3 + 1], b = c[i * 3 + 2];
                // Old files hold 4-bit colours in the high nibble.
                if (fourBit)
                    r |= r >> 4, g |= g >> 4, b |= b >> 4;
                h->palette[i] = 0xFF000000u | (r << 16) | (g << 8) | b;
            }
        } else if (std::memcmp(id, "CAMG", 4) == 0 && n >= 4) {
            h->camg = LoadBE32(c);
        } else if (std::memcmp(id, "BODY", 4) == 0) {
            h->body = c;
            h->bodySize = n;
        }
        if (length > available)
            break;
        at += length + (length & 1);
    }
    return h->haveHeader && h->body ? 0u : uint32_t{ERR_LOADPICTURE};
}

void ExpandPalette(IlbmHeader* h)
{
    uint32_t needed = h->planes <= 8 ? 1u << h->planes : 0;
    if (!h->entries) {
        // No colour map: a grey ramp over the index range.
        uint32_t top = needed > 1 ? needed - 1 : 1;
        for (uint32_t i = 0; i < needed; ++i) {
            uint32_t v = i * 255 / top;
            h->palette[i] = 0xFF000000u | v * 0x010101u;
        }
        h->entries = needed;
    }
    if ((h->camg & kCamgHalfBrite) && h->planes == 6 && h->entries <= 32) {
        for (uint32_t i = 0; i < 32; ++i)
            h->palette[32 + i] = 0xFF000000u | ((h->palette[i] & 0xFEFEFE) >> 1);
        h->entries = 64;
    }
    for (uint32_t i = h->entries; i < 256; ++i)
        h->palette[i] = 0xFF000000u;
}

uint32_t DecodeBody(const IlbmHeader& h, ImageData* out)
{
    const uint32_t w = h.width, planes = h.planes;
    const size_t planeBytes = h.chunky ? (w + 1) & ~1u : ((w + 15) / 16) * 2;
    const uint32_t planeRows = h.chunky ? 1 : planes + (h.masking == MASK_PLANE ? 1 : 0);
    auto* rows = static_cast<uint8_t*>(OsAllocMem(planeBytes * planeRows, 0));
    if (!rows)
        return ERR_MEM;
    const bool ham = (h.camg & kCamgHam) && (planes == 6 || planes == 8);
    const uint32_t hamBits = planes - 2;
    const uint8_t* src = h.body;
    size_t left = h.bodySize;
    for (uint32_t y = 0; y < h.height; ++y) {
        for (uint32_t p = 0; p < planeRows; ++p) {
            size_t used = UnpackRow(src, left, h.compression == 1, rows + p * planeBytes, planeBytes);
            src += used;
            left -= used;
        }
        uint32_t* dst = out->pixels + static_cast<size_t>(y) * w;
        uint32_t held = h.palette[0];
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t value = 0;
            if (h.chunky) {
                value = rows[x];
            } else {
                uint32_t shift = 7 - (x & 7);
                for (uint32_t p = 0; p < planes; ++p)
                    value |= static_cast<uint32_t>((rows[p * planeBytes + (x >> 3)] >> shift) & 1) << p;
            }
            uint32_t colour;
            if (planes >= 24) {
                colour = ((value & 0xFF) << 16) | (value & 0xFF00) | ((value >> 16) & 0xFF);
                colour |= planes == 32 ? value & 0xFF000000u : 0xFF000000u;
            } else if (ham) {
                uint32_t control = value >> hamBits, data = value & ((1u << hamBits) - 1);
                // The data bits become the channel's top bits, repeated below.
                uint32_t level = (data << (8 - hamBits)) | (data >> (2 * hamBits - 8));
                if (control == 0)
                    held = h.palette[data];
                else if (control == 1)
                    held = (held & 0xFFFFFF00u) | level;
                else if (control == 2)
                    held = (held & 0xFF00FFFFu) | (level << 16);
                else
                    held = (held & 0xFFFF00FFu) | (level << 8);
                colour = held;
            } else {
                colour = h.palette[value & 0xFF];
                if (h.masking == MASK_COLOUR && value == h.transparentIndex)
                    colour = static_cast<uint32_t>(out->transparentColour);
            }
            if (h.masking == MASK_PLANE && !h.chunky) {
                bool visible = (rows[planes * planeBytes + (x >> 3)] >> (7 - (x & 7))) & 1;
                colour = visible ? colour | 0xFF000000u : colour & 0xFFFFFF;
            }
            dst[x] = colour;
        }
    }
    OsFreeMem(rows);
    return 0;
}

bool PackRow(const uint8_t* row, size_t length, ByteBuffer* out)
{
    size_t i = 0;
    while (i < length) {
        size_t run = 1;
        while (i + run < length && run < 128 && row[i + run] == row[i])
            ++run;
        if (run >= 3) {
            uint8_t code[2] = {static_cast<uint8_t>(257 - run), row[i]};
            if (!AppendBytes(out, code, 2))
                return false;
            i += run;
            continue;
        }
        size_t start = i, literal = 0;
        while (i < length && literal < 128) {
            if (i + 2 < length && row[i] == row[i + 1] && row[i] == row[i + 2])
                break;
            ++i;
            ++literal;
        }
        uint8_t code = static_cast<uint8_t>(literal - 1);
        if (!AppendBytes(out, &code, 1) || !AppendBytes(out, row + start, literal))
            return false;
    }
    return true;
}

void AppendChunkHeader(ByteBuffer* out, const char* id, uint32_t length)
{
    uint8_t header[8];
    std::memcpy(header, id, 4);
    StoreBE32(header + 4, length);
    AppendBytes(out, header, 8);
}

}  // namespace

uint32_t DecodeIlbm(const uint8_t* data, size_t size, bool probe, ImageData* out)
{
    if (size < 12)
        return ERR_LOADPICTURE;
    auto* h = static_cast<IlbmHeader*>(OsAllocMem(sizeof(IlbmHeader), 1));
    if (!h)
        return ERR_MEM;
    uint32_t error = ReadChunks(data, size, h);
    if (!error)
        error = CheckImageSize(h->width, h->height);
    bool planesOk = h->chunky ? h->planes == 8 : (h->planes >= 1 && h->planes <= 8) || h->planes == 24 || h->planes == 32;
    if (!error && (!planesOk || h->compression > 1))
        error = ERR_LOADPICTURE;
    if (!error) {
        ExpandPalette(h);
        out->width = static_cast<int32_t>(h->width);
        out->height = static_cast<int32_t>(h->height);
        if (h->masking == MASK_PLANE || h->planes == 32)
            out->transparentColour = -2;
        else if (h->masking == MASK_COLOUR && h->planes <= 8 && h->transparentIndex < 256)
            out->transparentColour =
                static_cast<int32_t>(UniqueTransparentColour(h->palette, h->entries, h->transparentIndex));
        else
            out->transparentColour = -1;
    }
    if (!error && !probe) {
        error = AllocImagePixels(out, h->width, h->height, false);
        if (!error)
            error = DecodeBody(*h, out);
        if (error)
            FreeImagePixels(out);
    }
    OsFreeMem(h);
    return error;
}

uint32_t EncodeIlbm(const uint32_t* argb, int32_t width, int32_t height, ByteBuffer* out)
{
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        return ERR_BADDIMENSIONS;
    const size_t planeBytes = ((static_cast<size_t>(width) + 15) / 16) * 2;
    auto* row = static_cast<uint8_t*>(OsAllocMem(planeBytes, 0));
    if (!row)
        return ERR_MEM;
    AppendBytes(out, "FORM\0\0\0\0ILBM", 12);
    AppendChunkHeader(out, "BMHD", 20);
    uint8_t bmhd[20] = {};
    StoreBE16(bmhd, static_cast<uint16_t>(width));
    StoreBE16(bmhd + 2, static_cast<uint16_t>(height));
    bmhd[8] = 24;          // planes
    bmhd[10] = 1;          // ByteRun1
    bmhd[14] = bmhd[15] = 1;  // square pixels
    StoreBE16(bmhd + 16, static_cast<uint16_t>(width));
    StoreBE16(bmhd + 18, static_cast<uint16_t>(height));
    AppendBytes(out, bmhd, sizeof bmhd);
    AppendChunkHeader(out, "BODY", 0);
    size_t bodyStart = out->size;
    for (int32_t y = 0; y < height && !out->failed; ++y) {
        const uint32_t* line = argb + static_cast<size_t>(y) * width;
        for (uint32_t p = 0; p < 24; ++p) {
            // Planes 0-7 hold red, 8-15 green, 16-23 blue, lowest bit first.
            uint32_t shift = 16 - (p / 8) * 8 + (p % 8);
            std::memset(row, 0, planeBytes);
            for (int32_t x = 0; x < width; ++x)
                row[x >> 3] |= static_cast<uint8_t>(((line[x] >> shift) & 1) << (7 - (x & 7)));
            PackRow(row, planeBytes, out);
        }
    }
    OsFreeMem(row);
    if (out->failed)
        return ERR_MEM;
    size_t bodyLength = out->size - bodyStart;
    if (bodyLength & 1) {
        uint8_t pad = 0;
        AppendBytes(out, &pad, 1);
    }
    if (out->failed || out->size - 8 > 0xFFFFFFFFu)
        return ERR_MEM;
    StoreBE32(out->data + bodyStart - 4, static_cast<uint32_t>(bodyLength));
    StoreBE32(out->data + 4, static_cast<uint32_t>(out->size - 8));
    return 0;
}
