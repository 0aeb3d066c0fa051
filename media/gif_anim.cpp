// The animated-GIF reader. Frame rectangles come from the file: each is cut
// to the logical screen as it is decoded, a row at a time, and the rows
// after the last one on the screen are not decoded at all; what is decoded
// off the screen is bounded when the file is opened. Disposal: 1 and
// 0 leave the frame in place, 2 restores its rectangle to the background
// (transparent when the frame has a transparent index, else the background
// colour), 3 restores what was there before it.
#include "media/gif_anim.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/vm/error_hooks.h"
#include "media/gif_blocks.h"
#include "media/image_codecs.h"
#include "platform/posix/os_memory.h"

namespace {

struct GifFrameEntry {
    size_t descriptor;  // offset of the image descriptor (after 0x2C)
    uint32_t left;
    uint32_t top;
    uint32_t width;
    uint32_t height;
    int32_t delay;  // milliseconds
    uint8_t disposal;
    int16_t transparentIndex;  // -1 none
};

}  // namespace

struct GifAnimDecoder {
    uint8_t* data;
    size_t size;
    int32_t width;
    int32_t height;
    uint32_t frameCount;
    GifFrameEntry* frames;
    uint32_t globalPalette[256];
    uint32_t globalEntries;
    uint32_t background;   // ARGB of the background index
    uint32_t transparent;  // the transparent pixel: key colour, alpha 0
    uint32_t* canvas;
    uint32_t* saved;       // a frame of disposal 3's rectangle before it was painted
    int64_t current;       // the frame the canvas shows, -1 none
};

