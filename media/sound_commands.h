// The commands of the sound library that open sounds: LoadSample decodes
// a whole file into a sample record, OpenMusic keeps a decoder open on the
// file and describes the stream. Both take the loader list from the option
// "loader" and the file adapters from "adapter".
#pragma once

#include <cstdint>

struct VmState;

uint32_t CmdLoadSample(VmState* vm);
uint32_t CmdOpenMusic(VmState* vm);

// The two option texts both commands (and OpenVideo) read from argument 3.
struct LoaderOptions {
    char loader[1024];
    char adapter[1024];
};
void ReadLoaderOptions(VmState* vm, int table, LoaderOptions* out);
