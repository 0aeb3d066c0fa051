// The REQUIRETAGS parser: a small recursive-descent reader over the option
// text that never reads past its terminator.
#include "core/startup/require_tags.h"

#include <cstring>
#include <new>

#include "core/io/error_codes.h"
#include "core/io/number_conv.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsKeyChar(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '_'; }

void SkipBlanks(const char*& p)
{
    while (IsBlank(*p))
        ++p;
}

bool ReadValue(const char*& p, RequireTagSetting* setting)
{
    if (*p == '\'') {
        const char* end = std::strchr(p + 1, '\'');
        if (!end)
            return false;
        setting->isText = true;
        setting->text.assign(p + 1, end);
        p = end + 1;
        return true;
    }
    const char* start = p;
    while (*p && !IsBlank(*p) && *p != ',' && *p != ']' && *p != '[' && *p != '\'')
        ++p;
    if (p == start)
        return false;
    std::string word(start, p);
    setting->isText = false;
    if (word == "true") {
        setting->number = 1;
        return true;
    }
    if (word == "false") {
        setting->number = 0;
        return true;
    }
    size_t used = 0;
    ErrorCode error{};
    double number = StringToNumber(word.data(), word.size(), &used, &error);
    if (error == ErrorCode{} && used == word.size()) {
        setting->number = number;
        return true;
    }
    setting->isText = true;
    setting->text = word;
    return true;
}

bool ReadGroup(const char*& p, RequireTagGroup* group)
{
    const char* start = p;
    while (*p && !IsBlank(*p) && *p != '[' && *p != ']' && *p != ',' && *p != '=' && *p != '\'')
        ++p;
    if (p == start || *p != '[')
        return false;
    group->plugin.assign(start, p);
    ++p;
    SkipBlanks(p);
    if (*p == ']') {
        ++p;
        return true;
    }
    for (;;) {
        SkipBlanks(p);
        if (!IsLetter(*p))
            return false;
        RequireTagSetting setting{};
        const char* key = p;
        while (IsKeyChar(*p))
            ++p;
        setting.key.assign(key, p);
        SkipBlanks(p);
        if (*p != '=')
            return false;
        ++p;
        SkipBlanks(p);
        if (!ReadValue(p, &setting))
            return false;
        group->settings.push_back(std::move(setting));
        SkipBlanks(p);
        if (*p == ']') {
            ++p;
            return true;
        }
        if (*p != ',')
            return false;
        ++p;
    }
}

}  // namespace

uint32_t ParseRequireTags(const char* value, std::vector<RequireTagGroup>* out)
{
    out->clear();
    try {
        const char* p = value ? value : "";
        for (;;) {
            SkipBlanks(p);
            if (!*p)
                return 0;
            RequireTagGroup group;
            if (!ReadGroup(p, &group)) {
                out->clear();
                return ERR_REQUIRETAGFMT;
            }
            out->push_back(std::move(group));
        }
    } catch (const std::bad_alloc&) {
        out->clear();
        return ERR_MEM;
    }
}
