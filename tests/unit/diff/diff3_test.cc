// Three-way merge: silent application, identical changes, conflicts and
// the option rules.
#include <random>

#include "tests/unit/diff/diff_test_util.h"

namespace {

// Merges as the archive store does: mine, older, yours with labels.
EngineRun merge(const std::string &mine, const std::string &older, const std::string &yours,
                std::vector<std::string> options = {"-E", "-am"}) {
    Scratch s;
    std::vector<std::string> args = options;
    for (const char *l : {"mine", "older", "yours"}) {
        args.push_back("-L");
        args.push_back(l);
    }
    args.push_back(s.file("m", mine));
    args.push_back(s.file("o", older));
    args.push_back(s.file("y", yours));
    return run_diff3(args);
}

const std::string base = "1\n2\n3\n4\n5\n6\n7\n8\n";

}  // namespace

TEST(Diff3Merge, NonOverlappingChangesApplySilently) {
    EngineRun r = merge("1\n2\n3\n4\n5\n6\n7\n8\n", base, "1\nTWO\n3\n4\n5\n6\n7\n8\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1\nTWO\n3\n4\n5\n6\n7\n8\n");
    r = merge("1\n2\n3\n4\n5\n6\nSEVEN\n8\n", base, "1\nTWO\n3\n4\n5\n6\n7\n8\nnine\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1\nTWO\n3\n4\n5\n6\nSEVEN\n8\nnine\n");
    // Deletions on both sides in different places.
    r = merge("2\n3\n4\n5\n6\n7\n8\n", base, "1\n2\n3\n4\n5\n6\n7\n");
    EXPECT_EQ(r.out, "2\n3\n4\n5\n6\n7\n");
    // The same change on both sides appears once.
    r = merge("1\nX\n3\n4\n5\n6\n7\n8\n", base, "1\nX\n3\n4\n5\n6\n7\n8\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1\nX\n3\n4\n5\n6\n7\n8\n");
}

TEST(Diff3Merge, ConflictsAreBracketed) {
    EngineRun r = merge("1\nMINE\n3\n4\n5\n6\n7\n8\n", base, "1\nYOURS\n3\n4\n5\n6\n7\n8\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "1\n<<<<<<< mine\nMINE\n=======\nYOURS\n>>>>>>> yours\n3\n4\n5\n6\n7\n8\n");
    // -m alone shows the ancestor's lines too.
    r = merge("1\nMINE\n3\n4\n5\n6\n7\n8\n", base, "1\nYOURS\n3\n4\n5\n6\n7\n8\n", {"-m"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "1\n<<<<<<< mine\nMINE\n||||||| older\n2\n=======\nYOURS\n>>>>>>> yours\n3\n4\n5\n"
              "6\n7\n8\n");
    // Changes to adjacent lines touch and form one conflicting region.
    r = merge("1\n2\nMINE\n4\n5\n6\n7\n8\n", base, "1\n2\n3\nYOURS\n5\n6\n7\n8\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "1\n2\n<<<<<<< mine\nMINE\n4\n=======\n3\nYOURS\n>>>>>>> yours\n5\n6\n7\n8\n");
    // A conflict at the end of files without final line feeds.
    r = merge("a\nmine", "a\nold", "a\nyours");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "a\n<<<<<<< mine\nmine\n=======\nyours\n>>>>>>> yours\n");
}

TEST(Diff3Merge, EdScriptAndReport) {
    Scratch s;
    std::string m = s.file("m", "1\nM\n3\n4\n"), o = s.file("o", "1\n2\n3\n4\n"),
                y = s.file("y", "1\n2\n3\nY\n");
    EngineRun e = run_diff3({"-e", m, o, y});
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.out, "4c\nY\n.\n");
    EngineRun i = run_diff3({"-e", "-i", m, o, y});
    EXPECT_EQ(i.out, "4c\nY\n.\nw\nq\n");
    EngineRun report = run_diff3({m, o, y});
    EXPECT_EQ(report.status, 0);
    EXPECT_EQ(report.out, "====1\n1:2c\n  M\n2:2c\n3:2c\n  2\n====3\n1:4c\n2:4c\n  4\n3:4c\n  Y\n");
}

TEST(Diff3Merge, OptionRules) {
    Scratch s;
    std::string m = s.file("m", "1\n"), o = s.file("o", "1\n"), y = s.file("y", "1\n");
    EXPECT_EQ(run_diff3({"-e", "-x", m, o, y}).errors, "incompatible options\n");
    EXPECT_EQ(run_diff3({"-i", "-m", m, o, y}).errors, "incompatible options\n");
    EXPECT_EQ(run_diff3({"-L", "1", "-L", "2", "-L", "3", "-L", "4", "-E", m, o, y}).errors,
              "Too many labels were given.  The limit is 3.\n");
    EngineRun missing = run_diff3({"-m", m, o});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.errors, "missing operand\nTry `diff3 --help' for more information.\n");
    EXPECT_EQ(run_diff3({m, o, y, y}).errors,
              "extra operand\nTry `diff3 --help' for more information.\n");
    EngineRun dir = run_diff3({"-m", m, "/tmp", y});
    EXPECT_EQ(dir.status, 2);
    EXPECT_EQ(dir.errors, "/tmp: Is a directory\n");
    EXPECT_EQ(run_diff3({"-m", m, s.path("none"), y}).status, 2);
    EXPECT_EQ(run_diff3({"-m", m, o, y}).out, "1\n");
}

// When one side is unchanged the merge is exactly the other side, whatever
// alignment the two two-way comparisons pick; repeated lines make several
// alignments equally short, which is where the two comparisons can drift.
TEST(Diff3Merge, UnchangedSideYieldsTheOtherSide) {
    std::mt19937 rng(20261207);
    const char *pool[] = {"\n", "    }\n", "x = 1;\n", "return;\n", "{\n", "a\n", "b\n"};
    auto random_text = [&](int lines) {
        std::string t;
        for (int i = 0; i < lines; ++i)
            t += pool[rng() % std::size(pool)];
        return t;
    };
    for (int round = 0; round < 300; ++round) {
        std::string older = random_text(20 + static_cast<int>(rng() % 120));
        std::string yours;
        size_t pos = 0;
        while (pos < older.size()) {
            size_t nl = older.find('\n', pos);
            std::string line = older.substr(pos, nl - pos + 1);
            pos = nl + 1;
            switch (rng() % 10) {
            case 0: break;                                   // delete
            case 1: yours += random_text(1 + static_cast<int>(rng() % 4)); break;  // replace
            case 2: yours += random_text(2) + line; break;   // insert before
            default: yours += line;
            }
        }
        EngineRun r = merge(older, older, yours);
        ASSERT_EQ(r.status, 0) << "round " << round;
        ASSERT_EQ(r.out, yours) << "round " << round;
        r = merge(yours, older, older);
        ASSERT_EQ(r.status, 0) << "round " << round;
        ASSERT_EQ(r.out, yours) << "round " << round;
    }
}
