// The standard button sets of message requesters.
#pragma once

#include <cstdint>

enum : uint32_t {
    REQUEST_BUTTONS_OK_CANCEL = 0,
    REQUEST_BUTTONS_YES_NO = 1,
    REQUEST_BUTTONS_YES_NO_CANCEL = 2,
    REQUEST_BUTTONS_OK = 3,
};

// When *inOutText is one of "OK", "OK|Cancel", "Yes|No", "Yes|No|Cancel"
// (in any case), sets *outType to its set, makes *inOutText null and returns
// 1; any other text is a custom button list: both are left alone, 0.
int OsRequestButtons(const char** inOutText, uint32_t* outType);
