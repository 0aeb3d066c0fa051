// GIF: the decoder of a file's first picture and the writer of pictures of
// palette indices, each with its own LZW coder. The decoder's codes are
// checked against its table (a code past the next free entry ends the
// picture as broken) and its output is cut to the picture's pixels; prefix
// chains always point to smaller codes, so every walk ends.
#include <algorithm>
#include <cstring>
#include <new>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "core/io/whole_file.h"
#include "core/vm/error_hooks.h"
#include "media/gif_blocks.h"
#include "media/gif_writer.h"
#include "media/image_codecs.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr uint32_t kMaxCodes = 4096;

struct ByteReader {
    const uint8_t* data;
    size_t size;
    size_t position;
    bool Has(size_t n) const { return n <= size - position; }
};

// Joins the data sub-blocks that start at the reader into one buffer.
uint32_t ReadSubBlocks(ByteReader* r, ByteBuffer* out)
{
    for (;;) {
        if (!r->Has(1))
            return ERR_LOADPICTURE;
        uint8_t length = r->data[r->position++];
        if (!length)
            return 0;
        if (!r->Has(length))
            return ERR_LOADPICTURE;
        if (out && !AppendBytes(out, r->data + r->position, length))
            return ERR_MEM;
        r->position += length;
    }
}

struct LzwDecoder {
    uint16_t prefix[kMaxCodes];
    uint8_t suffix[kMaxCodes];
    uint8_t stack[kMaxCodes + 1];
};

inline bool PutIndex(GifIndexRows* rows, uint8_t index)
{
    rows->row[rows->column++] = index;
    if (rows->column < rows->width)
        return true;
    rows->column = 0;
    return rows->put(rows);
}

// Decodes codes into indices; stops at the end code or when the picture is
// full. 0, ERR_USERABORT, or ERR_LOADPICTURE for an impossible code or for
// data that runs out before either: a file cut short must not pass for a
// picture with empty rows.
uint32_t DecodeLzw(const uint8_t* data, size_t size, uint32_t minimumBits, GifIndexRows* indices, size_t count)
{
    auto* t = static_cast<LzwDecoder*>(OsAllocMem(sizeof(LzwDecoder), 0));
    if (!t)
        return ERR_MEM;
    const uint32_t clear = 1u << minimumBits, end = clear + 1;
    for (uint32_t i = 0; i < clear; ++i) {
        t->prefix[i] = 0;
        t->suffix[i] = static_cast<uint8_t>(i);
    }
    uint32_t bits = minimumBits + 1, next = clear + 2;
    int32_t previous = -1;
    uint8_t first = 0;
    uint64_t accumulator = 0;
    uint32_t held = 0;
    size_t in = 0, out = 0;
    uint32_t status = 0;
    while (out < count) {
        while (held < bits && in < size) {
            accumulator |= static_cast<uint64_t>(data[in++]) << held;
            held += 8;
        }
        if (held < bits) {
            status = ERR_LOADPICTURE;
            break;
        }
        uint32_t code = static_cast<uint32_t>(accumulator & ((1u << bits) - 1));
        accumulator >>= bits;
        held -= bits;
        if (code == clear) {
            bits = minimumBits + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end)
            break;
        if (previous < 0) {
            if (code >= clear) {
                status = ERR_LOADPICTURE;
                break;
            }
            first = static_cast<uint8_t>(code);
            ++out;
            if (!PutIndex(indices, first)) {
                status = ERR_USERABORT;
                break;
            }
            previous = static_cast<int32_t>(code);
            continue;
        }
        uint32_t current = code, depth = 0;
        if (code > next || (code == next && next >= kMaxCodes)) {
            status = ERR_LOADPICTURE;
            break;
        }
        if (code == next) {
            t->stack[depth++] = first;
            code = static_cast<uint32_t>(previous);
        }
        while (code >= clear) {
            t->stack[depth++] = t->suffix[code];
            code = t->prefix[code];
        }
        first = static_cast<uint8_t>(code);
        t->stack[depth++] = first;
        while (depth && out < count && status == 0) {
            ++out;
            if (!PutIndex(indices, t->stack[--depth]))
                status = ERR_USERABORT;
        }
        if (status)
            break;
        if (next < kMaxCodes) {
            t->prefix[next] = static_cast<uint16_t>(previous);
            t->suffix[next] = first;
            ++next;
            if (next == (1u << bits) && bits < 12)
                ++bits;
        }
        previous = static_cast<int32_t>(current);
    }
    OsFreeMem(t);
    return status;
}

