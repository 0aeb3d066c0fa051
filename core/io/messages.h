// The runtime's message texts. Every text that the runtime shows has an id in
// the message table; error codes reach theirs through the code table. A
// loaded catalog replaces a text by its string of the same index, which is
// why the ids below are fixed: translators number their strings by them.
#pragma once

#include <cstdint>

struct MessageEntry {
    uint32_t id;
    const char* text; // null: this id has no built-in text
};

constexpr uint32_t MESSAGE_COUNT = 795;
constexpr uint32_t ERROR_MESSAGE_ID_COUNT = 581;

// Code-table entry of the codes whose whole message is the error-text buffer.
constexpr uint32_t MESSAGE_FROM_ERROR_TEXT = 0xFFFFFFFF;

extern const MessageEntry MessageTable[MESSAGE_COUNT];
extern const uint32_t ErrorMessageIds[ERROR_MESSAGE_ID_COUNT];

constexpr uint32_t MSG_NO_ERROR = 0;
constexpr uint32_t MSG_UNKNOWN_ERROR_CODE = 91;
constexpr uint32_t MSG_CURRENT_LINE = 92;
constexpr uint32_t MSG_DONE = 95;
constexpr uint32_t MSG_OPENING_SCRIPT = 97;     // "Opening script %s"
constexpr uint32_t MSG_COMPILING_SCRIPT = 106;
constexpr uint32_t MSG_LOADING_PLUGIN = 107;    // "Loading plugin %s"
constexpr uint32_t MSG_FAILED = 108;
constexpr uint32_t MSG_FILE = 194;
constexpr uint32_t MSG_IN_FUNCTION = 280;
constexpr uint32_t MSG_OPENING_FILE = 286;      // "Opening file %s"
constexpr uint32_t MSG_LOADING_APPLET = 287;    // "Loading applet %s"
constexpr uint32_t MSG_PLUGIN_REASON = 600;     // "(Reason: %s)"
constexpr uint32_t MSG_SELECT_APPLET = 781;     // title of the applet file requester

// Start-up option help: the eight group headings in the order of the option
// table's groups, then one help text per option in option-table order.
constexpr uint32_t MSG_OPTION_HEADING_FIRST = 700;
constexpr uint32_t MSG_OPTION_HEADING_COUNT = 8;
constexpr uint32_t MSG_OPTION_HELP_FIRST = 708;
constexpr uint32_t MSG_OPTION_HELP_COUNT = 49;

// The text of a message id: the runtime catalog's string of that index when
// it has one, else the built-in text; null when neither exists.
const char* GetString(uint32_t id);
