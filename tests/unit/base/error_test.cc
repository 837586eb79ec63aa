// The error reporter: its formatter, prefixes, errno and the fatal path.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/sighandle.h"

namespace {

std::string fmt(const char *message) { return error_format(message, {}); }

template <class... A>
std::string captured_error(int status, int errnum, const char *message, const A &...args) {
    testing::internal::CaptureStderr();
    error(status, errnum, message, args...);
    return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(ErrorFormat, Directives) {
    ErrArg args[] = {ErrArg("str"), ErrArg(-42), ErrArg(255u), ErrArg('c')};
    EXPECT_EQ(error_format("%s|%d|%x|%c|100%%", args), "str|-42|ff|c|100%");
}

TEST(ErrorFormat, BadDirectivesCutTheMessage) {
    EXPECT_EQ(fmt("width %5d after"), "width \ninternal error: bad % in error()\n");
    EXPECT_EQ(fmt("long %ld"), "long \ninternal error: bad % in error()\n");
    EXPECT_EQ(fmt("trailing %"), "trailing \ninternal error: bad % in error()\n");
}

TEST(ErrorFormat, MissingArgumentsPrintNothing) {
    // A message with more directives than arguments must not read memory
    // it was not given.
    ErrArg one[] = {ErrArg("x")};
    EXPECT_EQ(error_format("%s and %s", one), "x and ");
}

TEST(Error, PrefixesFollowTheCommandAndStatus) {
    program_name = "jol";
    command_name.clear();
    EXPECT_EQ(captured_error(0, 0, "early %s", "message"), "jol: early message\n");
    command_name = "update";
    EXPECT_EQ(captured_error(0, ENOENT, "cannot open %s", "f"),
              "jol update: cannot open f: No such file or directory\n");
    EXPECT_EQ(captured_error(0, 0, ""), "");
    command_name.clear();
}

TEST(Error, ErrnoIsPreservedByNonFatalCalls) {
    errno = EACCES;
    captured_error(0, 0, "warning");
    EXPECT_EQ(errno, EACCES);
}

TEST(ErrorDeathTest, FatalRunsHooksAndExitsOne) {
    EXPECT_EXIT(
        {
            program_name = "jol";
            command_name = "update";
            register_cleanup(CleanupStage::repository_locks, [] { fputs("locks-cleaned\n", stderr); });
            register_cleanup(CleanupStage::archive_locks, [] { fputs("archive-cleaned\n", stderr); });
            error(1, 0, "broken %s", "thing");
        },
        testing::ExitedWithCode(1),
        "jol \\[update aborted\\]: broken thing\narchive-cleaned\nlocks-cleaned\n");
}

TEST(ErrorDeathTest, FatalWithEmptyMessagePrintsNothing) {
    EXPECT_EXIT(error(1, 0, ""), testing::ExitedWithCode(1), "^$");
}

TEST(ErrorDeathTest, FatalErrorInsideAHookDoesNotLoop) {
    EXPECT_EXIT(
        {
            register_cleanup(CleanupStage::server, [] { error(1, 0, "hook failed"); });
            error(1, 0, "first");
        },
        testing::ExitedWithCode(1), "first\n.*hook failed\n");
}

// A fatal signal runs the cleanup hooks, prints the fatal line and exits 1.
TEST(Signals, TerminationSignalRunsCleanupAndExitsOne) {
    char evidence[] = "/tmp/jol-signal-test-XXXXXX";
    int fd = mkstemp(evidence);
    ASSERT_GE(fd, 0);
    close(fd);
    unlink(evidence);
    static std::string evidence_path;
    evidence_path = evidence;

    int errpipe[2];
    ASSERT_EQ(pipe(errpipe), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(errpipe[1], 2);
        program_name = "jol";
        command_name = "update";
        SIG_register(SIGTERM, main_cleanup);
        register_cleanup(CleanupStage::repository_locks, [] {
            int f = open(evidence_path.c_str(), O_CREAT | O_WRONLY, 0600);
            close(f);
        });
        kill(getpid(), SIGTERM);
        _exit(99);  // not reached
    }
    close(errpipe[1]);
    std::string err;
    char buf[256];
    ssize_t n;
    while ((n = read(errpipe[0], buf, sizeof buf)) > 0)
        err.append(buf, n);
    close(errpipe[0]);
    int wstatus;
    waitpid(pid, &wstatus, 0);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 1);
    EXPECT_EQ(err, "jol [update aborted]: received termination signal\n");
    EXPECT_EQ(access(evidence, F_OK), 0) << "cleanup hook did not run";
    unlink(evidence);
}

TEST(Signals, RegistrationIsIdempotentAndDeregistrationRestores) {
    struct sigaction before {};
    sigaction(SIGUSR1, nullptr, &before);
    auto handler = [](int) {};
    EXPECT_EQ(SIG_register(SIGUSR1, handler), 0);
    EXPECT_EQ(SIG_register(SIGUSR1, handler), 0);
    EXPECT_EQ(SIG_deregister(SIGUSR1, handler), 0);
    struct sigaction after {};
    sigaction(SIGUSR1, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(Signals, NestedCriticalSectionsHoldSignalsUntilTheOuterEnd) {
    auto blocked = [] {
        sigset_t cur;
        sigprocmask(SIG_BLOCK, nullptr, &cur);
        return sigismember(&cur, SIGTERM) == 1;
    };
    ASSERT_FALSE(blocked());
    SIG_beginCrSect();
    SIG_beginCrSect();
    SIG_endCrSect();
    EXPECT_TRUE(blocked());
    EXPECT_TRUE(SIG_inCrSect());
    SIG_endCrSect();
    EXPECT_FALSE(blocked());
    EXPECT_FALSE(SIG_inCrSect());
}
