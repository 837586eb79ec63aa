// The list container: order, unique keys, hashing, sorting, ownership.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/hash/hash.h"

namespace {

Node *keyed(const char *key) {
    Node *p = getnode();
    p->key = key;
    return p;
}

std::vector<std::string> keys(List *l) {
    std::vector<std::string> out;
    JOL_FOR_EACH_NODE(l, p) out.push_back(p->key ? *p->key : "<none>");
    return out;
}

int counting_delproc_calls = 0;
void counting_delproc(Node *) { ++counting_delproc_calls; }

}  // namespace

TEST(List, DuplicateKeysAreRefusedAndNodeStaysWithCaller) {
    List *l = getlist();
    EXPECT_EQ(addnode(l, keyed("a")), 0);
    Node *dup = keyed("a");
    EXPECT_EQ(addnode(l, dup), -1);
    EXPECT_EQ(dup->next, nullptr);
    freenode(dup);
    EXPECT_EQ(keys(l), std::vector<std::string>{"a"});
    // a duplicate at the front is refused too
    Node *dup2 = keyed("a");
    EXPECT_EQ(addnode_at_front(l, dup2), -1);
    freenode(dup2);
    dellist(&l);
    EXPECT_EQ(l, nullptr);
}

TEST(List, UnkeyedNodesAlwaysAddAndAreNeverFound) {
    List *l = getlist();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(addnode(l, getnode()), 0);
    EXPECT_EQ(keys(l).size(), 3u);
    EXPECT_EQ(findnode(l, ""), nullptr);
    Node *empty = keyed("");
    EXPECT_EQ(addnode(l, empty), 0);
    EXPECT_EQ(findnode(l, ""), empty);
    dellist(&l);
}

TEST(List, InsertionOrderFrontInsertionAndSort) {
    List *l = getlist();
    addnode(l, keyed("b"));
    addnode(l, keyed("a"));
    EXPECT_EQ(keys(l), (std::vector<std::string>{"b", "a"}));
    addnode_at_front(l, keyed("c"));
    EXPECT_EQ(keys(l), (std::vector<std::string>{"c", "b", "a"}));
    sortlist(l, fsortcmp);
    EXPECT_EQ(keys(l), (std::vector<std::string>{"a", "b", "c"}));
    // the prev links must agree with the next links after sorting
    std::vector<std::string> back;
    for (Node *p = l->list->prev; p != l->list; p = p->prev)
        back.push_back(*p->key);
    EXPECT_EQ(back, (std::vector<std::string>{"c", "b", "a"}));
    // lookup still works after relinking
    ASSERT_NE(findnode(l, "b"), nullptr);
    EXPECT_EQ(*findnode(l, "b")->key, "b");
    dellist(&l);
}

TEST(List, ManyKeysInFewBucketsAllFoundAndDeletable) {
    List *l = getlist();
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(addnode(l, keyed(std::to_string(i).c_str())), 0);
    for (int i = 0; i < 2000; i += 2)
        delnode(findnode(l, std::to_string(i)));
    for (int i = 0; i < 2000; ++i)
        EXPECT_EQ(findnode(l, std::to_string(i)) != nullptr, i % 2 == 1) << i;
    EXPECT_EQ(keys(l).size(), 1000u);
    dellist(&l);
}

TEST(List, HashTreatsHighBytesAsNegative) {
    // 0xFF is -1 as a signed byte: h = 0 * 16 + (-1) = 0xFFFFFFFF, whose top
    // nibble folds in: h ^ (0xF0000000 >> 24) ^ 0xF0000000 = 0x0FFFFF0F.
    EXPECT_EQ(hashp("\xff"), static_cast<int>(0x0FFFFF0Fu % 151));
    EXPECT_EQ(hashp(""), 0);
    EXPECT_EQ(hashp("a"), 'a' % 151);
    EXPECT_EQ(hashp("ab"), ('a' * 16 + 'b') % 151);
}

TEST(List, WalkSumsResultsAndNullListsAreEmpty) {
    EXPECT_EQ(findnode(nullptr, "x"), nullptr);
    EXPECT_EQ(walklist(nullptr, [](Node *, void *) { return 1; }, nullptr), 0);
    EXPECT_EQ(list_isempty(nullptr), 1);
    List *l = getlist();
    EXPECT_EQ(list_isempty(l), 1);
    for (const char *k : {"x", "y", "z"})
        addnode(l, keyed(k));
    EXPECT_EQ(list_isempty(l), 0);
    int calls = 0;
    int sum = walklist(
        l,
        [](Node *p, void *c) {
            ++*static_cast<int *>(c);
            return *p->key == "y" ? 5 : 1;
        },
        &calls);
    EXPECT_EQ(sum, 7);
    EXPECT_EQ(calls, 3);
    dellist(&l);
    List *none = nullptr;
    dellist(&none);
}

TEST(List, DellistRunsEachDelprocOnceAndRecyclesTheList) {
    counting_delproc_calls = 0;
    List *l = getlist();
    for (const char *k : {"a", "b", "c"}) {
        Node *p = keyed(k);
        p->delproc = counting_delproc;
        addnode(l, p);
    }
    Node *owned = keyed("s");
    node_set_string(owned, "text");
    addnode(l, owned);
    List *old = l;
    dellist(&l);
    EXPECT_EQ(counting_delproc_calls, 3);
    EXPECT_EQ(l, nullptr);
    List *again = getlist();
    EXPECT_EQ(again, old);
    EXPECT_EQ(list_isempty(again), 1);
    EXPECT_EQ(findnode(again, "a"), nullptr);
    dellist(&again);
}

TEST(List, OwnedObjectsAreDeleted) {
    static int alive = 0;
    struct Tracked {
        Tracked() { ++alive; }
        ~Tracked() { --alive; }
    };
    List *l = getlist();
    Node *p = keyed("t");
    node_set_owned(p, new Tracked);
    addnode(l, p);
    EXPECT_EQ(alive, 1);
    dellist(&l);
    EXPECT_EQ(alive, 0);
}

TEST(List, NodeTypeNames) {
    EXPECT_STREQ(nodetypestring(NT_UNKNOWN), "UNKNOWN");
    EXPECT_STREQ(nodetypestring(RCSCMPFLD), "RCSCMPFLD");
    EXPECT_STREQ(nodetypestring(static_cast<ntype>(15)), "<trash>");
    EXPECT_STREQ(nodetypestring(static_cast<ntype>(-1)), "<trash>");
}
