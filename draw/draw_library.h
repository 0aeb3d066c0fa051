// The open and exit functions of the drawing, vector-graphics and text
// libraries, and the text library's finders.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"
#include "draw/text_state.h"

struct VmState;

uint32_t RegisterDrawLibrary(VmState* vm);
uint32_t RegisterVectorGraphicsLibrary(VmState* vm);
uint32_t RegisterTextLibrary(VmState* vm);
// Exits; none fails, each is safe unopened and twice.
void FreeDrawBuffers();
void FreeVectorGraphics();
void FreeTextResources(VmState* vm);

// A font opened by OpenFont; the node holds the FontObject.
struct FontNode {
    ObjectHeader header;
    FontObject* font;
};

struct TextObject {
    ObjectHeader header;
    int32_t width;
    int32_t height;
    char* text;
    FontObject* font;
};

extern FontNode* FontList;
extern TextObject* TextObjectList;

// 0, or ERR_FINDFONT2 / ERR_FINDTEXTOBJECT (ERR_FINDARRAY for a handle id).
uint32_t FindFont(ObjectId id, FontNode** out);
uint32_t FindTextObject(VmState* vm, ObjectId id, TextObject** out, uint32_t options);

// Calls `callback` for every face FreeType opens in the system's font
// folders, in name order; stops early when it answers non-zero, which is
// returned.
int EnumerateFonts(int (*callback)(const char* name, int32_t size, void* user), void* user);

// The drawing state that RegisterDrawLibrary resets.
struct DrawState {
    uint32_t color;
    uint32_t fillStyle;  // 0 none
    uint32_t lineWidth;
    uint32_t formStyle;
};
extern DrawState CurrentDrawState;
