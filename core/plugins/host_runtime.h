// The wrappers behind the host interface's slots that adapt arguments or
// results; every other slot points straight at the runtime's own function.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "quillmere/plugin_abi.h"

// Table 0: the standard runtime library.
int HostVsscanf(const char* text, const char* format, va_list args);
int HostGetTimeOfDay(void* time, void* zone);
int HostToLower(int c);
int HostToUpper(int c);
char* PluginStrToLower(char* text);
char* PluginStrToUpper(char* text);
int64_t HostTime(int64_t* out);
QmTimeRecord* HostLocalTime(const int64_t* time);
QmTimeRecord* HostGmTime(const int64_t* time);
char* HostAscTime(const QmTimeRecord* record);
char* HostCTime(const int64_t* time);
int64_t HostMkTime(QmTimeRecord* record);
size_t HostStrFTime(char* buffer, size_t size, const char* format, const QmTimeRecord* record);
long HostClock();
void HostDiffTime(int64_t time1, int64_t time2, double* out);
int HostStat(const char* path, QmFileStatus* record);
int HostFStat(int fd, QmFileStatus* record);
int HostGetErrno();
void HostSetErrno(int value);

// Table 1 and the memory slots of the others.
void* HostAllocMem(size_t size, uint32_t flags);
// A copy of the text in a block of its own (HostFreeMem), or null.
char* HostCopyText(const char* text);
void HostFreeMem(void* block);

// The value of the first item of that tag in a plugin's tag list (ended by
// tag 0; null for none), or fallback.
uintptr_t HostTagValue(const QmTagItem* tags, uint32_t tag, uintptr_t fallback);
