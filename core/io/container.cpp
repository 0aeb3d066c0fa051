// The compressed container through zlib, 16384 bytes at a time in each
// direction. zlib's own init macros pass the header's version and record
// size, so whatever zlib this machine has accepts the call.
#include "core/io/container.h"

#include <cstring>
#include <zlib.h>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/io/whole_file.h"
#include "platform/posix/os_files.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr size_t CONTAINER_BUFFER = 16384;

// Both buffers of one call, freed on every path.
struct ContainerBuffers {
    uint8_t* in = static_cast<uint8_t*>(OsAllocMem(CONTAINER_BUFFER, 0));
    uint8_t* out = static_cast<uint8_t*>(OsAllocMem(CONTAINER_BUFFER, 0));
    ~ContainerBuffers()
    {
        OsFreeMem(in);
        OsFreeMem(out);
    }
    bool ok() const { return in && out; }
};

bool WriteAll(StreamHandle* stream, const void* data, size_t count)
{
    return count == 0 || StreamWrite(stream, data, count) == count;
}

} // namespace

uint32_t ZlibErrorToCode(int zlibResult)
{
    switch (zlibResult) {
    case Z_ERRNO:
        return ERR_ZLIBIO;
    case Z_STREAM_ERROR:
        return ERR_ZLIBSTREAM;
    case Z_DATA_ERROR:
        return ERR_ZLIBDATA;
    case Z_MEM_ERROR:
        return ERR_MEM;
    case Z_VERSION_ERROR:
        return ERR_ZLIBVERSION;
    default:
        return ERR_UNKNOWN;
    }
}

uint32_t DeflateFileWithMagic(const char* magic, const char* source, const char* destination,
                              StreamHandle* destinationStream, uint64_t* outWritten)
{
    ContainerBuffers buffers;
    if (!buffers.ok())
        return ERR_MEM;
    StreamCloser input;
    input.stream = StreamOpen(source, STREAM_READ | STREAM_ADAPTERS);
    if (!input.stream) {
        SetErrorText(source);
        return ERR_READFILE;
    }
    WholeFileWriter output;
    StreamHandle* out = destinationStream;
    if (!out) {
        if (uint32_t code = BeginWholeFile(destination, STREAM_ADAPTERS, &output))
            return code;
        out = output.stream;
    }

    int64_t start = StreamSeek(out, 0, STREAM_SEEK_CURRENT);
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    if (!WriteAll(out, magic, 4) || !WriteAll(out, zeros, 4))
        return ERR_WRITE;

    z_stream z;
    std::memset(&z, 0, sizeof z);
    int rc = deflateInit(&z, Z_DEFAULT_COMPRESSION);
    if (rc != Z_OK)
        return ZlibErrorToCode(rc);

    uint32_t result = 0;
    bool finished = false;
    while (!finished && result == 0) {
        size_t n = StreamRead(input.stream, buffers.in, CONTAINER_BUFFER);
        bool atEnd = StreamEof(input.stream) != 0;
        if (n < CONTAINER_BUFFER && !atEnd) {
            result = ERR_READ;
            break;
        }
        int flush = atEnd ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = buffers.in;
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = buffers.out;
            z.avail_out = CONTAINER_BUFFER;
            rc = deflate(&z, flush);
            if (rc == Z_STREAM_ERROR) {
                result = ZlibErrorToCode(rc);
                break;
            }
            if (!WriteAll(out, buffers.out, CONTAINER_BUFFER - z.avail_out)) {
                result = ERR_WRITE;
                break;
            }
        } while (z.avail_out == 0);
        finished = rc == Z_STREAM_END;
    }
    deflateEnd(&z);
    if (result)
        return result;

    int64_t end = StreamSeek(out, 0, STREAM_SEEK_CURRENT);
    if (outWritten)
        *outWritten = (start >= 0 && end >= start) ? static_cast<uint64_t>(end - start) : 0;
    return output.stream ? CommitWholeFile(&output) : 0u;
}

uint32_t InflateFileWithMagic(const char* magic, const char* source, const char* destination,
                              StreamHandle* sourceStream, uint64_t sourceOffset,
                              uint64_t* outDestinationSize, uint64_t* outContainerLength,
                              void* destinationMemory, size_t memorySize)
{
    ContainerBuffers buffers;
    if (!buffers.ok())
        return ERR_MEM;
    StreamCloser input;
    StreamHandle* in = sourceStream;
    if (!in) {
        input.stream = StreamOpen(source, STREAM_READ | STREAM_ADAPTERS | STREAM_SEEKEMULATION);
        if (!input.stream) {
            SetErrorText(source);
            return ERR_READFILE;
        }
        in = input.stream;
        if (sourceOffset > static_cast<uint64_t>(INT64_MAX) ||
            StreamSeek(in, static_cast<int64_t>(sourceOffset), STREAM_SEEK_BEGINNING) < 0)
            return ERR_READ;
    }

    uint8_t header[4];
    if (StreamRead(in, header, 4) != 4)
        return ERR_READ;
    if (std::memcmp(header, magic, 4) != 0)
        return ERR_PAKFORMAT;
    if (StreamRead(in, header, 4) != 4)
        return ERR_READ;

    WholeFileWriter output;
    auto* memory = static_cast<uint8_t*>(destinationMemory);
    if (!memory) {
        if (uint32_t code = BeginWholeFile(destination, STREAM_ADAPTERS, &output))
            return code;
    }

    z_stream z;
    std::memset(&z, 0, sizeof z);
    int rc = inflateInit(&z);
    if (rc != Z_OK)
        return ZlibErrorToCode(rc);

    uint32_t result = 0;
    bool streamEnded = false;
    bool memoryFull = memory && memorySize == 0;
    uint64_t produced = 0;
    while (!streamEnded && !memoryFull && result == 0) {
        size_t n = StreamRead(in, buffers.in, CONTAINER_BUFFER);
        if (n < CONTAINER_BUFFER && !StreamEof(in)) {
            result = ERR_READ;
            break;
        }
        if (n == 0)
            break;
        z.next_in = buffers.in;
        z.avail_in = static_cast<uInt>(n);
        // Each round either consumes input or produces output, so corrupt
        // data cannot keep this loop turning.
        do {
            z.next_out = buffers.out;
            z.avail_out = CONTAINER_BUFFER;
            rc = inflate(&z, Z_NO_FLUSH);
            if (rc == Z_NEED_DICT)
                rc = Z_DATA_ERROR;
            if (rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) {
                result = ZlibErrorToCode(rc);
                break;
            }
            size_t have = CONTAINER_BUFFER - z.avail_out;
            if (memory) {
                size_t room = memorySize - static_cast<size_t>(produced);
                size_t take = have < room ? have : room;
                std::memcpy(memory + produced, buffers.out, take);
                produced += take;
                if (produced == memorySize) {
                    memoryFull = true;
                    break;
                }
            } else {
                if (!WriteAll(output.stream, buffers.out, have)) {
                    result = ERR_WRITE;
                    break;
                }
                produced += have;
            }
            if (rc == Z_STREAM_END) {
                streamEnded = true;
                break;
            }
        } while (z.avail_out == 0 || (z.avail_in > 0 && rc == Z_OK));
    }
    if (outContainerLength)
        *outContainerLength = z.total_in + CONTAINER_HEADER_SIZE;
    inflateEnd(&z);
    if (result)
        return result;
    if (!streamEnded && !memoryFull)
        return ERR_ZLIBDATA;
    if (outDestinationSize)
        *outDestinationSize = produced;
    return output.stream ? CommitWholeFile(&output) : 0u;
}
