// Selecting revisions by tag, branch and date; revision arithmetic.
#include "tests/unit/rcs/rcs_test_util.h"

namespace {
std::string opt(const std::optional<std::string> &s) { return s ? *s : "<none>"; }
}  // namespace

TEST(RcsLookup, TagsAndMagicBranches) {
    ArchiveHandle a("trunk.c");
    int simple = -1;
    EXPECT_EQ(opt(RCS_gettag(a, "rel1", 1, &simple)), "1.1");
    EXPECT_EQ(simple, 1);
    EXPECT_EQ(opt(RCS_gettag(a, "br", 1, &simple)), "1.2.2.2");
    EXPECT_EQ(simple, 0);
    // a branch tag with no revisions yet names its branch point
    EXPECT_EQ(opt(RCS_gettag(a, "empty", 1, nullptr)), "1.3");
    EXPECT_EQ(opt(RCS_whatbranch(a, "empty")), "1.3.4");
    EXPECT_EQ(RCS_nodeisbranch(a, "empty"), 1);
    EXPECT_EQ(RCS_nodeisbranch(a, "rel1"), 0);
    EXPECT_EQ(RCS_exist_rev(a, "1.3.0.4"), 1);
    EXPECT_EQ(RCS_exist_rev(a, "1.9"), 0);
    EXPECT_EQ(opt(RCS_gettag(a, "nosuch", 1, nullptr)), "<none>");
    EXPECT_EQ(opt(RCS_gettag(a, "nosuch", 0, nullptr)), "1.3");
    EXPECT_EQ(opt(RCS_gettag(a, "HEAD", 1, nullptr)), "1.3");
    EXPECT_EQ(opt(RCS_gettag(a, "1.2.2.", 1, nullptr)), "1.2.2.2");
    EXPECT_EQ(opt(RCS_gettag(a, "1.7", 1, nullptr)), "<none>");
    EXPECT_EQ(opt(RCS_getbranch(a, "1", 1)), "1.3");
    EXPECT_EQ(opt(RCS_branch_head(a, "1.2.2.1")), "1.2.2.2");
    EXPECT_EQ(opt(RCS_getbranchpoint(a, "1.2.2.2")), "1.2.2.1");
    EXPECT_EQ(RCS_tag2rev(a, "1.2.2"), "1.2.2");
    EXPECT_EQ(RCS_tag2rev(a, "1.3.4"), "1.3.0.4");
    EXPECT_EQ(RCS_tag2rev(a, "rel2"), "1.2");
    EXPECT_EXIT(RCS_tag2rev(a, "1.8"), testing::ExitedWithCode(1), "revision `1.8' does not exist");
    EXPECT_EXIT(RCS_tag2rev(a, "nope"), testing::ExitedWithCode(1), "tag `nope' does not exist");
}

TEST(RcsLookup, Dates) {
    ArchiveHandle a("trunk.c");
    EXPECT_EQ(opt(RCS_getdate(a, "2020.01.02.12.00.00", 1)), "1.2");
    // 99.x sorts before 2000.x although "9" > "2"
    EXPECT_EQ(opt(RCS_getdate(a, "2000.01.01.00.00.00", 1)), "1.1");
    EXPECT_EQ(opt(RCS_getdate(a, "99.01.01.00.00.00", 1)), "<none>");
    EXPECT_EQ(opt(RCS_getdate(a, "99.01.01.00.00.00", 0)), "1.1");
    // The same dates with the year written out
    EXPECT_EQ(opt(RCS_getdate(a, "1999.12.31.23.59.59", 1)), "1.1");
    EXPECT_EQ(opt(RCS_getdate(a, "1999.01.01.00.00.00", 1)), "<none>");
    EXPECT_EQ(opt(RCS_getversion(a, "br", "2020.01.05.12.00.00", 1, nullptr)), "1.2.2.1");
    EXPECT_EQ(opt(RCS_getversion(a, "rel1", "2020.01.05.12.00.00", 1, nullptr)), "<none>");
    EXPECT_EQ(opt(RCS_getdatebranch(a, "2020.01.04.00.00.00", "1.2.2")), "1.2");
    std::string d;
    EXPECT_EQ(RCS_getrevtime(a, "1.1", &d, 0), 946684799);
    EXPECT_EQ(d, "99.12.31.23.59.59");
    EXPECT_EQ(RCS_getrevtime(a, "1.1", &d, -1), 946684800);
    EXPECT_EQ(d, "2000.01.01.00.00.00");
}

