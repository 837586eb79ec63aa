// Outdating: over generated archives (branches, nested branches, "@", NUL
// bytes, texts without a final newline), every form of range leaves each
// revision still listed checking out exactly as before; refusals change
// nothing.
#include "tests/unit/rcs/rcs_test_util.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "src/rcs/diff_invoke.h"
#include "src/rcs/rcs_admin.h"
#include "src/rcs/rcs_internal.h"
#include "src/rcs/rcs_write.h"

namespace {

namespace fs = std::filesystem;

struct GenRev {
    std::string num, next, parent;  // parent: the revision its text derives from
    std::vector<std::string> branches;
    std::string text;
};

// A generated archive: its revisions, and each line in `next` order.
struct GenArchive {
    std::map<std::string, GenRev> revs;
    std::vector<std::vector<std::string>> lines;  // lines[0] is the trunk, head first
    std::string head;
};

std::string random_text(std::mt19937 &rng, const std::string &from) {
    static const std::vector<std::string> pool = {
        "alpha", "beta", "@", "@@ twice @@", std::string("nul\0byte", 8), "", "$Id$",
        "gamma delta", std::string(1, '\0'), "tab\there", "end"};
    std::vector<std::string> lines;
    std::istringstream in(from);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        size_t at = lines.empty() ? 0 : rng() % (lines.size() + 1);
        switch (rng() % 3) {
        case 0: lines.insert(lines.begin() + static_cast<long>(at), pool[rng() % pool.size()]); break;
        case 1:
            if (at < lines.size())
                lines.erase(lines.begin() + static_cast<long>(at));
            break;
        default:
            if (at < lines.size())
                lines[at] = pool[rng() % pool.size()] + std::to_string(rng() % 10);
        }
    }
    std::string out;
    for (const std::string &l : lines)
        out += l + "\n";
    if (!out.empty() && rng() % 3 == 0)
        out.pop_back();  // no final newline
    return out;
}

std::string script(const std::string &from, const std::string &to) {
    std::string out;
    int status = diff_texts(from, to, "-a -n", out);
    EXPECT_TRUE(status == 0 || status == 1);
    return out;
}

std::string escape_at(const std::string &s) {
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '@')
            out += '@';
    }
    return out;
}

GenArchive generate(uint32_t seed) {
    std::mt19937 rng(seed);
    GenArchive g;
    int trunk = 3 + static_cast<int>(rng() % 6);
    std::vector<std::string> trunk_line;
    std::string text = random_text(rng, "first\nsecond\nthird\n");
    for (int k = 1; k <= trunk; ++k) {
        std::string num = "1." + std::to_string(k);
        GenRev r{num, k > 1 ? "1." + std::to_string(k - 1) : "", k > 1 ? "1." + std::to_string(k - 1) : "", {}, text};
        g.revs[num] = r;
        trunk_line.insert(trunk_line.begin(), num);
        text = random_text(rng, text);
    }
    g.head = trunk_line.front();
    g.lines.push_back(trunk_line);
    int branches = static_cast<int>(rng() % 4);
    for (int b = 0; b < branches; ++b) {
        // Rooted on the trunk, or now and then on a branch revision.
        std::vector<std::string> roots;
        for (const auto &[num, r] : g.revs)
            if (numdots(num) == 1 || rng() % 4 == 0)
                roots.push_back(num);
        std::string root = roots[rng() % roots.size()];
        GenRev &rootrev = g.revs[root];
        std::string branch = root + "." + std::to_string(2 * (rootrev.branches.size() + 1));
        int count = 1 + static_cast<int>(rng() % 4);
        std::vector<std::string> line;
        std::string parent = root;
        for (int i = 1; i <= count; ++i) {
            std::string num = branch + "." + std::to_string(i);
            GenRev r{num, i < count ? branch + "." + std::to_string(i + 1) : "", parent, {},
                     random_text(rng, g.revs[parent].text)};
            g.revs[num] = r;
            line.push_back(num);
            parent = num;
        }
        g.revs[root].branches.push_back(line.front());
        g.lines.push_back(line);
    }
    return g;
}

std::string archive_text(const GenArchive &g) {
    std::string a = "head\t" + g.head + ";\naccess;\nsymbols;\nlocks; strict;\ncomment\t@# @;\n\n";
    for (const auto &[num, r] : g.revs) {
        a += "\n" + num + "\ndate\t2021.01.01.00.00.00;\tauthor gen;\tstate Exp;\nbranches";
        for (const std::string &b : r.branches)
            a += "\n\t" + b;
        a += ";\nnext\t" + r.next + ";\n";
    }
    a += "\n\ndesc\n@@\n";
    for (const auto &[num, r] : g.revs) {
        std::string stored;
        if (num == g.head)
            stored = r.text;
        else if (numdots(num) == 1)
            stored = script(g.revs.at("1." + std::to_string(std::stoi(num.substr(2)) + 1)).text,
                            r.text);
        else
            stored = script(g.revs.at(r.parent).text, r.text);
        a += "\n\n" + num + "\nlog\n@log " + num + "\n@\ntext\n@" + escape_at(stored) + "@\n";
    }
    return a;
}

// One outdating request, as the admin command makes it from a range.
struct Form {
    const char *name;
    bool first, last;  // which ends are given
    int inclusive;
};
const Form forms[] = {
    {"rev1:rev2", true, true, 1}, {"rev1::rev2", true, true, 0}, {"rev:", true, false, 1},
    {"rev::", true, false, 0},    {":rev", false, true, 1},      {"::rev", false, true, 0},
    {"rev", true, true, 1},
};

