// The fuzz input served as a ":::memory" stream, as the readers that take
// a stream or a file name meet it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/io/stream.h"
#include "core/io/virtual_names.h"

// Names the input in `name` and opens it for reading; null when either fails.
inline StreamHandle* OpenInputStream(const uint8_t* data, size_t size, MemoryName* name)
{
    return MakeMemoryName(data, size, name) ? StreamOpen(name->c_str(), STREAM_READ) : nullptr;
}
