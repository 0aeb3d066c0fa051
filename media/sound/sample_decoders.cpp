// The inbuilt decoders of sampled sound: libsndfile (WAV, AIFF, FLAC, Ogg
// Vorbis and Opus, and the other formats it knows) and libmpg123 (MPEG
// audio). Both read the player's stream through their libraries' custom I/O
// hooks, deliver signed 16-bit frames (8-bit sources stay 8-bit), and
// refuse what a sample record cannot hold (more than two channels, absurd
// rates). libsndfile also knows MPEG audio on some systems: it passes such
// files on, so that MP3 is always libmpg123's.
#include <mpg123.h>
#include <ogg/ogg.h>
#include <sndfile.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/io/error_codes.h"
#include "media/sound/decoders.h"

namespace {

constexpr uint32_t kMaxFrequency = 768000;

bool PlausibleFormat(int channels, long frequency)
{
    return channels >= 1 && channels <= 2 && frequency >= 1 && frequency <= static_cast<long>(kMaxFrequency);
}

int64_t IoTell(const QmStreamIo* io)
{
    return io->seek(io->opaque, 0, SEEK_CUR);
}

// ---------------------------------------------------------------------------
// Ogg Vorbis headers
//
// libsndfile leaks the Vorbis setup it allocated (some 5.7 KB) whenever an
// Ogg Vorbis file fails to open once its first packet has named Vorbis: a
// truncated or corrupt header costs that much at every attempt. libvorbisfile
// reads the same three headers and frees all it took when they fail, so such
// files are read by it first, and only whole headers reach libsndfile.

// How far into the stream the first Ogg page is looked for.
constexpr size_t kOggSearchBytes = 64 * 1024;

// Whether the first packet of the stream's first Ogg page is a Vorbis
// header, the way libsndfile tells the codecs in Ogg apart.
bool FirstOggPacketIsVorbis(const QmStreamIo* io)
{
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    ogg_page page;
    int found = 0;
    for (size_t total = 0; found != 1 && total < kOggSearchBytes;) {
        char* buffer = ogg_sync_buffer(&sync, 4096);
        size_t n = buffer ? io->read(io->opaque, buffer, 4096) : 0;
        if (n == 0 || ogg_sync_wrote(&sync, static_cast<long>(n)) != 0) break;
        total += n;
        // -1: bytes skipped to find a page; go on looking.
        while ((found = ogg_sync_pageout(&sync, &page)) == -1) {}
    }
    bool vorbis = false;
    ogg_stream_state stream;
    if (found == 1 && ogg_stream_init(&stream, ogg_page_serialno(&page)) == 0) {
        ogg_packet packet;
        vorbis = ogg_stream_pagein(&stream, &page) == 0 && ogg_stream_packetpeek(&stream, &packet) == 1 &&
                 packet.bytes >= 7 && std::memcmp(packet.packet + 1, "vorbis", 6) == 0;
        ogg_stream_clear(&stream);
    }
    ogg_sync_clear(&sync);
    return vorbis;
}

size_t OvRead(void* buffer, size_t size, size_t count, void* user)
{
    auto* io = static_cast<const QmStreamIo*>(user);
    return size ? io->read(io->opaque, buffer, size * count) / size : 0;
}

int OvSeek(void* user, ogg_int64_t offset, int whence)
{
    auto* io = static_cast<const QmStreamIo*>(user);
    return io->seek(io->opaque, offset, whence) < 0 ? -1 : 0;
}

long OvTell(void* user) { return static_cast<long>(IoTell(static_cast<const QmStreamIo*>(user))); }

// Whether the stream may go to libsndfile: it is no Ogg Vorbis, or its
// Vorbis headers are whole. Leaves the stream at its start.
bool SafeForSndfile(const QmStreamIo* io)
{
    char magic[4];
    bool ogg = io->read(io->opaque, magic, 4) == 4 && std::memcmp(magic, "OggS", 4) == 0;
    if (io->seek(io->opaque, 0, SEEK_SET) != 0) return false;
    if (!ogg) return true;
    bool vorbis = FirstOggPacketIsVorbis(io);
    if (io->seek(io->opaque, 0, SEEK_SET) != 0) return false;
    if (!vorbis) return true;
    ov_callbacks callbacks = {OvRead, io->canSeek ? OvSeek : nullptr, nullptr, OvTell};
    OggVorbis_File vorbisFile;
    // A failed test has already cleared what it took.
    bool whole = ov_test_callbacks(const_cast<QmStreamIo*>(io), &vorbisFile, nullptr, 0, callbacks) == 0;
    if (whole) ov_clear(&vorbisFile);
    return io->seek(io->opaque, 0, SEEK_SET) == 0 && whole;
}

// ---------------------------------------------------------------------------
// libsndfile

struct SndfileState {
    SNDFILE* file;
    const QmStreamIo* io;
    uint32_t channels;
    uint32_t bits;
    bool floating;  // samples read as floats and converted here
    // 8-bit sources: the 16-bit frames before narrowing; floating-point
    // sources: the float frames before conversion.
    void* scratch;
    size_t scratchBytes;
};

// The scratch buffer with room for bytes, or null.
void* SndfileScratch(SndfileState* s, size_t bytes)
{
    if (bytes > s->scratchBytes) {
        std::free(s->scratch);
        s->scratch = std::malloc(bytes);
        s->scratchBytes = s->scratch ? bytes : 0;
    }
    return s->scratch;
}

// Floating-point samples into 16 bits: full scale is 1.0, and what lies
// beyond it is clipped, never wrapped.
void FloatsToShorts(const float* in, short* out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        float v = in[i] * 32767.0f;
        out[i] = v != v ? short{0} : v >= 32767.0f ? short{32767} : v <= -32768.0f ? short{-32768}
                                                                                 : static_cast<short>(std::lrintf(v));
    }
}

