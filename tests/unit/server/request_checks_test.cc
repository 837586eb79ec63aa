// The server's checks of what a client names and claims: repository lines,
// file names and command arguments judged by their text; a root or an
// init that differs from the repository the client authenticated for; and
// the memory a client can make the server hold.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/protocol/fd_channel.h"
#include "src/server/path_checks.h"
#include "src/server/pending.h"
#include "src/server/requests.h"
#include "src/server/server_state.h"

namespace {

TEST(OutsideRoot, TheRootAndPlainPathsBelowItOnly) {
    JOLroot_directory = "/r/repo";
    EXPECT_EQ(outside_root("/r/repo"), "");
    EXPECT_EQ(outside_root("/r/repo/a/b.c"), "");
    EXPECT_EQ(outside_root("r/repo/a"), "E protocol error: r/repo/a is not absolute");
    EXPECT_EQ(outside_root(""), "E protocol error:  is not absolute");
    for (const char *bad : {"/r/repo/../x", "/r/repo/a/../../x", "/r/repo/./a", "/r/repo//a",
                            "/r/repo/", "/r/repo/a/.", "/r/repox", "/r", "/etc"})
        EXPECT_EQ(outside_root(bad), std::string("E protocol error: directory '") + bad +
                                         "' not within root '/r/repo'")
            << bad;
    EXPECT_NE(outside_root(std::string("/r/repo/a\0b", 11)), "");
    JOLroot_directory = "/";
    EXPECT_EQ(outside_root("/any/where"), "");
    EXPECT_NE(outside_root("/any/../where"), "");
}

TEST(OutsideDir, OnePlainNameOfTheCurrentDirectory) {
    EXPECT_EQ(outside_dir("file.c"), "");
    EXPECT_EQ(outside_dir(".hidden"), "");
    EXPECT_EQ(outside_dir("a/b"), "E protocol error: directory 'a/b' not within current directory");
    for (const char *bad : {"", ".", "..", "JOL"})
        EXPECT_EQ(outside_dir(bad),
                  std::string("E protocol error: invalid file name `") + bad + "'");
    EXPECT_EQ(outside_dir(std::string("a\0b", 3)),
              "E protocol error: file name `a?b' contains a NUL byte");
    EXPECT_EQ(outside_dir("jol"), "");
}

using PathnameCheckDeathTest = ::testing::Test;

TEST_F(PathnameCheckDeathTest, EveryComponentCounts) {
    max_dotdot_limit = 0;
    server_pathname_check_impl("a/b/../c");
    server_pathname_check_impl("./a");
    EXPECT_EXIT(server_pathname_check_impl("a/../../x"), ::testing::ExitedWithCode(1),
                "protocol error: `a/../../x' contains more leading ..");
    EXPECT_EXIT(server_pathname_check_impl("../x"), ::testing::ExitedWithCode(1),
                "than the 0 which Max-dotdot specified");
    EXPECT_EXIT(server_pathname_check_impl("/etc/passwd"), ::testing::ExitedWithCode(1),
                "absolute pathname `/etc/passwd' illegal for server");
    EXPECT_EXIT(server_pathname_check_impl("a\nb"), ::testing::ExitedWithCode(1),
                "file name `a\\?b' contains a newline");
    max_dotdot_limit = 2;
    server_pathname_check_impl("../../x");
    EXPECT_EXIT(server_pathname_check_impl("../a/../../../x"), ::testing::ExitedWithCode(1),
                "than the 2 which Max-dotdot specified");
    max_dotdot_limit = 0;
}

// Requests dispatched as the server's loop would, with the answers read
// back from a pipe.
class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        answers_.reset(fds[0]);
        buf_to_net = fd_buffer_initialize(unique_fd(fds[1]), false, nullptr);
        current_root.reset();
        Pserver_Repos.reset();
        dir_name.reset();
        pending_error = 0;
        pending_error_text.clear();
    }
    void TearDown() override {
        buf_to_net.reset();
        current_root.reset();
        Pserver_Repos.reset();
        dir_name.reset();
        request_memory_used = 0;
    }
    std::string answers() {
        buf_flush(*buf_to_net, true);
        std::string s;
        char tmp[4096];
        ssize_t n;
        while ((n = read(answers_.get(), tmp, sizeof tmp)) > 0)
            s.append(tmp, static_cast<size_t>(n));
        return s;
    }
    unique_fd answers_;
};

TEST_F(Session, RootOtherThanTheAuthenticatedOneIsNotSet) {
    Pserver_Repos = "/srv/repo";
    dispatch_request("Root /srv/other");
    EXPECT_FALSE(current_root);
    dispatch_request("noop");
    // Every later request that needs a root meets the missing root.
    dispatch_request("Directory .");
    dispatch_request("noop");
    EXPECT_EQ(answers(),
              "E Protocol error: Root says \"/srv/other\" but pserver says \"/srv/repo\"\n"
              "error  \n"
              "E Protocol error: Root request missing\n"
              "error  \n");
}

TEST_F(Session, InitOfAnotherRepositoryThanTheAuthenticatedOne) {
    Pserver_Repos = "/srv/repo";
    dispatch_request("init /srv/other");
    EXPECT_FALSE(current_root);
    EXPECT_EQ(answers(),
              "E Protocol error: init says \"/srv/other\" but pserver says \"/srv/repo\"\n"
              "error  \n");
}

TEST_F(Session, HeldRequestDataIsBounded) {
    current_root = "/srv/repo";
    dir_name = "/nonexistent";
    request_memory_used = request_memory_limit - 16;
    dispatch_request("Entry /a/1.1///");
    EXPECT_TRUE(queued_entries.empty());
    dispatch_request("Argument " + std::string(64, 'x'));
    EXPECT_EQ(argument_vector.size(), 1u);
    dispatch_request("noop");
    EXPECT_EQ(answers(), "error  " + std::string(strerror(ENOMEM)) + "\n");
}

}  // namespace
