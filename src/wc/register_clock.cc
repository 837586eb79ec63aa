#include "src/wc/register_clock.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

// File systems take modification times from the coarse real-time clock,
// which may lag the precise one by a tick; waiting on the precise clock
// could return while a write still gets the old second.
time_t coarse_now(long *nsec = nullptr) {
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME_COARSE, &ts) != 0 &&
        clock_gettime(CLOCK_REALTIME, &ts) != 0)
        return time(nullptr);
    if (nsec)
        *nsec = ts.tv_nsec;
    return ts.tv_sec;
}

int month_index(const char *m) {
    static const char names[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    for (int i = 0; i < 12; ++i)
        if (std::memcmp(names + 3 * i, m, 3) == 0)
            return i;
    return -1;
}

bool digits(const std::string &s, size_t at, size_t n, int *out) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        char c = s[i];
        if (c == ' ' && i == at && n == 2)
            continue;
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
}

}  // namespace

std::optional<time_t> stamp_seconds(const std::string &s) {
    // "Www Mmm dd hh:mm:ss yyyy"
    if (s.size() != 24 || s[3] != ' ' || s[7] != ' ' || s[10] != ' ' || s[13] != ':' ||
        s[16] != ':' || s[19] != ' ')
        return std::nullopt;
    struct tm tm {};
    int mon = month_index(s.c_str() + 4);
    if (mon < 0 || !digits(s, 8, 2, &tm.tm_mday) || !digits(s, 11, 2, &tm.tm_hour) ||
        !digits(s, 14, 2, &tm.tm_min) || !digits(s, 17, 2, &tm.tm_sec) ||
        !digits(s, 20, 4, &tm.tm_year))
        return std::nullopt;
    tm.tm_mon = mon;
    tm.tm_year -= 1900;
    time_t t = timegm(&tm);
    if (t == static_cast<time_t>(-1))
        return std::nullopt;
    return t;
}

time_t register_second(const std::optional<std::string> &stamp) {
    time_t now = time(nullptr);
    if (stamp) {
        std::optional<time_t> t = stamp_seconds(*stamp);
        if (t && *t < now && *t < coarse_now())
            return *t;
    }
    return now;
}

void wait_past_second(time_t when) {
    if (when == 0)
        return;
    for (;;) {
        long nsec = 0;
        time_t now = coarse_now(&nsec);
        // Done once past it; a clock stepped back by more than the lag of
        // the coarse clock is not waited for either.
        if (now > when || when - now > 1)
            return;
        // Sleep to just past the next second boundary, then look again.
        long left = 1000000000L - nsec + 2000000L;
        struct timespec ts = {left / 1000000000L, left % 1000000000L};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
}