// Ranges that would take the whole trunk are fatal by design; skip them.
bool takes_whole_trunk(const Form &f, const std::vector<std::string> &line, size_t i, size_t j,
                       bool trunk) {
    if (!trunk)
        return false;
    const size_t last = line.size() - 1;
    if (std::string(f.name) == "rev:")
        return i == last;
    if (std::string(f.name) == ":rev")
        return i == 0;
    if (std::string(f.name) == "rev1:rev2")
        return std::min(i, j) == 0 && std::max(i, j) == last;
    return false;
}

class Outdate : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("jol-outdate-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        outdate_script_hook = nullptr;
        fs::remove_all(dir_);
    }
    void write(const std::string &text) {
        std::ofstream(dir_ / "f,v", std::ios::binary) << text;
    }
    RCSNode *parse() { return RCS_parse("f", dir_.c_str()); }
    std::string bytes() {
        std::ifstream in(dir_ / "f,v", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static bool untouched(RCSNode *rcs) {
        bool clean = true;
        JOL_FOR_EACH_NODE(rcs->versions, p) {
            const RCSVers *v = static_cast<const RCSVers *>(p->data);
            clean = clean && !v->outdated && !v->pending_text;
        }
        return clean;
    }
    fs::path dir_;
};

TEST_F(Outdate, EveryFormKeepsTheTextsOfKeptRevisions) {
    int archives = 0, removed_runs = 0, refused_runs = 0;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (uint32_t seed = 1; seed <= 220; ++seed) {
        GenArchive g = generate(seed);
        const std::string original = archive_text(g);
        write(original);
        {
            RCSNode *rcs = parse();
            ASSERT_NE(rcs, nullptr);
            for (const auto &[num, r] : g.revs)
                ASSERT_EQ(checkout_text(rcs, num.c_str(), "-ko"), r.text) << "seed " << seed << " " << num;
            freercsnode(&rcs);
        }
        ++archives;
        std::mt19937 rng(seed * 7919);
        for (const Form &f : forms) {
            const size_t li = rng() % g.lines.size();
            const std::vector<std::string> &line = g.lines[li];
            size_t i = rng() % line.size(), j = rng() % line.size();
            if (std::string(f.name) == "rev")
                j = i;
            if (takes_whole_trunk(f, line, i, j, li == 0))
                continue;
            write(original);
            RCSNode *rcs = parse();
            const std::string t1 = line[i], t2 = line[j];
            const char *a1 = f.first ? t1.c_str() : nullptr;
            const char *a2 = f.last ? (f.first ? t2.c_str() : t1.c_str()) : nullptr;
            int r = RCS_delete_revs(rcs, a1, a2, f.inclusive);
            SCOPED_TRACE("seed " + std::to_string(seed) + " " + f.name + " " + (a1 ? a1 : "") +
                         " " + (a2 ? a2 : ""));
            if (r != 0) {
                EXPECT_TRUE(untouched(rcs));
                ++refused_runs;
                freercsnode(&rcs);
                continue;
            }
            RCS_rewrite(rcs, nullptr, nullptr);
            freercsnode(&rcs);
            rcs = parse();
            ASSERT_NE(rcs, nullptr);
            size_t kept = 0;
            for (const auto &[num, rev] : g.revs) {
                if (!RCS_findvers(rcs, num))
                    continue;
                ++kept;
                EXPECT_EQ(checkout_text(rcs, num.c_str(), "-ko"), rev.text) << num;
            }
            if (kept < g.revs.size())
                ++removed_runs;
            freercsnode(&rcs);
        }
    }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_GE(archives, 200);
    // The generator must exercise real removals, not only refusals.
    EXPECT_GT(removed_runs, 600);
    EXPECT_GT(refused_runs, 0);
}

// Trunk 1.1 to 1.5, with a tag on 1.3 or a branch tag rooted at 1.3.
std::string tagged_archive(const std::string &symbols) {
    GenArchive g;
    std::string text = "a\n";
    for (int k = 1; k <= 5; ++k) {
        std::string num = "1." + std::to_string(k);
        g.revs[num] = GenRev{num, k > 1 ? "1." + std::to_string(k - 1) : "", "", {}, text};
        text += "line " + std::to_string(k) + "\n";
    }
    g.head = "1.5";
    std::string a = archive_text(g);
    return a.replace(a.find("symbols;"), 8, "symbols" + symbols + ";");
}

TEST_F(Outdate, TaggedRevisionsAreRefusedInBothForms) {
    for (const char *symbols : {"\n\tREL:1.3", "\n\tBR:1.3.0.2"}) {
        for (int inclusive : {0, 1}) {
            write(tagged_archive(symbols));
            const std::string before = bytes();
            RCSNode *rcs = parse();
            testing::internal::CaptureStderr();
            testing::internal::CaptureStdout();
            EXPECT_EQ(RCS_delete_revs(rcs, "1.2", "1.4", inclusive), 1) << symbols;
            testing::internal::GetCapturedStdout();
            EXPECT_THAT(testing::internal::GetCapturedStderr(),
                        testing::HasSubstr("cannot remove revision 1.3 because it has tags\n"));
            EXPECT_TRUE(untouched(rcs));
            EXPECT_EQ(rcs->head, "1.5");
            freercsnode(&rcs);
            EXPECT_EQ(bytes(), before);
        }
    }
}

TEST_F(Outdate, AScriptThatDoesNotRebuildTheTextIsRefused) {
    write(tagged_archive(""));
    RCSNode *rcs = parse();
    outdate_script_hook = [](std::string &s) { s = "a0 1\nstray line\n" + s; };
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RCS_delete_revs(rcs, "1.2", "1.4", 1), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr("outdating would change the text of revision 1.1"));
    EXPECT_TRUE(untouched(rcs));
    EXPECT_EQ(RCS_findvers(rcs, "1.5")->next, "1.4");
    freercsnode(&rcs);
}

}  // namespace
