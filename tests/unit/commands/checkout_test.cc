// Checkout run twice in one process, as a server would: the second command
// starts from its own options, not from what the first one was given.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/commands/commands.h"
#include "src/hash/hash.h"

namespace fs = std::filesystem;

namespace {

// An archive with "one" at 1.1, tagged T1, and "two" at the head 1.2.
const char *const tagged_archive = R"(head	1.2;
access;
symbols
	T1:1.1;
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
@two
@


1.1
log
@first
@
text
@d1 1
a1 1
one
@
)";

// An archive with one revision and no tags.
const char *const untagged_archive = R"(head	1.1;
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
@plain
@
)";

void write_text(const fs::path &p, const std::string &text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

std::string read_text(const fs::path &p) {
    std::stringstream ss;
    ss << std::ifstream(p, std::ios::binary).rdbuf();
    return ss.str();
}

class CheckoutTest : public testing::Test {
  protected:
    void SetUp() override {
        top_ = fs::temp_directory_path() / ("jol-checkout-" + std::to_string(getpid()));
        fs::remove_all(top_);
        repo_ = (top_ / "repo").string();
        fs::create_directories(top_ / "repo/JOLROOT");
        fs::create_directories(top_ / "work");
        write_text(top_ / "repo/first/f.c,v", tagged_archive);
        write_text(top_ / "repo/second/g.c,v", untagged_archive);
        old_ = fs::current_path();
        fs::current_path(top_ / "work");

        parse_jolroot(repo_);
        root_directories = getlist();
        Node *n = getnode();
        n->key = repo_;
        addnode(root_directories, n);
        current_root = repo_;
        program_name = "jol";
        command_name = "checkout";
        CurDir = (top_ / "work").string();
        quiet = really_quiet = 1;
    }
    void TearDown() override {
        dellist(&root_directories);
        current_root.reset();
        quiet = really_quiet = 0;
        fs::current_path(old_);
        fs::remove_all(top_);
    }
    int run(std::vector<std::string> args) {
        args.insert(args.begin(), "checkout");
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int r = checkout(static_cast<int>(args.size()), argv.data());
        fs::current_path(top_ / "work");
        return r;
    }
    fs::path top_, old_;
    std::string repo_;
};

}  // namespace

TEST_F(CheckoutTest, SecondCheckoutDoesNotInheritTheFirstOnesRevision) {
    ASSERT_EQ(run({"-r", "T1", "first"}), 0);
    EXPECT_EQ(read_text("first/f.c"), "one\n");
    EXPECT_EQ(read_text("first/JOL/Tag"), "NT1\n");

    // No -r this time: the head, and no sticky tag.
    ASSERT_EQ(run({"second"}), 0);
    EXPECT_EQ(read_text("second/g.c"), "plain\n");
    EXPECT_FALSE(fs::exists("second/JOL/Tag"));
    ASSERT_EQ(run({"first"}), 0);
    EXPECT_EQ(read_text("first/f.c"), "one\n") << "a sticky tag stays with its directory";
    ASSERT_EQ(run({"-A", "-d", "again", "first"}), 0);
    EXPECT_EQ(read_text("again/f.c"), "two\n");
    EXPECT_FALSE(fs::exists("again/JOL/Tag"));
}
