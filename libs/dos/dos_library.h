// The "dos" library: files, directories, volumes, programs, compressed
// files, serialised tables and functions, virtual files and digests.
//
// Open files and open directories are script objects (types 44 and 45) on
// lists of their own, found by (id, handle) like every other object. All
// state lives in one record; everything runs on the script thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/services/object_registry.h"
#include "core/vm/library_glue.h"

struct StreamHandle;
struct FileLock;
struct FileInfoRecord;
struct DateStamp;

// OpenFile's modes (script constants).
enum DosFileMode : uint32_t {
    MODE_READWRITE = 1004,
    MODE_READ = 1005,
    MODE_WRITE = 1006,
};

// Stream access of an open file.
enum DosAccess : uint32_t {
    DOSACCESS_READ = 1,
    DOSACCESS_WRITE = 2,
    DOSACCESS_READWRITE = 4,
};

struct DosFile {
    ObjectHeader header;
    uint32_t mode;    // DosFileMode
    uint32_t access;  // DosAccess
    StreamHandle* stream;
};

struct DosDirectory {
    ObjectHeader header;
    uint32_t endReached;
    FileLock* lock;
    uintptr_t scanWord;
};

struct DosLibraryState {
    DosFile* files;
    DosDirectory* directories;
    uint32_t ioMode;  // 0 buffered, 1 unbuffered
};

extern DosLibraryState DosState;
extern const CommandTableEntry kDosCommands[];
extern const ConstantTableEntry kDosConstants[];

// Registers the commands as globals and the constants, records the library
// as "dos" and puts the file and directory lists into the object registry.
// 0 or ERR_MEM.
uint32_t RegisterDosLibrary(VmState* vm);
// Closes every open file and directory and frees every virtual string
// file. Safe to call twice and with a null VM. Answers 0, or ERR_WRITE when
// closing a written file lost bytes that were still buffered.
uint32_t CleanupDosLibrary(VmState* vm);

// 0, ERR_FINDARRAY when a handle was given, or ERR_FINDFILE with the id as
// the message's number.
uint32_t FindFileHandle(ObjectId id, DosFile** out);
// Unlinks the file, closes its stream and frees it (object data included).
// The file is gone either way; ERR_WRITE when closing a written file failed.
uint32_t RemoveFileHandle(ObjectId id, VmState* vm);
// Closes and frees a file record already taken off the list; the same
// answer as RemoveFileHandle.
uint32_t FreeDosFile(VmState* vm, DosFile* f);

uint32_t FindDirectoryHandle(ObjectId id, DosDirectory** out);

// Frees a directory record already taken off the list, with its object
// data and lock.
void FreeDosDirectory(VmState* vm, DosDirectory* d);

// Reads and writes of the library: through the stream layer's first entry
// while the I/O mode is buffered, its second while unbuffered.
size_t DosRead(StreamHandle* stream, void* buffer, size_t count);
size_t DosWrite(StreamHandle* stream, const void* buffer, size_t count);

// The open file named by the argument at index, checked for reading
// (ERR_WRITEONLY on a write-only file) or writing (ERR_READONLY).
uint32_t DosFileForRead(VmState* vm, int index, DosFile** out);
uint32_t DosFileForWrite(VmState* vm, int index, DosFile** out);

// Reads the whole file named by the argument at index, handing each block
// to consume; ERR_READFILE when it cannot be opened, ERR_READ when reading
// stops before the end (a digest of part of a file must not pass for the
// file's).
uint32_t ReadFileArgInBlocks(VmState* vm, int index, void (*consume)(void* context, const uint8_t* data, size_t size),
                             void* context);

// A flag argument: set when its value truncated to an integer is not 0;
// fallback when absent.
bool DosFlagArg(VmState* vm, int index, bool fallback);

// Calls the function at stack index fn with the table on top of the stack
// (popped) as its one argument, with the error-handler nesting switch set;
// its first result (as a number, 0 for anything else) goes to outAnswer.
// 0, or the error that ended the call.
uint32_t CallProgressCallback(VmState* vm, int fn, double* outAnswer);

// Date texts "dd-Mon-yyyy hh:mm:ss".
void FormatDateString(const DateStamp& date, char out[32]);
bool ParseDateString(const char* text, DateStamp* out);

// Creates every missing level of path: 0 or ERR_CREATEDIR (path as error
// text).
uint32_t MakeDirectoryPath(const char* path);

// Writing the destination would empty the source before it is read: 0, or
// ERR_WRITEFILE (destination as error text) when both name one file.
uint32_t RefuseSameFile(const std::string& source, const std::string& destination);