sf_count_t SfLength(void* user)
{
    auto* io = static_cast<const QmStreamIo*>(user);
    return static_cast<sf_count_t>(io->size(io->opaque));
}

sf_count_t SfSeek(sf_count_t offset, int whence, void* user)
{
    auto* io = static_cast<const QmStreamIo*>(user);
    return io->seek(io->opaque, offset, whence);
}

sf_count_t SfRead(void* buffer, sf_count_t count, void* user)
{
    if (count <= 0) return 0;
    auto* io = static_cast<const QmStreamIo*>(user);
    return static_cast<sf_count_t>(io->read(io->opaque, buffer, static_cast<size_t>(count)));
}

sf_count_t SfWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t SfTell(void* user) { return IoTell(static_cast<const QmStreamIo*>(user)); }

SF_VIRTUAL_IO kSfIo = {SfLength, SfSeek, SfRead, SfWrite, SfTell};

void SndfileFormatName(SNDFILE* file, int format, char* out, size_t size)
{
    int major = format & SF_FORMAT_TYPEMASK;
    int sub = format & SF_FORMAT_SUBMASK;
    const char* name = nullptr;
    switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64: name = "WAV"; break;
    case SF_FORMAT_AIFF: name = "AIFF"; break;
    case SF_FORMAT_FLAC: name = "FLAC"; break;
    case SF_FORMAT_OGG: name = sub == SF_FORMAT_OPUS ? "Ogg Opus" : sub == SF_FORMAT_VORBIS ? "Ogg Vorbis" : "Ogg"; break;
    default: break;
    }
    if (name) {
        std::snprintf(out, size, "%s", name);
        return;
    }
    SF_FORMAT_INFO info{};
    info.format = major;
    if (sf_command(file, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name)
        std::snprintf(out, size, "%s", info.name);
    else
        std::snprintf(out, size, "unknown");
}

void SndfileClose(void* raw)
{
    auto* s = static_cast<SndfileState*>(raw);
    if (!s) return;
    if (s->file) sf_close(s->file);
    std::free(s->scratch);
    std::free(s);
}