namespace {

uint32_t ScanFrames(GifAnimDecoder* d, size_t position)
{
    const uint8_t* data = d->data;
    size_t size = d->size;
    uint8_t disposal = 0;
    int32_t delay = 0, transparentIndex = -1;
    uint32_t capacity = 0;
    for (;;) {
        if (position >= size)
            break;  // no trailer: the frames read so far stand
        uint8_t kind = data[position++];
        if (kind == 0x3B)
            break;
        if (kind == 0x21) {
            if (position >= size)
                break;
            uint8_t label = data[position++];
            if (label == 0xF9 && position + 5 <= size && data[position] == 4) {
                uint8_t packed = data[position + 1];
                disposal = static_cast<uint8_t>((packed >> 2) & 7);
                delay = LoadLE16(data + position + 2) * 10;
                transparentIndex = (packed & 1) ? data[position + 4] : -1;
            }
            if (uint32_t error = GifReadSubBlocks(data, size, &position, nullptr))
                return error;
            continue;
        }
        if (kind != 0x2C) {
            // Bytes that are no block after the last frame end the file.
            if (d->frameCount)
                break;
            return ERR_LOADPICTURE;
        }
        if (position + 9 > size)
            return ERR_LOADPICTURE;
        GifFrameEntry e{};
        e.descriptor = position;
        e.left = LoadLE16(data + position);
        e.top = LoadLE16(data + position + 2);
        e.width = LoadLE16(data + position + 4);
        e.height = LoadLE16(data + position + 6);
        uint8_t packed = data[position + 8];
        position += 9;
        if (packed & 0x80)
            position += static_cast<size_t>(3) << ((packed & 7) + 1);
        if (position + 1 > size)
            return ERR_LOADPICTURE;
        ++position;  // LZW minimum code size
        uint32_t error = GifReadSubBlocks(data, size, &position, nullptr);
        // A last frame whose terminator the file lost still counts.
        if (error && (error != ERR_LOADPICTURE || position != size))
            return error;
        e.delay = delay;
        e.disposal = disposal;
        e.transparentIndex = static_cast<int16_t>(transparentIndex);
        if (int64_t{e.width} * e.height > 0) {
            if (uint32_t sizeError = CheckImageSize(e.width, e.height))
                return sizeError;
        }
        if (d->frameCount == kMaxGifAnimFrames)
            return ERR_BADDIMENSIONS;
        if (d->frameCount == capacity) {
            capacity = capacity ? capacity * 2 : 16;
            auto* grown = static_cast<GifFrameEntry*>(OsAllocMem(sizeof(GifFrameEntry) * capacity, 0));
            if (!grown)
                return ERR_MEM;
            if (d->frames)
                std::memcpy(grown, d->frames, sizeof(GifFrameEntry) * d->frameCount);
            OsFreeMem(d->frames);
            d->frames = grown;
        }
        d->frames[d->frameCount++] = e;
        disposal = 0;
        delay = 0;
        transparentIndex = -1;
        if (error)
            break;
    }
    return d->frameCount ? 0u : uint32_t{ERR_LOADPICTURE};
}

// The frame's rectangle cut to the canvas: false when nothing is left.
bool VisibleRect(const GifAnimDecoder* d, const GifFrameEntry& e, uint32_t* w, uint32_t* h)
{
    auto cw = static_cast<uint32_t>(d->width), ch = static_cast<uint32_t>(d->height);
    if (e.left >= cw || e.top >= ch)
        return false;
    *w = e.width < cw - e.left ? e.width : cw - e.left;
    *h = e.height < ch - e.top ? e.height : ch - e.top;
    return *w && *h;
}

// The canvas row under row y of the frame's rectangle.
uint32_t* CanvasRow(GifAnimDecoder* d, const GifFrameEntry& e, uint32_t y)
{
    return d->canvas + static_cast<size_t>(e.top + y) * static_cast<uint32_t>(d->width) + e.left;
}

// Work on the canvas goes a row at a time with a look at the abort flag
// before each: a canvas may hold a gigabyte, and an abort must not wait
// for all of it. An abort leaves the canvas part done (ERR_USERABORT).

uint32_t FillCanvas(GifAnimDecoder* d, uint32_t colour)
{
    const auto w = static_cast<size_t>(d->width);
    for (int32_t y = 0; y < d->height; ++y) {
        if (VmAbortFlag.load())
            return ERR_USERABORT;
        std::fill_n(d->canvas + static_cast<size_t>(y) * w, w, colour);
    }
    return 0;
}

uint32_t FillRect(GifAnimDecoder* d, const GifFrameEntry& e, uint32_t colour)
{
    uint32_t w, h;
    if (!VisibleRect(d, e, &w, &h))
        return 0;
    for (uint32_t y = 0; y < h; ++y) {
        if (VmAbortFlag.load())
            return ERR_USERABORT;
        std::fill_n(CanvasRow(d, e, y), w, colour);
    }
    return 0;
}

// Copies the frame's rectangle on the canvas to or from d->saved, where
// it lies row after row: a frame changes the canvas nowhere else, so this
// is all that disposal 3 has to put back.
uint32_t CopyRect(GifAnimDecoder* d, const GifFrameEntry& e, bool save)
{
    uint32_t w, h;
    if (!VisibleRect(d, e, &w, &h))
        return 0;
    for (uint32_t y = 0; y < h; ++y) {
        if (VmAbortFlag.load())
            return ERR_USERABORT;
        uint32_t* row = CanvasRow(d, e, y);
        uint32_t* kept = d->saved + static_cast<size_t>(y) * w;
        std::memcpy(save ? kept : row, save ? row : kept, size_t{w} * 4);
    }
    return 0;
}

// Paints the rows of a frame onto the canvas as they are decoded, cut to
// the canvas.
struct FramePainter {
    GifIndexRows rows;
    GifAnimDecoder* d;
    const GifFrameEntry* e;
    const uint32_t* table;
    uint32_t shownW, shownH;
    bool interlaced;
};

bool PaintRow(GifIndexRows* rows)
{
    auto* p = reinterpret_cast<FramePainter*>(rows);
    const GifFrameEntry& e = *p->e;
    uint32_t y = GifPictureRow(rows->delivered++, e.height, p->interlaced);
    if (y < p->shownH) {
        uint32_t* row = CanvasRow(p->d, e, y);
        const int32_t skip = e.transparentIndex;
        for (uint32_t x = 0; x < p->shownW; ++x)
            if (rows->row[x] != skip)
                row[x] = p->table[rows->row[x]];
    }
    return !VmAbortFlag.load();
}

// The indices decoding a frame takes, and how many of them are shown:
// rows after the last shown one are never decoded.
void FrameWork(const GifAnimDecoder* d, const GifFrameEntry& e, uint64_t* decoded, uint64_t* shown)
{
    uint32_t w, h;
    *decoded = *shown = 0;
    if (!VisibleRect(d, e, &w, &h))
        return;
    bool interlaced = (d->data[e.descriptor + 8] & 0x40) != 0;
    *decoded = uint64_t{e.width} * GifRowsToDecode(e.height, h, interlaced);
    *shown = uint64_t{w} * h;
}

uint32_t PaintFrame(GifAnimDecoder* d, const GifFrameEntry& e)
{
    // Frames that paint nothing are stepped over without looking at the
    // rows, so an abort is looked for here too.
    if (VmAbortFlag.load())
        return ERR_USERABORT;
    const uint8_t* data = d->data;
    size_t position = e.descriptor + 8;
    uint8_t packed = data[position++];
    uint32_t palette[256], entries = d->globalEntries;
    const uint32_t* colours = d->globalPalette;
    if (packed & 0x80) {
        entries = 2u << (packed & 7);
        if (GifReadPalette(data, d->size, &position, entries, palette))
            return ERR_LOADPICTURE;
        colours = palette;
    }
    uint32_t minimumBits = data[position++];
    if (minimumBits < 2 || minimumBits > 11)
        return ERR_LOADPICTURE;
    uint32_t shownW, shownH;
    if (!e.width || !e.height || !VisibleRect(d, e, &shownW, &shownH))
        return 0;
    const bool interlaced = (packed & 0x40) != 0;
    const uint32_t rowsToDecode = GifRowsToDecode(e.height, shownH, interlaced);
    ByteBuffer codes;
    uint32_t error = GifReadSubBlocks(data, d->size, &position, &codes);
    if (error == ERR_LOADPICTURE && codes.size)
        error = 0;  // the lost terminator of the last frame
    auto* row = error ? nullptr : static_cast<uint8_t*>(OsAllocMem(e.width, 1));
    if (!error && !row)
        error = ERR_MEM;
    uint32_t table[256];
    for (uint32_t i = 0; i < 256; ++i)
        table[i] = i < entries ? colours[i] : 0xFF000000u;
    FramePainter painter{{row, e.width, 0, 0, PaintRow}, d, &e, table, shownW, shownH, interlaced};
    if (!error)
        error = GifDecodeLzw(codes.data, codes.size, minimumBits, &painter.rows, size_t{e.width} * rowsToDecode);
    // Indices the data did not reach are index 0.
    while (!error && painter.rows.delivered < rowsToDecode) {
        std::memset(row + painter.rows.column, 0, e.width - painter.rows.column);
        painter.rows.column = 0;
        if (!PaintRow(&painter.rows))
            error = ERR_USERABORT;
    }
    FreeByteBuffer(&codes);
    OsFreeMem(row);
    return error;
}

}  // namespace