uint32_t ReadPalette(ByteReader* r, uint32_t entries, uint32_t* palette)
{
    if (!r->Has(static_cast<size_t>(entries) * 3))
        return ERR_LOADPICTURE;
    for (uint32_t i = 0; i < entries; ++i, r->position += 3) {
        const uint8_t* c = r->data + r->position;
        palette[i] = 0xFF000000u | (c[0] << 16) | (c[1] << 8) | c[2];
    }
    return 0;
}

// Puts rows of indices into the picture as colours, in the order of the
// file's rows (by passes for an interlaced picture), cut to the picture:
// colours holds the colour of every index (the palette's, black past it,
// and the transparent one's).
struct RowPlacer {
    GifIndexRows rows;
    const uint32_t* colours;
    ImageData* out;
    uint32_t left, top, height;
    uint32_t shownWidth, shownRows;  // the part of the frame inside the picture
    bool interlaced;
};

bool PlaceRow(GifIndexRows* rows)
{
    auto* p = reinterpret_cast<RowPlacer*>(rows);
    uint32_t y = GifPictureRow(rows->delivered++, p->height, p->interlaced);
    if (y < p->shownRows) {
        uint32_t* row = p->out->pixels + static_cast<size_t>(p->top + y) * static_cast<uint32_t>(p->out->width) + p->left;
        for (uint32_t x = 0; x < p->shownWidth; ++x)
            row[x] = p->colours[rows->row[x]];
    }
    return !VmAbortFlag.load();
}

// How much of a frame at `at` with `extent` pixels lies inside `size`.
uint32_t ShownExtent(uint32_t at, uint32_t extent, uint32_t size)
{
    return at >= size ? 0 : std::min(extent, size - at);
}

}  // namespace

