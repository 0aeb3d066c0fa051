// OpenFont and the font records it makes. A font file is read whole through
// the stream layer (so fonts linked into the applet, virtual files and file
// adapters work like any file) and handed to FreeType from memory; the
// record keeps the bytes for as long as the face reads from them.
#include "draw/font_files.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/file_parts.h"
#include "core/io/linked_files.h"
#include "core/io/utilities.h"
#include "core/services/check_args.h"
#include "core/vm/library_glue.h"
#include "core/vm/vm.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "display/script_refs.h"
#include "draw/draw_library.h"
#include "media/image_files.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr int32_t kDefaultFontSize = 8;

FT_Library g_engine;

// 26.6 fixed point to whole pixels, rounded up so that nothing is cut.
int32_t CeilPixels(FT_Pos value) { return static_cast<int32_t>((value + 63) >> 6); }

bool IsTopaz(const char* name)
{
    size_t length = std::strlen(name);
    if (length > 5 && !StrCaseCmp(name + length - 5, ".font")) length -= 5;
    return length == 5 && !StrNCaseCmp(name, "topaz", 5);
}

// The text of ERR_OPENFONT, which is its whole message.
uint32_t CannotOpen(const char* name)
{
    char file[1024];
    ChunkNameToFileName(name, file, sizeof file);
    std::string text = std::string("Cannot open font ") + file + "!";
    SetErrorText(text.c_str());
    return ERR_OPENFONT;
}

// A record for a font file at the pixel size: 0, ERR_OPENFONT, ERR_FONTFORMAT,
// ERR_FT2 or ERR_MEM; nothing stays allocated on failure.
uint32_t OpenFontFile(const char* name, int32_t size, FontObject** out)
{
    *out = nullptr;
    if (!g_engine && FT_Init_FreeType(&g_engine)) {
        g_engine = nullptr;
        return ERR_FT2;
    }
    uint8_t* data = nullptr;
    size_t bytes = 0;
    if (ReadWholeImageFile(name, nullptr, &data, &bytes)) return CannotOpen(name);
    FT_Face face = nullptr;
    if (FT_New_Memory_Face(g_engine, data, static_cast<FT_Long>(bytes), 0, &face)) {
        OsFreeMem(data);
        return ERR_FONTFORMAT;
    }
    bool sized = !FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size));
    if (!sized && face->num_fixed_sizes > 0) {
        // A bitmap font offers its own sizes: the nearest one serves.
        FT_Int best = 0;
        for (FT_Int i = 1; i < face->num_fixed_sizes; ++i)
            if (std::abs(face->available_sizes[i].height - size) <
                std::abs(face->available_sizes[best].height - size))
                best = i;
        sized = !FT_Select_Size(face, best);
    }
    auto* font = static_cast<FontObject*>(OsAllocMem(sizeof(FontObject), 1));
    if (!sized || !font) {
        FT_Done_Face(face);
        OsFreeMem(data);
        OsFreeMem(font);
        return sized ? ERR_MEM : ERR_FONTFORMAT;
    }
    if (face->family_name) {
        std::snprintf(font->name, sizeof font->name, "%s", face->family_name);
    } else {
        char file[1024];
        ChunkNameToFileName(name, file, sizeof file);
        std::snprintf(font->name, sizeof font->name, "%.255s", file);
    }
    font->size = size;
    font->ascender = CeilPixels(face->size->metrics.ascender);
    font->descender = CeilPixels(-face->size->metrics.descender);
    font->lineHeight = font->ascender + font->descender;
    font->scalable = FT_IS_SCALABLE(face) ? 1 : 0;
    // Outlines are drawn with smoothed edges; a bitmap font has none.
    font->antiAlias = font->scalable;
    font->face = face;
    font->fileData = data;
    *out = font;
    return 0;
}

// The built-in font at its one size, as a record of its own.
uint32_t CopyTopaz(FontObject** out)
{
    *out = static_cast<FontObject*>(OsAllocMem(sizeof(FontObject), 0));
    if (!*out) return ERR_MEM;
    **out = *GetDefaultFont();
    return 0;
}

void FreeFontNode(VmState* vm, FontNode* node)
{
    if (GetCurrentFont() == node->font) SetCurrentFont(nullptr);
    ReleaseObjectData(vm, &node->header);
    FreeFontObject(node->font);
    OsFreeMem(node);
}

}  // namespace

uint32_t CmdOpenFont(VmState* vm)
{
    CheckArgs(vm, 2, 4, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    const char* given = VmCheckString(vm, 2, nullptr);
    int32_t size = kDefaultFontSize;
    if (VmType(vm, 3) == VM_TNUMBER) size = VmCheckInteger(vm, 3);
    if (size < 1) return ERR_WRONGUSAGE;
    if (InitTextState()) return ERR_DEFFONT;
    int isFont = 0;
    std::string name = ResolveLinkedFile(vm, given, 1, &isFont);
    FontObject* font = nullptr;
    uint32_t error = !isFont && IsTopaz(name.c_str()) ? CopyTopaz(&font) : OpenFontFile(name.c_str(), size, &font);
    if (error) return error;
    auto* node = static_cast<FontNode*>(OsAllocMem(sizeof(FontNode), 1));
    if (!node) {
        FreeFontObject(font);
        return ERR_MEM;
    }
    node->font = font;
    auto** fonts = reinterpret_cast<ObjectHeader**>(&FontList);
    if (ObjectHeader* old = id.newHandle ? nullptr : FindObjectInList(*fonts, id.id)) {
        UnlinkObject(fonts, old);
        FreeFontNode(vm, reinterpret_cast<FontNode*>(old));
    }
    AppendObject(fonts, &node->header, OBJ_FONT, id.id, id.newHandle);
    if (!id.newHandle) return 0;
    VmPushLightUserdata(vm, node);
    return 1;
}

void FreeFontObject(FontObject* font)
{
    if (!font || font == GetDefaultFont()) return;
    if (font->face) FT_Done_Face(static_cast<FT_Face>(font->face));
    OsFreeMem(font->fileData);
    OsFreeMem(font);
}

void CloseFontEngine()
{
    if (g_engine) FT_Done_FreeType(g_engine);
    g_engine = nullptr;
}
