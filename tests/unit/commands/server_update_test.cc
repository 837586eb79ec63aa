// Update as it runs in a server's command child: which changes it reports
// to the client, in which order, and what the file it sends holds then.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/commands/checkin.h"
#include "src/commands/commands.h"
#include "src/hash/hash.h"
#include "src/protocol/md5sum.h"
#include "src/rcs/rcs.h"
#include "src/rcs/rcs_admin.h"
#include "src/wc/entries.h"
#include "src/wc/recurse.h"
#include "src/wc/server_hooks.h"
#include "src/wc/vers_ts.h"

namespace fs = std::filesystem;

namespace {

// f.c: "a b c" at 1.1, "a B c" at the head 1.2.
const char *const archive = R"(head	1.2;
access;
symbols;
locks; strict;
comment	@# @;


1.2
date	2020.01.02.00.00.00;	author a;	state Exp;
branches;
next	1.1;

1.1
date	2020.01.01.00.00.00;	author a;	state Exp;
branches;
next	;


desc
@@


1.2
log
@second
@
text
@a
B
c
@


1.1
log
@first
@
text
@d2 1
a2 1
b
@
)";

void write_text(const fs::path &p, const std::string &text) {
    if (p.has_parent_path())
        fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

std::string read_text(const fs::path &p) {
    std::stringstream ss;
    ss << std::ifstream(p, std::ios::binary).rdbuf();
    return ss.str();
}

std::string hex(const unsigned char *sum) {
    std::string s;
    char b[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(b, sizeof b, "%02x", sum[i]);
        s += b;
    }
    return s;
}

// Records the calls, with the contents of the file when one is sent.
class Recorder final : public ServerResults {
  public:
    std::vector<std::string> calls;
    std::string sent_text;
    std::string checksum;
    bool rcs_diff = false;

    void register_entry(const std::string &name, const std::string &version,
                        const std::string &, const std::string &, const opt_str &,
                        const opt_str &, const opt_str &conflict) override {
        calls.push_back("register " + name + " " + version + (conflict ? " conflict" : ""));
    }
    void scratch(const std::string &name) override { calls.push_back("scratch " + name); }
    void scratch_entry_only() override { calls.push_back("scratch_entry_only"); }
    void checked_in(const char *file, const char *, const char *) override {
        calls.push_back(std::string("checked_in ") + file);
    }
    void update_entries(const char *file, const char *, const char *, int updated) override {
        calls.push_back(std::string("update_entries ") + file + " " + std::to_string(updated));
    }
    void updated(const file_info *finfo, const Vers_TS *, int updated, mode_t mode,
                 const unsigned char *sum, buffer *filebuf) override {
        calls.push_back("updated " + finfo->file + " " + std::to_string(updated) +
                        (mode == SERVER_FILE_MODE ? " file-mode" : " mode") +
                        (filebuf ? " buffer" : ""));
        if (!filebuf)
            sent_text = read_text(finfo->file);
        if (sum)
            checksum = hex(sum);
    }
    void copy_file(const char *file, const char *, const char *, const char *newfile) override {
        calls.push_back(std::string("copy_file ") + file + " " + newfile);
    }
    void modtime(const file_info *, const Vers_TS *) override { calls.push_back("modtime"); }
    bool use_rcs_diff() override { return rcs_diff; }
    void set_entstat(const char *, const char *) override { calls.push_back("set_entstat"); }
    void clear_entstat(const char *, const char *) override { calls.push_back("clear_entstat"); }
    void set_sticky(const char *, const char *, const opt_str &, const opt_str &, int) override {
        calls.push_back("set_sticky");
    }
    void template_file(const char *, const char *) override { calls.push_back("template"); }
    void prog(const char *, const char *, progs) override { calls.push_back("prog"); }
    void pathname_check(const char *) override {}
    void pause_check() override {}
};

class ServerUpdateTest : public testing::Test {
  protected:
    void SetUp() override {
        top_ = fs::temp_directory_path() / ("jol-server-update-" + std::to_string(getpid()));
        fs::remove_all(top_);
        repo_ = (top_ / "repo").string();
        fs::create_directories(top_ / "repo/JOLROOT");
        write_text(top_ / "repo/mod/f.c,v", archive);
        chmod((top_ / "repo/mod/f.c,v").c_str(), 0444);
        // The server's temporary tree, as the client's requests left it.
        write_text(top_ / "tmp/JOL/Repository", repo_ + "/mod\n");
        old_ = fs::current_path();
        fs::current_path(top_ / "tmp");

        parse_jolroot(repo_);
        root_directories = getlist();
        Node *n = getnode();
        n->key = repo_;
        addnode(root_directories, n);
        current_root = repo_;
        program_name = "jol";
        command_name = "update";
        CurDir = (top_ / "tmp").string();
        quiet = really_quiet = 1;
        server_active = 1;
        set_server_results(&rec_);
    }
    void TearDown() override {
        set_server_results(nullptr);
        server_active = 0;
        dellist(&root_directories);
        current_root.reset();
        quiet = really_quiet = 0;
        fs::current_path(old_);
        fs::remove_all(top_);
    }
    int run(std::vector<std::string> args) {
        args.insert(args.begin(), "update");
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        return update(static_cast<int>(args.size()), argv.data());
    }
    // The calls that report files (directory-level ones left out).
    std::vector<std::string> file_calls() {
        std::vector<std::string> r;
        for (const std::string &c : rec_.calls)
            if (c.rfind("register", 0) == 0 || c.rfind("updated", 0) == 0 ||
                c.rfind("copy_file", 0) == 0 || c.rfind("scratch", 0) == 0 ||
                c.rfind("checked_in", 0) == 0 || c.rfind("update_entries", 0) == 0)
                r.push_back(c);
        return r;
    }

    Recorder rec_;
    fs::path top_, old_;
    std::string repo_;
};

}  // namespace

