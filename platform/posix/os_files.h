// The host file system as the runtime sees it: deleting, creating and
// renaming, examination locks and directory scans, file times and
// protection bits, volumes. Paths are script paths (see os_paths.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/io/file_info.h"

struct OsFileHandle;

// A lock for examination (and, for a directory, its scan).
struct OsDirLock;

// Non-zero when a file, or an empty directory, was deleted; 0 when the path
// does not exist or cannot be removed.
int OsDeleteFile(const char* path);

// 0 on success, non-zero on failure.
int OsMakeDir(const char* path);

// Creates a new, empty file with a unique name in the folder of path, with
// the permission bits that path has (or that a new file would get), for
// writing a replacement that is renamed over path once complete. Its name
// goes to outTemp, the name to rename it to (the file a link names, else
// path's full path) to outFinal. An existing path that is no regular file
// (a device) gets no temporary file: outTemp is left empty. 0 or
// ERR_WRITEFILE.
uint32_t OsCreateSiblingTemp(const char* path, std::string* outTemp, std::string* outFinal);

// True when the path itself is a symbolic link (it is not followed).
bool OsIsSymLink(const char* path);
// True when the path reaches a folder (links are followed).
bool OsIsDirectory(const char* path);

// Makes `to` a symbolic link with the same target text as the link `from`;
// non-zero on success.
int OsCopySymLink(const char* from, const char* to);

// True when both names reach one file: the same device and inode when both
// exist (links and other spellings of a path included), else the same full
// path.
bool OsSameFile(const char* a, const char* b);

// Non-zero on success.
int OsRename(const char* oldPath, const char* newPath);

// Lock mode bit of a write lock, which examination locks refuse.
constexpr uint32_t OSLOCK_WRITE = 0x2;

// Locks an existing file or directory for examination; null when it does
// not exist or a write lock was asked for.
OsDirLock* OsStatFile(const char* name, uint32_t lockMode);

// Releases a lock and its scan; null is allowed.
void OsCloseDirScan(OsDirLock* lock);

// Copies the lock's full path; 1 when it fitted, 0 (empty buffer) when not.
int OsCopyName(OsDirLock* lock, char* buffer, size_t size);

// The lock's full path, valid while the lock lives.
const char* OsLockPath(OsDirLock* lock);

// Prepares the scan of a locked directory: 0, ERR_NOTADIR for a file, or
// ERR_DIRLOCK when the directory cannot be read. outPointer (may be null)
// receives the scan word that OsNextDirEntry is handed back.
int OsDirScanBegin(OsDirLock* lock, void** outPointer);

// Examines the locked object itself: 0 or ERR_EXAMINE.
int OsDirScanFirstEntry(OsDirLock* lock, FileInfoRecord* info);

// Produces the next entry of a scan ("." and ".." are skipped): non-zero
// while one was produced. The name stays valid until the next call; each
// out argument may be null.
int OsNextDirEntry(OsDirLock* lock, uintptr_t scanWord, const char** outName, int* outIsDirectory,
                   FileInfoRecord* info);

// Examines an open file of the file layer; non-zero on success. A region
// reports its own size and the container's times.
int OsExamineStream(OsFileHandle* handle, FileInfoRecord* info);

// DateStamp (local time) to and from the file time in times[slot]; non-zero
// on success, 0 for an impossible date.
int OsDateToFileTime(const DateStamp* date, uint64_t* times, int slot);
int OsFileTimeToDate(const uint64_t* times, DateStamp* date, int slot);

// Sets the protection bits: the user/group/other read, write and execute
// bits given replace the host's; without any of them the host's are kept.
// FILEATTR_READONLY then takes every write bit away, FILEATTR_NORMAL gives
// the user read and write. Non-zero on success.
int OsSetFileAttributes(const char* path, uint32_t flags);

// Sets the access and modification times (slots 1 and 2; a slot of 0 is
// left alone). The host keeps no settable creation time. Non-zero on
// success.
int OsSetFileTime(const char* path, const uint64_t* times);

// The mount point that holds path: 0, ERR_STAT, or ERR_NAMETOOLONG when it
// does not fit the buffer.
int OsGetVolumeName(const char* path, char* name, size_t size);

// Free bytes (for an unprivileged user) and used bytes of the volume that
// holds path: 0 or ERR_STAT.
int OsGetVolumeInfo(const char* path, uint64_t* freeBytes, uint64_t* usedBytes);
