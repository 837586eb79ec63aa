// The password file: which line belongs to a root, and the edits of login
// and logout (lines keep their order, the file stays 0600, nothing changes
// when nothing has to).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "src/client/jolpass.h"

namespace {

class PassFile : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/jolpass-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        file_ = dir_ + "/.jolpass";
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

    void write(const std::string &text, mode_t mode = 0644) {
        std::ofstream(file_) << text;
        chmod(file_.c_str(), mode);
    }
    std::string read() const {
        std::ifstream in(file_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    mode_t mode() const {
        struct stat sb {};
        stat(file_.c_str(), &sb);
        return sb.st_mode & 07777;
    }
    ino_t inode() const {
        struct stat sb {};
        stat(file_.c_str(), &sb);
        return sb.st_ino;
    }
    int entries() const {
        int n = 0;
        std::string cmd = "ls -A " + dir_ + " | wc -l";
        FILE *p = popen(cmd.c_str(), "r");
        if (p) {
            if (std::fscanf(p, "%d", &n) != 1)
                n = -1;
            pclose(p);
        }
        return n;
    }

    std::string dir_, file_;
};

const std::string r = ":pserver:u@h:/srv/r";
const std::string r2 = ":pserver:u@h:/srv/r2";

TEST(PassFileLine, TheRootFollowedByABlank) {
    EXPECT_TRUE(jolpass_line_of(r + " Ax", r));
    EXPECT_FALSE(jolpass_line_of(r2 + " Ax", r));
    EXPECT_FALSE(jolpass_line_of(r, r));
    EXPECT_FALSE(jolpass_line_of(r + "\tAx", r));
    EXPECT_TRUE(jolpass_line_of(r2 + " Ax", r2));
}

TEST_F(PassFile, ANewFileIsCreated0600) {
    mode_t old = umask(0);
    jolpass_store(file_, r, "Anew");
    umask(old);
    EXPECT_EQ(read(), r + " Anew\n");
    EXPECT_EQ(mode(), 0600u);
    EXPECT_EQ(entries(), 1) << "no temporary file is left";
}

TEST_F(PassFile, ANewPasswordReplacesTheLineInPlace) {
    write(r2 + " Atwo\n" + r + " Aold\nlast Az");
    jolpass_store(file_, r, "Anew");
    EXPECT_EQ(read(), r2 + " Atwo\n" + r + " Anew\nlast Az");
    EXPECT_EQ(mode(), 0600u);
    EXPECT_EQ(entries(), 1);
}

TEST_F(PassFile, TheSamePasswordLeavesTheFile) {
    write(r + " Asame\n" + r2 + " Atwo\n");
    ino_t before = inode();
    jolpass_store(file_, r, "Asame");
    EXPECT_EQ(read(), r + " Asame\n" + r2 + " Atwo\n");
    EXPECT_EQ(inode(), before);
    EXPECT_EQ(mode(), 0600u) << "the mode is set whenever the file is found";
}

TEST_F(PassFile, AnotherRootsLineDoesNotCount) {
    write(r2 + " Atwo\nlast Az");
    jolpass_store(file_, r, "Anew");
    EXPECT_EQ(read(), r2 + " Atwo\nlast Az\n" + r + " Anew\n");
}

TEST_F(PassFile, LogoutDropsOnlyTheRootsLines) {
    write(r2 + " Atwo\n" + r + " Aone\nmid Am\n" + r + " Aagain\n");
    EXPECT_TRUE(jolpass_remove(file_, r));
    EXPECT_EQ(read(), r2 + " Atwo\nmid Am\n");
    EXPECT_EQ(mode(), 0600u);
    ino_t before = inode();
    EXPECT_FALSE(jolpass_remove(file_, r));
    EXPECT_EQ(read(), r2 + " Atwo\nmid Am\n");
    EXPECT_EQ(inode(), before);
    EXPECT_EQ(entries(), 1);
}

TEST_F(PassFile, LogoutWithoutAFileIsFatal) {
    EXPECT_EXIT(jolpass_remove(file_, r), testing::ExitedWithCode(1), "Error opening");
}

}  // namespace