TEST_F(ServerUpdateTest, UnchangedFileGetsAContextPatchWithTheNewRevisionsChecksum) {
    write_text("JOL/Entries", "/f.c/1.1/=//\n");
    ASSERT_EQ(run({"-u", "f.c"}), 0);
    std::vector<std::string> want{"register f.c 1.2", "updated f.c 2 mode"};
    EXPECT_EQ(file_calls(), want);
    EXPECT_EQ(rec_.checksum, hex(md5_of("a\nB\nc\n").data()));
    EXPECT_EQ(rec_.sent_text.rfind("*** ", 0), 0u) << rec_.sent_text;
    EXPECT_NE(rec_.sent_text.find("! B\n"), std::string::npos) << rec_.sent_text;
    EXPECT_TRUE(fs::exists("f.c")) << "the patch waits in the working file to be sent";
}

TEST_F(ServerUpdateTest, RcsDiffPatchWhenTheClientTakesIt) {
    rec_.rcs_diff = true;
    write_text("JOL/Entries", "/f.c/1.1/=//\n");
    ASSERT_EQ(run({"-u"}), 0);
    std::vector<std::string> want{"register f.c 1.2", "updated f.c 3 mode"};
    EXPECT_EQ(file_calls(), want);
    EXPECT_EQ(rec_.sent_text, "d2 1\na2 1\nB\n");
}

TEST_F(ServerUpdateTest, WithoutPatchesTheWholeRevisionGoesFromMemory) {
    write_text("JOL/Entries", "/f.c/1.1/=//\n");
    ASSERT_EQ(run({}), 0);
    std::vector<std::string> want{"register f.c 1.2", "updated f.c 0 mode buffer"};
    EXPECT_EQ(file_calls(), want);
    EXPECT_FALSE(fs::exists("f.c")) << "nothing is written to the temporary tree";
}

TEST_F(ServerUpdateTest, ConflictingMergeBacksUpTheClientsCopyAndSendsTheMerge) {
    write_text("JOL/Entries", "/f.c/1.1///\n");
    write_text("f.c", "a\nX\nc\n");
    EXPECT_EQ(run({"f.c"}), 0);
    std::vector<std::string> want{"register f.c 1.2 conflict",
                                  "copy_file f.c .#f.c.1.1", "updated f.c 1 file-mode"};
    EXPECT_EQ(file_calls(), want);
    EXPECT_EQ(rec_.sent_text, "a\n<<<<<<< f.c\nX\n=======\nB\n>>>>>>> 1.2\nc\n");
    EXPECT_EQ(read_text(".#f.c.1.1"), "a\nX\nc\n");
}

TEST_F(ServerUpdateTest, LocallyModifiedCurrentFileIsOnlyReported) {
    write_text("JOL/Entries", "/f.c/1.2///\n");
    write_text("f.c", "a\nmine\nc\n");
    EXPECT_EQ(run({"f.c"}), 0);
    EXPECT_TRUE(file_calls().empty());
    // A file sent unchanged is taken for what its entry says, without
    // reading the archive; the client's modified-without-contents mark is
    // taken as different.
    write_text("JOL/Entries", "/f.c/1.2/M//\n");
    fs::remove("f.c");
    EXPECT_EQ(run({"f.c"}), 0);
    EXPECT_TRUE(file_calls().empty());
}

