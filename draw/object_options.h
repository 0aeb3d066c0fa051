// The options every drawable object shares, as two blocks of words: the
// object block (its transformation: a 2 x 2 matrix and two scale factors,
// as doubles) and the style block. The graphics library keeps a default
// pair that SetDrawTagsDefault replaces.
#pragma once

#include <cstdint>

struct VmState;

constexpr int kObjectOptionWords = 36;
constexpr int kStyleOptionWords = 270;

// Where the doubles of the object block stand: the matrix from word 0, the
// two scale factors behind it.
constexpr int kObjectMatrixWord = 0;
constexpr int kObjectScaleWord = 8;

// Mode 4: the table fills a copy of the default draw tags.
constexpr uint32_t OBJOPT_DRAWTAGS = 4;

void SetOptionDouble(uint32_t* block, int word, double value);

// Reads the standard options table at the argument index into the two
// blocks; the argument must be a table (the VM's table-expected error
// otherwise). 0 or an error code.
uint32_t ReadObjectOptions(VmState* vm, int index, uint32_t* options, uint32_t* style, uint32_t mode);
