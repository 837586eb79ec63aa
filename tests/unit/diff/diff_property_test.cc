// Randomised checks of the comparison itself: every script applies back
// to the second file, and with -d the script is as short as possible.
#include <cstdlib>
#include <random>

#include "src/rcs/rcs.h"
#include "tests/unit/diff/diff_test_util.h"

namespace {

std::string random_text(std::mt19937 &rng, int max_lines, int alphabet, bool allow_no_newline) {
    std::uniform_int_distribution<int> nlines(0, max_lines), word(0, alphabet - 1);
    int n = nlines(rng);
    std::string t;
    for (int i = 0; i < n; ++i)
        t += "line" + std::to_string(word(rng)) + "\n";
    if (allow_no_newline && !t.empty() && rng() % 4 == 0)
        t.pop_back();
    return t;
}

// A variant of `base` with a few random edits, as real revisions are.
std::string mutate(std::mt19937 &rng, const std::string &base, int alphabet) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < base.size()) {
        size_t nl = base.find('\n', pos);
        size_t end = nl == std::string::npos ? base.size() : nl + 1;
        lines.push_back(base.substr(pos, end - pos));
        pos = end;
    }
    if (!lines.empty() && lines.back().back() != '\n')
        lines.back() += '\n';
    int edits = static_cast<int>(rng() % 6);
    for (int e = 0; e < edits; ++e) {
        size_t at = lines.empty() ? 0 : rng() % (lines.size() + 1);
        switch (rng() % 3) {
        case 0: lines.insert(lines.begin() + static_cast<long>(at), "new" + std::to_string(rng() % alphabet) + "\n"); break;
        case 1:
            if (at < lines.size())
                lines.erase(lines.begin() + static_cast<long>(at));
            break;
        default:
            if (at < lines.size())
                lines[at] = "changed" + std::to_string(rng() % alphabet) + "\n";
        }
    }
    std::string t;
    for (const std::string &l : lines)
        t += l;
    return t;
}

size_t count_lines(const std::string &t) {
    size_t n = static_cast<size_t>(std::count(t.begin(), t.end(), '\n'));
    return n + (!t.empty() && t.back() != '\n');
}

size_t lcs_length(const std::string &a, const std::string &b) {
    auto split = [](const std::string &t) {
        std::vector<std::string> v;
        size_t pos = 0;
        while (pos < t.size()) {
            size_t nl = t.find('\n', pos);
            size_t end = nl == std::string::npos ? t.size() : nl + 1;
            v.push_back(t.substr(pos, end - pos));
            pos = end;
        }
        return v;
    };
    std::vector<std::string> x = split(a), y = split(b);
    std::vector<std::vector<size_t>> dp(x.size() + 1, std::vector<size_t>(y.size() + 1, 0));
    for (size_t i = 1; i <= x.size(); ++i)
        for (size_t j = 1; j <= y.size(); ++j)
            dp[i][j] = x[i - 1] == y[j - 1] ? dp[i - 1][j - 1] + 1
                                             : std::max(dp[i - 1][j], dp[i][j - 1]);
    return dp[x.size()][y.size()];
}

// Lines deleted plus lines inserted by an edit script.
size_t script_cost(const std::string &script) {
    size_t cost = 0, pos = 0;
    while (pos < script.size()) {
        size_t nl = script.find('\n', pos);
        std::string cmd = script.substr(pos, nl - pos);
        pos = nl == std::string::npos ? script.size() : nl + 1;
        size_t count = std::stoul(cmd.substr(cmd.find(' ') + 1));
        cost += count;
        if (cmd[0] == 'a')
            for (size_t k = 0; k < count && pos < script.size(); ++k) {
                size_t e = script.find('\n', pos);
                pos = e == std::string::npos ? script.size() : e + 1;
            }
    }
    return cost;
}

}  // namespace

TEST(DiffProperty, EditScriptsRebuildTheSecondFile) {
    std::mt19937 rng(20261207);
    for (int iter = 0; iter < 600; ++iter) {
        int alphabet = iter % 3 == 0 ? 3 : 40;
        std::string a = random_text(rng, iter % 10 == 0 ? 300 : 30, alphabet, true);
        std::string b = iter % 2 ? mutate(rng, a, alphabet) : random_text(rng, 30, alphabet, true);
        for (const char *opt : {"-n", "-d"}) {
            std::vector<std::string> options = {"-n"};
            if (std::string(opt) == "-d")
                options.push_back("-d");
            EngineRun r = diff_texts(a, b, options);
            ASSERT_EQ(r.status, a == b ? 0 : 1) << a << "---\n" << b;
            std::string rebuilt;
            ASSERT_TRUE(rcs_change_text("test", a, r.out, rebuilt)) << r.out;
            ASSERT_EQ(rebuilt, b) << "script:\n" << r.out;
        }
    }
}

