/* Image plugins for the loader-chain and saver tests, one source compiled
 * per variant (see CMakeLists.txt). Switches: MODULE_NAME, CAPS; VECTOR:
 * TransformImage renders the picture anew; NO_PIXELS: GetImage gives no
 * pixels; SAVER: formats 100 (true colour with alpha) and 101 (indices);
 * OLD_SVG: revision 1, expects a name ":::chunkOFFSET:SIZE*FILE/INNER" for
 * a file inside an applet, opens it through the host and reads "proc:W:H".
 * "proc:W:H" is a W x H picture of ARGB (x * 255 / W, y, x ^ y) with alpha
 * (x + y) & 255; "proc:W:H:P" comes in rows P pixels wider, the extra
 * pixels 0xDEADBEEF. The saver writes "QMSV", the block's words, its rows
 * and its palette as they are. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "test_plugin_info.h"

static const PluginHostApi* host;

EXPORT int InitPlugin(PluginInfo* info, const PluginHostApi* api, const char* path)
{
    (void)path;
    host = api;
    FillTestPluginInfo(info, CAPS, "Test image plugin " MODULE_NAME, MODULE_NAME, "Procedural pictures");
#ifdef OLD_SVG
    info->revision = 1;
#endif
#ifdef SAVER
    api->system->HostAddSaverFormat(info, 100, "procraw", NULL, "praw", 0, 0);
    api->system->HostAddSaverFormat(info, 101, "procidx", NULL, "pidx", 0, 0);
#endif
    return 1;
}

EXPORT void ClosePlugin(void) {}

#if (CAPS) & 0x4
typedef struct Picture {
    int32_t width;
    int32_t height;
    int32_t pad;
    uint32_t* pixels;
} Picture;

static int ParseName(const char* file, int32_t* w, int32_t* h, int32_t* pad)
{
    *pad = 0;
    return sscanf(file, "proc:%d:%d:%d", w, h, pad) >= 2 && *w > 0 && *h > 0 && *w <= 4096 && *h <= 4096 &&
           *pad >= 0 && *pad <= 64;
}

static __attribute__((unused)) uint32_t* Render(int32_t w, int32_t h, int32_t pad)
{
    size_t row = (size_t)w + (size_t)pad;
    uint32_t* p = (uint32_t*)malloc(row * (size_t)h * 4);
    int32_t x, y;
    if (!p)
        return NULL;
    for (y = 0; y < h; ++y)
        for (x = 0; x < w + pad; ++x)
            p[(size_t)y * row + (size_t)x] = x >= w ? 0xDEADBEEFu
                                                    : ((uint32_t)((x + y) & 255) << 24) |
                                                          ((uint32_t)(x * 255 / w) << 16) |
                                                          ((uint32_t)(y & 255) << 8) | (uint32_t)((x ^ y) & 255);
    return p;
}

/* What the loader answers about a W x H picture in rows of W + pad. */
static void Describe(QmLoadImageParams* params, int32_t w, int32_t h, int32_t pad)
{
    params->width = w;
    params->height = h;
    params->rowLength = w + pad;
    params->hasAlpha = 1;
#ifdef VECTOR
    params->vector = 1;
#endif
}

EXPORT int IsImage(const char* file, QmLoadImageParams* params)
{
    int32_t w, h, pad;
    if (!ParseName(file, &w, &h, &pad))
        return 0;
    Describe(params, w, h, pad);
    return 1;
}

EXPORT void* LoadImage(const char* file, QmLoadImageParams* params)
{
    int32_t w, h, pad;
    Picture* picture;
#ifdef OLD_SVG
    char text[64];
    size_t n;
    QmStream* stream;
    if (strncmp(file, ":::chunk", 8) != 0 || strchr(file, '?') || !strchr(file, '/'))
        return NULL;
    stream = host->streams->HostOpenStream(file, 0);
    if (!stream)
        return NULL;
    n = host->streams->StreamRead(stream, text, sizeof text - 1);
    host->streams->StreamClose(stream);
    text[n] = 0;
    file = text;
#endif
    if (!ParseName(file, &w, &h, &pad))
        return NULL;
    picture = (Picture*)calloc(1, sizeof(Picture));
    if (!picture)
        return NULL;
    picture->width = w;
    picture->height = h;
    picture->pad = pad;
#ifndef NO_PIXELS
    picture->pixels = Render(w, h, pad);
#endif
    Describe(params, w, h, pad);
    return picture;
}

EXPORT uint32_t* GetImage(void* image, QmLoadImageParams* params)
{
    Picture* picture = (Picture*)image;
    Describe(params, picture->width, picture->height, picture->pad);
    return picture->pixels;
}

EXPORT void FreeImage(void* image)
{
    Picture* picture = (Picture*)image;
    free(picture->pixels);
    free(picture);
}

EXPORT int TransformImage(void* image, const QmImageTransform* transform, int width, int height)
{
#ifdef VECTOR
    Picture* picture = (Picture*)image;
    uint32_t* pixels;
    if (transform->matrix[1] != 0 || transform->matrix[2] != 0)
        return 0;
    pixels = Render(width, height, picture->pad);
    if (!pixels)
        return 0;
    free(picture->pixels);
    picture->pixels = pixels;
    picture->width = width;
    picture->height = height;
    return 1;
#else
    (void)image, (void)transform, (void)width, (void)height;
    return 0;
#endif
}
#endif

#ifdef SAVER
static int saverCalls;
EXPORT int RegisterImageSaver(QmSaverFormat* format)
{
    int index = saverCalls++ % 2;
    format->formatId = index ? 101 : 100;
    format->name = index ? "procidx" : "procraw";
    format->flags = index ? 0 : (QM_SAVER_MORE_IMAGE | QM_SAVERFORMAT_TRUECOLOR | QM_SAVERFORMAT_ALPHA);
    return 1;
}

EXPORT int SaveImage(const char* file, QmSaveImageBlock* block)
{
    FILE* out = host->runtime->fopen(file, "wb");
    const int32_t words[9] = {block->width,   block->height, block->bytesPerRow,
                              block->indexed, block->quality, block->colors,
                              (int32_t)block->flags, block->transparentIndex, (int32_t)block->formatId};
    int32_t y;
    int ok;
    if (!out)
        return 0;
    ok = host->runtime->fwrite("QMSV", 1, 4, out) == 4 && host->runtime->fwrite(words, 4, 9, out) == 9;
    for (y = 0; ok && y < block->height; ++y)
        ok = host->runtime->fwrite((const uint8_t*)block->pixels + (size_t)y * (size_t)block->bytesPerRow, 1,
                                   (size_t)block->bytesPerRow, out) == (size_t)block->bytesPerRow;
    if (ok && block->indexed)
        ok = host->runtime->fwrite(block->palette, 4, (size_t)block->colors, out) == (size_t)block->colors;
    return host->runtime->fclose(out) == 0 && ok;
}
#endif
