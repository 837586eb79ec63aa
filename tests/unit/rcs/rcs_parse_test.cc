// Reading archives: the partial read, the revision tree, phrases kept for
// the writer, the Attic, and symbols.
#include "tests/unit/rcs/rcs_test_util.h"

#include <cstring>

TEST(RcsParse, PartialReadThenTree) {
    ArchiveHandle a("trunk.c");
    ASSERT_NE(a.rcs, nullptr);
    EXPECT_TRUE(a->flags & ARCHIVE_VALID);
    EXPECT_TRUE(a->flags & ARCHIVE_PARTIAL);
    EXPECT_FALSE(a->flags & ARCHIVE_IN_ATTIC);
    EXPECT_EQ(a->head, "1.3");
    EXPECT_EQ(a->versions, nullptr);
    RCS_reparsercsfile(a);
    EXPECT_FALSE(a->flags & ARCHIVE_PARTIAL);
    EXPECT_EQ(a->comment, "# ");
    EXPECT_EQ(a->desc, "a test file\n");
    EXPECT_EQ(a->strict_locks, 1);
    RCSVers *v = RCS_findvers(a, "1.2");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->author, "bob");
    EXPECT_EQ(v->date, "2020.01.02.00.00.00");
    EXPECT_EQ(v->next, "1.1");
    ASSERT_NE(v->branches, nullptr);
    EXPECT_NE(findnode(v->branches, "1.2.2.1"), nullptr);
    EXPECT_EQ(RCS_findvers(a, "1.1")->date, "99.12.31.23.59.59");
    EXPECT_EQ(RCS_findvers(a, "1.1")->next, "");
    EXPECT_TRUE(RCS_findvers(a, "1.2.2.2")->dead);
}

TEST(RcsParse, SymbolsInFileOrder) {
    ArchiveHandle a("trunk.c");
    List *s = RCS_symbols(a);
    ASSERT_NE(s, nullptr);
    std::string order;
    JOL_FOR_EACH_NODE(s, p) order += *p->key + "=" + static_cast<char *>(p->data) + " ";
    EXPECT_EQ(order, "br=1.2.0.2 empty=1.3.0.4 rel1=1.1 rel2=1.2 ");
}

TEST(RcsParse, AtticAndMissing) {
    ArchiveHandle a("gone.c");
    ASSERT_NE(a.rcs, nullptr);
    EXPECT_TRUE(a->flags & ARCHIVE_IN_ATTIC);
    EXPECT_EQ(a->path, rcs_repo() + "/Attic/gone.c,v");
    EXPECT_TRUE(RCS_isdead(a, "1.2"));
    EXPECT_FALSE(RCS_isdead(a, "1.1"));
    EXPECT_EQ(RCS_parse("no-such-file", rcs_repo().c_str()), nullptr);
}

TEST(RcsParse, DefaultBranchPhrasesAndDeadPhrase) {
    ArchiveHandle a("nonl.txt");
    EXPECT_EQ(a->branch, "1.1.1");  // a revision is cut to its branch
    EXPECT_EQ(a->expand, "kv");
    RCS_reparsercsfile(a);
    EXPECT_EQ(a->access, "alice bob carol");
    ASSERT_NE(a->other, nullptr);
    Node *n = findnode(a->other, "newphrase");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->type, RCSCMPFLD);
    EXPECT_STREQ(static_cast<char *>(n->data), "@value with ; inside@ more words");
    RCSVers *v = RCS_findvers(a, "1.2");
    EXPECT_TRUE(v->dead);
    EXPECT_EQ(v->state, "dead");
}

TEST(RcsParse, FullParseCountsChanges) {
    ArchiveHandle a("trunk.c");
    RCS_fully_parse(a);
    RCSVers *v = RCS_findvers(a, "1.1");
    ASSERT_NE(v->other, nullptr);
    EXPECT_STREQ(static_cast<char *>(findnode(v->other, ";add")->data), "1");
    EXPECT_STREQ(static_cast<char *>(findnode(v->other, ";delete")->data), "1");
    EXPECT_STREQ(static_cast<char *>(findnode(v->other, "log")->data), "Initial revision\n");
    RCSVers *head = RCS_findvers(a, "1.3");
    EXPECT_EQ(head->other ? findnode(head->other, ";add") : nullptr, nullptr);
}

TEST(RcsParse, OnlyOneArchiveHoldsItsBytes) {
    ArchiveHandle a("trunk.c");
    ArchiveHandle b("keywords.c");
    EXPECT_EQ(a->buf, nullptr);
    EXPECT_NE(b->buf, nullptr);
    // a reopens on demand and b gives its bytes up
    EXPECT_EQ(checkout_text(a, "1.1"), "line1\nline2\nline3\n");
    EXPECT_EQ(b->buf, nullptr);
}
