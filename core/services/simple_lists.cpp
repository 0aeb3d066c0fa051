// Simple lists: singly linked {next, value} nodes appended at the tail.
#include "core/io/error_codes.h"
#include "core/services/check_args.h"
#include "core/services/lists.h"
#include "platform/posix/os_memory.h"

void FreeSimpleList(void* first)
{
    auto* node = static_cast<SimpleListNode*>(first);
    while (node) {
        SimpleListNode* next = node->next;
        OsFreeMem(node);
        node = next;
    }
}

uint32_t AddToList(SimpleListNode** head, uintptr_t value)
{
    if (!RequireAppletVersion(6, 0))
        return ERR_OLDAPPLET;
    auto* node = static_cast<SimpleListNode*>(OsAllocMem(sizeof(SimpleListNode), 1));
    if (!node)
        return ERR_MEM;
    node->value = value;
    while (*head)
        head = &(*head)->next;
    *head = node;
    return 0;
}

void RemoveFromList(SimpleListNode** head, uintptr_t value)
{
    while (*head) {
        SimpleListNode* node = *head;
        if (node->value == value) {
            *head = node->next;
            OsFreeMem(node);
        } else {
            head = &node->next;
        }
    }
}

