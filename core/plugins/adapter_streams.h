// Streams and file locks served by file-adapter (capability 0x4000) and
// directory-adapter (0x8000) plugins: the stream layer's adapter hooks, and
// the conversion of the adapters' records into the runtime's.
#pragma once

#include "core/io/file_info.h"
#include "quillmere/plugin_abi.h"

// Installs the hooks in the stream layer (idempotent); the manager does so
// when the first adapter plugin loads.
void InstallPluginStreamAdapters();
void RemovePluginStreamAdapters();

// An adapter's record in the runtime's form: kind, size, flags, extra words
// and auxiliary text copied, the path pointer taken over, each stamp turned
// into a file time.
void ConvertAdapterStatRecord(const AdapterStatRecord* record, FileInfoRecord* info);

// Clears a record and dates its three stamps with the runtime's start time,
// as every adapter call that fills one expects.
void PrepareAdapterStatRecord(AdapterStatRecord* record);
