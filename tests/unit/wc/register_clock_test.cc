// The registration clock: parsing recorded stamps back to seconds, which
// second a registration must wait out, and the wait itself.
#include "src/wc/register_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/time.h>
#include <unistd.h>

#include "src/wc/vers_ts.h"

namespace {

TEST(RegisterClock, StampsReadBackToTheFileTime) {
    char name[] = "/tmp/jol-clock-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    // Single-digit days (blank-padded), leap days, the far future.
    for (time_t t : {time_t(1000000000), time_t(951782400) /* 2000-02-29 */,
                     time_t(1796601600) /* 2026-12-07 */, time_t(4102444799) /* 2099-12-31 */,
                     time_t(86400 * 3 + 3723)}) {
        struct timeval tv[2] = {{t, 0}, {t, 0}};
        ASSERT_EQ(utimes(name, tv), 0);
        std::optional<std::string> stamp = time_stamp(name);
        ASSERT_TRUE(stamp);
        EXPECT_EQ(stamp_seconds(*stamp), std::optional<time_t>(t)) << *stamp;
    }
    unlink(name);
}

TEST(RegisterClock, OnlyTrueStampsParse) {
    for (const char *bad : {"", "Initial foo.c", "Result of merge", "dummy timestamp",
                            "Mon Dec  7 13:09:41 2026 ", "Mon Dxx  7 13:09:41 2026",
                            "Mon Dec  7 13:0x:41 2026", "Mon Dec 7  13:09:41 2026",
                            "Mon Dec  7 13-09-41 2026"})
        EXPECT_FALSE(stamp_seconds(bad)) << bad;
    EXPECT_TRUE(stamp_seconds("Mon Dec  7 13:09:41 2026"));
    EXPECT_TRUE(stamp_seconds("Mon Dec 17 13:09:41 2026"));
}

TEST(RegisterClock, OnlyAStampFromAnEarlierSecondEndsTheWait) {
    time_t now = time(nullptr);
    // A file whose time was set to its revision's (older) date.
    EXPECT_EQ(register_second(std::string("Sun Sep  9 01:46:40 2001")), time_t(1000000000));
    // A file written now, a stamp that is no time stamp, no stamp at all.
    EXPECT_GE(register_second(std::string("Initial a.c")), now);
    EXPECT_GE(register_second(std::nullopt), now);
    // A stamp in the future (a skewed clock) is waited for no longer than
    // the registration's own second.
    time_t r = register_second(std::string("Fri Dec 31 23:59:59 2099"));
    EXPECT_GE(r, now);
    EXPECT_LE(r, time(nullptr));
}

TEST(RegisterClock, WaitLeavesTheSecondAndNoMore) {
    auto start = std::chrono::steady_clock::now();
    wait_past_second(0);
    wait_past_second(time(nullptr) - 5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    time_t now = time(nullptr);
    wait_past_second(now);
    struct timespec coarse;
    clock_gettime(CLOCK_REALTIME_COARSE, &coarse);
    EXPECT_GT(coarse.tv_sec, now);
    EXPECT_GT(time(nullptr), now);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));
}

}  // namespace
