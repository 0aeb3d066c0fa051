// The two list shapes the core shares with the libraries.
//
// Simple lists: singly linked nodes whose first word is the next pointer,
// appended at the tail. `SimpleListNode` is the shape of AddToList's nodes;
// FreeSimpleList frees any list of that first-word shape.
//
// Exec lists: doubly linked nodes between two sentinels, so that adding and
// removing never test for an empty list. The tail sentinel is the list's end
// node: walking from `first.succ` ends at the node whose `succ` is null.
#pragma once

#include <cstdint>

struct SimpleListNode {
    SimpleListNode* next;
    uintptr_t value;
};

// Frees every node of a list whose first word is the next pointer.
void FreeSimpleList(void* first);

// Appends a node holding `value`: 0, ERR_OLDAPPLET for applets made for a
// version before 6.0, or ERR_MEM.
uint32_t AddToList(SimpleListNode** head, uintptr_t value);

// Removes (and frees) every node that holds `value`.
void RemoveFromList(SimpleListNode** head, uintptr_t value);

struct ExecNode {
    ExecNode* succ;
    ExecNode* pred;
};

struct ExecList {
    ExecNode first;  // head sentinel: first.succ is the first node
    ExecNode last;   // end node: last.pred is the last node
};

void InitList(ExecList* list);
bool IsListEmpty(const ExecList* list);
ExecNode* ListEndNode(ExecList* list);
void AddHeadNode(ExecList* list, ExecNode* node);
void AddTailNode(ExecList* list, ExecNode* node);
// The first node, unlinked; null when the list is empty.
ExecNode* RemHeadNode(ExecList* list);
void RemoveNode(ExecNode* node);
// After `pred`; at the front when pred is null; at the end when pred is the
// list's end node.
void InsertNode(ExecList* list, ExecNode* node, ExecNode* pred);
