// The picture of a display as it opens. The colour, the texture and the
// gradient are the display's fill and are painted whole into every back
// buffer; a background picture is a picture like any other and reaches the
// display through SafeBlt, so the display's clip region, its scaled mirror
// and its output target's planes apply to it, and SafeBlt presents it.
#include "display/display_picture.h"

#include "core/io/error_codes.h"
#include "core/services/object_registry.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "display/output.h"
#include "display/pictures.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/bitmap_ops.h"
#include "gfx/blits/display_blit.h"
#include "gfx/effects/gradients.h"

namespace {

// Draws the picture into the opening display (made current for the blit)
// and its back buffers.
void BlitBGPic(Display* display, const BGPic* picture)
{
    Display* current = CurrentDisplay;
    CurrentDisplay = display;
    // A picture with an alpha channel blends through it; its mask only
    // counts without one.
    SafeBltWords words{0, 0, nullptr, 0, 0, picture->width, picture->height, picture->width,
                       picture->height, display->width, display->height, SAFEBLT_BACKBUFFER,
                       picture->alpha ? nullptr : picture->mask, picture->alpha,
                       DisplayOutput(display)->clipRegion};
    SafeBlt(nullptr, picture->bitmap, words);
    // The first buffer and the mirror of a scaled display now hold the
    // picture; the other buffers take it as a bitmap destination. Their
    // blits leave the output target's planes, updated above, alone.
    for (int i = DisplayIsScaled(display) ? 2 : 1; i < 3; ++i) {
        words.dst = static_cast<BitMapHandle*>(display->backBuffers[i]);
        words.flags = SAFEBLT_NOSPRITES | SAFEBLT_NODISPLAY;
        if (words.dst) SafeBlt(nullptr, picture->bitmap, words);
    }
    CurrentDisplay = current;
}

}  // namespace

uint32_t TakeDisplayPictureSize(Display* display)
{
    if (!display->shownBGPicId)
        return 0;
    BGPic* picture = nullptr;
    if (uint32_t error = FindBGPic(nullptr, MakeObjectId(display->shownBGPicId), &picture, 0))
        return error;
    if (picture->width < 1 || picture->height < 1 || picture->width > kMaxDisplaySize ||
        picture->height > kMaxDisplaySize)
        return ERR_DISPLAYSIZE;
    SetDisplaySize(display, picture->width, picture->height);
    return 0;
}

uint32_t PaintDisplayPicture(Display* display, bool freshBuffers)
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
        uint32_t colour = 0xFF000000u | display->backColor;
        if (!freshBuffers || !FreshBufferShows(target, colour))
            FillBitMapRect(target, 0, 0, display->width, display->height, colour);
        if (texture && texture->bitmap)
            TileCopyPixels(target, 0, 0, display->width, display->height, texture->bitmap, display->textureX,
                           display->textureY, texture->width, texture->height, 0, 0);
        else if (gradient) {
            if (uint32_t error = DrawGradient(target, 0, 0, display->width, display->height, &display->gradient))
                return error;
        }
    }
    // A black display without a picture shows what the window shows already;
    // the fill around a picture (or where a clip region keeps it out) shows
    // before the picture's own present.
    if (picture || texture || gradient || (display->backColor & 0xFFFFFF))
        RefreshDisplay(nullptr, display, 0);
    if (picture && picture->bitmap)
        BlitBGPic(display, picture);
    return 0;
}
