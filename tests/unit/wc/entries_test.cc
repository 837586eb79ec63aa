// JOL/Entries, its journal, JOL/Tag and JOL/Baserev.
#include "tests/unit/wc/wc_test_util.h"


#include "src/base/globals.h"
#include "src/wc/entries.h"
#include "src/wc/recurse.h"

namespace {

std::string entries_after_close(const std::string &initial, const std::string &journal = "") {
    write_text("JOL/Entries", initial);
    if (!journal.empty())
        write_text("JOL/Entries.Log", journal);
    List *l = Entries_Open(0, nullptr);
    Entries_Close(l);
    return read_text("JOL/Entries");
}

}  // namespace

TEST(Entries, LinesOfEveryShapeRoundTrip) {
    ScratchDir s;
    const std::string lines =
        "/a.c/1.4/Sun Dec  6 14:05:00 2026//\n"
        "/b.c/1.2.2.1/Result of merge+Sun Dec  6 14:05:00 2026/-kb/Tbr\n"
        "/c.c/0/Initial c.c//D2020.01.01.00.00.00\n"
        "/d.c/-1.7/dummy timestamp/-ko/T1.7\n"
        "/e.c/1.1///\n"
        "D/sub////\n";
    fs::create_directory("JOL");
    EXPECT_EQ(entries_after_close(lines, "A /f.c/1.1/x//\n"), lines + "/f.c/1.1/x//\n");
    List *l = Entries_Open(0, nullptr);
    Entnode *b = entries_find(l, "b.c");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->timestamp, "Result of merge");
    EXPECT_EQ(b->conflict.value_or("<none>"), "Sun Dec  6 14:05:00 2026");
    EXPECT_EQ(b->options, "-kb");
    EXPECT_EQ(b->tag.value_or(""), "br");
    Entnode *c = entries_find(l, "c.c");
    EXPECT_EQ(c->date.value_or(""), "2020.01.01.00.00.00");
    EXPECT_FALSE(c->tag);
    Entnode *e = entries_find(l, "e.c");
    EXPECT_EQ(e->options, "");
    EXPECT_FALSE(e->conflict);
    EXPECT_EQ(entries_find(l, "sub")->type, ENT_SUBDIR);
    Entries_Close(l);
}

TEST(Entries, JournalAddsReplacesRemovesAndMovesToTheEnd) {
    ScratchDir s;
    fs::create_directory("JOL");
    std::string out = entries_after_close("/a/1.1///\n/b/1.1///\n/c/1.1///\n",
                                          "A /a/1.2///\nR /b/junk/x//\n/d/1.1///\nX /c/9///\n");
    EXPECT_EQ(out, "/c/1.1///\n/a/1.2///\n/d/1.1///\n");
    EXPECT_FALSE(fs::exists("JOL/Entries.Log"));
}

TEST(Entries, MalformedLinesAreSkippedWithoutLosingOthers) {
    ScratchDir s;
    fs::create_directory("JOL");
    testing::internal::CaptureStderr();
    std::string out = entries_after_close(
        "/good/1.1///\ngarbage\n/short/1.1\nD/..////\n/./1.1///\n//1.1///\n/also/1.2///\n"
        "/nonl/1.1///",
        "A /x/1.1///\n");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "/good/1.1///\n/also/1.2///\n/x/1.1///\nD\n");  // the D/.. line counts as a directory line
    EXPECT_NE(err.find("invalid name"), std::string::npos);
}

TEST(Entries, DirectoryLineOnlyWhenSubdirsAreKnown) {
    ScratchDir s;
    fs::create_directory("JOL");
    // no "D" line seen: the list does not know its subdirectories
    EXPECT_EQ(entries_after_close("/a/1.1///\n", "A /b/1.1///\n"), "/a/1.1///\n/b/1.1///\n");
    // a bare "D" says: known, none
    EXPECT_EQ(entries_after_close("/a/1.1///\nD\n", "A /b/1.1///\n"), "/a/1.1///\n/b/1.1///\nD\n");
}

TEST(Entries, RegisterAppendsOneJournalLineAndDropsACutOne) {
    ScratchDir s;
    fs::create_directory("JOL");
    write_text("JOL/Entries", "D\n");
    List *l = Entries_Open(0, nullptr);
    // A crash cut a journal line inside its sticky tag: ended with a line
    // feed it would read as an entry with the tag "lon".
    write_text("JOL/Entries.Log", "A /e/1.1/ts//\nA /cut/1.2/ts//Tlon");
    Register(l, "f", "1.3", "ts", "-kb", std::string("T1"), std::nullopt, std::nullopt);
    EXPECT_EQ(read_text("JOL/Entries.Log"), "A /e/1.1/ts//\nA /f/1.3/ts/-kb/TT1\n");
    Entries_Close(l);
    List *again = Entries_Open(0, nullptr);
    EXPECT_EQ(entries_find(again, "cut"), nullptr);
    Entries_Close(again);
    // A journal that is one cut line is emptied before the append.
    write_text("JOL/Entries.Log", "A /cut/1.");
    l = Entries_Open(0, nullptr);
    write_text("JOL/Entries.Log", "A /cut/1.");
    Scratch_Entry(l, "f");
    EXPECT_EQ(read_text("JOL/Entries.Log"), "R /f/1.3/ts/-kb/TT1\n");
    Entries_Close(l);
}

