// Files linked into the applet, byte-order reads and writes on streams,
// examination by name, and whole-file copies and loads through the stream
// layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/io/file_info.h"

struct VmState;
struct StreamHandle;
struct FileLock;

// One file linked into the applet. offset is relative to the applet's start
// in its container; a linked font is named "::font:" + the font's name.
struct LinkedFileRecord {
    LinkedFileRecord* next;
    // The texts live in the record's own block, as long as they are.
    const char* name;
    const char* container;  // empty: the program's own file
    const char* extra;
    uint32_t offset;
    uint32_t size;
};

// Hands the applet's linked files (and the applet's offset inside its
// container) to the look-ups below; the applet loader calls it, shutdown
// calls it with null before freeing the list.
void SetLinkedFiles(const LinkedFileRecord* first, uint64_t appletStart);

// The ":::chunk" name of the linked file that scripts know as name, or name
// itself when none matches. File names match without regard to case and
// with '\' taken as '/'. With fontLookup set, a name ending in ".ttf" or
// ".otf" is still looked up as a file, one ending in ".font" as the linked
// font of that name without the ending, any other as a linked font.
// outIsFont (may be null) tells whether a font was found. The answer stays
// valid until the next call.
const char* ResolveLinkedFile(VmState* vm, const char* name, int fontLookup, int* outIsFont);

// 0, or ERR_WRONGUSAGE (with a detail naming the file) when name is that of
// a file linked into the applet, matched as ResolveLinkedFile matches it.
// Every reading command takes such a name for the file inside the applet,
// so DeleteFile and Rename, which would otherwise report success while the
// name goes on reading the linked copy, ask here first and leave a disk
// file of the same name alone. Writers write the disk file by the name as
// given, as they always have.
uint32_t RefuseLinkedFileName(const char* name);

// The string argument at index as a file name: the linked file of that
// name, or the name itself. Every command that opens a file by a name
// that a script gives reads it through here. Raises the VM's argument
// error when the argument is no string; the answer stays valid until the
// next look-up.
const char* GetFileNameArg(VmState* vm, int index);

// Byte-order readers (bytes through StreamGetC; an end of stream reads as
// 0xFF bytes) and writers (through StreamPutC).
uint32_t ReadLongBE(StreamHandle* stream);
uint32_t ReadLongLE(StreamHandle* stream);
uint16_t ReadWordBE(StreamHandle* stream);
uint16_t ReadWordLE(StreamHandle* stream);
void WriteLongBE(StreamHandle* stream, uint32_t value);
void WriteLongLE(StreamHandle* stream, uint32_t value);
void WriteWordBE(StreamHandle* stream, uint16_t value);
void WriteWordLE(StreamHandle* stream, uint16_t value);

// What ExamineFileByName yields.
struct FileExamineRecord {
    uint32_t kind;  // FILEINFO_FILE or FILEINFO_DIRECTORY
    uint32_t unused;
    uint64_t size;
    uint32_t flags;
    DateStamp modified;
    DateStamp accessed;
    DateStamp created;
    char fullPath[4096];
    char auxText[256];
};

// Examines a file or folder by name (through the adapters first when
// useAdapters is set); 1 on success, 0 on failure.
int ExamineFileByName(const char* name, FileExamineRecord* record, int useAdapters);

// The full path of a locked object: an adapter lock's name, the host's
// path, or for a linked file the current folder joined with its file part.
// 1 when it fitted the buffer, 0 (empty buffer) when not.
int GetLockFullPath(FileLock* lock, char* buffer, size_t size);

// Copies everything of source (opened here, or the open handle rewound) to
// the file destination in 16384-byte pieces. A source whose size cannot be
// told is copied to its end. 0 or an error code (ERR_READFILE, ERR_WRITEFILE
// with the name as the message's argument; ERR_READ, ERR_WRITE, ERR_MEM).
uint32_t CopyStreamToFile(const char* source, const char* loaderList, const char* destination,
                          StreamHandle* sourceHandle);

// Loads everything of source into a new block (OsFreeMem frees it); an empty
// source gives an empty block of size 0. 0 or an error code.
uint32_t ReadStreamToMemory(const char* source, const char* loaderList, StreamHandle* sourceHandle,
                            uint8_t** outBlock, uint64_t* outSize);
