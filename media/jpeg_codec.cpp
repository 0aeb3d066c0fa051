// JPEG through libjpeg-turbo. Its error exit jumps back to the function
// that started the work, which then destroys the codec state; the jumping
// functions hold no C++ objects with destructors. Hostile files are bounded
// three ways: the size check before any pixels exist, the codec's own
// memory limit, and a limit on progressive scans (a file of endless tiny
// scans would otherwise take minutes).
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "core/io/error_codes.h"
#include "media/image_codecs.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr int kMaxScans = 500;
constexpr long kMaxCodecMemory = 512L << 20;

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr codec)
{
    longjmp(reinterpret_cast<JpegError*>(codec->err)->jump, 1);
}

void EmitNothing(j_common_ptr, int) {}
void OutputNothing(j_common_ptr) {}

void CountScans(j_common_ptr codec)
{
    if (codec->is_decompressor && reinterpret_cast<j_decompress_ptr>(codec)->input_scan_number > kMaxScans)
        longjmp(reinterpret_cast<JpegError*>(codec->err)->jump, 1);
}

void SetUpErrors(JpegError* error)
{
    jpeg_std_error(&error->manager);
    error->manager.error_exit = ErrorExit;
    error->manager.emit_message = EmitNothing;
    error->manager.output_message = OutputNothing;
}

struct JpegDecodeState {
    jpeg_decompress_struct codec;
    JpegError error;
    jpeg_progress_mgr progress;
    uint8_t* row = nullptr;  // for CMYK files
    ImageData* out = nullptr;
    uint32_t status = 0;
};

// Adobe writes CMYK inverted, which is what every CMYK JPEG in the wild
// holds; the colour is c * k / 255 per channel.
void CmykRowToArgb(const uint8_t* cmyk, uint32_t* argb, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x, cmyk += 4) {
        uint32_t k = cmyk[3];
        uint32_t r = cmyk[0] * k / 255, g = cmyk[1] * k / 255, b = cmyk[2] * k / 255;
        argb[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
    }
}

void RunDecode(JpegDecodeState* s, const uint8_t* data, size_t size, bool probe)
{
    if (setjmp(s->error.jump)) {
        if (!s->status)
            s->status = ERR_LOADPICTURE;
        return;
    }
    jpeg_create_decompress(&s->codec);
    s->codec.mem->max_memory_to_use = kMaxCodecMemory;
    s->progress.progress_monitor = CountScans;
    s->codec.progress = &s->progress;
    jpeg_mem_src(&s->codec, data, static_cast<unsigned long>(size));
    jpeg_read_header(&s->codec, TRUE);
    if ((s->status = CheckImageSize(s->codec.image_width, s->codec.image_height)) != 0)
        return;
    s->out->width = static_cast<int32_t>(s->codec.image_width);
    s->out->height = static_cast<int32_t>(s->codec.image_height);
    if (probe)
        return;
    bool cmyk = s->codec.jpeg_color_space == JCS_CMYK || s->codec.jpeg_color_space == JCS_YCCK;
    s->codec.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&s->codec);
    uint32_t width = s->codec.output_width;
    if (s->codec.output_components != 4 || static_cast<int32_t>(width) != s->out->width ||
        static_cast<int32_t>(s->codec.output_height) != s->out->height) {
        s->status = ERR_LOADPICTURE;
        return;
    }
    if ((s->status = AllocImagePixels(s->out, width, s->codec.output_height, false)) != 0)
        return;
    if (cmyk && !(s->row = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(width) * 4, 0)))) {
        s->status = ERR_MEM;
        return;
    }
    while (s->codec.output_scanline < s->codec.output_height) {
        uint32_t* target = s->out->pixels + static_cast<size_t>(s->codec.output_scanline) * width;
        JSAMPROW row = s->row ? s->row : reinterpret_cast<JSAMPROW>(target);
        if (jpeg_read_scanlines(&s->codec, &row, 1) != 1) {
            s->status = ERR_LOADPICTURE;
            return;
        }
        if (s->row)
            CmykRowToArgb(s->row, target, width);
    }
    jpeg_finish_decompress(&s->codec);
}

struct JpegEncodeState {
    jpeg_compress_struct codec;
    JpegError error;
    unsigned char* memory = nullptr;  // libjpeg's own buffer
    unsigned long memorySize = 0;
    uint32_t status = 0;
};

void RunEncode(JpegEncodeState* s, const uint32_t* argb, size_t rowBytes, int32_t width, int32_t height,
               int32_t quality)
{
    if (setjmp(s->error.jump)) {
        s->status = ERR_WRITEJPEG;
        return;
    }
    jpeg_create_compress(&s->codec);
    jpeg_mem_dest(&s->codec, &s->memory, &s->memorySize);
    s->codec.image_width = static_cast<JDIMENSION>(width);
    s->codec.image_height = static_cast<JDIMENSION>(height);
    s->codec.input_components = 4;
    s->codec.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&s->codec);
    jpeg_set_quality(&s->codec, quality, TRUE);
    jpeg_start_compress(&s->codec, TRUE);
    const auto* row = reinterpret_cast<const uint8_t*>(argb);
    while (s->codec.next_scanline < s->codec.image_height) {
        JSAMPROW line = const_cast<JSAMPROW>(row + s->codec.next_scanline * rowBytes);
        jpeg_write_scanlines(&s->codec, &line, 1);
    }
    jpeg_finish_compress(&s->codec);
}

}  // namespace

uint32_t DecodeJpeg(const uint8_t* data, size_t size, bool probe, ImageData* out)
{
    auto* s = static_cast<JpegDecodeState*>(OsAllocMem(sizeof(JpegDecodeState), 1));
    if (!s)
        return ERR_MEM;
    s->out = out;
    s->codec.err = &s->error.manager;
    SetUpErrors(&s->error);
    RunDecode(s, data, size, probe);
    jpeg_destroy_decompress(&s->codec);
    OsFreeMem(s->row);
    uint32_t status = s->status;
    OsFreeMem(s);
    if (status)
        FreeImagePixels(out);
    return status;
}

uint32_t EncodeJpeg(const uint32_t* argb, size_t rowBytes, int32_t width, int32_t height, int32_t quality,
                    ByteBuffer* out)
{
    if (width <= 0 || height <= 0 || width > 65500 || height > 65500 || rowBytes < static_cast<size_t>(width) * 4)
        return ERR_BADDIMENSIONS;
    quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
    auto* s = static_cast<JpegEncodeState*>(OsAllocMem(sizeof(JpegEncodeState), 1));
    if (!s)
        return ERR_MEM;
    s->codec.err = &s->error.manager;
    SetUpErrors(&s->error);
    RunEncode(s, argb, rowBytes, width, height, quality);
    jpeg_destroy_compress(&s->codec);
    uint32_t status = s->status;
    if (!status && !AppendBytes(out, s->memory, s->memorySize))
        status = ERR_MEM;
    std::free(s->memory);
    OsFreeMem(s);
    return status;
}
