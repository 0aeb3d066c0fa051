// The list of virtual string files, in definition order.
#include "core/io/virtual_files.h"

#include <cstring>

#include "platform/posix/os_memory.h"

namespace {

VirtualStringFile* g_firstFile = nullptr;

} // namespace

VirtualStringFile* NewVirtualStringFile(const char* name, const uint8_t* data, uint64_t size,
                                        bool writable)
{
    size_t nameLength = std::strlen(name);
    auto* file = static_cast<VirtualStringFile*>(OsAllocMem(sizeof(VirtualStringFile) + nameLength + 1, 1));
    if (!file)
        return nullptr;
    char* nameText = reinterpret_cast<char*>(file + 1);
    std::memcpy(nameText, name, nameLength + 1);
    file->name = nameText;
    file->sourceRef = -1;
    file->anchorRef = -1;
    file->size = size;
    if (writable) {
        uint64_t capacity = size ? size : VIRTUAL_FILE_GROWTH;
        if (capacity > SIZE_MAX) {
            OsFreeMem(file);
            return nullptr;
        }
        file->data = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(capacity), 0));
        if (!file->data) {
            OsFreeMem(file);
            return nullptr;
        }
        if (size)
            std::memcpy(file->data, data, static_cast<size_t>(size));
        file->capacity = capacity;
        file->writable = 1;
    } else {
        file->data = const_cast<uint8_t*>(data);
    }

    VirtualStringFile** link = &g_firstFile;
    while (*link)
        link = &(*link)->next;
    *link = file;
    return file;
}

void FreeVirtualStringFile(VirtualStringFile* file)
{
    for (VirtualStringFile** link = &g_firstFile; *link; link = &(*link)->next) {
        if (*link == file) {
            *link = file->next;
            break;
        }
    }
    if (file->users) {
        if (!file->capacity && file->size) {
            // The caller's bytes may go with the record's definition.
            auto* copy = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(file->size), 0));
            if (copy)
                std::memcpy(copy, file->data, static_cast<size_t>(file->size));
            file->data = copy;
            file->capacity = copy ? file->size : 0;
            if (!copy)
                file->size = 0;
        }
        file->detached = 1;
        file->next = nullptr;
        return;
    }
    if (file->capacity)
        OsFreeMem(file->data);
    OsFreeMem(file);
}

void RetainVirtualStringFile(VirtualStringFile* file)
{
    file->users += 1;
}

void ReleaseVirtualStringFile(VirtualStringFile* file)
{
    if (file->users)
        file->users -= 1;
    if (!file->users && file->detached) {
        if (file->capacity)
            OsFreeMem(file->data);
        OsFreeMem(file);
    }
}

void FreeAllVirtualStringFiles()
{
    while (g_firstFile)
        FreeVirtualStringFile(g_firstFile);
}

VirtualStringFile* FindVirtualStringFile(uint64_t reference)
{
    for (VirtualStringFile* file = g_firstFile; file; file = file->next)
        if (file->anchorRef >= 0 && static_cast<uint64_t>(file->anchorRef) == reference)
            return file;
    return nullptr;
}

bool IsVirtualStringFile(const VirtualStringFile* file)
{
    for (VirtualStringFile* f = g_firstFile; f; f = f->next)
        if (f == file)
            return true;
    return false;
}

VirtualStringFile* FirstVirtualStringFile()
{
    return g_firstFile;
}
