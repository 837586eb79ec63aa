// The recursion engine: visiting order, arguments, local flag, other roots.
#include "tests/unit/wc/wc_test_util.h"

#include <vector>

#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/wc/entries.h"
#include "src/wc/recurse.h"

namespace {

std::vector<std::string> events;

int fileproc(void *, file_info *fi) {
    events.push_back("file " + fi->fullname + " @" + (fi->repository ? fi->repository : "-"));
    return 0;
}
int filesdone(void *, int err, const char *, const char *update_dir, List *) {
    events.push_back(std::string("done ") + update_dir);
    return err;
}
Dtype direnter(void *, const char *dir, const char *, const char *update_dir, List *) {
    events.push_back(std::string("enter ") + dir + " " + update_dir);
    return R_PROCESS;
}
int dirleave(void *, const char *dir, int err, const char *, List *) {
    events.push_back(std::string("leave ") + dir);
    return err;
}

void working_dir(const std::string &dir, const std::string &repos, const std::string &entries) {
    fs::create_directories(dir + "/JOL");
    write_text(dir + "/JOL/Repository", repos + "\n");
    write_text(dir + "/JOL/Entries", entries);
}

class RecurseTest : public testing::Test {
  protected:
    void SetUp() override {
        parse_jolroot(repo_);
        root_directories = getlist();
        Node *n = getnode();
        n->key = repo_;
        addnode(root_directories, n);
        current_root = repo_;
        JOLroot_cmdline.reset();
        working_dir(".", "mod", "/b.c/1.1///\n/a.c/1.1///\nD/sub////\nD/other////\n");
        working_dir("sub", "mod/sub", "/s.c/1.1///\nD\n");
        working_dir("other", "mod/other", "/o.c/1.1///\nD\n");
        write_text("other/JOL/Root", ":ext:host:/other\n");
        events.clear();
    }
    void TearDown() override {
        dellist(&root_directories);
        current_root.reset();
    }
    int run(std::vector<std::string> args, int local = 0) {
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        return start_recursion({.fileproc = fileproc,
                                .filesdoneproc = filesdone,
                                .direntproc = direnter,
                                .dirleaveproc = dirleave,
                                .argc = static_cast<int>(argv.size()),
                                .argv = argv.data(),
                                .local = local,
                                .which = WHICH_LOCAL,
                                .dosrcs = 0});
    }
    ScratchDir scratch_;
    std::string repo_ = "/r";
};

}  // namespace

TEST_F(RecurseTest, WholeTreeInOrderSkippingAnotherRoot) {
    run({});
    EXPECT_EQ(events, (std::vector<std::string>{
                          "enter . .", "file a.c @/r/mod", "file b.c @/r/mod", "done .",
                          "enter sub sub", "file sub/s.c @/r/mod/sub", "done sub", "leave sub",
                          "leave ."}));
    // the other root was recorded for a later pass
    EXPECT_NE(findnode(root_directories, ":ext:host:/other"), nullptr);
}

TEST_F(RecurseTest, LocalFlagStaysInTheDirectory) {
    run({}, 1);
    EXPECT_EQ(events, (std::vector<std::string>{"enter . .", "file a.c @/r/mod",
                                                "file b.c @/r/mod", "done .", "leave ."}));
}

TEST_F(RecurseTest, FileArgumentsInSubdirectories) {
    write_text("sub/s.c", "x");
    run({"sub/s.c", "b.c"});
    EXPECT_EQ(events, (std::vector<std::string>{"file sub/s.c @/r/mod/sub", "done sub",
                                                "file b.c @/r/mod", "done ."}));
}

TEST_F(RecurseTest, DirectoryAndFileInsideItVisitTheDirectoryOnce) {
    write_text("sub/s.c", "x");
    run({"sub", "sub/s.c"});
    EXPECT_EQ(events, (std::vector<std::string>{"enter sub sub", "file sub/s.c @/r/mod/sub",
                                                "done sub", "leave sub"}));
}

TEST_F(RecurseTest, NoVersionHere) {
    fs::create_directories("empty");
    fs::current_path("empty");
    EXPECT_EXIT(run({}), testing::ExitedWithCode(1),
                "there is no version here; run 'jol checkout' first");
    fs::current_path("..");
}

TEST_F(RecurseTest, AdministrativeDirectoryArgumentIsSkipped) {
    testing::internal::CaptureStderr();
    run({"JOL"});
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("warning: directory JOL specified in argument"), std::string::npos);
    EXPECT_TRUE(events.empty());
}