struct DirectoryEntry {
    std::string name;
    bool isDirectory;
};
// The entries of a folder in scan order: 0, ERR_LOCK2 (path as error
// text), the scan's own error, or ERR_MEM.
uint32_t ListDirectoryEntries(const char* path, const char* loaders, std::vector<DirectoryEntry>* out);

// Pushes a table of an examination: type, size (files), flags and the three
// date texts.
void PushFileInfoTable(VmState* vm, const FileInfoRecord& info);

// Wildcard matching of file names: '*', '?', '#' (a digit), "[a-z]" classes
// with '!' negation; the whole name must match.
bool MatchWildcard(const char* pattern, const char* name);

// Table and function serialisation (serialise.cpp).
// Reads a table file ("QMT0" or "QMT1") from the stream and pushes the
// table. 0 or an error code; nothing is pushed on failure.
uint32_t ReadTableFromStream(VmState* vm, StreamHandle* stream);
// Writes the table at index as a table file.
uint32_t WriteTableToStream(VmState* vm, int index, StreamHandle* stream, bool textForm, bool noLineBreaks);

// Command handlers.
uint32_t CmdOpenFile(VmState* vm);
uint32_t CmdCloseFile(VmState* vm);
uint32_t CmdEof(VmState* vm);
uint32_t CmdReadChr(VmState* vm);
uint32_t CmdReadLine(VmState* vm);
uint32_t CmdReadString(VmState* vm);
uint32_t CmdReadShort(VmState* vm);
uint32_t CmdReadInt(VmState* vm);
uint32_t CmdReadFloat(VmState* vm);
uint32_t CmdSeek(VmState* vm);
uint32_t CmdWriteChr(VmState* vm);
uint32_t CmdWriteLine(VmState* vm);
uint32_t CmdWriteString(VmState* vm);
uint32_t CmdWriteShort(VmState* vm);
uint32_t CmdWriteInt(VmState* vm);
uint32_t CmdWriteFloat(VmState* vm);
uint32_t CmdExists(VmState* vm);
uint32_t CmdFileSize(VmState* vm);
uint32_t CmdPathPart(VmState* vm);
uint32_t CmdFilePart(VmState* vm);
uint32_t CmdFilePos(VmState* vm);
uint32_t CmdFlushFile(VmState* vm);
uint32_t CmdSetIOMode(VmState* vm);
uint32_t CmdFileLength(VmState* vm);
uint32_t CmdCompressFile(VmState* vm);
uint32_t CmdDecompressFile(VmState* vm);

uint32_t CmdWriteTable(VmState* vm);
uint32_t CmdReadTable(VmState* vm);
uint32_t CmdWriteFunction(VmState* vm);
uint32_t CmdReadFunction(VmState* vm);

uint32_t CmdMakeDirectory(VmState* vm);
uint32_t CmdGetVolumeInfo(VmState* vm);
uint32_t CmdGetVolumeName(VmState* vm);
uint32_t CmdExecute(VmState* vm);
uint32_t CmdRun(VmState* vm);
uint32_t CmdChangeDirectory(VmState* vm);
uint32_t CmdGetCurrentDirectory(VmState* vm);
uint32_t CmdReadDirectory(VmState* vm);
uint32_t CmdFullPath(VmState* vm);
uint32_t CmdRename(VmState* vm);
uint32_t CmdIsDirectory(VmState* vm);
uint32_t CmdCRC32(VmState* vm);
uint32_t CmdGetFileAttributes(VmState* vm);
uint32_t CmdSetFileAttributes(VmState* vm);
uint32_t CmdFileAttributes(VmState* vm);
uint32_t CmdGetTempFileName(VmState* vm);
uint32_t CmdOpenDirectory(VmState* vm);
uint32_t CmdCloseDirectory(VmState* vm);
uint32_t CmdNextDirectoryEntry(VmState* vm);

uint32_t CmdDeleteFile(VmState* vm);
uint32_t CmdCopyFile(VmState* vm);
uint32_t CmdMatchPattern(VmState* vm);
uint32_t CmdDefineVirtualFile(VmState* vm);
uint32_t CmdDefineVirtualFileFromString(VmState* vm);
uint32_t CmdUndefineVirtualStringFile(VmState* vm);
uint32_t CmdFileToString(VmState* vm);
uint32_t CmdStringToFile(VmState* vm);
uint32_t CmdApplyPatch(VmState* vm);
uint32_t CmdGetEnv(VmState* vm);
uint32_t CmdSetEnv(VmState* vm);
uint32_t CmdUnsetEnv(VmState* vm);
uint32_t CmdMD5(VmState* vm);
uint32_t CmdFileLines(VmState* vm);
uint32_t CmdGetAsset(VmState* vm);