uint32_t SndfileOpen(const QmStreamIo* io, uint32_t, void** state, SoundFormat* format)
{
    if (!SafeForSndfile(io)) return ERR_LOADSOUND;
    auto* s = static_cast<SndfileState*>(std::calloc(1, sizeof(SndfileState)));
    if (!s) return ERR_MEM;
    SF_INFO info{};
    s->io = io;
    s->file = sf_open_virtual(&kSfIo, SFM_READ, &info, const_cast<QmStreamIo*>(io));
    bool mpeg = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    if (!s->file || mpeg || !PlausibleFormat(info.channels, info.samplerate) || info.frames < 0) {
        SndfileClose(s);
        return ERR_LOADSOUND;
    }
    int sub = info.format & SF_FORMAT_SUBMASK;
    s->channels = static_cast<uint32_t>(info.channels);
    s->bits = sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8 ? 8 : 16;
    // Floating-point samples are converted here: the library's own scaling
    // would first read the whole file for its peak, at every open.
    s->floating = sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE || sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS;
    format->channels = s->channels;
    format->frequency = static_cast<uint32_t>(info.samplerate);
    format->bits = s->bits;
    format->frames = info.frames;
    format->canSeek = info.seekable ? 1 : 0;
    format->subsongs = 1;
    format->type = MUSICTYPE_STREAM;
    uint64_t bytes = io->size(io->opaque);
    int major = info.format & SF_FORMAT_TYPEMASK;
    bool packed = major == SF_FORMAT_FLAC || major == SF_FORMAT_OGG;
    bool pcm = (sub >= SF_FORMAT_PCM_S8 && sub <= SF_FORMAT_PCM_32) || sub == SF_FORMAT_PCM_U8 ||
               sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
    if (pcm && !packed) {
        uint32_t sampleBits = sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8 ? 8
                              : sub == SF_FORMAT_PCM_16                         ? 16
                              : sub == SF_FORMAT_PCM_24                         ? 24
                              : sub == SF_FORMAT_DOUBLE                         ? 64
                                                                                : 32;
        format->bitRate = static_cast<uint32_t>(uint64_t{format->frequency} * s->channels * sampleBits);
    } else if (info.frames > 0) {
        // Compressed: the average over the whole file.
        long double rate = static_cast<long double>(bytes) * 8 * info.samplerate / info.frames;
        format->bitRate = rate < 4e9L ? static_cast<uint32_t>(rate) : 0;
    }
    SndfileFormatName(s->file, info.format, format->format, sizeof format->format);
    *state = s;
    return 0;
}

// What a read that decoded nothing answers: 0 at the end, and at an error
// met where the file ends (a FLAC file cut inside its last frames fails
// its checks there), for such a file holds what came before, like any
// other file shorter than its header says; -1 for an error before the end.
int64_t SndfileEnd(SndfileState* s)
{
    if (sf_error(s->file) == SF_ERR_NO_ERROR) return 0;
    int64_t at = IoTell(s->io);
    return at >= 0 && static_cast<uint64_t>(at) >= s->io->size(s->io->opaque) ? 0 : -1;
}

int64_t SndfileRead(void* raw, void* buffer, int64_t frames)
{
    auto* s = static_cast<SndfileState*>(raw);
    if (frames <= 0) return 0;
    if (s->bits == 16 && !s->floating) {
        sf_count_t n = sf_readf_short(s->file, static_cast<short*>(buffer), frames);
        return n ? n : SndfileEnd(s);
    }
    size_t samples = static_cast<size_t>(frames) * s->channels;
    void* scratch = SndfileScratch(s, samples * (s->floating ? sizeof(float) : sizeof(short)));
    if (!scratch) return -1;
    sf_count_t n = s->floating ? sf_readf_float(s->file, static_cast<float*>(scratch), frames)
                               : sf_readf_short(s->file, static_cast<short*>(scratch), frames);
    if (n == 0) return SndfileEnd(s);
    size_t got = static_cast<size_t>(n) * s->channels;
    if (s->floating) {
        FloatsToShorts(static_cast<const float*>(scratch), static_cast<short*>(buffer), got);
        return n;
    }
    auto* wide = static_cast<const short*>(scratch);
    auto* out = static_cast<int8_t*>(buffer);
    for (size_t i = 0; i < got; ++i)
        out[i] = static_cast<int8_t>(wide[i] >> 8);
    return n;
}