uint32_t DecodeGif(const uint8_t* data, size_t size, bool probe, ImageData* out)
{
    ByteReader r{data, size, 0};
    if (size < 13)
        return ERR_LOADPICTURE;
    uint32_t screenWidth = LoadLE16(data + 6), screenHeight = LoadLE16(data + 8);
    uint8_t packed = data[10], background = data[11];
    r.position = 13;
    uint32_t globalPalette[256], globalEntries = 0;
    if (packed & 0x80) {
        globalEntries = 2u << (packed & 7);
        if (ReadPalette(&r, globalEntries, globalPalette))
            return ERR_LOADPICTURE;
    }
    int32_t transparentIndex = -1;
    for (;;) {
        if (!r.Has(1))
            return ERR_LOADPICTURE;
        uint8_t kind = data[r.position++];
        if (kind == 0x21) {
            if (!r.Has(1))
                return ERR_LOADPICTURE;
            uint8_t label = data[r.position++];
            if (label == 0xF9 && r.Has(6) && data[r.position] == 4) {
                if (data[r.position + 1] & 1)
                    transparentIndex = data[r.position + 4];
                else
                    transparentIndex = -1;
            }
            if (ReadSubBlocks(&r, nullptr))
                return ERR_LOADPICTURE;
            continue;
        }
        if (kind != 0x2C)
            return ERR_LOADPICTURE;  // the trailer before any picture, or garbage
        break;
    }
    if (!r.Has(10))
        return ERR_LOADPICTURE;
    const uint8_t* d = data + r.position;
    uint32_t left = LoadLE16(d), top = LoadLE16(d + 2), w = LoadLE16(d + 4), h = LoadLE16(d + 6);
    uint8_t imagePacked = d[8];
    r.position += 9;
    uint32_t localPalette[256], entries = globalEntries;
    const uint32_t* palette = globalPalette;
    if (imagePacked & 0x80) {
        entries = 2u << (imagePacked & 7);
        if (ReadPalette(&r, entries, localPalette))
            return ERR_LOADPICTURE;
        palette = localPalette;
    }
    // The logical screen is the picture, and what of the frame lies outside
    // it is never shown; only a file without a screen takes the frame's
    // extent, as the animated reader does.
    uint32_t canvasWidth = screenWidth, canvasHeight = screenHeight;
    if (!canvasWidth || !canvasHeight) {
        canvasWidth = left + w;
        canvasHeight = top + h;
    }
    if (uint32_t error = CheckImageSize(canvasWidth, canvasHeight))
        return error;
    if (w == 0 || h == 0)
        return ERR_LOADPICTURE;
    // The frame's declared size bounds the work of decoding it, shown or not.
    if (uint32_t error = CheckImageSize(w, h))
        return error;
    uint32_t transparentRgb = 0;
    if (transparentIndex >= 0) {
        if (static_cast<uint32_t>(transparentIndex) < entries)
            transparentRgb = UniqueTransparentColour(palette, entries, static_cast<uint32_t>(transparentIndex));
        out->transparentColour = static_cast<int32_t>(transparentRgb);
    } else {
        out->transparentColour = -1;
    }
    out->width = static_cast<int32_t>(canvasWidth);
    out->height = static_cast<int32_t>(canvasHeight);
    if (probe)
        return 0;

    if (!r.Has(1))
        return ERR_LOADPICTURE;
    uint32_t minimumBits = data[r.position++];
    if (minimumBits < 2 || minimumBits > 11)
        return ERR_LOADPICTURE;
    ByteBuffer codes;
    if (uint32_t error = ReadSubBlocks(&r, &codes)) {
        // A missing block terminator at the very end still leaves a picture.
        if (error == ERR_MEM || codes.size == 0) {
            FreeByteBuffer(&codes);
            return error;
        }
    }
    const bool interlaced = (imagePacked & 0x40) != 0;
    uint32_t shownWidth = ShownExtent(left, w, canvasWidth), shownRows = ShownExtent(top, h, canvasHeight);
    if (!shownWidth)
        shownRows = 0;
    const uint32_t rowsToDecode = GifRowsToDecode(h, shownRows, interlaced);
    // The picture is made once, at its final size; the decoder writes its
    // rows straight into it, and only the canvas around them is filled.
    uint32_t error = AllocImagePixels(out, canvasWidth, canvasHeight, false);
    auto* row = error ? nullptr : static_cast<uint8_t*>(OsAllocMem(w, 1));
    if (!error && !row)
        error = ERR_MEM;
    if (!error) {
        uint32_t colours[256];
        for (uint32_t i = 0; i < 256; ++i)
            colours[i] = i < entries ? palette[i] : 0xFF000000u;
        uint32_t fill = colours[background];
        if (transparentIndex >= 0)
            fill = colours[transparentIndex] = transparentRgb;
        for (uint32_t y = 0; y < canvasHeight; ++y) {
            uint32_t* line = out->pixels + static_cast<size_t>(y) * canvasWidth;
            if (y < top || y >= top + shownRows) {
                std::fill(line, line + canvasWidth, fill);
            } else {
                std::fill(line, line + left, fill);
                std::fill(line + left + shownWidth, line + canvasWidth, fill);
            }
        }
        RowPlacer placer{{row, w, 0, 0, PlaceRow}, colours, out, left, top, h, shownWidth, shownRows, interlaced};
        if (rowsToDecode)
            error = DecodeLzw(codes.data, codes.size, minimumBits, &placer.rows, size_t{w} * rowsToDecode);
        // Pixels the data did not reach take the first colour.
        while (!error && placer.rows.delivered < rowsToDecode) {
            std::fill(row + placer.rows.column, row + w, uint8_t{0});
            placer.rows.column = 0;
            if (!PlaceRow(&placer.rows))
                error = ERR_USERABORT;
        }
    }
    FreeByteBuffer(&codes);
    OsFreeMem(row);
    if (error)
        FreeImagePixels(out);
    return error;
}

// ---------------------------------------------------------------------------
// Writer

struct GifWriter {
    WholeFileWriter file;
    int32_t width;
    int32_t height;
    uint32_t error;  // the first failure; later frames are not written
};

namespace {

struct BitWriter {
    ByteBuffer* out = nullptr;
    uint8_t block[256] = {};
    uint32_t blockLength = 0;
    uint64_t accumulator = 0;
    uint32_t held = 0;

