// Archives whose deltatexts are not in the order this system writes them:
// every revision must check out and annotate as it does in writer order.
#include "tests/unit/rcs/rcs_test_util.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Trunk 1.1 to 1.4 with the branch 1.2.2 (two revisions) rooted at 1.2.
struct Rev {
    const char *num, *date, *next, *branches, *text, *full;
};
const Rev revs[] = {
    {"1.4", "2021.01.04.00.00.00", "1.3", "", "A\nB\nc\nd\n", "A\nB\nc\nd\n"},
    {"1.3", "2021.01.03.00.00.00", "1.2", "", "d1 1\na1 1\na\n", "a\nB\nc\nd\n"},
    {"1.2", "2021.01.02.00.00.00", "1.1", "1.2.2.1", "d4 1\n", "a\nB\nc\n"},
    {"1.1", "99.12.31.00.00.00", "", "", "d2 1\na2 1\nb\n", "a\nb\nc\n"},
    {"1.2.2.1", "2021.02.01.00.00.00", "1.2.2.2", "", "a3 1\nx\n", "a\nB\nc\nx\n"},
    {"1.2.2.2", "2021.02.02.00.00.00", "", "", "d3 1\na4 1\ny\n", "a\nB\nx\ny\n"},
};

const Rev &rev(const std::string &num) {
    for (const Rev &r : revs)
        if (num == r.num)
            return r;
    ADD_FAILURE() << "no revision " << num;
    return revs[0];
}

// Each revision's lines, tagged with the revision that introduced them.
const std::map<std::string, std::vector<std::pair<const char *, const char *>>> annotations = {
    {"1.4", {{"1.4", "A"}, {"1.2", "B"}, {"1.1", "c"}, {"1.3", "d"}}},
    {"1.3", {{"1.1", "a"}, {"1.2", "B"}, {"1.1", "c"}, {"1.3", "d"}}},
    {"1.2", {{"1.1", "a"}, {"1.2", "B"}, {"1.1", "c"}}},
    {"1.1", {{"1.1", "a"}, {"1.1", "b"}, {"1.1", "c"}}},
    {"1.2.2.1", {{"1.1", "a"}, {"1.2", "B"}, {"1.1", "c"}, {"1.2.2.1", "x"}}},
    {"1.2.2.2", {{"1.1", "a"}, {"1.2", "B"}, {"1.2.2.1", "x"}, {"1.2.2.2", "y"}}},
};

std::string expected_annotation(const std::string &num) {
    static const std::map<std::string, std::string> day = {
        {"1.4", "04-Jan-21"}, {"1.3", "03-Jan-21"}, {"1.2", "02-Jan-21"},
        {"1.1", "31-Dec-99"}, {"1.2.2.1", "01-Feb-21"}, {"1.2.2.2", "02-Feb-21"}};
    std::string out;
    char buf[128];
    for (const auto &[by, line] : annotations.at(num)) {
        std::snprintf(buf, sizeof buf, "%-12s (%-8.8s %s): %s\n", by, "ann", day.at(by).c_str(), line);
        out += buf;
    }
    return out;
}

// The archive of `revs` with its deltatexts in `order`.
std::string archive(const std::vector<std::string> &order) {
    std::string a = "head\t1.4;\naccess;\nsymbols;\nlocks; strict;\ncomment\t@# @;\n\n";
    for (const Rev &r : revs)
        a += std::string("\n") + r.num + "\ndate\t" + r.date + ";\tauthor ann;\tstate Exp;\nbranches" +
             (*r.branches ? std::string("\n\t") + r.branches : "") + ";\nnext\t" + r.next + ";\n";
    a += "\n\ndesc\n@@\n";
    for (const std::string &num : order)
        a += "\n\n" + num + "\nlog\n@log of " + num + "\n@\ntext\n@" + rev(num).text + "@\n";
    return a;
}

class TextOrder : public testing::TestWithParam<std::vector<std::string>> {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("jol-order-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "f.c,v", std::ios::binary) << archive(GetParam());
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(TextOrder, EveryRevisionChecksOutAndAnnotates) {
    for (const Rev &r : revs) {
        RCSNode *rcs = RCS_parse("f.c", dir_.c_str());
        ASSERT_NE(rcs, nullptr);
        EXPECT_EQ(checkout_text(rcs, r.num), r.full) << r.num;
        std::string text, log;
        RCS_deltas(rcs, r.num, RCS_FETCH, &text, &log);
        EXPECT_EQ(text, r.full) << r.num;
        EXPECT_EQ(log, std::string("log of ") + r.num + "\n") << r.num;
        testing::internal::CaptureStdout();
        RCS_deltas(rcs, r.num, RCS_ANNOTATE, nullptr, nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), expected_annotation(r.num)) << r.num;
        freercsnode(&rcs);
    }
    // The head and the tip of the branch, asked by branch number.
    RCSNode *rcs = RCS_parse("f.c", dir_.c_str());
    EXPECT_EQ(checkout_text(rcs, nullptr), rev("1.4").full);
    EXPECT_EQ(checkout_text(rcs, "1.2.2"), rev("1.2.2.2").full);
    freercsnode(&rcs);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, TextOrder,
    testing::Values(
        // As written here: each revision's branches right after it.
        std::vector<std::string>{"1.4", "1.3", "1.2", "1.2.2.1", "1.2.2.2", "1.1"},
        // As the delta tree lists them: the whole trunk, then the branch.
        std::vector<std::string>{"1.4", "1.3", "1.2", "1.1", "1.2.2.1", "1.2.2.2"},
        // The branch before its branch point, the head last.
        std::vector<std::string>{"1.2.2.2", "1.2.2.1", "1.1", "1.2", "1.3", "1.4"}));

TEST(TextOrderDeathTest, AMissingTextIsStillFatal) {
    fs::path dir = fs::temp_directory_path() / ("jol-order-missing-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "f.c,v", std::ios::binary)
        << archive({"1.4", "1.3", "1.2", "1.2.2.1", "1.2.2.2"});
    RCSNode *rcs = RCS_parse("f.c", dir.c_str());
    EXPECT_EXIT(RCS_deltas(rcs, "1.2.2.2", RCS_ANNOTATE, nullptr, nullptr),
                testing::ExitedWithCode(1), "unexpected EOF reading RCS file .*f.c,v");
    freercsnode(&rcs);
    fs::remove_all(dir);
}

}  // namespace