TEST(RcsLookup, VendorBranchDefault) {
    ArchiveHandle a("nonl.txt");
    EXPECT_EQ(opt(RCS_head(a)), "1.1.1.1");
    EXPECT_EQ(opt(RCS_getdate(a, "2020.02.15.00.00.00", 1)), "1.1.1.1");
}

TEST(RcsLookup, MagicrevSkipsUsedNumbers) {
    ArchiveHandle a("trunk.c");
    EXPECT_EQ(RCS_magicrev(a, "1.2"), "1.2.0.4");
    EXPECT_EQ(RCS_magicrev(a, "1.3"), "1.3.0.2");
    EXPECT_EQ(RCS_magicrev(a, "1.1"), "1.1.0.2");
}

TEST(Revnum, Arithmetic) {
    EXPECT_EQ(opt(increment_revnum("1.9")), "1.10");
    EXPECT_EQ(opt(increment_revnum("1.99")), "1.100");
    EXPECT_EQ(opt(increment_revnum("1")), "<none>");
    EXPECT_GT(compare_revnums("1.10", "1.9"), 0);
    EXPECT_EQ(compare_revnums("1.2", "1.2.3"), 0);
    std::string huge_a = "1." + std::string(10000, '9');
    std::string huge_b = "1." + std::string(9999, '9');
    EXPECT_GT(compare_revnums(huge_a, huge_b), 0);
    EXPECT_EQ(truncate_revnum("1.4.2.7"), "1.4.2");
    EXPECT_EQ(gca("1.3", "1.5"), "1.3");
    EXPECT_EQ(gca("1.2.2.3", "1.2.2.5"), "1.2.2.3");
    EXPECT_EQ(gca("1.2.2.1", "1.2.4.1"), "1.2");
    EXPECT_EQ(gca("1.5", "2.3"), "1.5");
    EXPECT_EQ(gca("1.4", "1.4.2.3"), "1.4");
    EXPECT_EQ(numdots("1.2.3"), 2);
    EXPECT_EQ(RCS_valid_rev("1.2"), 1);
    for (const char *bad : {"1..2", "1.", ".1", "", "1.a"})
        EXPECT_EQ(RCS_valid_rev(bad), 0) << bad;
    EXPECT_TRUE(is_magic_revnum("1.4.0.2"));
    EXPECT_FALSE(is_magic_revnum("1.4.2"));
    EXPECT_FALSE(is_magic_revnum("1.0"));
    EXPECT_EQ(printable_date("99.12.31.23.59.59"), "1999/12/31 23:59:59");
    EXPECT_EQ(printable_date("2000.01.01.00.00.00"), "2000/01/01 00:00:00");
    EXPECT_LT(RCS_datecmp("99.12.31.23.59.59", "2000.01.01.00.00.00"), 0);
    // Dates compare as dates whatever the width of their year.
    EXPECT_LT(RCS_datecmp("1970.01.01.00.00.00", "92.06.16.12.00.00"), 0);
    EXPECT_GT(RCS_datecmp("92.06.16.12.00.00", "1970.01.01.00.00.00"), 0);
    EXPECT_EQ(RCS_datecmp("1992.06.16.12.00.00", "92.06.16.12.00.00"), 0);
    EXPECT_LT(RCS_datecmp("92.06.16.12.00.00", "92.06.16.12.00.01"), 0);
    EXPECT_LT(RCS_datecmp("2009.12.31.00.00.00", "2010.01.01.00.00.00"), 0);
    EXPECT_GT(RCS_datecmp("2038.01.01.00.00.00", "2021.06.01.00.00.00"), 0);
    EXPECT_LT(RCS_datecmp("92.6.16.9.0.0", "92.06.16.10.00.00"), 0);
}

TEST(RevnumDeathTest, TagNamesAndModes) {
    RCS_check_tag("release-1_0");
    EXPECT_EXIT(RCS_check_tag("1abc"), testing::ExitedWithCode(1), "tag `1abc' must start with a letter");
    EXPECT_EXIT(RCS_check_tag("a b"), testing::ExitedWithCode(1),
                "tag `a b' has non-visible graphic characters");
    EXPECT_EXIT(RCS_check_tag("a.b"), testing::ExitedWithCode(1),
                "tag `a.b' must not contain the characters `\\$,.:;@'");
    EXPECT_EQ(RCS_check_kflag("kv"), "-kkv");
    EXPECT_EXIT(RCS_check_kflag("x"), testing::ExitedWithCode(1),
                "invalid RCS keyword expansion mode\nValid expansion modes include:");
}
