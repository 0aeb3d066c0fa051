// Picture files: reading a whole file through the stream layer (so that
// linked files, virtual files and file adapters serve pictures too),
// handing it to the inbuilt decoders, and the PNG, JPEG and ILBM writers,
// which encode into memory and then replace the file in one step.
#include "media/image_files.h"

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/whole_file.h"
#include "core/plugins/loader_lists.h"
#include "media/image_codecs.h"
#include "platform/posix/os_memory.h"

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
    uint64_t known = 0;
    uint32_t error = 0;
    if (StreamKnownSize(stream, &known) && known > kMaxImageFileSize) {
        error = ERR_READFILE;
    } else if (known) {
        // One read into a buffer of the size the source tells; a source
        // that holds more than it said is read on below.
        bytes.data = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(known), 0));
        if (!bytes.data)
            error = ERR_MEM;
        else
            bytes.capacity = static_cast<size_t>(known);
        if (!error)
            bytes.size = StreamRead(stream, bytes.data, bytes.capacity);
    }
    if (!error) {
        uint8_t block[STREAM_SKIP_BUFFER];
        for (;;) {
            size_t n = StreamRead(stream, block, sizeof block);
            if (!n)
                break;
            if (bytes.size + n > kMaxImageFileSize) {
                error = ERR_READFILE;
                break;
            }
            if (!AppendBytes(&bytes, block, n)) {
                error = ERR_MEM;
                break;
            }
        }
    }
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
    uint8_t* data = nullptr;
    size_t size = 0;
    if (uint32_t error = ReadWholeImageFile(file, loaderList, &data, &size))
        return error;
    auto* image = static_cast<ImageData*>(OsAllocMem(sizeof(ImageData), 1));
    uint32_t error = image ? DecodeImage(data, size, hostMode == HOSTIMAGE_PROBE, image) : ERR_MEM;
    OsFreeMem(data);
    if (error) {
        OsFreeMem(image);
        if (error != ERR_MEM && error != ERR_USERABORT) {
            SetErrorText(file);
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
