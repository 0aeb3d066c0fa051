/* Sound loader and video decoder plugins serving procedural data in small
 * pieces. procsound (0x10): "tone:RATE:FRAMES" is a mono 16-bit sound whose
 * frame i is ((i * 97) & 0x7FFF) - 0x4000; "slowtone:RATE:FRAMES:MS" the
 * same, each piece taking MS milliseconds; "blocktone:RATE:FRAMES" the same
 * in blocks of 64 frames written whole whatever was asked (the count
 * answered is at most what was asked). procvideo (0x40): "bars:W:H:FRAMES",
 * pixel (x, y) of frame n 0xFF000000 | x << 16 | y << 8 | n. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "test_plugin_info.h"

EXPORT int InitPlugin(PluginInfo* info, const PluginHostApi* api, const char* path)
{
    (void)api;
    (void)path;
    FillTestPluginInfo(info, CAPS, "Test media plugin " MODULE_NAME, MODULE_NAME, "Procedural sounds and videos");
    return 1;
}

EXPORT void ClosePlugin(void) {}

#if (CAPS) & 0x10
typedef struct Tone {
    int64_t frames;
    int64_t at;
    unsigned delayMs;
    int blocks;
} Tone;

EXPORT void* OpenStream(const char* file, QmSoundInfo* info)
{
    unsigned rate = 0, delayMs = 0;
    long long frames = 0;
    int blocks = sscanf(file, "blocktone:%u:%lld", &rate, &frames) == 2;
    if (!blocks && sscanf(file, "slowtone:%u:%lld:%u", &rate, &frames, &delayMs) != 3 &&
        sscanf(file, "tone:%u:%lld", &rate, &frames) != 2)
        return NULL;
    if (frames < 0)
        return NULL;
    Tone* t = (Tone*)calloc(1, sizeof(Tone));
    if (!t)
        return NULL;
    t->frames = frames;
    t->delayMs = delayMs;
    t->blocks = blocks;
    info->channels = 1;
    info->frequency = rate;
    info->bits = 16;
    info->frames = frames;
    info->flags = QM_SOUND_CANSEEK;
    info->bitRate = rate * 16;
    return t;
}

EXPORT void CloseStream(void* stream) { free(stream); }

EXPORT int SeekStream(void* stream, uint64_t frame)
{
    Tone* t = (Tone*)stream;
    if ((int64_t)frame > t->frames)
        return 0;
    t->at = (int64_t)frame;
    return 1;
}

EXPORT int64_t StreamSamples(void* stream, void* buffer, int64_t frames)
{
    Tone* t = (Tone*)stream;
    int16_t* out = (int16_t*)buffer;
    int64_t n = 0;
    if (t->blocks) {
        for (n = 0; n < 64; ++n)
            out[n] = (int16_t)((((t->at + n) * 97) & 0x7FFF) - 0x4000);
        n = t->frames - t->at < 64 ? t->frames - t->at : 64;
        n = n < frames ? n : frames;
        t->at += n;
        return n;
    }
    if (frames > 1000)
        frames = 1000;
    if (t->delayMs) {
        struct timespec pause = {(time_t)(t->delayMs / 1000), (long)(t->delayMs % 1000) * 1000000L};
        nanosleep(&pause, NULL);
    }
    while (n < frames && t->at < t->frames) {
        out[n++] = (int16_t)(((t->at * 97) & 0x7FFF) - 0x4000);
        ++t->at;
    }
    return n;
}

EXPORT const char* GetFormatName(void* stream) { (void)stream; return "Procedural tone"; }
#endif

#if (CAPS) & 0x40
typedef struct Bars {
    int32_t width;
    int32_t height;
    int64_t frames;
    int64_t next;
} Bars;

EXPORT void* OpenVideo(const char* file, QmVideoInfo* info)
{
    int w = 0, h = 0;
    long long frames = 0;
    if (sscanf(file, "bars:%d:%d:%lld", &w, &h, &frames) != 3 || frames < 1)
        return NULL;
    Bars* b = (Bars*)calloc(1, sizeof(Bars));
    if (!b)
        return NULL;
    b->width = w;
    b->height = h;
    b->frames = frames;
    info->width = w;
    info->height = h;
    info->durationMs = frames * 40;
    info->flags = QM_VIDEO_CANSEEK;
    return b;
}

EXPORT void CloseVideo(void* video) { free(video); }

/* An audio packet first, then one video packet per frame. */
EXPORT int NextPacket(void* video, QmVideoPacket* packet)
{
    Bars* b = (Bars*)video;
    if (b->next > b->frames)
        return 0;
    packet->kind = b->next == 0 ? QM_PACKET_AUDIO : QM_PACKET_VIDEO;
    packet->timeMs = b->next ? (b->next - 1) * 40 : 0;
    packet->data = (void*)(intptr_t)(b->next ? b->next - 1 : 0);
    ++b->next;
    return 1;
}

EXPORT void FreePacket(void* video, QmVideoPacket* packet) { (void)video; packet->data = NULL; }

EXPORT int DecodeVideoFrame(void* video, QmVideoPacket* packet, uint32_t* argb, int32_t rowLength, int64_t* timeMs)
{
    Bars* b = (Bars*)video;
    uint32_t n = (uint32_t)(intptr_t)packet->data;
    int32_t x, y;
    for (y = 0; y < b->height; ++y)
        for (x = 0; x < b->width; ++x)
            argb[(size_t)y * (size_t)rowLength + (size_t)x] =
                0xFF000000u | ((uint32_t)(x & 255) << 16) | ((uint32_t)(y & 255) << 8) | (n & 255);
    *timeMs = packet->timeMs;
    return 1;
}

EXPORT int64_t DecodeAudioFrame(void* video, QmVideoPacket* packet, int16_t* pcm, int64_t frames)
{ (void)video; (void)packet; (void)pcm; (void)frames; return 0; }

EXPORT int SeekVideo(void* video, int64_t timeMs)
{
    Bars* b = (Bars*)video;
    b->next = 1 + timeMs / 40;
    return 1;
}

EXPORT void FlushAudio(void* video) { (void)video; }
EXPORT void FlushVideo(void* video) { (void)video; }

EXPORT int64_t GetVideoFrames(void* video) { return ((Bars*)video)->frames; }

EXPORT const char* GetVideoFormat(void* video) { (void)video; return "Procedural bars"; }
#endif
