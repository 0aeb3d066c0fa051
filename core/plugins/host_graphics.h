// The wrappers behind the host interface's graphics (table 3), audio
// (table 4) and requester (table 5) slots; the argument conventions are
// those of the slot types in quillmere/plugin_abi.h.
#pragma once

#include <cstdint>

#include "quillmere/plugin_abi.h"

void* HostLockBrush(uint32_t brushId, const QmTagItem* tags, QmBrushLock* record);
uint32_t* HostGetBrushArgb(uint32_t brushId, const QmTagItem* tags);
uint32_t HostCreateBrush(uint32_t id, const uint32_t* argb, int32_t width, int32_t height, uint32_t flags);
uint32_t HostFreeBrush(uint32_t id);
void* HostLockBitMap(void* bitmap, uint32_t flags, QmBitMapLock* record);
// Also HostUnlockBrush: both locks are the bitmap layer's.
void HostUnLockBitMap(void* lock);
uint32_t HostArgbToPixel(uint32_t argb, uint32_t format);
uint32_t HostPixelToArgb(uint32_t pixel, uint32_t format);

void HostBltBitMap(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy, int32_t width,
                   int32_t height, uint32_t flags, const QmTagItem* tags);
// Table 3 slot 25: the blit through a mask plane or an alpha plane.
void HostBltBitMapMasked(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy,
                         int32_t width, int32_t height, uint32_t flags, const QmTagItem* tags);
void HostRectFill(void* pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                  uint32_t flags, const QmTagItem* tags);
void HostWritePixel(void* pixels, int32_t x, int32_t y, uint32_t colour, uint32_t flags, const QmTagItem* tags);
void HostDrawLine(void* pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t flags,
                  const QmTagItem* tags);

void RepaintAllDisplays();

QmSampleData* HostGetSampleData(uint32_t sampleId, uint32_t flags);
uint32_t HostSetSampleData(QmSampleData* record);

uint32_t HostSystemRequest(const char* title, const char* body, const char* buttons, int icon, int* chosenButton);
uint32_t HostFileRequest(const char* title, const char* pattern, int mode, const char* folder, const char* file,
                         char** path);
uint32_t HostPathRequest(const char* title, int mode, const char* folder, char** path);
