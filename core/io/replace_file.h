// Whole-file writers: the new contents go into a temporary file beside the
// target, which is renamed over the target only when every write, the flush
// and the close succeeded. A failed save so never leaves a truncated file
// where a good one stood. Names that are not host paths (virtual files)
// cannot be renamed and are written in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct StreamHandle;

struct ReplacingFile {
    StreamHandle* stream = nullptr;
    std::string target;
    std::string temporary;  // empty when the target is written in place
};

// Opens the temporary file: 0, or ERR_WRITEFILE with the name kept for the
// message.
uint32_t BeginReplacingFile(const char* name, ReplacingFile* file);

// Closes and renames over the target: 0, ERR_CLOSEFILE or ERR_RENAME. On
// failure the temporary file is removed.
uint32_t FinishReplacingFile(ReplacingFile* file);

// Closes and removes the temporary file; the target stays as it was.
void AbandonReplacingFile(ReplacingFile* file);

// The whole sequence for bytes already in memory: 0, ERR_WRITEFILE,
// ERR_WRITE, ERR_CLOSEFILE or ERR_RENAME.
uint32_t WriteFileReplacing(const char* name, const void* data, size_t size);
