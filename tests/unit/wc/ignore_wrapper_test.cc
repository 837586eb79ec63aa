// Ignore lists (defaults, "!", per-directory files, excluded directories)
// and wrappers (syntax, quoting, first match wins).
#include "tests/unit/wc/wc_test_util.h"

#include <algorithm>
#include <vector>

#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/wrapper.h"

namespace {

std::vector<std::string> reported;
void collect(const char *name, const char *update_dir) {
    reported.push_back(std::string(update_dir) + (*update_dir ? "/" : "") + name);
}

std::vector<std::string> unknown_files() {
    reported.clear();
    List *entries = Entries_Open(0, nullptr);
    ignore_files(nullptr, entries, ".", collect);
    Entries_Close(entries);
    std::sort(reported.begin(), reported.end());
    return reported;
}

}  // namespace

TEST(Ignore, DefaultsAndDirectoryFiles) {
    ScratchDir s;
    setenv("HOME", s.path().c_str(), 1);
    unsetenv("JOLIGNORE");
    ign_setup();
    for (const char *n : {"foo.o", "core", ".DS_Store", "notes~", "foo.c", "log.txt"})
        write_text(n, "x");
    fs::create_directories("JOL");
    write_text("JOL/Entries", "D\n");
    EXPECT_EQ(unknown_files(), (std::vector<std::string>{"foo.c", "log.txt"}));

    write_text(".jolignore", "*.txt\n");
    EXPECT_EQ(unknown_files(), (std::vector<std::string>{".jolignore", "foo.c"}));
    // "!" drops the global patterns for this directory only
    write_text(".jolignore", "!\n*.c\n");
    EXPECT_EQ(unknown_files(),
              (std::vector<std::string>{".DS_Store", ".jolignore", "core", "foo.o", "log.txt",
                                        "notes~"}));
    fs::remove(".jolignore");
    EXPECT_EQ(unknown_files(), (std::vector<std::string>{"foo.c", "log.txt"}));
}

TEST(Ignore, GlobalBangAndStar) {
    ScratchDir s;
    setenv("HOME", s.path().c_str(), 1);
    setenv("JOLIGNORE", "! *.c", 1);
    ign_setup();
    EXPECT_EQ(ign_name("foo.o"), 0);  // the built-in list is gone
    EXPECT_EQ(ign_name("foo.c"), 1);
    EXPECT_EQ(ign_inhibit_server, 1);
    setenv("JOLIGNORE", "*", 1);
    ign_setup();
    EXPECT_EQ(ign_name("anything"), 1);
    unsetenv("JOLIGNORE");
    ign_setup();
    ign_case = 1;
    ign_add("*.TXT", 0);
    EXPECT_EQ(ign_name("a.txt"), 1);
    ign_case = 0;
}

TEST(Ignore, ExcludedDirectoriesMatchWholeComponents) {
    ign_dir_add("mod/sub");
    EXPECT_EQ(ignore_directory("mod/sub"), 1);
    EXPECT_EQ(ignore_directory("mod/sub/deeper"), 1);
    EXPECT_EQ(ignore_directory("mod/subway"), 0);
    EXPECT_EQ(ignore_directory("mod"), 0);
}

TEST(Ignore, SymlinksAndWorkingSubdirectoriesAreNotReported) {
    ScratchDir s;
    setenv("HOME", s.path().c_str(), 1);
    ign_setup();
    fs::create_directories("JOL");
    write_text("JOL/Entries", "D/work////\n");
    fs::create_directories("work/JOL");
    fs::create_directories("plain");
    fs::create_symlink("nowhere", "link");
    EXPECT_EQ(unknown_files(), (std::vector<std::string>{"plain"}));
}

TEST(Wrapper, SyntaxQuotingAndFirstMatch) {
    wrap_kill();
    wrap_add("*.gif -k 'b'", 0);
    wrap_add("\"my file*\" -k 'b' -m 'COPY'", 0);
    wrap_add("\"unterminated -k 'b'", 0);
    wrap_add("# comment -k 'b'", 0);
    wrap_add("*.txt -m 'merge'", 0);
    wrap_add("*.txt -k 'o'", 0);  // hidden by the earlier *.txt entry
    wrap_add("*.esc -k 'a\\'b'", 0);
    EXPECT_EQ(wrap_rcsoption("x.gif", 1).value_or(""), "-kb");
    EXPECT_EQ(wrap_rcsoption("x.gif", 0).value_or(""), "b");
    EXPECT_FALSE(wrap_rcsoption("x.c", 1));
    EXPECT_EQ(wrap_merge_is_copy("my file.bin"), 1);
    EXPECT_EQ(wrap_rcsoption("my file.bin", 0).value_or(""), "b");
    EXPECT_FALSE(wrap_rcsoption("x.txt", 0));
    EXPECT_EQ(wrap_merge_is_copy("x.txt"), 0);
    EXPECT_EQ(wrap_rcsoption("q.esc", 0).value_or(""), "a\\'b");
    EXPECT_FALSE(wrap_matching_entry("\"unterminated"));
    // patterns with blanks are sent back quoted so they read back whole
    std::vector<std::string> sent;
    for (auto w = wrap_unparse_rcs_options(1); w; w = wrap_unparse_rcs_options(0))
        sent.push_back(*w);
    EXPECT_EQ(sent, (std::vector<std::string>{"*.gif -k 'b'", "\"my file*\" -k 'b'",
                                              "*.txt -k 'o'", "*.esc -k 'a\\'b'"}));
    wrap_kill();
    wrap_add(sent[1].c_str(), 0);
    EXPECT_EQ(wrap_rcsoption("my file.x", 0).value_or(""), "b");
    wrap_kill();
}

TEST(WrapperDeathTest, FiltersAreRefused) {
    EXPECT_EXIT(wrap_add("*.c -t 'filter'", 0), testing::ExitedWithCode(1),
                "-t/-f wrappers not supported by this version of JOL");
}
