// Anims (object type 4) and the frame sets that anims and sprites are made
// of. A frame set is a list of frames, each a picture triple (colour, mask,
// alpha) with its delay; its source is an animated GIF (the inbuilt
// reader), an anim loader plugin, or one picture cut into a strip of
// frames. A set loaded "fromdisk" keeps its source open and decodes a frame
// when it is asked for, holding only the last one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/services/object_registry.h"

struct BitMapHandle;
struct FrameSetShareKey;
struct GifAnimDecoder;
struct PluginInfo;
struct VmState;

struct AnimFrame {
    BitMapHandle* bitmap;  // null while a frame on disk is not decoded
    BitMapHandle* mask;
    BitMapHandle* alpha;
    int32_t delay;  // milliseconds
};

// How the frames' masks are made.
enum : uint32_t {
    FRAMEMASK_NONE = 0,
    FRAMEMASK_COLOUR = 1,      // pixels of the transparent colour
    FRAMEMASK_ALPHAZERO = 2,   // pixels the source shows nothing at
};

struct FrameSet {
    int32_t width;
    int32_t height;
    uint32_t frameCount;
    AnimFrame* frames;
    uint32_t transparentColour;  // 0xFFFFFFFF: none
    uint32_t maskMode;           // FRAMEMASK_*
    uint32_t withAlpha;          // frames carry alpha planes
    PluginInfo* loader;          // null: the runtime's own readers
    // The open source of a set on disk.
    GifAnimDecoder* gif;
    void* pluginAnim;
    int64_t decodedFrame;  // the one frame held, -1 none
    // Set when the set was loaded to be shared ("cache"): the file and the
    // options it was loaded with, so a later "cachedload" of the same file
    // copies the frames instead of reading it again.
    char* sharedName;
    FrameSetShareKey* shareKey;
};

// What LoadAnim and LoadSprite read from their options table.
struct FrameSetRequest {
    const char* file = nullptr;
    const char* loaderList = nullptr;
    int32_t frames = 0;  // 0: the file's own frames (a picture is one frame)
    int32_t framesPerRow = 0;
    bool fromDisk = false;
    bool skipLoopFrames = false;
    bool deinterlace = false;
    int64_t transparency = -1;  // a colour to mask, -1 none
    bool loadTransparency = false;
    bool loadAlpha = false;
    int32_t width = 0;  // scaling of strip pictures (0 as stored, negative percent)
    int32_t height = 0;
    bool smooth = false;
    // Preloading's sharing of files among declarations: "cache" keeps what
    // is loaded for later loads of the file, "cachedload" takes it from there.
    bool cache = false;
    bool cachedLoad = false;
};

// The texts a request points into; they must outlive it.
struct FrameSetArgTexts {
    std::string file;  // a file linked into the applet: its chunk name
    char loader[1024] = "";
};

// Reads LoadAnim's and LoadSprite's file (argument 2) and options table
// (argument 3) into the request, keeping the file's name and the table's
// "loader" list in `texts`. Raises the VM's errors for wrongly typed
// arguments and fields.
void ReadFrameSetArgs(VmState* vm, FrameSetRequest* request, FrameSetArgTexts* texts);

// Loads a frame set. 0 or an error code (ERR_OPENANIM2 with the file name
// for an anim whose data is broken, the picture loaders' errors, ERR_MEM,
// ERR_BADDIMENSIONS for a strip that cannot be cut); nothing stays made on
// failure.
uint32_t LoadFrameSet(const FrameSetRequest& request, FrameSet* out);
void FreeFrameSet(FrameSet* set);
// The planes of a 0-based frame, decoding it when it is on disk. 0,
// ERR_ANIMFRAME, or the decoder's error (ERR_LOADFRAME with the frame).
uint32_t GetFrameSetPlanes(FrameSet* set, uint32_t frame, BitMapHandle** bitmap, BitMapHandle** mask,
                           BitMapHandle** alpha);
// Drops the decoded frame of a set on disk (it is decoded again when asked).
void FlushFrameSetCache(FrameSet* set);

struct Anim {
    ObjectHeader header;
    FrameSet frames;
};

extern Anim* AnimList;

// 0, ERR_FINDANIM (numeric id) or ERR_FINDARRAY (handle id). No command
// changes an anim in place, so no option is defined yet: pass 0.
uint32_t FindAnim(VmState* vm, ObjectId id, Anim** out, uint32_t options);
// The delay of a 0-based frame in milliseconds, 0 outside the frames.
int32_t LookupAnimFrameDelay(const Anim* anim, uint32_t frame);
void FreeAnim(VmState* vm, Anim* anim);
void FreeAllAnims(VmState* vm);
// Frees the decoded frames of anims on disk.
void FlushAnimCaches();

// LoadAnim(id or Nil, file[, options]).
uint32_t CmdLoadAnim(VmState* vm);
