// Picture files: reading through the stream layer (so that linked files,
// virtual files and file adapters serve pictures too) into the inbuilt
// decoders, a PNG or BMP as it is read and other formats whole, and the
// PNG, JPEG and ILBM writers, which encode into memory and then replace the
// file in one step.
#include "media/image_files.h"

#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/whole_file.h"
#include "core/plugins/loader_lists.h"
#include "media/image_codecs.h"
#include "platform/posix/os_memory.h"

namespace {

// Reads the rest of a stream after the head bytes already taken from it:
// one read into a buffer of the size the source tells, and on for a source
// that holds more than it said. 0, ERR_READFILE (too large) or ERR_MEM.
uint32_t ReadRest(StreamHandle* stream, const uint8_t* head, size_t headSize, ByteBuffer* bytes)
{
    uint64_t known = 0;
    if (StreamKnownSize(stream, &known) && known > kMaxImageFileSize)
        return ERR_READFILE;
    if (known > headSize) {
        bytes->data = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(known), 0));
        if (!bytes->data)
            return ERR_MEM;
        bytes->capacity = static_cast<size_t>(known);
    }
    if (!AppendBytes(bytes, head, headSize))
        return ERR_MEM;
    if (bytes->capacity > bytes->size)
        bytes->size += StreamRead(stream, bytes->data + bytes->size, bytes->capacity - bytes->size);
    uint8_t block[STREAM_SKIP_BUFFER];
    for (;;) {
        size_t n = StreamRead(stream, block, sizeof block);
        if (!n)
            return 0;
        if (bytes->size + n > kMaxImageFileSize)
            return ERR_READFILE;
        if (!AppendBytes(bytes, block, n))
            return ERR_MEM;
    }
}

// Up to count bytes, fewer only at the end of the stream.
size_t ReadFully(StreamHandle* stream, uint8_t* buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        size_t n = StreamRead(stream, buffer + done, count - done);
        if (!n)
            break;
        done += n;
    }
    return done;
}

// A stream whose first bytes were already read into head: they are served
// again first.
struct PrefixedStream {
    const uint8_t* head;
    size_t left;
    StreamHandle* stream;
};

size_t ReadPrefixed(void* context, uint8_t* buffer, size_t count)
{
    auto* p = static_cast<PrefixedStream*>(context);
    if (!p->left)
        return StreamRead(p->stream, buffer, count);
    size_t n = count < p->left ? count : p->left;
    std::memcpy(buffer, p->head, n);
    p->head += n;
    p->left -= n;
    return n;
}

// Bytes enough for SniffImageFormat to know every format.
constexpr size_t kSniffBytes = 16;

// Decodes the picture in an open stream: a PNG or a BMP as it is read, any
// other format read whole first.
uint32_t DecodeStream(StreamHandle* stream, bool probe, ImageData* image)
{
    uint8_t head[kSniffBytes];
    size_t headSize = ReadFully(stream, head, sizeof head);
    uint32_t format = SniffImageFormat(head, headSize);
    if (format == IMAGEFILE_PNG || format == IMAGEFILE_BMP) {
        PrefixedStream prefixed{head, headSize, stream};
        ImageByteSource source{ReadPrefixed, &prefixed};
        uint64_t known = 0;
        if (StreamKnownSize(stream, &known))
            source.knownSize = known;
        *image = ImageData{};
        image->transparentColour = -1;
        image->format = format;
        return format == IMAGEFILE_PNG ? DecodePngSource(&source, probe, image) : DecodeBmpSource(&source, probe, image);
    }
    ByteBuffer bytes;
    uint32_t error = ReadRest(stream, head, headSize, &bytes);
    if (!error)
        error = DecodeImage(bytes.data, bytes.size, probe, image);
    FreeByteBuffer(&bytes);
    return error;
}

}  // namespace

