// Whole-file writers: a file that is replaced as a whole (preferences, a
// string written to a file, a compressed or unpacked file) is written to a
// new file beside it and renamed over it only once every byte has reached
// the disk, so a failure half way leaves the old file as it was.
#pragma once

#include <cstdint>
#include <string>

struct StreamHandle;

struct WholeFileWriter {
    StreamHandle* stream = nullptr;  // write here
    std::string target;              // as given
    std::string renameTo;            // where the new file goes once complete
    std::string temp;                // empty when the target is written directly
    ~WholeFileWriter();              // abandons an uncommitted file
};

// Opens the stream for replacing path: for a host file a new temporary file
// beside it; a ":::chunkS" virtual file is written directly. extraMode is
// added to STREAM_WRITE (STREAM_ADAPTERS). 0, or ERR_WRITEFILE with the path
// as error text.
uint32_t BeginWholeFile(const char* path, uint32_t extraMode, WholeFileWriter* w);

// Closes the stream (checked) and renames the new file over the target: 0,
// ERR_WRITE when bytes were lost, ERR_RENAME (path as error text) when the
// rename failed. The temporary file is gone either way.
uint32_t CommitWholeFile(WholeFileWriter* w);

// Closes the stream and removes the new file; the target is untouched.
void AbandonWholeFile(WholeFileWriter* w);
