// Window icons. A headless window has nowhere to show them, so the loaded
// pictures are only kept until shutdown; what matters is that a broken or
// wrongly sized icon stops the run as it would on a desktop.
#include "display/window_icons.h"

#include <cstdio>

#include "core/applet.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/plugins/image_loaders.h"
#include "gfx/bitmap.h"

namespace {

ImageHandle* loadedIcons[ICON_TABLE_SIZE];

}  // namespace

uint32_t LoadWindowIcons(bool notApplet)
{
    if (notApplet)
        return 0;
    for (uint32_t i = 0; i < ICON_TABLE_SIZE; ++i) {
        const IconRecord& icon = IconTable[i];
        if (!icon.data || loadedIcons[i])
            continue;
        ImageLoadRequest request;
        request.file = icon.data;
        request.alphaMode = IMAGEALPHA_OPTIONAL;
        ImageLoadResult loaded;
        if (uint32_t error = LoadImageViaLoaders(request, &loaded))
            return error;
        if (loaded.alpha)
            FreePlaneBitMap(loaded.alpha);
        if (loaded.width != icon.width || loaded.height != icon.height) {
            char size[32];
            std::snprintf(size, sizeof size, "%dx%d", loaded.width, loaded.height);
            ReleaseImageHandle(loaded.handle);
            SetErrorText(size);
            return ERR_ICONDIMS;
        }
        loadedIcons[i] = loaded.handle;
    }
    return 0;
}

uint32_t CountWindowIcons()
{
    uint32_t count = 0;
    for (ImageHandle* icon : loadedIcons)
        count += icon != nullptr;
    return count;
}

void FreeWindowIcons()
{
    for (ImageHandle*& icon : loadedIcons) {
        ReleaseImageHandle(icon);
        icon = nullptr;
    }
}
