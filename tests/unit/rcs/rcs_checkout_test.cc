// Rebuilding revisions, keyword modes, annotation and delivery to files.
#include "tests/unit/rcs/rcs_test_util.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

TEST(RcsCheckout, EveryRevisionOfTrunkAndBranches) {
    ArchiveHandle a("trunk.c");
    EXPECT_EQ(checkout_text(a, nullptr), "line1\nline2 changed\nline3\nline4\n");
    EXPECT_EQ(checkout_text(a, "1.3"), "line1\nline2 changed\nline3\nline4\n");
    EXPECT_EQ(checkout_text(a, "1.2"), "line1\nline2 changed\nline3\n");
    EXPECT_EQ(checkout_text(a, "1.1"), "line1\nline2\nline3\n");
    EXPECT_EQ(checkout_text(a, "1.2.2.1"), "line0\nline1\nline2 changed\nline3\n");
    EXPECT_EQ(checkout_text(a, "1.2.2.2"), "line0\nline1\nline3\n");
    EXPECT_EQ(checkout_text(a, "1.2.2"), "line0\nline1\nline3\n");  // a branch: its tip
    EXPECT_EQ(checkout_text(a, "1.2.2.1.2.1"), "line0\nline1\nline2 changed\nline3\nsub1\nsub2\n");
}

TEST(RcsCheckout, MissingFinalNewlineEmptyHeadAndBinary) {
    ArchiveHandle n("nonl.txt");
    EXPECT_EQ(checkout_text(n, "1.2"), "a\nb\nc");
    EXPECT_EQ(checkout_text(n, "1.1"), "a\nb\nc\n");
    EXPECT_EQ(checkout_text(n, "1.1.1.1"), "a\nb\nc\n");
    ArchiveHandle e("emptyhead.txt");
    EXPECT_EQ(checkout_text(e, nullptr), "");
    EXPECT_EQ(checkout_text(e, "1.1"), "one\ntwo\n");
    ArchiveHandle b("binary.bin");
    EXPECT_EQ(checkout_text(b, nullptr), std::string("\0\x01@@\xff\nsecond\0\n", 14));
    EXPECT_EQ(checkout_text(b, "1.1"), std::string("\0\x01@@\xff\n", 6));
}

TEST(RcsCheckout, KeywordModes) {
    ArchiveHandle k("keywords.c");
    const std::string path = rcs_repo() + "/keywords.c,v";
    std::string esc = escape_keyword_value(path);
    std::string kv = checkout_text(k, nullptr, nullptr, "REL_1");
    std::string expected =
        "/*\n"
        " * $Author: bob $ $Date: 2022/02/03 04:05:06 $\n"
        " * $Header: " + esc + " 1.4 2022/02/03 04:05:06 bob Exp $\n"
        " * $Id: keywords.c,v 1.4 2022/02/03 04:05:06 bob Exp $\n"
        " * $Locker:  $ $Name: REL_1 $ $RCSfile: keywords.c,v $\n"
        " * $Revision: 1.4 $ $Source: " + esc + " $ $State: Exp $\n"
        " * $Revisionx$ $revision$ $Revision: open\n"
        " * $Log: keywords.c,v $\n"
        " * Revision 1.4  2022/02/03 04:05:06  bob\n"
        " * Fix the parser.\n"
        " *\n"
        " * Also the lexer.\n"
        " *\n"
        " * Revision 1.1  old entry\n"
        " */\n";
    EXPECT_EQ(kv, expected);

    std::string kvl = checkout_text(k, nullptr, "-kkvl");
    EXPECT_NE(kvl.find("$Locker: alice $"), std::string::npos);
    EXPECT_NE(kvl.find("bob Exp alice $"), std::string::npos);

    std::string kk = checkout_text(k, nullptr, "-kk");
    EXPECT_NE(kk.find(" * $Revision$ $Source$ $State$\n"), std::string::npos);
    EXPECT_NE(kk.find(" * $Id$\n"), std::string::npos);

    std::string v = checkout_text(k, nullptr, "-kv");
    EXPECT_NE(v.find(" * 1.4 " + esc + " Exp\n"), std::string::npos);
    EXPECT_NE(v.find(" * keywords.c,v\n * Revision 1.4"), std::string::npos);

    for (const char *raw : {"-ko", "-kb"}) {
        std::string o = checkout_text(k, nullptr, raw);
        EXPECT_NE(o.find(" * $Id: old value $\n"), std::string::npos) << raw;
        EXPECT_NE(o.find(" * $Revision: 1.1 $ $Source$"), std::string::npos) << raw;
    }
}

TEST(RcsCheckout, EscapesValues) {
    EXPECT_EQ(escape_keyword_value("a b\tc\n$\\"), "a\\040b\\tc\\n\\044\\\\");
    EXPECT_EQ(escape_keyword_value("plain"), "plain");
    EXPECT_STREQ(month_printname("02"), "Feb");
    EXPECT_STREQ(month_printname("12"), "Dec");
    EXPECT_STREQ(month_printname("13"), "???");
}

TEST(RcsCheckout, WritesWorkFileReadOnlyEvenOverAReadOnlyFile) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("jol-co-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::string work = (dir / "trunk.c").string();
    {
        std::ofstream(work) << "old";
    }
    chmod(work.c_str(), 0444);
    ArchiveHandle a("trunk.c");
    ASSERT_EQ(RCS_checkout(a, work.c_str(), "1.1", nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    std::stringstream ss;
    ss << std::ifstream(work).rdbuf();
    EXPECT_EQ(ss.str(), "line1\nline2\nline3\n");
    struct stat sb;
    stat(work.c_str(), &sb);
    EXPECT_EQ(sb.st_mode & 0222, 0u);
    fs::remove_all(dir);
}

TEST(RcsAnnotate, AttributesEachLineToItsRevision) {
    ArchiveHandle a("trunk.c");
    testing::internal::CaptureStdout();
    RCS_deltas(a, "1.3", RCS_ANNOTATE, nullptr, nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "1.1          (carol    31-Dec-99): line1\n"
              "1.2          (bob      02-Jan-20): line2 changed\n"
              "1.1          (carol    31-Dec-99): line3\n"
              "1.3          (alice    03-Jan-20): line4\n");
    testing::internal::CaptureStdout();
    RCS_deltas(a, "1.2.2.1", RCS_ANNOTATE, nullptr, nullptr);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "1.2.2.1      (dave     05-Jan-20): line0\n"
              "1.1          (carol    31-Dec-99): line1\n"
              "1.2          (bob      02-Jan-20): line2 changed\n"
              "1.1          (carol    31-Dec-99): line3\n");
}

TEST(RcsChangeText, AppliesScriptsAndRejectsMisfits) {
    std::string out;
    ASSERT_TRUE(rcs_change_text("t", "a\nb\nc\n", "d2 1\na3 2\nx\ny\n", out));
    EXPECT_EQ(out, "a\nc\nx\ny\n");
    ASSERT_TRUE(rcs_change_text("t", "", "a0 1\nonly", out));
    EXPECT_EQ(out, "only");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(rcs_change_text("t", "a\n", "d5 1\n", out));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("invalid change text in t"),
              std::string::npos);
    EXPECT_EXIT(rcs_change_text("t", "a\n", "x1 1\n", out), testing::ExitedWithCode(1),
                "unrecognized operation '\\\\x78' in t");
    EXPECT_EXIT(rcs_change_text("t", "a\n", "a1 3\nonly\n", out), testing::ExitedWithCode(1),
                "premature end of change in t");
}
