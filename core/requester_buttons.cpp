// Recognising the standard requester button sets.
#include "core/requester_buttons.h"

#include "core/io/case_tables.h"

namespace {

bool SameText(const char* a, const char* b)
{
    for (;; a++, b++) {
        uint8_t x = ToLowerLatin1(static_cast<uint8_t>(*a));
        uint8_t y = ToLowerLatin1(static_cast<uint8_t>(*b));
        if (x != y)
            return false;
        if (x == 0)
            return true;
    }
}

struct ButtonSet {
    const char* text;
    uint32_t type;
};

const ButtonSet kButtonSets[] = {
    {"OK", REQUEST_BUTTONS_OK},
    {"OK|Cancel", REQUEST_BUTTONS_OK_CANCEL},
    {"Yes|No", REQUEST_BUTTONS_YES_NO},
    {"Yes|No|Cancel", REQUEST_BUTTONS_YES_NO_CANCEL},
};

} // namespace

int OsRequestButtons(const char** inOutText, uint32_t* outType)
{
    if (!*inOutText)
        return 0;
    for (const ButtonSet& set : kButtonSets) {
        if (SameText(*inOutText, set.text)) {
            *outType = set.type;
            *inOutText = nullptr;
            return 1;
        }
    }
    return 0;
}
