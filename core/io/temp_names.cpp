// Temporary file names that keep the extension of a model name, so that
// programs and decoders that go by extensions accept the copy.
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>

#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/services/path_helpers.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_paths.h"

namespace {

std::string_view ExtensionOfFilePart(std::string_view text)
{
    size_t cut = text.find_last_of("/\\:");
    if (cut != std::string_view::npos)
        text.remove_prefix(cut + 1);
    return DisplayNameExtension(text);
}

} // namespace

std::string ModelExtension(const char* name)
{
    if (!name)
        return std::string();
    if (IsChunkName(name)) {
        const char* star = std::strchr(name, '*');
        if (!star)
            return std::string();
        const char* question = std::strchr(star + 1, '?');
        size_t length = question ? static_cast<size_t>(question - star - 1) : std::strlen(star + 1);
        return std::string(ExtensionOfFilePart(std::string_view(star + 1, length)));
    }
    return std::string(ExtensionOfFilePart(name));
}

uint32_t MakeTempFileNameWithExt(char* buffer, size_t size, const char* name)
{
    std::string extension = ModelExtension(name);
    // The platform makes (and so reserves) a unique name; the name with the
    // extension is then taken by a link, which fails rather than reuse a
    // file that is already there.
    for (int attempt = 0; attempt < 16; ++attempt) {
        char base[4096];
        uint32_t rc = OsGetTempFileName(base, sizeof base);
        if (rc)
            return rc;
        if (extension.empty()) {
            if (OsCopyPath(buffer, size, base, std::strlen(base)))
                return 0;
            unlink(base);
            return ERR_NAMETOOLONG;
        }
        std::string withExtension = std::string(base) + extension;
        int linked = link(base, withExtension.c_str());
        int linkError = errno;
        unlink(base);
        if (linked == 0) {
            if (OsCopyPath(buffer, size, withExtension.data(), withExtension.size()))
                return 0;
            unlink(withExtension.c_str());
            return ERR_NAMETOOLONG;
        }
        if (linkError != EEXIST)
            return ERR_WRITEFILE;
    }
    return ERR_WRITEFILE;
}
