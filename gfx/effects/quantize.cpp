// Colour reduction by median cut (Heckbert): pixels are counted in a
// histogram of 32 levels per channel; the box of colour space with the
// largest squared error is cut at the median of its longest side until the
// palette is full; each palette entry is the mean of the pixels in its box.
// Pixels are then mapped to their nearest entry through a lazily filled
// cache of 64 levels per channel, optionally with Floyd-Steinberg error
// diffusion (7/16 right, 3/16 below left, 5/16 below, 1/16 below right) in
// serpentine order.
#include "gfx/effects/quantize.h"

#include <emmintrin.h>

#include <cstring>

#include "core/io/error_codes.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "gfx/effects/work_buffer.h"

namespace {

constexpr int kHistBits = 5;
constexpr int kHistSide = 1 << kHistBits;
constexpr size_t kHistCells = size_t{1} << (3 * kHistBits);
constexpr int kMapBits = 6;
constexpr size_t kMapCells = size_t{1} << (3 * kMapBits);

inline size_t HistCell(uint32_t r, uint32_t g, uint32_t b)
{
    return (static_cast<size_t>(r >> (8 - kHistBits)) << (2 * kHistBits)) |
           (static_cast<size_t>(g >> (8 - kHistBits)) << kHistBits) | (b >> (8 - kHistBits));
}

struct Histogram {
    WorkBuffer<uint32_t> count;
    WorkBuffer<uint64_t> sum;    // three per cell: red, green, blue
    WorkBuffer<uint64_t> sumSq;  // r^2 + g^2 + b^2 per cell
};

struct Box {
    int32_t lo[3];
    int32_t hi[3];
    uint64_t n;
    uint64_t sum[3];
    double error;  // sum of squared distances to the mean
};

inline size_t Cell(int32_t r, int32_t g, int32_t b)
{
    return (static_cast<size_t>(r) << (2 * kHistBits)) | (static_cast<size_t>(g) << kHistBits) |
           static_cast<size_t>(b);
}

// Shrinks the box to its occupied cells and gathers its totals.
void MeasureBox(const Histogram& hist, Box* box)
{
    int32_t lo[3] = {kHistSide, kHistSide, kHistSide}, hi[3] = {-1, -1, -1};
    uint64_t n = 0, sum[3] = {0, 0, 0}, sq = 0;
    for (int32_t r = box->lo[0]; r <= box->hi[0]; ++r)
        for (int32_t g = box->lo[1]; g <= box->hi[1]; ++g)
            for (int32_t b = box->lo[2]; b <= box->hi[2]; ++b) {
                size_t c = Cell(r, g, b);
                uint32_t k = hist.count[c];
                if (!k) continue;
                int32_t at[3] = {r, g, b};
                for (int i = 0; i < 3; ++i) {
                    if (at[i] < lo[i]) lo[i] = at[i];
                    if (at[i] > hi[i]) hi[i] = at[i];
                    sum[i] += hist.sum[3 * c + i];
                }
                n += k;
                sq += hist.sumSq[c];
            }
    box->n = n;
    if (!n) return;
    std::memcpy(box->lo, lo, sizeof lo);
    std::memcpy(box->hi, hi, sizeof hi);
    std::memcpy(box->sum, sum, sizeof sum);
    double mean2 = 0;
    for (int i = 0; i < 3; ++i) mean2 += static_cast<double>(sum[i]) * static_cast<double>(sum[i]);
    box->error = static_cast<double>(sq) - mean2 / static_cast<double>(n);
    // A box of one cell cannot be cut at this resolution.
    if (lo[0] == hi[0] && lo[1] == hi[1] && lo[2] == hi[2]) box->error = 0;
}

// Cuts the box across its longest side where the running count passes half
// of its pixels; both halves keep at least one occupied slice.
void SplitBox(const Histogram& hist, Box* box, Box* other)
{
    int axis = 0;
    for (int i = 1; i < 3; ++i)
        if (box->hi[i] - box->lo[i] > box->hi[axis] - box->lo[axis]) axis = i;
    uint64_t slice[kHistSide] = {};
    for (int32_t r = box->lo[0]; r <= box->hi[0]; ++r)
        for (int32_t g = box->lo[1]; g <= box->hi[1]; ++g)
            for (int32_t b = box->lo[2]; b <= box->hi[2]; ++b) {
                int32_t at[3] = {r, g, b};
                slice[at[axis]] += hist.count[Cell(r, g, b)];
            }
    uint64_t running = 0;
    int32_t cut = box->lo[axis];
    for (; cut < box->hi[axis] - 1; ++cut) {
        running += slice[cut];
        if (running * 2 >= box->n) break;
    }
    *other = *box;
    box->hi[axis] = cut;
    other->lo[axis] = cut + 1;
    MeasureBox(hist, box);
    MeasureBox(hist, other);
}

// The nearest entry of a cell, searched outward from the cell's green in
// the entries sorted by green: an entry whose green alone is further than
// the best distance so far cannot win, and neither can any beyond it. Ties
// go to the lowest index, as a search of every entry in order would give.
// Dithering visits most cells of the cache, so this search is most of the
// mapping's time.
struct Mapper {
    WorkBuffer<int16_t> cache;
    uint32_t colours = 0;  // entries that take part in the search
    int32_t red[256], green[256], blue[256];
    uint8_t index[256];  // the palette index of each sorted entry
    int16_t firstAtLeast[256];  // the first sorted entry whose green is at least g

