// Placeholder filling on arbitrary texts and arguments: the result always
// fits its buffer, is terminated, and its length is what was reported.
#include "core/io/errors.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t outSize = data[0];
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t split = input.find('\0');
    std::string text = input.substr(0, split);
    std::string argument = split == std::string::npos ? "" : input.substr(split + 1);
    argument = argument.substr(0, argument.find('\0'));
    int32_t number = static_cast<int32_t>(size * 2654435761u);

    std::string out(outSize + 1, '\x55');
    size_t length = FormatMessageText(text.c_str(), argument.c_str(), number, out.data(), outSize);
    if (outSize == 0) {
        if (length != 0 || out[0] != '\x55')
            std::abort();
        return 0;
    }
    if (length >= outSize || out[length] != '\0' || std::strlen(out.c_str()) != length || out[outSize] != '\x55')
        std::abort();
    return 0;
}
