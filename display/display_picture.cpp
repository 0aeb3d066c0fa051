// The picture of a display as it opens.
#include "display/display_picture.h"

#include <algorithm>

#include "core/object_registry.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "display/pictures.h"
#include "gfx/bitmap.h"
#include "gfx/bitmap_ops.h"
#include "gfx/gradients.h"

namespace {

void DrawBGPic(const BGPic* picture, BitMapHandle* target, int32_t w, int32_t h)
{
    int32_t cw = std::min(w, picture->width), ch = std::min(h, picture->height);
    if (picture->alpha)
        BltBitMapMasked(picture->bitmap, 0, 0, target, 0, 0, cw, ch, picture->alpha);
    else if (picture->mask)
        BltBitMapMask(picture->bitmap, 0, 0, target, 0, 0, cw, ch, picture->mask);
    else
        BltBitMapRect(picture->bitmap, 0, 0, target, 0, 0, cw, ch);
}

}  // namespace

uint32_t PaintDisplayPicture(Display* display)
{
    BGPic* picture = nullptr;
    if (display->shownBGPicId) {
        if (uint32_t error = FindBGPic(nullptr, MakeObjectId(display->shownBGPicId), &picture, 0))
            return error;
    }
    Brush* texture = nullptr;
    if (!picture && display->fillStyle == DISPLAYFILL_TEXTURE) {
        if (uint32_t error = FindBrush(nullptr, MakeObjectId(display->textureBrush), &texture, 0))
            return error;
    }
    bool gradient = !picture && display->fillStyle == DISPLAYFILL_GRADIENT;
    display->shownBGPic = picture;
    for (void* buffer : display->backBuffers) {
        auto* target = static_cast<BitMapHandle*>(buffer);
        if (!target)
            continue;
        FillBitMapRect(target, 0, 0, display->width, display->height, 0xFF000000u | display->backColor);
        if (picture)
            DrawBGPic(picture, target, display->width, display->height);
        else if (texture && texture->bitmap)
            TileCopyPixels(target, 0, 0, display->width, display->height, texture->bitmap, display->textureX,
                           display->textureY, texture->width, texture->height, 0, 0);
        else if (gradient) {
            if (uint32_t error = DrawGradient(target, 0, 0, display->width, display->height, &display->gradient))
                return error;
        }
    }
    // A black display without a picture shows what the window shows already.
    if (picture || texture || gradient || (display->backColor & 0xFFFFFF))
        RefreshDisplay(nullptr, display, 0);
    return 0;
}