    void Sort(const uint32_t* palette, uint32_t n)
    {
        colours = n;
        for (uint32_t i = 0; i < n; ++i) {
            // Insertion by green, stable: equal greens keep index order.
            auto g = static_cast<int32_t>((palette[i] >> 8) & 0xFF);
            uint32_t at = i;
            for (; at > 0 && green[at - 1] > g; --at) {
                red[at] = red[at - 1];
                green[at] = green[at - 1];
                blue[at] = blue[at - 1];
                index[at] = index[at - 1];
            }
            red[at] = static_cast<int32_t>((palette[i] >> 16) & 0xFF);
            green[at] = g;
            blue[at] = static_cast<int32_t>(palette[i] & 0xFF);
            index[at] = static_cast<uint8_t>(i);
        }
        int16_t k = 0;
        for (int32_t g = 0; g < 256; ++g) {
            while (k < static_cast<int16_t>(n) && green[k] < g) ++k;
            firstAtLeast[g] = k;
        }
    }

    uint32_t Nearest(uint32_t r, uint32_t g, uint32_t b)
    {
        size_t cell = (static_cast<size_t>(r >> (8 - kMapBits)) << (2 * kMapBits)) |
                      (static_cast<size_t>(g >> (8 - kMapBits)) << kMapBits) | (b >> (8 - kMapBits));
        int16_t known = cache[cell];
        return known >= 0 ? static_cast<uint32_t>(known) : Search(cell, r, g, b);
    }

    // Out of line, so that the cache hit above stays small enough to inline.
    [[gnu::noinline]] uint32_t Search(size_t cell, uint32_t r, uint32_t g, uint32_t b)
    {
        // The cell's centre stands for every colour in it.
        int32_t cr = static_cast<int32_t>((r & 0xFC) | 2), cg = static_cast<int32_t>((g & 0xFC) | 2),
                cb = static_cast<int32_t>((b & 0xFC) | 2);
        int32_t start = firstAtLeast[cg];
        uint32_t best = 0;
        int32_t bestD = INT32_MAX;
        auto consider = [&](int32_t k, int32_t dg) {
            int32_t dr = cr - red[k], db = cb - blue[k];
            int32_t d = dr * dr + dg * dg + db * db;
            if (d < bestD || (d == bestD && index[k] < best)) {
                bestD = d;
                best = index[k];
            }
        };
        for (int32_t up = start, down = start - 1; up < static_cast<int32_t>(colours) || down >= 0;) {
            if (up < static_cast<int32_t>(colours)) {
                int32_t dg = green[up] - cg;
                if (dg * dg > bestD) up = static_cast<int32_t>(colours);
                else consider(up++, dg);
            }
            if (down >= 0) {
                int32_t dg = cg - green[down];
                if (dg * dg > bestD) down = -1;
                else consider(down--, dg);
            }
        }
        cache[cell] = static_cast<int16_t>(best);
        return best;
    }
};

}  // namespace