uint32_t OpenGifAnim(uint8_t* data, size_t size, GifAnimDecoder** out, GifAnimInfo* info)
{
    *out = nullptr;
    if (size < 13 || std::memcmp(data, "GIF8", 4) != 0) {
        OsFreeMem(data);
        return ERR_LOADPICTURE;
    }
    auto* d = static_cast<GifAnimDecoder*>(OsAllocMem(sizeof(GifAnimDecoder), 1));
    if (!d) {
        OsFreeMem(data);
        return ERR_MEM;
    }
    d->data = data;
    d->size = size;
    d->current = -1;
    d->width = LoadLE16(data + 6);
    d->height = LoadLE16(data + 8);
    uint8_t packed = data[10], backgroundIndex = data[11];
    size_t position = 13;
    uint32_t error = 0;
    if (packed & 0x80) {
        d->globalEntries = 2u << (packed & 7);
        error = GifReadPalette(data, size, &position, d->globalEntries, d->globalPalette);
    }
    if (!error)
        error = ScanFrames(d, position);
    if (!error && (d->width == 0 || d->height == 0)) {
        // No logical screen: the first frame's extent stands for it.
        d->width = static_cast<int32_t>(d->frames[0].left + d->frames[0].width);
        d->height = static_cast<int32_t>(d->frames[0].top + d->frames[0].height);
    }
    if (!error)
        error = CheckImageSize(d->width, d->height);
    // Rows and columns of frames outside the screen are decoded for
    // nothing: together they may cost no more than one picture of the
    // largest size.
    uint64_t waste = 0;
    for (uint32_t i = 0; !error && i < d->frameCount; ++i) {
        uint64_t decoded, shown;
        FrameWork(d, d->frames[i], &decoded, &shown);
        waste += decoded - shown;
        if (waste > ImageDecodePixelLimit)
            error = ERR_BADDIMENSIONS;
    }
    int32_t key = -1;
    for (uint32_t i = 0; !error && i < d->frameCount && key < 0; ++i) {
        const GifFrameEntry& e = d->frames[i];
        if (e.transparentIndex < 0)
            continue;
        uint8_t framePacked = data[e.descriptor + 8];
        uint32_t palette[256], entries = d->globalEntries;
        const uint32_t* colours = d->globalPalette;
        if (framePacked & 0x80) {
            size_t at = e.descriptor + 9;
            entries = 2u << (framePacked & 7);
            error = GifReadPalette(data, size, &at, entries, palette);
            colours = palette;
        }
        key = static_cast<int32_t>(
            static_cast<uint32_t>(e.transparentIndex) < entries
                ? UniqueTransparentColour(colours, entries, static_cast<uint32_t>(e.transparentIndex))
                : 0);
    }
    if (error) {
        CloseGifAnim(d);
        return error;
    }
    d->background = backgroundIndex < d->globalEntries ? d->globalPalette[backgroundIndex] : 0xFF000000u;
    d->transparent = key >= 0 ? static_cast<uint32_t>(key) & 0xFFFFFF : 0;
    info->width = d->width;
    info->height = d->height;
    info->frameCount = d->frameCount;
    info->transparentColour = key;
    *out = d;
    return 0;
}