TEST(Entries, UnreadableEntriesFileIsNeverReplacedByTheJournal) {
    ScratchDir s;
    fs::create_directory("JOL");
    // A directory in place of the file: it opens, but cannot be read (as
    // with EIO or EACCES on a real file, and also for the super-user).
    fs::create_directory("JOL/Entries");
    write_text("JOL/Entries.Log", "A /c/1.1///\n");
    testing::internal::CaptureStderr();
    List *l = Entries_Open(0, nullptr);
    EXPECT_NE(entries_find(l, "c"), nullptr);
    Entries_Close(l);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot open JOL/Entries for reading"), std::string::npos);
    EXPECT_TRUE(fs::is_directory("JOL/Entries"));
    EXPECT_EQ(read_text("JOL/Entries.Log"), "A /c/1.1///\n");
}

TEST(Entries, FailedRewriteKeepsJournalAndOldFile) {
    ScratchDir s;
    fs::create_directory("JOL");
    write_text("JOL/Entries", "/a/1.1///\n");
    write_text("JOL/Entries.Log", "A /b/1.1///\n");
    fs::create_directory("JOL/Entries.Backup");  // the backup cannot be written
    int before = admin_write_failures;
    testing::internal::CaptureStderr();
    List *l = Entries_Open(0, nullptr);
    Entries_Close(l);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot rewrite JOL/Entries"), std::string::npos);
    EXPECT_GT(admin_write_failures, before);
    EXPECT_EQ(read_text("JOL/Entries"), "/a/1.1///\n");
    EXPECT_EQ(read_text("JOL/Entries.Log"), "A /b/1.1///\n");
}

TEST(Entries, TagFile) {
    ScratchDir s;
    fs::create_directory("JOL");
    WriteTag(nullptr, std::string("rel"), std::nullopt, 1, "", "/r");
    EXPECT_EQ(read_text("JOL/Tag"), "Nrel\n");
    opt_str tag, date;
    int nonbranch = 0;
    ParseTag(&tag, &date, &nonbranch);
    EXPECT_EQ(tag.value_or(""), "rel");
    EXPECT_EQ(nonbranch, 1);
    WriteTag(nullptr, std::nullopt, std::string("2020.01.01.00.00.00"), 0, "", "/r");
    ParseTag(&tag, &date, &nonbranch);
    EXPECT_FALSE(tag);
    EXPECT_EQ(date.value_or(""), "2020.01.01.00.00.00");
    WriteTag(nullptr, std::nullopt, std::nullopt, 0, "", "/r");
    EXPECT_FALSE(fs::exists("JOL/Tag"));
    write_text("JOL/Tag", "");
    testing::internal::CaptureStderr();
    ParseTag(&tag, &date, &nonbranch);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot read JOL/Tag: end of file"),
              std::string::npos);
    EXPECT_FALSE(tag);
}

TEST(Entries, SubdirectoryRegistration) {
    ScratchDir s;
    fs::create_directory("JOL");
    write_text("JOL/Entries", "/a/1.1///\n");
    List *l = Entries_Open(0, nullptr);
    Subdir_Register(l, nullptr, ".");
    EXPECT_FALSE(fs::exists("JOL/Entries.Log"));
    Subdir_Register(l, nullptr, "sub");
    EXPECT_EQ(read_text("JOL/Entries.Log"), "A D/sub////\n");
    Entries_Close(l);
    EXPECT_EQ(read_text("JOL/Entries"), "/a/1.1///\nD/sub////\n");
}

TEST(Entries, BaserevKeepsOtherFilesAndReplacesOne) {
    ScratchDir s;
    fs::create_directory("JOL");
    file_info fa, fb;
    fa.file = "a";
    fb.file = "b";
    base_register(&fa, "1.1");
    base_register(&fb, "1.5");
    base_register(&fa, "1.2");
    EXPECT_EQ(read_text("JOL/Baserev"), "Bb/1.5/\nBa/1.2/\n");
    EXPECT_EQ(base_get(&fa).value_or(""), "1.2");
    base_deregister(&fb);
    EXPECT_FALSE(base_get(&fb));
    EXPECT_EQ(read_text("JOL/Baserev"), "Ba/1.2/\n");
}

TEST(Entries, NoExecChangesOnlyMemory) {
    ScratchDir s;
    fs::create_directory("JOL");
    write_text("JOL/Entries", "D\n");
    noexec = 1;
    List *l = Entries_Open(0, nullptr);
    Register(l, "f", "1.1", "ts", "", std::nullopt, std::nullopt, std::nullopt);
    EXPECT_NE(entries_find(l, "f"), nullptr);
    Entries_Close(l);
    noexec = 0;
    EXPECT_FALSE(fs::exists("JOL/Entries.Log"));
    EXPECT_EQ(read_text("JOL/Entries"), "D\n");
}
