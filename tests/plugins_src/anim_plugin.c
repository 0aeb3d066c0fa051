/* An anim loader plugin for the anim tests, serving procedural frames: it
 * takes "frames:W:H:N" (optionally ":B", frame B then fails to load) and
 * answers N frames whose pixel (x, y) of frame n is
 * 0xFF000000 | (x * 7 + n * 31) & 255 << 16 | (y * 13) & 255 << 8 | n,
 * frame n lasting (n + 1) * 10 milliseconds. "alphaframes:W:H:N" gives the
 * same frames with alpha, the top byte (x + y * 3) & 255 instead of 0xFF.
 * ProcAnimOutstanding tells the tests how many anims and frames the host has
 * not handed back, ProcAnimOpens how many anims it opened in all. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "test_plugin_info.h"

typedef struct ProcAnim {
    int32_t width;
    int32_t height;
    int32_t frames;
    int32_t broken;  /* -1: none */
    int alpha;
    uint32_t flags;  /* what the host asked for at opening */
} ProcAnim;

static int outstanding;
static int opens;
static uint32_t lastFlags;

EXPORT int InitPlugin(PluginInfo* info, const PluginHostApi* api, const char* path)
{
    (void)api;
    (void)path;
    FillTestPluginInfo(info, CAPS, "Test anim plugin " MODULE_NAME, MODULE_NAME, "Procedural anims");
    return 1;
}

EXPORT void ClosePlugin(void) {}

EXPORT int ProcAnimOutstanding(void) { return outstanding; }
EXPORT uint32_t ProcAnimLastFlags(void) { return lastFlags; }
EXPORT int ProcAnimOpens(void) { return opens; }

EXPORT void* OpenAnim(const char* file, QmAnimParams* params)
{
    int w = 0, h = 0, n = 0, broken = -1;
    int alpha = strncmp(file, "alpha", 5) == 0;
    int fields = sscanf(alpha ? file + 5 : file, "frames:%d:%d:%d:%d", &w, &h, &n, &broken);
    if (fields < 3 || w < 1 || h < 1 || n < 1 || w > 4096 || h > 4096 || n > 1000)
        return NULL;
    ProcAnim* a = (ProcAnim*)calloc(1, sizeof(ProcAnim));
    if (!a)
        return NULL;
    a->width = w;
    a->height = h;
    a->frames = n;
    a->broken = fields == 4 ? broken : -1;
    a->alpha = alpha;
    a->flags = params->flags;
    lastFlags = params->flags;
    params->width = w;
    params->height = h;
    params->frames = n;
    params->hasAlpha = alpha;
    params->transparentColour = -1;
    ++outstanding;
    ++opens;
    return a;
}

EXPORT uint32_t* LoadFrame(void* anim, int32_t frame, QmAnimParams* params)
{
    ProcAnim* a = (ProcAnim*)anim;
    (void)params;
    if (frame < 0 || frame >= a->frames || frame == a->broken)
        return NULL;
    uint32_t* p = (uint32_t*)malloc((size_t)a->width * (size_t)a->height * 4);
    if (!p)
        return NULL;
    for (int32_t y = 0; y < a->height; ++y)
        for (int32_t x = 0; x < a->width; ++x)
            p[(size_t)y * (size_t)a->width + (size_t)x] =
                (a->alpha ? ((uint32_t)(x + y * 3) & 255) << 24 : 0xFF000000u) |
                ((uint32_t)(x * 7 + frame * 31) & 255) << 16 | ((uint32_t)(y * 13) & 255) << 8 | ((uint32_t)frame & 255);
    ++outstanding;
    return p;
}

EXPORT void FreeFrame(void* anim, uint32_t* pixels)
{
    (void)anim;
    if (pixels)
        --outstanding;
    free(pixels);
}

EXPORT int32_t GetFrameDelay(void* anim, int32_t frame) { (void)anim; return (frame + 1) * 10; }

EXPORT void CloseAnim(void* anim)
{
    --outstanding;
    free(anim);
}

EXPORT_NO_EXTENSIONS