    void Byte(uint8_t b)
    {
        block[1 + blockLength++] = b;
        if (blockLength == 255)
            FlushBlock();
    }
    void FlushBlock()
    {
        if (!blockLength)
            return;
        block[0] = static_cast<uint8_t>(blockLength);
        AppendBytes(out, block, blockLength + 1);
        blockLength = 0;
    }
    void Code(uint32_t code, uint32_t bits)
    {
        accumulator |= static_cast<uint64_t>(code) << held;
        held += bits;
        while (held >= 8) {
            Byte(static_cast<uint8_t>(accumulator));
            accumulator >>= 8;
            held -= 8;
        }
    }
    void Finish()
    {
        if (held)
            Byte(static_cast<uint8_t>(accumulator));
        held = 0;
        FlushBlock();
        uint8_t terminator = 0;
        AppendBytes(out, &terminator, 1);
    }
};

constexpr uint32_t kHashSize = 5003;

struct LzwEncoder {
    int32_t keys[kHashSize];
    uint16_t codes[kHashSize];
};

void EncodeLzw(const uint8_t* indices, size_t count, uint32_t minimumBits, ByteBuffer* out)
{
    auto* t = static_cast<LzwEncoder*>(OsAllocMem(sizeof(LzwEncoder), 0));
    if (!t) {
        out->failed = true;
        return;
    }
    BitWriter w;
    w.out = out;
    const uint32_t clear = 1u << minimumBits, end = clear + 1;
    uint32_t bits = minimumBits + 1, next = clear + 2;
    auto reset = [&] {
        for (uint32_t i = 0; i < kHashSize; ++i)
            t->keys[i] = -1;
        bits = minimumBits + 1;
        next = clear + 2;
    };
    reset();
    w.Code(clear, bits);
    uint32_t current = indices[0] & (clear - 1);
    for (size_t i = 1; i < count; ++i) {
        uint32_t c = indices[i] & (clear - 1);
        int32_t key = static_cast<int32_t>((current << 8) | c);
        uint32_t slot = (static_cast<uint32_t>(key) * 2654435761u) % kHashSize;
        while (t->keys[slot] >= 0 && t->keys[slot] != key)
            slot = slot + 1 == kHashSize ? 0 : slot + 1;
        if (t->keys[slot] == key) {
            current = t->codes[slot];
            continue;
        }
        w.Code(current, bits);
        if (next < kMaxCodes - 1) {
            t->keys[slot] = key;
            t->codes[slot] = static_cast<uint16_t>(next++);
            if (next > (1u << bits) && bits < 12)
                ++bits;
        } else {
            w.Code(clear, bits);
            reset();
        }
        current = c;
    }
    w.Code(current, bits);
    w.Code(end, bits);
    w.Finish();
    OsFreeMem(t);
}

uint32_t WriteBuffer(GifWriter* writer, const ByteBuffer& bytes)
{
    if (bytes.failed)
        return ERR_MEM;
    if (StreamWrite(writer->file.stream, bytes.data, bytes.size) != bytes.size)
        return ERR_WRITE;
    return 0;
}

}  // namespace

uint32_t SaveGif(const char* file, int32_t width, int32_t height, GifWriter** outWriter)
{
    *outWriter = nullptr;
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        return ERR_BADDIMENSIONS;
    auto* writer = new (std::nothrow) GifWriter{};
    if (!writer)
        return ERR_MEM;
    writer->width = width;
    writer->height = height;
    if (uint32_t error = BeginWholeFile(file, 0, &writer->file)) {
        delete writer;
        return error;
    }
    uint8_t header[13] = {'G', 'I', 'F', '8', '9', 'a'};
    StoreLE16(header + 6, static_cast<uint16_t>(width));
    StoreLE16(header + 8, static_cast<uint16_t>(height));
    ByteBuffer bytes;
    AppendBytes(&bytes, header, sizeof header);
    writer->error = WriteBuffer(writer, bytes);
    FreeByteBuffer(&bytes);
    *outWriter = writer;
    return writer->error;
}