TEST(DiffProperty, MinimalScriptsAreShortest) {
    std::mt19937 rng(42);
    for (int iter = 0; iter < 400; ++iter) {
        int alphabet = iter % 2 ? 4 : 25;
        std::string a = random_text(rng, 40, alphabet, false);
        std::string b = iter % 3 ? mutate(rng, a, alphabet) : random_text(rng, 40, alphabet, false);
        EngineRun r = diff_texts(a, b, {"-n", "-d"});
        size_t expected = count_lines(a) + count_lines(b) - 2 * lcs_length(a, b);
        ASSERT_EQ(script_cost(r.out), expected) << a << "---\n" << b << "===\n" << r.out;
    }
}

TEST(DiffProperty, LargeInputsWithCostLimitStillApply) {
    // Many repeated lines and scattered edits exercise discarding and the
    // cost limit; the result must still be a correct script.
    std::mt19937 rng(7);
    std::string a, b;
    for (int i = 0; i < 20000; ++i) {
        std::string l = (i % 7 == 0 ? "}" : "x" + std::to_string(rng() % 5000)) + "\n";
        a += l;
        if (rng() % 50 == 0)
            b += "edit" + std::to_string(i) + "\n";
        else if (rng() % 60 != 0)
            b += l;
    }
    EngineRun r = diff_texts(a, b, {"-n"});
    std::string rebuilt;
    ASSERT_TRUE(rcs_change_text("test", a, r.out, rebuilt));
    EXPECT_EQ(rebuilt, b);
    EngineRun h = diff_texts(a, b, {"-n", "-H"});
    ASSERT_TRUE(rcs_change_text("test", a, h.out, rebuilt));
    EXPECT_EQ(rebuilt, b);
}

TEST(DiffProperty, PatchAcceptsNormalContextUnifiedAndEd) {
    // The standard patch program is the independent reader of our scripts.
    if (std::system("patch --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "patch is not installed";
    std::mt19937 rng(99);
    Scratch s;
    for (int iter = 0; iter < 150; ++iter) {
        std::string a = random_text(rng, 30, 6, false);
        std::string b = iter % 2 ? mutate(rng, a, 6) : random_text(rng, 30, 6, false);
        std::string fa = s.file("a", a), fb = s.file("b", b);
        for (const char *style : {"", "-c", "-u", "-e", "-U0"}) {
            std::vector<std::string> args;
            if (*style)
                args.push_back(style);
            args.push_back(fa);
            args.push_back(fb);
            EngineRun r = run_diff(args);
            ASSERT_EQ(r.status, a == b ? 0 : 1);
            if (r.status == 0)
                continue;
            s.file("script", r.out);
            std::string kind = std::string(style) == "-e" ? " -e" : "";
            std::string cmd = "patch -s" + kind + " -o " + s.path("out") + " " + fa + " " +
                              s.path("script") + " >/dev/null 2>&1";
            std::filesystem::remove(s.path("out"));
            ASSERT_EQ(std::system(cmd.c_str()), 0) << style << "\n" << r.out;
            std::ifstream in(s.path("out"), std::ios::binary);
            std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            ASSERT_EQ(got, b) << style << "\n" << r.out;
        }
    }
}

// Operands handed over in memory compare exactly as the same bytes read
// from files, in every style, with and without final newlines, binary data
// and labels; only the names differ, and they are the ones given.
TEST(DiffProperty, MemoryOperandsMatchFiles) {
    std::mt19937 rng(4242);
    Scratch dir;
    const std::vector<std::vector<std::string>> styles = {
        {}, {"-u", "-L", "one", "-L", "two"}, {"-c", "-L", "one", "-L", "two"}, {"-n"}, {"-e"},
        {"--ifdef=X"}, {"-y", "-W", "60"}, {"-q"}, {"-a", "-u", "-L", "a", "-L", "b"}};
    for (int round = 0; round < 150; ++round) {
        std::string a = random_text(rng, 40, 8, true);
        std::string b = round % 5 == 0 ? a : mutate(rng, a, 8);
        if (round % 17 == 0)
            b.insert(b.size() / 2, std::string("\0bin\0", 5));
        std::string fa = dir.file("a", a), fb = dir.file("b", b);
        for (const auto &style : styles) {
            std::vector<std::string> args = style;
            args.push_back(fa);
            args.push_back(fb);
            EngineRun from_files = run_diff(args);

            args.insert(args.begin(), "diff");
            EngineRun from_memory;
            diff_test::current = &from_memory;
            diff_callbacks cb{diff_test::on_output, diff_test::on_flush, diff_test::on_stdout,
                              diff_test::on_error};
            std::vector<char *> argv;
            for (std::string &arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            // The named files are not read: remove them first.
            unlink(fa.c_str());
            unlink(fb.c_str());
            std::string ma = a, mb = b;
            std::string *contents[2] = {&ma, &mb};
            from_memory.status = diff_run_memory(static_cast<int>(args.size()), argv.data(),
                                                 contents, nullptr, &cb);
            diff_test::current = nullptr;
            dir.file("a", a);
            dir.file("b", b);
            ASSERT_EQ(from_memory.status, from_files.status) << style.size();
            ASSERT_EQ(from_memory.errors, from_files.errors);
            ASSERT_EQ(from_memory.out, from_files.out) << "round " << round;
        }
    }
}
