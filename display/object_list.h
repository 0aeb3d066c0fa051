// The per-type object lists of the picture, display, event and media
// libraries: records that begin with an ObjectHeader, appended at the tail,
// searched from the head. One set of helpers serves every list, so that the
// rules of ids and handles are the same for all of them.
#pragma once

#include <cstdint>

#include "core/services/object_registry.h"

struct VmState;

// Appends a record and fills its header: with `useHandle` the record's own
// address becomes its handle (and its numeric id 0), else it takes the id
// pair as given (a handle there is a fixed one, like the poll interval's).
void AppendObject(ObjectHeader** head, ObjectHeader* record, uint32_t type, ObjectId id,
                  bool useHandle);
// AppendObject for a command that creates the record under its id
// argument, answering the command's result count: 0 for a numeric id, 1
// with the new handle pushed when the script passed Nil.
uint32_t AppendCreatedObject(VmState* vm, ObjectHeader** head, ObjectHeader* record, uint32_t type, ObjectId id,
                             bool newHandle);
// Unlinks a record; false when it is not on the list.
bool UnlinkObject(ObjectHeader** head, ObjectHeader* record);
// By handle when the id carries one, else by number among the records
// without a handle; null when none matches.
ObjectHeader* FindObjectInList(ObjectHeader* head, ObjectId id);
// The finder rule of every library: 0 with the record, else ERR_FINDARRAY
// for a handle id and `notFoundCode` for a number.
uint32_t FindObjectOrError(ObjectHeader* head, ObjectId id, uint32_t notFoundCode,
                           ObjectHeader** out);