uint32_t WriteAnimGifFrame(GifWriter* writer, const uint8_t* indices, int32_t width, int32_t height, int32_t,
                           const uint32_t* palette, int32_t colours, int32_t transparentIndex, int32_t, int32_t)
{
    if (writer->error)
        return writer->error;
    if (width <= 0 || height <= 0 || width > writer->width || height > writer->height)
        return writer->error = ERR_BADDIMENSIONS;
    colours = colours < 2 ? 2 : colours > 256 ? 256 : colours;
    uint32_t tableBits = 1;
    while ((1 << tableBits) < colours)
        ++tableBits;
    ByteBuffer bytes;
    if (transparentIndex >= 0 && transparentIndex < colours) {
        uint8_t control[8] = {0x21, 0xF9, 4, 1, 0, 0, static_cast<uint8_t>(transparentIndex), 0};
        AppendBytes(&bytes, control, sizeof control);
    }
    uint8_t descriptor[10] = {0x2C, 0, 0, 0, 0};
    StoreLE16(descriptor + 5, static_cast<uint16_t>(width));
    StoreLE16(descriptor + 7, static_cast<uint16_t>(height));
    descriptor[9] = static_cast<uint8_t>(0x80 | (tableBits - 1));
    AppendBytes(&bytes, descriptor, sizeof descriptor);
    for (uint32_t i = 0; i < (1u << tableBits); ++i) {
        uint32_t c = static_cast<int32_t>(i) < colours ? palette[i] : 0;
        uint8_t rgb[3] = {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
        AppendBytes(&bytes, rgb, 3);
    }
    uint32_t minimumBits = tableBits < 2 ? 2 : tableBits;
    uint8_t codeSize = static_cast<uint8_t>(minimumBits);
    AppendBytes(&bytes, &codeSize, 1);
    EncodeLzw(indices, static_cast<size_t>(width) * height, minimumBits, &bytes);
    writer->error = WriteBuffer(writer, bytes);
    FreeByteBuffer(&bytes);
    return writer->error;
}

uint32_t CloseGifWriter(GifWriter* writer)
{
    if (!writer)
        return 0;
    uint32_t error = writer->error;
    if (!error) {
        uint8_t trailer = 0x3B;
        error = StreamWrite(writer->file.stream, &trailer, 1) == 1 ? 0u : uint32_t{ERR_WRITE};
    }
    if (error)
        AbandonWholeFile(&writer->file);
    else
        error = CommitWholeFile(&writer->file);
    delete writer;
    return error;
}

// ---------------------------------------------------------------------------
// The block reader and the LZW decoder, as the animated-GIF reader uses them
// (media/gif_blocks.h).

uint32_t GifReadSubBlocks(const uint8_t* data, size_t size, size_t* position, ByteBuffer* out)
{
    ByteReader r{data, size, *position};
    uint32_t error = ReadSubBlocks(&r, out);
    *position = r.position;
    return error;
}

uint32_t GifDecodeLzw(const uint8_t* data, size_t size, uint32_t minimumBits, GifIndexRows* rows, size_t count)
{
    return DecodeLzw(data, size, minimumBits, rows, count);
}

uint32_t GifReadPalette(const uint8_t* data, size_t size, size_t* position, uint32_t entries, uint32_t* palette)
{
    ByteReader r{data, size, *position};
    uint32_t error = ReadPalette(&r, entries, palette);
    *position = r.position;
    return error;
}

namespace {

constexpr uint32_t kPassStart[4] = {0, 4, 2, 1}, kPassStep[4] = {8, 8, 4, 2};

uint32_t RowsInPass(uint32_t height, int pass)
{
    return height > kPassStart[pass] ? (height - kPassStart[pass] + kPassStep[pass] - 1) / kPassStep[pass] : 0;
}

}  // namespace

uint32_t GifPictureRow(uint32_t sourceRow, uint32_t height, bool interlaced)
{
    if (!interlaced)
        return sourceRow;
    for (int pass = 0; pass < 4; ++pass) {
        uint32_t rows = RowsInPass(height, pass);
        if (sourceRow < rows)
            return kPassStart[pass] + sourceRow * kPassStep[pass];
        sourceRow -= rows;
    }
    return height;  // past the picture
}

uint32_t GifRowsToDecode(uint32_t height, uint32_t shown, bool interlaced)
{
    if (shown > height)
        shown = height;
    if (!interlaced || !shown)
        return shown;
    // The last pass that holds a shown row ends the work: its last shown
    // row comes after every shown row of the passes before it.
    uint32_t before = 0, needed = 0;
    for (int pass = 0; pass < 4; ++pass) {
        if (shown > kPassStart[pass])
            needed = before + (shown - 1 - kPassStart[pass]) / kPassStep[pass] + 1;
        before += RowsInPass(height, pass);
    }
    return needed;
}