uint32_t SndfileSeek(void* raw, uint64_t frame)
{
    auto* s = static_cast<SndfileState*>(raw);
    return sf_seek(s->file, static_cast<sf_count_t>(frame), SEEK_SET) >= 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// libmpg123

struct Mpg123State {
    mpg123_handle* handle;
    uint32_t channels;
};

mpg123_ssize_t MpgRead(void* user, void* buffer, size_t count)
{
    auto* io = static_cast<const QmStreamIo*>(user);
    return static_cast<mpg123_ssize_t>(io->read(io->opaque, buffer, count));
}

off_t MpgSeek(void* user, off_t offset, int whence)
{
    auto* io = static_cast<const QmStreamIo*>(user);
    return static_cast<off_t>(io->seek(io->opaque, offset, whence));
}

void MpgClose(void* raw)
{
    auto* s = static_cast<Mpg123State*>(raw);
    if (!s) return;
    if (s->handle) {
        mpg123_close(s->handle);
        mpg123_delete(s->handle);
    }
    std::free(s);
}

uint32_t MpgOpen(const QmStreamIo* io, uint32_t, void** state, SoundFormat* format)
{
    auto* s = static_cast<Mpg123State*>(std::calloc(1, sizeof(Mpg123State)));
    if (!s) return ERR_MEM;
    int error = MPG123_OK;
    s->handle = mpg123_new(nullptr, &error);
    if (!s->handle) {
        MpgClose(s);
        return ERR_MEM;
    }
    mpg123_handle* h = s->handle;
    // Quiet, and a short search for the first frame: a file that is not
    // MPEG audio is given up soon instead of being scanned to its end.
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_param(h, MPG123_RESYNC_LIMIT, 4096, 0);
    mpg123_format_none(h);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    long rate = 0;
    int channels = 0, encoding = 0;
    bool seekable = io->canSeek != 0;
    if (mpg123_replace_reader_handle(h, MpgRead, seekable ? MpgSeek : nullptr, nullptr) != MPG123_OK ||
        mpg123_open_handle(h, const_cast<QmStreamIo*>(io)) != MPG123_OK || mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK ||
        !PlausibleFormat(channels, rate)) {
        MpgClose(s);
        return ERR_LOADSOUND;
    }
    // The first frame's layout holds for the whole file; libmpg123
    // converts frames that differ.
    mpg123_format_none(h);
    mpg123_format(h, rate, channels, MPG123_ENC_SIGNED_16);
    s->channels = static_cast<uint32_t>(channels);
    format->channels = s->channels;
    format->frequency = static_cast<uint32_t>(rate);
    format->bits = 16;
    format->frames = -1;
    format->canSeek = seekable ? 1 : 0;
    format->subsongs = 1;
    format->type = MUSICTYPE_STREAM;
    if (seekable && mpg123_scan(h) == MPG123_OK) {
        off_t length = mpg123_length(h);
        if (length >= 0) format->frames = length;
    }
    mpg123_frameinfo info{};
    if (mpg123_info(h, &info) == MPG123_OK) {
        // A constant-rate file that carries a Xing "Info" frame reads as
        // VBR: its average (tags and all) stays near the frames' rate.
        uint32_t nominal = info.bitrate > 0 ? static_cast<uint32_t>(info.bitrate) * 1000 : 0;
        uint32_t average = 0;
        if (format->frames > 0) {
            long double bits = static_cast<long double>(io->size(io->opaque)) * 8 * rate / format->frames;
            average = bits < 4e9L ? static_cast<uint32_t>(bits) : 0;
        }
        bool constant = info.vbr == MPG123_CBR || (average && nominal && average < nominal * 1.15 &&
                                                   average > nominal * 0.95);
        format->bitRate = constant || !average ? nominal : average;
        const char* layer = info.layer == 1 ? "MP1" : info.layer == 2 ? "MP2" : "MP3";
        std::snprintf(format->format, sizeof format->format, "%s", layer);
    } else {
        std::snprintf(format->format, sizeof format->format, "MP3");
    }
    *state = s;
    return 0;
}

int64_t MpgReadFrames(void* raw, void* buffer, int64_t frames)
{
    auto* s = static_cast<Mpg123State*>(raw);
    if (frames <= 0) return 0;
    size_t frameBytes = size_t{2} * s->channels;
    auto* out = static_cast<unsigned char*>(buffer);
    size_t want = static_cast<size_t>(frames) * frameBytes, got = 0;
    // A decoder that keeps answering without progress ends the sound.
    for (int idle = 0; got < want && idle < 64;) {
        size_t done = 0;
        int result = mpg123_read(s->handle, out + got, want - got, &done);
        got += done;
        idle = done ? 0 : idle + 1;
        if (result == MPG123_DONE) break;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) {
            if (got) break;
            return -1;
        }
    }
    return static_cast<int64_t>(got / frameBytes);
}

uint32_t MpgSeekFrame(void* raw, uint64_t frame)
{
    auto* s = static_cast<Mpg123State*>(raw);
    return mpg123_seek(s->handle, static_cast<off_t>(frame), SEEK_SET) >= 0 ? 1 : 0;
}

}  // namespace

const QmSndDecoder kSndfileModuleDecoder = {SndfileOpen, SndfileRead, SndfileSeek, SndfileClose};
const QmSndDecoder kMpg123ModuleDecoder = {MpgOpen, MpgReadFrames, MpgSeekFrame, MpgClose};
