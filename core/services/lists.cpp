// Exec lists: two sentinels, so no operation tests for an empty list.
#include "core/services/lists.h"

void InitList(ExecList* list)
{
    list->first.succ = &list->last;
    list->first.pred = nullptr;
    list->last.succ = nullptr;
    list->last.pred = &list->first;
}

bool IsListEmpty(const ExecList* list)
{
    return list->first.succ == &list->last;
}

ExecNode* ListEndNode(ExecList* list)
{
    return &list->last;
}

namespace {

void LinkAfter(ExecNode* pred, ExecNode* node)
{
    ExecNode* succ = pred->succ;
    node->pred = pred;
    node->succ = succ;
    succ->pred = node;
    pred->succ = node;
}

} // namespace

void AddHeadNode(ExecList* list, ExecNode* node)
{
    LinkAfter(&list->first, node);
}

void AddTailNode(ExecList* list, ExecNode* node)
{
    LinkAfter(list->last.pred, node);
}

ExecNode* RemHeadNode(ExecList* list)
{
    if (IsListEmpty(list))
        return nullptr;
    ExecNode* node = list->first.succ;
    RemoveNode(node);
    return node;
}

void RemoveNode(ExecNode* node)
{
    node->pred->succ = node->succ;
    node->succ->pred = node->pred;
}

void InsertNode(ExecList* list, ExecNode* node, ExecNode* pred)
{
    if (!pred)
        AddHeadNode(list, node);
    else if (pred == &list->last)
        AddTailNode(list, node);
    else
        LinkAfter(pred, node);
}