TEST_F(ServerUpdateTest, FileGoneFromTheRepositoryIsRemovedAtTheClient) {
    fs::remove(top_ / "repo/mod/f.c,v");
    write_text("JOL/Entries", "/f.c/1.1/=//\n");
    EXPECT_EQ(run({}), 0);
    // The client's unchanged copy goes too; a copy the client does not
    // have only loses its entry.
    std::vector<std::string> want{"scratch f.c", "updated f.c 0 file-mode"};
    EXPECT_EQ(file_calls(), want);
    write_text("JOL/Entries", "/f.c/1.1///\n");
    rec_.calls.clear();
    EXPECT_EQ(run({}), 0);
    want = {"scratch f.c", "scratch_entry_only", "updated f.c 0 file-mode"};
    EXPECT_EQ(file_calls(), want);
}

// f.c with a branch br: 1.1.2.1 ("a b C") off 1.1 ("a b c"); 1.2 is "a B c".
const char *const branched_archive = R"(head	1.2;
access;
symbols
	br:1.1.0.2;
locks; strict;
comment	@# @;


1.2
date	2020.01.02.00.00.00;	author a;	state Exp;
branches;
next	1.1;

1.1
date	2020.01.01.00.00.00;	author a;	state Exp;
branches
	1.1.2.1;
next	;

1.1.2.1
date	2020.01.03.00.00.00;	author a;	state Exp;
branches;
next	;


desc
@@


1.2
log
@second
@
text
@a
B
c
d
e
@


1.1
log
@first
@
text
@d2 1
a2 1
b
@


1.1.2.1
log
@on branch
@
text
@d5 1
a5 1
E
@
)";

TEST_F(ServerUpdateTest, JoinIntoAFileTheClientDidNotSendChecksItOutFirst) {
    write_text(top_ / "repo/mod/f.c,v", branched_archive);
    write_text("JOL/Entries", "/f.c/1.1.2.1/=//Tbr\n");
    write_text("JOL/Tag", "Tbr\n");
    EXPECT_EQ(run({"-j", "1.2", "f.c"}), 0);
    std::vector<std::string> want{"register f.c 1.1.2.1", "copy_file f.c .#f.c.1.1.2.1",
                                  "updated f.c 1 file-mode"};
    EXPECT_EQ(file_calls(), want);
    EXPECT_EQ(rec_.sent_text, "a\nB\nc\nd\nE\n");
    EXPECT_EQ(read_text(".#f.c.1.1.2.1"), "a\nb\nc\nd\nE\n");
}

// f.c at 1.1 only; with a keyword its working copy changes at check-in.
const char *const single_archive = R"(head	1.1;
access;
symbols;
locks; strict;
comment	@# @;


1.1
date	2020.01.01.00.00.00;	author a;	state Exp;
branches;
next	;


desc
@@


1.1
log
@first
@
text
@a
@
)";

// The check-in step as commit runs it: the entry goes back with
// Checked-in, or with the whole file when keywords changed it.
TEST_F(ServerUpdateTest, CheckInReportsTheNewEntryOrSendsTheExpandedFile) {
    command_name = "commit";
    for (bool keyword : {false, true}) {
        write_text(top_ / "repo/mod/f.c,v", single_archive);
        write_text("JOL/Entries", "/f.c/1.1///\n");
        write_text("f.c", keyword ? "a\n$Revision$\n" : "a\nb\n");
        List *entries = Entries_Open(0, nullptr);
        file_info finfo;
        finfo.file = finfo.fullname = "f.c";
        std::string repository = (top_ / "repo/mod").string();
        finfo.repository = repository.c_str();
        finfo.entries = entries;
        finfo.rcs = RCS_parse("f.c", finfo.repository);
        ASSERT_NE(finfo.rcs, nullptr);
        ASSERT_EQ(RCS_lock(finfo.rcs, nullptr, 1), 0);
        std::string options;
        rec_.calls.clear();
        EXPECT_EQ(Checkin('M', &finfo, nullptr, nullptr, options, "second"), 0);
        std::vector<std::string> want{"register f.c 1.2", "checked_in f.c"};
        if (keyword)
            want = {"register f.c 1.2", "updated f.c 0 file-mode"};
        EXPECT_EQ(file_calls(), want);
        if (keyword) {
            EXPECT_EQ(rec_.sent_text, "a\n$Revision: 1.2 $\n");
        }
        freercsnode(&finfo.rcs);
        Entries_Close(entries);
    }
}