uint32_t QuantizeImage(QuantizeParams* b)
{
    b->transparentIndex = -1;
    if (b->format >= PIXFMT_COUNT || PixelFormatBytes(b->format) != b->bytesPerPixel)
        return ERR_PIXELFORMAT;
    if (!b->pixels || !b->indices || !b->palette || b->w <= 0 || b->h <= 0 || b->rowLength < b->w)
        return ERR_ARGS;
    uint32_t wanted = b->count < 2 ? 2 : b->count > 256 ? 256 : b->count;
    bool keyed = b->transparent >= 0;
    uint32_t key = static_cast<uint32_t>(b->transparent) & 0xFFFFFF;
    uint32_t colourSlots = keyed ? wanted - 1 : wanted;

    const PixelRowKernels* rows = GetPixelRowKernels(b->format);
    size_t w = static_cast<size_t>(b->w);
    size_t stride = static_cast<size_t>(b->rowLength) * b->bytesPerPixel;
    auto* base = static_cast<const uint8_t*>(b->pixels);
    WorkBuffer<uint32_t> row(w);
    Histogram hist;
    if (!row || !hist.count.Allocate(kHistCells, 1) || !hist.sum.Allocate(3 * kHistCells, 1) ||
        !hist.sumSq.Allocate(kHistCells, 1))
        return ERR_MEM;

    bool anyKeyed = false;
    for (int32_t y = 0; y < b->h; ++y) {
        rows->toArgb(base + stride * y, row.get(), b->w, 0);
        for (size_t x = 0; x < w; ++x) {
            uint32_t c = row[x] & 0xFFFFFF;
            if (keyed && c == key) {
                anyKeyed = true;
                continue;
            }
            uint32_t r = c >> 16, g = (c >> 8) & 0xFF, bl = c & 0xFF;
            size_t cell = HistCell(r, g, bl);
            hist.count[cell]++;
            hist.sum[3 * cell] += r;
            hist.sum[3 * cell + 1] += g;
            hist.sum[3 * cell + 2] += bl;
            hist.sumSq[cell] += r * r + g * g + bl * bl;
        }
    }

    Box boxes[256];
    uint32_t nBoxes = 0;
    boxes[0] = Box{{0, 0, 0}, {kHistSide - 1, kHistSide - 1, kHistSide - 1}, 0, {0, 0, 0}, 0};
    MeasureBox(hist, &boxes[0]);
    if (boxes[0].n) nBoxes = 1;
    while (nBoxes && nBoxes < colourSlots) {
        uint32_t pick = 0;
        for (uint32_t i = 1; i < nBoxes; ++i)
            if (boxes[i].error > boxes[pick].error) pick = i;
        if (boxes[pick].error <= 0) break;
        SplitBox(hist, &boxes[pick], &boxes[nBoxes]);
        ++nBoxes;
    }

    std::memset(b->palette, 0, 256 * sizeof(uint32_t));
    for (uint32_t i = 0; i < nBoxes; ++i) {
        uint32_t c[3];
        for (int k = 0; k < 3; ++k) c[k] = static_cast<uint32_t>((boxes[i].sum[k] + boxes[i].n / 2) / boxes[i].n);
        b->palette[i] = (c[0] << 16) | (c[1] << 8) | c[2];
    }
    uint32_t made = nBoxes;
    int32_t keyIndex = -1;
    if (keyed && (anyKeyed || nBoxes == 0)) {
        keyIndex = static_cast<int32_t>(made);
        b->palette[made++] = key;
    }

    Mapper map;
    map.Sort(b->palette, nBoxes);
    if (!map.cache.Allocate(kMapCells)) return ERR_MEM;
    std::memset(map.cache.get(), 0xFF, kMapCells * sizeof(int16_t));

    // Two rows of diffused error, 16 times the channel error, with a guard
    // cell at either end: four 16-bit lanes per pixel in the pixel's byte
    // order (blue, green, red, and a lane that stays 0). Every error is at
    // most 255 and a cell gathers 16 of them at most, so the lanes hold the
    // sums exactly.
    size_t errLanes = 4 * (w + 2);
    WorkBuffer<int16_t> errThis(errLanes, 1), errNext(errLanes, 1);
    if (b->dither && (!errThis || !errNext)) return ERR_MEM;
    int16_t* cur = errThis.get();
    int16_t* next = errNext.get();
    const __m128i zero = _mm_setzero_si128(), eight = _mm_set1_epi16(8);
    const __m128i seven = _mm_set1_epi16(7), five = _mm_set1_epi16(5), three = _mm_set1_epi16(3);
    auto lanes = [zero](uint32_t c) { return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int32_t>(c)), zero); };
    auto load = [](const int16_t* at) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)); };
    auto store = [](int16_t* at, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(at), v); };

    for (int32_t y = 0; y < b->h; ++y) {
        rows->toArgb(base + stride * y, row.get(), b->w, 0);
        uint8_t* out = b->indices + w * static_cast<size_t>(y);
        bool reverse = b->dither && (y & 1);
        for (size_t i = 0; i < w; ++i) {
            size_t x = reverse ? w - 1 - i : i;
            uint32_t c = row[x] & 0xFFFFFF;
            if (keyIndex >= 0 && c == key) {
                out[x] = static_cast<uint8_t>(keyIndex);
                continue;
            }
            if (nBoxes == 0) {
                out[x] = 0;
                continue;
            }
            if (!b->dither) {
                out[x] = static_cast<uint8_t>(map.Nearest(c >> 16, (c >> 8) & 0xFF, c & 0xFF));
                continue;
            }
            // The colour plus its rounded share of error, clamped to 0..255
            // by the saturating pack.
            int16_t* e = cur + 4 * (x + 1);
            __m128i share = _mm_srai_epi16(_mm_add_epi16(load(e), eight), 4);
            auto v = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_add_epi16(lanes(c), share), zero)));
            uint32_t idx = map.Nearest(v >> 16, (v >> 8) & 0xFF, v & 0xFF);
            out[x] = static_cast<uint8_t>(idx);
            __m128i err = _mm_sub_epi16(lanes(v), lanes(b->palette[idx]));
            ptrdiff_t ahead = reverse ? -4 : 4;
            int16_t* n = next + 4 * (x + 1);
            store(e + ahead, _mm_add_epi16(load(e + ahead), _mm_mullo_epi16(err, seven)));
            store(n - ahead, _mm_add_epi16(load(n - ahead), _mm_mullo_epi16(err, three)));
            store(n, _mm_add_epi16(load(n), _mm_mullo_epi16(err, five)));
            store(n + ahead, _mm_add_epi16(load(n + ahead), err));
        }
        if (b->dither) {
            int16_t* t = cur;
            cur = next;
            next = t;
            std::memset(next, 0, errLanes * sizeof(int16_t));
        }
    }
    b->count = made;
    b->transparentIndex = keyIndex;
    return 0;
}

uint32_t BuildQuantizePalette(const void* pixels, uint32_t format, uint32_t bytesPerPixel,
                              int32_t w, int32_t h, int32_t rowLength, uint8_t* indices,
                              uint32_t* palette, uint32_t* count, int32_t transparent,
                              uint32_t flags, uint32_t dither, int32_t* extra)
{
    QuantizeParams block{pixels, format, bytesPerPixel, w, h, rowLength, indices, palette,
                         count ? *count : 256, transparent, flags, dither, -1};
    uint32_t err = QuantizeImage(&block);
    if (err) return err;
    if (count) *count = block.count;
    if (extra) *extra = block.transparentIndex;
    return 0;
}
