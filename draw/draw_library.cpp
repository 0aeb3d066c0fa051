// The "draw", "vectorgraphics" and "text" libraries. Their drawing and font
// engines come with later issues; opening them registers their object lists
// and resets the drawing state. The text library opens fonts
// (draw/font_files.cpp).
#include "draw/draw_library.h"

#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "display/script_refs.h"
#include "draw/font_files.h"
#include "platform/posix/os_memory.h"

FontNode* FontList;
TextObject* TextObjectList;
DrawState CurrentDrawState;

namespace {

const CommandTableEntry kTextCommands[] = {{"OpenFont", CmdOpenFont}, {nullptr, nullptr}};
const CommandTableEntry kNoCommands[] = {{nullptr, nullptr}};

constexpr DrawState kDefaultDrawState{0xFFFFFF, 0, 1, 0};

}  // namespace

uint32_t RegisterDrawLibrary(VmState* vm)
{
    CurrentDrawState = kDefaultDrawState;
    return RegisterCommandTable(vm, "draw", kNoCommands);
}

uint32_t RegisterVectorGraphicsLibrary(VmState* vm)
{
    // The built-in engine is the only one until a vector plugin loads, so
    // there is no engine to select yet.
    return RegisterCommandTable(vm, "vectorgraphics", kNoCommands);
}

uint32_t RegisterTextLibrary(VmState* vm)
{
    uint32_t error = RegisterObjectList(&FontList);
    if (!error) error = RegisterObjectList(&TextObjectList);
    if (!error) error = RegisterCommandTable(vm, "text", kTextCommands);
    return error;
}

void FreeDrawBuffers() { CurrentDrawState = kDefaultDrawState; }

void FreeVectorGraphics() {}

void FreeTextResources(VmState* vm)
{
    while (TextObject* t = TextObjectList) {
        TextObjectList = reinterpret_cast<TextObject*>(t->header.next);
        ReleaseObjectData(vm, &t->header);
        OsFreeMem(t->text);
        OsFreeMem(t);
    }
    while (FontNode* f = FontList) {
        FontList = reinterpret_cast<FontNode*>(f->header.next);
        ReleaseObjectData(vm, &f->header);
        FreeFontObject(f->font);
        OsFreeMem(f);
    }
    FreeTextState();
    CloseFontEngine();
}

uint32_t FindFont(ObjectId id, FontNode** out)
{
    ObjectHeader* r;
    uint32_t error =
        FindObjectOrError(reinterpret_cast<ObjectHeader*>(FontList), id, ERR_FINDFONT2, &r);
    *out = reinterpret_cast<FontNode*>(r);
    // The message names the font by a text: the id asked for, not whatever
    // an earlier error left behind.
    if (error == ERR_FINDFONT2) SetErrorText(std::to_string(id.id).c_str());
    return error;
}

uint32_t FindTextObject(VmState*, ObjectId id, TextObject** out, uint32_t)
{
    ObjectHeader* r;
    uint32_t error = FindObjectOrError(reinterpret_cast<ObjectHeader*>(TextObjectList), id,
                                       ERR_FINDTEXTOBJECT, &r);
    *out = reinterpret_cast<TextObject*>(r);
    return error;
}

int EnumerateFonts(int (*callback)(const char* name, int32_t size, void* user), void* user)
{
    return callback ? callback("topaz", 8, user) : 0;
}
