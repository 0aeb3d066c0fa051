// Walks whose visits rearrange the list they walk: a model list of numbered
// records, long enough that the walk's own record list outgrows its first
// room, with visits that free, replace and add records and walk again.
#include "core/services/list_walks.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/posix/os_memory.h"

namespace {

struct Node {
    Node* next;
    int number;
};

Node* list;

Node* NextNode(Node* n) { return n->next; }

Node* Append(int number)
{
    auto* n = static_cast<Node*>(OsAllocMem(sizeof(Node), 1));
    n->number = number;
    Node** link = &list;
    while (*link)
        link = &(*link)->next;
    *link = n;
    return n;
}

void Free(int number)
{
    for (Node** link = &list; *link; link = &(*link)->next) {
        if ((*link)->number == number) {
            Node* gone = *link;
            *link = gone->next;
            FreeListRecord(gone);
            return;
        }
    }
}

void FreeAll()
{
    while (list) {
        Node* gone = list;
        list = gone->next;
        FreeListRecord(gone);
    }
}

std::vector<int> Numbers()
{
    std::vector<int> numbers;
    for (Node* n = list; n; n = n->next)
        numbers.push_back(n->number);
    return numbers;
}

class ListWalks : public ::testing::Test {
protected:
    void TearDown() override { FreeAll(); }
};

// Every even record frees the record after it and itself and adds one made
// anew under the number it freed: the walk sees each odd record it has not
// yet passed go, and none of the new ones.
TEST_F(ListWalks, VisitsFreeTheNextRecordAndThemselvesAndAddNewOnes)
{
    constexpr int kCount = 40;
    for (int i = 0; i < kCount; ++i)
        Append(i);
    std::vector<int> visited;
    EXPECT_EQ(WalkList(list, NextNode, [&](Node* n) -> uint32_t {
                  visited.push_back(n->number);
                  if (n->number % 2 == 0 && n->number < kCount) {
                      int number = n->number;
                      Free(number + 1);
                      Free(number);
                      Append(number + 1 + kCount);
                  }
                  return 0;
              }),
              0u);
    std::vector<int> evens, added;
    for (int i = 0; i < kCount; i += 2) {
        evens.push_back(i);
        added.push_back(i + 1 + kCount);
    }
    EXPECT_EQ(visited, evens);
    EXPECT_EQ(Numbers(), added);
}

// The first visit frees thousands of records at once: each later one is
// told apart from the survivors by its mark, whatever its number.
TEST_F(ListWalks, AVisitThatFreesThousandsLeavesOnlyTheSurvivors)
{
    constexpr int kCount = 5000;
    for (int i = 0; i < kCount; ++i)
        Append(i);
    std::vector<int> visited, survivors;
    EXPECT_EQ(WalkList(list, NextNode, [&](Node* n) -> uint32_t {
                  visited.push_back(n->number);
                  if (n->number == 0) {
                      for (Node** link = &list; *link;) {
                          Node* r = *link;
                          if (r->number % 3 == 1) {
                              *link = r->next;
                              FreeListRecord(r);
                          } else {
                              link = &r->next;
                          }
                      }
                  }
                  return 0;
              }),
              0u);
    for (int i = 0; i < kCount; ++i)
        if (i % 3 != 1)
            survivors.push_back(i);
    EXPECT_EQ(visited, survivors);
    EXPECT_EQ(Numbers(), survivors);
}

// A visit that walks the list again: what the inner walk frees is skipped
// by the outer one, and the memory of the freed records lasts until the
// outer walk ends (AddressSanitizer checks both).
TEST_F(ListWalks, AWalkInsideAWalkFreesWhatTheOuterStillHasToVisit)
{
    for (int i = 0; i < 5; ++i)
        Append(i);
    std::vector<int> outer, inner;
    EXPECT_EQ(WalkList(list, NextNode, [&](Node* n) -> uint32_t {
                  outer.push_back(n->number);
                  if (n->number != 0)
                      return 0;
                  WalkList(list, NextNode, [&](Node* m) -> uint32_t {
                      inner.push_back(m->number);
                      if (m->number == 1) {
                          Free(2);
                          Free(3);
                          Free(0);
                      }
                      return 0;
                  });
                  EXPECT_EQ(n->number, 0) << "the record freed inside is still readable";
                  return 0;
              }),
              0u);
    EXPECT_EQ(outer, (std::vector<int>{0, 1, 4}));
    EXPECT_EQ(inner, (std::vector<int>{0, 1, 4}));
    EXPECT_EQ(Numbers(), (std::vector<int>{1, 4}));
}

// A non-zero answer stops the walk with that answer; a record freed before
// the stop is freed when the walk ends all the same.
TEST_F(ListWalks, AnAnswerStopsTheWalk)
{
    for (int i = 0; i < 3; ++i)
        Append(i);
    std::vector<int> visited;
    EXPECT_EQ(WalkList(list, NextNode, [&](Node* n) -> uint32_t {
                  visited.push_back(n->number);
                  Free(n->number);
                  return n->number == 1 ? 77u : 0u;
              }),
              77u);
    EXPECT_EQ(visited, (std::vector<int>{0, 1}));
    EXPECT_EQ(Numbers(), (std::vector<int>{2}));
}

}  // namespace