int32_t GetGifAnimFrameDelay(const GifAnimDecoder* d, uint32_t frame)
{
    return frame < d->frameCount ? d->frames[frame].delay : 0;
}

uint32_t DecodeGifAnimFrame(GifAnimDecoder* d, uint32_t frame, const uint32_t** outPixels)
{
    *outPixels = nullptr;
    if (frame >= d->frameCount)
        return SetRangeErrorDetail(ERR_ANIMFRAME, "frame", int64_t{frame} + 1, 1, d->frameCount);
    size_t pixels = static_cast<size_t>(d->width) * static_cast<size_t>(d->height);
    bool fresh = false;
    if (!d->canvas) {
        // One spare row, so that a bitmap can take the canvas over. Zeroed:
        // a large block comes as fresh pages that are zero already, which
        // spares the first frame a transparent fill of 0.
        d->canvas = static_cast<uint32_t*>(OsAllocMem((pixels + static_cast<size_t>(d->width)) * 4, 1));
        if (!d->canvas)
            return ERR_MEM;
        d->current = -1;
        fresh = true;
    }
    if (d->current > static_cast<int64_t>(frame))
        d->current = -1;
    while (d->current < static_cast<int64_t>(frame)) {
        auto next = static_cast<uint32_t>(d->current + 1);
        const GifFrameEntry& e = d->frames[next];
        uint32_t error = 0;
        if (next == 0) {
            uint32_t fill = e.transparentIndex >= 0 ? d->transparent : d->background;
            if (fill || !fresh)
                error = FillCanvas(d, fill);
        } else {
            const GifFrameEntry& before = d->frames[next - 1];
            if (before.disposal == 2)
                error = FillRect(d, before, before.transparentIndex >= 0 ? d->transparent : d->background);
            else if (before.disposal == 3 && d->saved)
                error = CopyRect(d, before, false);
        }
        if (!error && e.disposal == 3) {
            if (!d->saved)
                d->saved = static_cast<uint32_t*>(OsAllocMem(pixels * 4, 0));
            error = d->saved ? CopyRect(d, e, true) : uint32_t{ERR_MEM};
        }
        if (!error)
            error = PaintFrame(d, e);
        if (error) {
            d->current = -1;  // the canvas is half painted
            return error;
        }
        fresh = false;
        d->current = next;
    }
    *outPixels = d->canvas;
    return 0;
}

uint32_t* TakeGifAnimCanvas(GifAnimDecoder* d)
{
    uint32_t* canvas = d->canvas;
    d->canvas = nullptr;
    d->current = -1;
    return canvas;
}

void CloseGifAnim(GifAnimDecoder* d)
{
    if (!d)
        return;
    OsFreeMem(d->data);
    OsFreeMem(d->frames);
    OsFreeMem(d->canvas);
    OsFreeMem(d->saved);
    OsFreeMem(d);
}
