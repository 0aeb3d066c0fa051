// The image loader chain: reference-counted decoded images (ImageHandle),
// loading a picture file through the image-loader plugins that the loader
// list allows and then the host's inbuilt decoders, scaling it to the size
// the caller asked for and making its alpha plane; asking the same chain
// whether a file is a picture at all.
//
// Everything here runs on the script thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quillmere/plugin_abi.h"

struct BitMapHandle;

// A wrapped source's callbacks: the pixels (ARGB, width x height), freeing
// the source, and rendering it under a transform at a size (non-zero on
// success).
using ImageSourcePixelsFunc = uint32_t* (*)(void* source);
using ImageSourceFreeFunc = void (*)(void* source);
using ImageSourceTransformFunc = int (*)(void* source, const QmImageTransform* transform, int32_t width,
                                         int32_t height);

struct ImageHandle {
    PluginInfo* producer;          // null for the runtime's own decoders
    void* image;                   // plugin image, host ImageData, or wrapped source
    uint32_t* pixels;              // ARGB
    uint32_t* converted;           // owned; used instead of pixels when set
    uint32_t references;
    uint32_t ownsPixels;
    uint32_t wrapped;
    uint32_t wrappedCallForm;      // QM_CALLFORM_FOREIGN: the callbacks cannot be called
    ImageSourcePixelsFunc getPixels;
    ImageSourceFreeFunc freeSource;
    ImageSourceTransformFunc transform;
    int32_t sourceWidth;           // of a scalable image
    int32_t sourceHeight;
};

// A handle owning a cleared width * height * 4 buffer, or null.
ImageHandle* CreateImageHandle(int32_t width, int32_t height);
// A handle around a source of the caller's, or null when out of memory.
ImageHandle* WrapImageHandle(void* source, ImageSourcePixelsFunc getPixels, ImageSourceFreeFunc freeSource,
                             ImageSourceTransformFunc transform, uint32_t callForm);
void RetainImageHandle(ImageHandle* handle);
// Drops one reference; the last frees the image through whoever made it.
void ReleaseImageHandle(ImageHandle* handle);
uint32_t* GetImageHandleData(ImageHandle* handle);
// The pixels of a handle that alone holds a picture of the inbuilt
// decoders, unscaled, taken from it (OsAllocMem memory with a spare row,
// the caller's to free); null, leaving the handle as it was, otherwise.
uint32_t* TakeDecodedPixels(ImageHandle* handle);
void GetImageHandleSize(const ImageHandle* handle, int32_t* width, int32_t* height);

// "inbuilt" for null, "native" for the value 1, else the module name.
const char* GetLoaderName(const PluginInfo* producer);
// Room for a loader's name in an object that outlives the plugin: a module
// name is a file name.
constexpr size_t kLoaderNameSize = 256;

// Alpha modes of an image load.
enum ImageAlphaMode : uint32_t {
    IMAGEALPHA_OFF = 0,       // no alpha asked for (an image that has it still gets it)
    IMAGEALPHA_REQUIRED = 1,  // ERR_NOALPHA when the image has none
    IMAGEALPHA_OPTIONAL = 2,  // alpha when the image has it
};

struct ImageLoadRequest {
    const char* file = nullptr;
    const char* loaderList = nullptr;
    int32_t options[3] = {0, 0, 0};  // passed through to the loaders
    uint32_t hostMode = 0;
    uint32_t alphaMode = IMAGEALPHA_OFF;
    bool wantTransparentPen = false;
    int32_t width = 0;   // 0 as stored, negative a percentage
    int32_t height = 0;
    bool smooth = false;
};

struct ImageLoadResult {
    ImageHandle* handle = nullptr;     // one reference, the caller's
    BitMapHandle* alpha = nullptr;     // the caller's to free
    uint32_t loaderKind = 0;
    int32_t transparentColour = -1;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowLength = 0;
    uint32_t hasAlpha = 0;
    uint32_t scalable = 0;
    PluginInfo* producer = nullptr;
};

// Loads the file through the chain. 0 or an error code (ERR_MEM,
// ERR_NOALPHA and ERR_NOTRANSPARENCY with the file name, ERR_TFIMAGE, or
// the host loader's); on error nothing stays allocated.
uint32_t LoadImageViaLoaders(const ImageLoadRequest& request, ImageLoadResult* result);

struct ImageProbe {
    int32_t width;
    int32_t height;
    uint32_t hasAlpha;
    uint32_t vector;
    uint32_t transparency;
};

// 1 when a loader of the chain takes the file as a picture (filling the
// probe), else 0.
int ProbeImageLoaders(const char* file, const char* loaderList, int32_t option, ImageProbe* probe);

// Renders a scalable handle's image under the transform at width x height:
// 0 with the pixels (owned by the image) and the alpha flag, or
// ERR_TFIMAGE for a handle of the runtime's own decoders or a refusal.
uint32_t RunPluginImageLoader(ImageHandle* handle, const QmImageTransform& transform, int32_t width,
                              int32_t height, uint32_t** outPixels, uint32_t* outHasAlpha);

// While an old "svgimage" plugin loads a linked file under a name of its
// own, the name the caller gave; the host's stream opening uses it.
extern const char* ImageLoaderCallerFileName;
