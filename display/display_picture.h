// What a display shows when it opens: its background picture when it was
// created with one, else its colour, a texture brush tiled across it, or a
// gradient.
#pragma once

#include <cstdint>

struct Display;

// Fill styles of a display without a background picture.
enum DisplayFillStyle : uint32_t {
    DISPLAYFILL_NONE = 0,     // the colour
    DISPLAYFILL_COLOR = 1,
    DISPLAYFILL_TEXTURE = 2,  // the texture brush, from (texturex, texturey) into it
    DISPLAYFILL_GRADIENT = 3,  // the display's gradient over the whole display
};

// Paints the display's picture into its back buffers and presents it: 0,
// or ERR_FINDBGPIC / ERR_FINDBRUSH when the picture or texture it names
// does not exist. freshBuffers: the back buffers were just made, so a
// colour they show already needs no fill.
uint32_t PaintDisplayPicture(Display* display, bool freshBuffers);

// A display that shows a background picture has that picture's size: sets
// the display's size from the picture it names. 0 (also for a display
// without a picture), ERR_FINDBGPIC, or ERR_DISPLAYSIZE for a picture
// larger than a display may be.
uint32_t TakeDisplayPictureSize(Display* display);