uint32_t ReadWholeImageFile(const char* file, const char* loaderList, uint8_t** outData, size_t* outSize)
{
    *outData = nullptr;
    *outSize = 0;
    StreamHandle* stream = StreamOpen(file, STREAM_READ | STREAM_ADAPTERS, loaderList);
    if (!stream) {
        SetErrorText(file);
        return ERR_READFILE;
    }
    ByteBuffer bytes;
    uint32_t error = ReadRest(stream, nullptr, 0, &bytes);
    StreamClose(stream);
    if (error) {
        FreeByteBuffer(&bytes);
        if (error == ERR_READFILE)
            SetErrorText(file);
        return error;
    }
    *outData = bytes.data;
    *outSize = bytes.size;
    return 0;
}

uint32_t LoadImageFile(const char* file, const char* loaderList, uint32_t, uint32_t hostMode, ImageData** outImage,
                       uint32_t* outNative, HostImageInfo* outInfo)
{
    if (outImage)
        *outImage = nullptr;
    if (outNative)
        *outNative = 0;
    if (!IsLoaderAllowed(loaderList, "inbuilt", false)) {
        SetErrorText(file);
        return ERR_LOADPICTURE;
    }
    StreamHandle* stream = StreamOpen(file, STREAM_READ | STREAM_ADAPTERS, loaderList);
    if (!stream) {
        SetErrorText(file);
        return ERR_READFILE;
    }
    auto* image = static_cast<ImageData*>(OsAllocMem(sizeof(ImageData), 1));
    uint32_t error = image ? DecodeStream(stream, hostMode == HOSTIMAGE_PROBE, image) : ERR_MEM;
    StreamClose(stream);
    if (error) {
        OsFreeMem(image);
        if (error != ERR_MEM && error != ERR_USERABORT) {
            SetErrorText(file);
            if (error != ERR_READFILE)
                error = ERR_LOADPICTURE;
        }
        return error;
    }
    if (outInfo) {
        outInfo->width = image->width;
        outInfo->height = image->height;
        outInfo->transparentColour = image->transparentColour;
        outInfo->hasAlpha = image->transparentColour == -2;
    }
    if (hostMode == HOSTIMAGE_PROBE || !outImage)
        FreeImageData(image);
    else
        *outImage = image;
    return 0;
}

uint32_t* GetImageDataPixels(ImageData* image)
{
    return image->pixels;
}

void FreeImageData(ImageData* image)
{
    if (!image)
        return;
    FreeImagePixels(image);
    OsFreeMem(image);
}

namespace {

uint32_t WriteEncoded(const char* file, ByteBuffer* bytes, uint32_t error)
{
    WholeFileWriter writer;
    if (!error)
        error = BeginWholeFile(file, 0, &writer);
    if (!error && StreamWrite(writer.stream, bytes->data, bytes->size) != bytes->size)
        error = ERR_WRITE;
    if (!error)
        error = CommitWholeFile(&writer);
    FreeByteBuffer(bytes);
    return error;
}

}  // namespace

void SavePng(SavePngBlock* block)
{
    ByteBuffer bytes;
    uint32_t error =
        EncodePng(block->argb, block->bytesPerRow, block->width, block->height, block->withAlpha != 0, &bytes);
    block->result = WriteEncoded(block->file, &bytes, error);
}

void SaveJpeg(SaveJpegBlock* block)
{
    ByteBuffer bytes;
    block->memory = nullptr;
    block->size = 0;
    block->error = EncodeJpeg(block->argb, block->bytesPerRow, block->width, block->height, block->quality, &bytes);
    if (block->error) {
        FreeByteBuffer(&bytes);
        return;
    }
    block->memory = bytes.data;
    block->size = bytes.size;
}

uint32_t SaveIlbm(const char* file, const uint32_t* argb, int32_t width, int32_t height)
{
    ByteBuffer bytes;
    return WriteEncoded(file, &bytes, EncodeIlbm(argb, width, height, &bytes));
}
