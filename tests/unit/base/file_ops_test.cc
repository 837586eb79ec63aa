// File helpers and the runner: the -n and -t rules, comparisons, link
// chains, case-insensitive opening, conflict markers and child programs.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "src/base/file_ops.h"
#include "src/base/globals.h"
#include "src/base/subprocess.h"

namespace {

class FileOps : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/jol-fileops-XXXXXX";
        dir_ = mkdtemp(tmpl);
        program_name = "jol";
        trace = 0;
        noexec = 0;
        server_active = 0;
    }
    void TearDown() override {
        trace = 0;
        noexec = 0;
        server_active = 0;
        command_name.clear();
        EXPECT_EQ(chdir("/tmp"), 0);
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    void write(const std::string &name, const std::string &text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    std::string read(const std::string &name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool exists(const std::string &name) const {
        struct stat sb;
        return lstat(path(name).c_str(), &sb) == 0;
    }
    std::string dir_;
};

TEST_F(FileOps, NoExecChangesNothingButStillTraces) {
    write("a", "text\n");
    trace = 1;
    noexec = 1;
    testing::internal::CaptureStderr();
    copy_file(path("a").c_str(), path("b").c_str());
    rename_file(path("a").c_str(), path("c").c_str());
    EXPECT_EQ(unlink_file(path("a").c_str()), 0);
    EXPECT_EQ(unlink_file_dir(path("a").c_str()), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, " -> copy(" + path("a") + "," + path("b") + ")\n" +
                       " -> rename(" + path("a") + "," + path("c") + ")\n" +
                       " -> unlink(" + path("a") + ")\n" +
                       " -> unlink_file_dir(" + path("a") + ")\n");
    EXPECT_TRUE(exists("a"));
    EXPECT_FALSE(exists("b"));
    EXPECT_FALSE(exists("c"));

    // The server's trace lines start with "S".
    server_active = 1;
    testing::internal::CaptureStderr();
    rename_file("x", "y");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "S-> rename(x,y)\n");
}

TEST_F(FileOps, CopyKeepsBytesModeAndLinks) {
    std::string data("bin\0ary\n", 8);
    write("a", data);
    chmod(path("a").c_str(), 0640);
    copy_file(path("a").c_str(), path("b").c_str());
    EXPECT_EQ(read("b"), data);
    struct stat sb;
    ASSERT_EQ(stat(path("b").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0640u);
    ASSERT_EQ(symlink("target", path("l1").c_str()), 0);
    copy_file(path("l1").c_str(), path("l2").c_str());
    EXPECT_EQ(xreadlink(path("l2").c_str()).value_or(""), "target");
}

TEST_F(FileOps, CompareByTypeTargetAndContents) {
    write("e1", "");
    write("e2", "");
    EXPECT_EQ(xcmp(path("e1").c_str(), path("e2").c_str()), 0);
    std::string big(20000, 'x');
    write("b1", big);
    big[19999] = 'y';
    write("b2", big);
    EXPECT_NE(xcmp(path("b1").c_str(), path("b2").c_str()), 0);
    write("b3", std::string(20000, 'x'));
    EXPECT_EQ(xcmp(path("b1").c_str(), path("b3").c_str()), 0);
    ASSERT_EQ(symlink("same", path("l1").c_str()), 0);
    ASSERT_EQ(symlink("same", path("l2").c_str()), 0);
    EXPECT_EQ(xcmp(path("l1").c_str(), path("l2").c_str()), 0);
    EXPECT_EQ(xcmp(path("l1").c_str(), path("e1").c_str()), 1);
}

TEST_F(FileOps, DeepRemoveNeverFollowsLinks) {
    ASSERT_EQ(mkdir(path("keep").c_str(), 0777), 0);
    write("keep/precious", "data");
    ASSERT_EQ(mkdir(path("d").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(path("d/sub").c_str(), 0777), 0);
    write("d/sub/f", "x");
    ASSERT_EQ(symlink(path("keep").c_str(), path("d/link").c_str()), 0);
    EXPECT_EQ(unlink_file_dir(path("d").c_str()), 0);
    EXPECT_FALSE(exists("d"));
    EXPECT_EQ(read("keep/precious"), "data");
    EXPECT_EQ(unlink_file_dir(path("missing").c_str()), -1);
}

TEST_F(FileOps, DirectoriesAndModes) {
    make_directories(path("p/q/r").c_str());
    struct stat sb;
    EXPECT_EQ(stat(path("p/q/r").c_str(), &sb), 0);
    EXPECT_EQ(mkdir_if_needed(path("p").c_str()), 1);
    EXPECT_EQ(mkdir_if_needed(path("new").c_str()), 0);

    write("m", "x");
    chmod(path("m").c_str(), 0644);
    mode_t old = umask(022);
    xchmod(path("m").c_str(), 0);
    ASSERT_EQ(stat(path("m").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0444u);
    xchmod(path("m").c_str(), 1);
    ASSERT_EQ(stat(path("m").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0644u);
    umask(old);
}

TEST_F(FileOps, SymlinkChainsResolveAndLoopsStop) {
    write("real", "x");
    ASSERT_EQ(symlink("real", path("one").c_str()), 0);
    ASSERT_EQ(symlink("one", path("two").c_str()), 0);
    std::string name = path("two");
    resolve_symlink(name);
    EXPECT_EQ(name, path("real"));

    ASSERT_EQ(symlink("loop2", path("loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", path("loop2").c_str()), 0);
    std::string looped = path("loop1");
    EXPECT_EXIT(resolve_symlink(looped), testing::ExitedWithCode(1), "cannot resolve");
}

TEST_F(FileOps, BackupMarkersAndWholeFiles) {
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    write("f.c", "a\n=======\nb\n");
    EXPECT_EQ(backup_file("f.c", "1.4"), ".#f.c.1.4");
    EXPECT_EQ(read(".#f.c.1.4"), "a\n=======\nb\n");
    EXPECT_EQ(backup_file("absent", nullptr), ".#absent");
    EXPECT_FALSE(exists(".#absent"));
    EXPECT_EQ(file_has_markers("f.c", "f.c"), 1);
    write("clean", "a\n======= not a marker\n>>>>>>>no blank\n");
    EXPECT_EQ(file_has_markers("clean", "clean"), 0);
    EXPECT_EQ(get_file("f.c", "f.c"), "a\n=======\nb\n");
}

TEST_F(FileOps, CaseInsensitiveOpen) {
    write("ReadMe.TXT", "hello");
    FILE *fp = nullptr;
    std::string found;
    EXPECT_EQ(fopen_case(path("readme.txt").c_str(), "r", &fp, &found), 0);
    ASSERT_NE(fp, nullptr);
    std::fclose(fp);
    EXPECT_EQ(found, path("ReadMe.TXT"));
    EXPECT_EQ(fopen_case(path("none").c_str(), "r", &fp, nullptr), ENOENT);
    EXPECT_EQ(fp, nullptr);
    write("README.txt", "other");
    EXPECT_EXIT(fopen_case(path("readme.txt").c_str(), "r", &fp, nullptr),
                testing::ExitedWithCode(1), "is ambiguous; could mean");
}

TEST_F(FileOps, MarkerLinesMayEndInCarriageReturns) {
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    write("cr", "mine\r=======\rtheirs\r");
    EXPECT_EQ(file_has_markers("cr", "cr"), 1);
    write("crlf", "a\r\n=======\r\nb\r\n");
    EXPECT_EQ(file_has_markers("crlf", "crlf"), 1);
    write("after-cr", "text\r<<<<<<< mine");
    EXPECT_EQ(file_has_markers("after-cr", "after-cr"), 1);
    // A separator needs a line end after it.
    write("unended", "a\n=======");
    EXPECT_EQ(file_has_markers("unended", "unended"), 0);
    write("longer", "=======\t\r>>>>>>>\r\n<<<<<<<\n");
    EXPECT_EQ(file_has_markers("longer", "longer"), 0);
    EXPECT_EXIT(file_has_markers("absent", "dir/absent"), testing::ExitedWithCode(1),
                "cannot open dir/absent");
}

TEST_F(FileOps, FilesEqualComparesWholeContents) {
    const std::string big(70000, 'x');
    write("a", big);
    write("b", big);
    EXPECT_TRUE(files_equal(path("a").c_str(), path("b").c_str()));
    write("b", big.substr(0, 69999) + "y");
    EXPECT_FALSE(files_equal(path("a").c_str(), path("b").c_str()));
    write("b", big + "x");
    EXPECT_FALSE(files_equal(path("a").c_str(), path("b").c_str()));
    EXPECT_FALSE(files_equal(path("b").c_str(), path("a").c_str()));
    write("e1", "");
    write("e2", "");
    EXPECT_TRUE(files_equal(path("e1").c_str(), path("e2").c_str()));
    EXPECT_FALSE(files_equal(path("e1").c_str(), path("missing").c_str()));
    EXPECT_FALSE(files_equal(path("missing").c_str(), path("missing").c_str()));
}

TEST_F(FileOps, RenameVariants) {
    write("a", "text");
    // A failure that is not fatal comes back with errno, traced all the same.
    trace = 1;
    testing::internal::CaptureStderr();
    errno = 0;
    EXPECT_EQ(rename_file(path("none").c_str(), path("b").c_str(), {.fatal = false}), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              " -> rename(" + path("none") + "," + path("b") + ")\n");
    EXPECT_EXIT(rename_file(path("none").c_str(), path("b").c_str()),
                testing::ExitedWithCode(1), "cannot rename file .*none to .*b");

    // Untraced, and done under -n when asked.
    noexec = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(rename_file(path("a").c_str(), path("b").c_str(),
                          {.traced = false, .honour_noexec = false}),
              0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(exists("a"));
    EXPECT_EQ(read("b"), "text");
    // Left undone under -n, a rename that would fail reports no failure.
    EXPECT_EQ(rename_file(path("none").c_str(), path("c").c_str(),
                          {.traced = false, .fatal = false}),
              0);
}

TEST_F(FileOps, RunnerRedirectsAndReportsStatus) {
    run_setup("sh  -c");
    run_arg("echo out; echo err >&2; exit 3");
    EXPECT_EQ(run_args().size(), 3u);
    EXPECT_EQ(run_exec(nullptr, path("o").c_str(), path("e").c_str(), 0), 3);
    EXPECT_EQ(read("o"), "out\n");
    EXPECT_EQ(read("e"), "err\n");
    EXPECT_EQ(run_exec(nullptr, path("o").c_str(), nullptr,
                       RUNF_APPEND_STDOUT | RUNF_MERGE_STDERR),
              3);
    EXPECT_EQ(read("o"), "out\nout\nerr\n");

    run_setup("/nonexistent/program");
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_exec(nullptr, nullptr, nullptr, 0), 127);
    testing::internal::GetCapturedStderr();

    noexec = 1;
    run_setup("touch");
    run_arg(path("made").c_str());
    EXPECT_EQ(run_exec(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_FALSE(exists("made"));
    EXPECT_EQ(run_exec(nullptr, nullptr, nullptr, RUNF_EVEN_IF_NOEXEC), 0);
    EXPECT_TRUE(exists("made"));
    noexec = 0;

    run_setup("sh -c");
    run_arg("it's");
    testing::internal::CaptureStderr();
    run_print(stderr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "'sh' '-c' 'it's'");
}

TEST_F(FileOps, PipedChildTalksBothWays) {
    int to = -1, from = -1;
    pid_t pid = piped_child({"tr", "a-z", "A-Z"}, &to, &from);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::write(to, "shout\n", 6), 6);
    close(to);
    char buf[16] = {};
    ssize_t n = ::read(from, buf, sizeof buf - 1);
    close(from);
    int status;
    waitpid(pid, &status, 0);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "SHOUT\n");
}

}  // namespace

// A saved directory left without free_cwd (a fatal error unwound past it)
// is still closed: one open directory per such error would run a
// long-lived caller out of descriptors.
TEST_F(FileOps, SavedDirectoryIsClosedWithoutFreeCwd) {
    auto open_count = [] {
        int n = 0;
        for (int fd = 0; fd < 1024; ++fd)
            n += fcntl(fd, F_GETFD) != -1;
        return n;
    };
    const int before = open_count();
    for (int i = 0; i < 20; ++i) {
        saved_cwd cwd;
        ASSERT_EQ(save_cwd(cwd), 0);
    }
    EXPECT_EQ(open_count(), before);
    saved_cwd kept;
    ASSERT_EQ(save_cwd(kept), 0);
    EXPECT_EQ(restore_cwd(kept, nullptr), 0);
    free_cwd(kept);
    EXPECT_EQ(open_count(), before);
}
