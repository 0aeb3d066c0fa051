// Recognising the standard requester button sets.
#include "core/services/requester_buttons.h"

#include "core/io/utilities.h"

namespace {

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
        if (StrCaseCmp(*inOutText, set.text) == 0) {
            *outType = set.type;
            *inOutText = nullptr;
            return 1;
        }
    }
    return 0;
}
