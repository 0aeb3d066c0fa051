// The table stream: a table with its nested tables and functions as one
// tagged, big-endian byte stream, shared by table files and the preferences
// file. Entries follow in the table's traversal order, each a key (tag 2
// and a double, or tag 3, a u32 length and the bytes) and its value (tag 2
// number, tag 3 string, tag 4 nested stream, tag 5 u32 length and a
// compiled chunk); a byte 0 closes each table.
#pragma once

#include <cstdint>

struct VmState;
struct StreamHandle;

// Nested tables beyond this depth are refused on writing (a table that
// holds itself) and on reading (a stream that never closes its tables).
constexpr int kTableStreamMaxDepth = 200;

// Writes the table at index. Values other than numbers, strings, tables,
// functions and userdata (written as 0) are left out with their keys.
// 0, ERR_WRONGUSAGE for a key that is neither number nor string, ERR_STACK
// for nesting deeper than the limit, ERR_WRITE on a short write, or the
// dump's code for a native function.
uint32_t WriteTableRecursive(VmState* vm, int index, StreamHandle* stream);

// Reads one table stream and pushes the table. 0, ERR_READ on a short
// read, ERR_WRONGUSAGE for an unknown key tag, ERR_FILEFORMAT for an unknown
// value tag or nesting beyond the limit, or the loader's code.
uint32_t ReadTableRecursive(VmState* vm, StreamHandle* stream, int level);
