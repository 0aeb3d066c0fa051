// The REQUIRETAGS option: settings handed to the require functions of the
// plugins that start-up loads. The value is a sequence of groups, each a
// plugin name without blanks, "[", settings "key=value" separated by ",",
// and "]", for example
//     vectorfonts[quality=2,engine='free type'] mp3[lowlatency=true]
// A key starts with a letter and goes on with letters, digits and "_". A
// value is text in single quotes, or runs up to a blank, "," or "]": then
// "true" is 1, "false" is 0, text that reads completely as a number is that
// number, and anything else stays text. Blanks may stand between groups
// and around keys and values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RequireTagSetting {
    std::string key;
    bool isText;
    double number;     // when !isText
    std::string text;  // when isText
};

struct RequireTagGroup {
    std::string plugin;  // compared without regard to case by the caller
    std::vector<RequireTagSetting> settings;
};

// Parses a REQUIRETAGS value into its groups, in the order given. 0, or
// ERR_REQUIRETAGFMT for a malformed value (out is then empty), or ERR_MEM.
uint32_t ParseRequireTags(const char* value, std::vector<RequireTagGroup>* out);
