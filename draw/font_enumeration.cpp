// The fonts a plugin may ask for by name: every face that FreeType opens in
// the system's font folders, each named by its family (and its style unless
// that is the plain one), with the pixel size of a bitmap face and 0 for a
// scalable one.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "draw/draw_library.h"

namespace {

using FontEntry = std::pair<std::string, int32_t>;

std::vector<std::string> FontFolders()
{
    std::vector<std::string> folders = {"/usr/share/fonts", "/usr/local/share/fonts"};
    if (const char* home = std::getenv("HOME"); home && *home) {
        folders.push_back(std::string(home) + "/.local/share/fonts");
        folders.push_back(std::string(home) + "/.fonts");
    }
    return folders;
}

bool IsPlainStyle(const char* style)
{
    static const char* const plain[] = {"Regular", "Roman", "Book", "Normal"};
    return !style || !*style || std::any_of(std::begin(plain), std::end(plain), [&](const char* p) {
        return std::string(style) == p;
    });
}

void AddFaces(FT_Library library, const std::string& path, std::vector<FontEntry>* fonts)
{
    FT_Long faces = 1;
    for (FT_Long index = 0; index < faces; ++index) {
        FT_Face face = nullptr;
        if (FT_New_Face(library, path.c_str(), index, &face))
            return;
        faces = face->num_faces;
        if (face->family_name) {
            std::string name = face->family_name;
            if (!IsPlainStyle(face->style_name))
                name += std::string(" ") + face->style_name;
            if (FT_IS_SCALABLE(face) || face->num_fixed_sizes < 1)
                fonts->emplace_back(name, 0);
            else
                for (FT_Int i = 0; i < face->num_fixed_sizes; ++i)
                    fonts->emplace_back(name, face->available_sizes[i].height);
        }
        FT_Done_Face(face);
    }
}

} // namespace

int EnumerateFonts(int (*callback)(const char* name, int32_t size, void* user), void* user)
{
    FT_Library library = nullptr;
    if (!callback || FT_Init_FreeType(&library))
        return 0;
    std::vector<FontEntry> fonts;
    for (const std::string& folder : FontFolders()) {
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(folder, error), end;
        for (; !error && it != end; it.increment(error))
            if (it->is_regular_file(error))
                AddFaces(library, it->path().string(), &fonts);
    }
    FT_Done_FreeType(library);
    std::sort(fonts.begin(), fonts.end());
    fonts.erase(std::unique(fonts.begin(), fonts.end()), fonts.end());
    for (const FontEntry& font : fonts)
        if (int answer = callback(font.first.c_str(), font.second, user))
            return answer;
    return 0;
}
