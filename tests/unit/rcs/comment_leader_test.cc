// The comment leader of a new archive follows the file name's extension.
#include <gtest/gtest.h>

#include "src/rcs/rcs_write.h"

TEST(CommentLeader, ExtensionDecidesCaseBlind) {
    EXPECT_EQ(comment_leader("main.c"), " * ");
    EXPECT_EQ(comment_leader("MAIN.C"), " * ");
    EXPECT_EQ(comment_leader("x.c++"), "// ");
    EXPECT_EQ(comment_leader("pkg.Ads"), "-- ");
    EXPECT_EQ(comment_leader("a.cl"), ";;; ");
    EXPECT_EQ(comment_leader("paper.tex"), "% ");
}

TEST(CommentLeader, ManualSectionsAreSingleDigits) {
    EXPECT_EQ(comment_leader("tool.1"), ".\\\" ");
    EXPECT_EQ(comment_leader("tool.9"), ".\\\" ");
    EXPECT_EQ(comment_leader("tool.0"), "# ");
    EXPECT_EQ(comment_leader("tool.10"), "# ");
}

TEST(CommentLeader, OnlyTheLastComponentCounts) {
    EXPECT_EQ(comment_leader("Makefile"), "# ");
    EXPECT_EQ(comment_leader("src.d/Makefile"), "# ");
    EXPECT_EQ(comment_leader("dir.c/notes"), "# ");
    EXPECT_EQ(comment_leader("dir/archive.tar.h"), " * ");
    EXPECT_EQ(comment_leader("trailing."), "# ");
    EXPECT_EQ(comment_leader("x.unknown"), "# ");
}
