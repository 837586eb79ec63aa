// Free-form date parsing against a fixed reference time, in UTC and in a
// zone with summer time. Expected values come from timegm and mktime.
#include <gtest/gtest.h>

#include <random>

#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>

#include "src/base/getdate.h"

namespace {

time_t utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    tm t{};
    t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d;
    t.tm_hour = h, t.tm_min = mi, t.tm_sec = s;
    return timegm(&t);
}

// Wall-clock time in the current TZ (never inside a summer-time gap here).
time_t wall(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    tm t{};
    t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d;
    t.tm_hour = h, t.tm_min = mi, t.tm_sec = s, t.tm_isdst = -1;
    return mktime(&t);
}

// Each fixture sets TZ for itself, so no test depends on the one before.
class ZoneTest : public testing::Test {
  protected:
    void use_zone(const char *tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    time_t at(const char *text) { return get_date(text, &now_); }

    timeb_like now_{};
};

// Reference: Wednesday 2024-03-13 15:30:20 UTC.
class UtcDates : public ZoneTest {
  protected:
    void SetUp() override {
        use_zone("UTC");
        now_ = {ref, 0};
    }
    const time_t ref = utc(2024, 3, 13, 15, 30, 20);
    const time_t midnight = utc(2024, 3, 13);
};

TEST_F(UtcDates, ReferenceWordsAndEmptyText) {
    EXPECT_EQ(at("now"), ref);
    EXPECT_EQ(at("today"), ref);
    EXPECT_EQ(at("This"), ref);
    EXPECT_EQ(at(""), midnight);
    EXPECT_EQ(at("  (only a comment) "), midnight);
}

TEST_F(UtcDates, RelativeSeconds) {
    EXPECT_EQ(at("yesterday"), ref - 86400);
    EXPECT_EQ(at("2 weeks ago"), ref - 2 * 10080 * 60);
    EXPECT_EQ(at("1 day 2 hours ago"), ref - 86400 - 7200);  // ago negates all so far
    EXPECT_EQ(at("3 fortnights"), ref + 3 * 20160 * 60);
    EXPECT_EQ(at("-90 secs"), ref - 90);
    EXPECT_EQ(at("+5 min 1 second"), ref + 301);
    EXPECT_EQ(at("next week"), ref + 2 * 604800);  // "next" counts 2
    EXPECT_EQ(at("2147483647 seconds"), ref + 2147483647LL);
}

TEST_F(UtcDates, RelativeMonths) {
    EXPECT_EQ(at("1 month ago"), utc(2024, 2, 13, 15, 30, 20));
    EXPECT_EQ(at("last month"), utc(2024, 2, 13, 15, 30, 20));
    EXPECT_EQ(at("1 year 10 months"), utc(2026, 1, 13, 15, 30, 20));
    // The month step keeps the day; a month without it is no answer.
    now_.time = utc(2024, 3, 31, 8);
    EXPECT_EQ(at("1 month ago"), -1);
    EXPECT_EQ(at("1 month"), -1);
    EXPECT_EQ(at("2 months"), utc(2024, 5, 31, 8));
    // Before 1970 after the step; years past 2038 are fine.
    EXPECT_EQ(at("60 years ago"), -1);
    EXPECT_EQ(at("15 years"), utc(2039, 3, 31, 8));
}

TEST_F(UtcDates, Weekdays) {
    EXPECT_EQ(at("tuesday"), utc(2024, 3, 19));
    EXPECT_EQ(at("wednesday"), midnight);  // today is the coming one
    EXPECT_EQ(at("next tuesday"), utc(2024, 3, 26));
    EXPECT_EQ(at("last tuesday"), utc(2024, 3, 12));
    EXPECT_EQ(at("third friday"), utc(2024, 3, 29));
    EXPECT_EQ(at("Thu."), utc(2024, 3, 14));
    EXPECT_EQ(at("THURS"), utc(2024, 3, 14));
    EXPECT_EQ(at("sat, 10:15"), utc(2024, 3, 16, 10, 15));
    EXPECT_EQ(at("this sunday"), utc(2024, 3, 17));
    EXPECT_EQ(at("1992-06-17 sunday"), utc(1992, 6, 17));  // a date wins
}

TEST_F(UtcDates, OneDayManyForms) {
    const time_t day = utc(1992, 6, 17);
    for (const char *text : {"1992-06-17", "17-jun-1992", "6/17/92", "1992/06/17", "19920617",
                             "June 17, 1992", "17 June 1992", "JUN 17, 1992 (x)",
                             "wed, jun 17, 1992", "17 Jun 92"})
        EXPECT_EQ(at(text), day) << text;
    EXPECT_EQ(at("sept 17, 1992"), utc(1992, 9, 17));
    EXPECT_EQ(at("sep. 17, 1992"), utc(1992, 9, 17));
    // Without the comma the year is read as the time 19:92.
    EXPECT_EQ(at("jun 17 1992"), -1);
    EXPECT_EQ(at("jun 17"), utc(2024, 6, 17));  // the year of the reference
}

TEST_F(UtcDates, TimesAndZones) {
    EXPECT_EQ(at("14:00 -0500"), utc(2024, 3, 13, 19));
    EXPECT_EQ(at("2:00 pm est"), utc(2024, 3, 13, 19));
    EXPECT_EQ(at("14:00:05 +0130"), utc(2024, 3, 13, 12, 30, 5));
    EXPECT_EQ(at("12:30 am"), utc(2024, 3, 13, 0, 30));
    EXPECT_EQ(at("12:30 p.m."), utc(2024, 3, 13, 12, 30));
    EXPECT_EQ(at("1430"), utc(2024, 3, 13, 14, 30));
    EXPECT_EQ(at("9"), utc(2024, 3, 13, 9));
    EXPECT_EQ(at("Jun 17, 1992 14:00 EST"), utc(1992, 6, 17, 19));
    EXPECT_EQ(at("June 17 14:00 1992"), utc(1992, 6, 17, 14));  // a trailing number is the year
    EXPECT_EQ(at("14:00 edt"), utc(2024, 3, 13, 18));
    EXPECT_EQ(at("14:00 est dst"), utc(2024, 3, 13, 18));
    EXPECT_EQ(at("14:00 e.s.t."), utc(2024, 3, 13, 19));
    EXPECT_EQ(at("14:00 z"), utc(2024, 3, 13, 14));
    EXPECT_EQ(at("14:00 a"), utc(2024, 3, 13, 15));
    EXPECT_EQ(at("14:00 jst"), utc(2024, 3, 13, 5));
}

TEST_F(UtcDates, YearRangeAndCalendar) {
    EXPECT_EQ(at("29 feb 1996"), utc(1996, 2, 29));
    EXPECT_EQ(at("29 feb 2000"), utc(2000, 2, 29));
    EXPECT_EQ(at("1/1/70"), 0);
    EXPECT_EQ(at("1/1/38"), utc(2038, 1, 1));
    EXPECT_EQ(at("12/31/2038 23:59:59"), utc(2038, 12, 31, 23, 59, 59));
    EXPECT_EQ(at("2039-01-01"), utc(2039, 1, 1));
    // 2100 is not a leap year, 2400 is: the day count must know both.
    EXPECT_EQ(at("2100-03-01"), utc(2100, 3, 1));
    EXPECT_EQ(at("2400-02-29 12:00"), utc(2400, 2, 29, 12));
    for (const char *text : {"31 feb 1996", "29 feb 1997", "1969-12-31", "6/17/69", "2100-02-29",
                             "13/1/2000", "0/1/2000", "2000-01-00", "25:00", "24:00", "12:60",
                             "10:00:60", "13 pm", "0 am", "10000", "1999-06-31"})
        EXPECT_EQ(at(text), -1) << text;
    // Stepping back past the epoch leaves the accepted range.
    EXPECT_EQ(at("1970-01-01 -1 second"), -1);
    EXPECT_EQ(at("1970-01-01 yesterday"), -1);
    EXPECT_EQ(at("1970-01-02 1 day ago"), 0);
}

TEST_F(UtcDates, MalformedTextFailsAsAWhole) {
    for (const char *text : {"tuesday blah", "j", "1992-06-17;", "tuesday wednesday",
                             "14:00 15:00", "est pst", "1992-06-17 1993-01-01", "2 -3 days",
                             "17 june 14:00", "10:", "6/", "june", "ago", "am", "dst", ",",
                             "99999999999 days", "2147483648 seconds", "10:00 2147483648"})
        EXPECT_EQ(at(text), -1) << text;
    EXPECT_EQ(at(std::string(5000, 'x').c_str()), -1);
    // Totals that overflow 64 bits are refused, not wrapped.
    std::string huge;
    for (int i = 0; i < 5000; ++i)
        huge += "2147483647 fortnights ";
    EXPECT_EQ(at(huge.c_str()), -1);
}

TEST_F(UtcDates, CommentsAreIgnoredAnywhere) {
    EXPECT_EQ(at("1992-06-17 (a (nested) comment) 14:00"), utc(1992, 6, 17, 14));
    EXPECT_EQ(at("tomorrow (never closed 1992"), ref + 86400);
    EXPECT_EQ(at("(x)yesterday"), ref - 86400);
}

TEST_F(UtcDates, CurrentTimeWhenNowIsNull) {
    time_t before = time(nullptr);
    time_t got = get_date("now", nullptr);
    EXPECT_GE(got, before);
    EXPECT_LE(got, time(nullptr));
    EXPECT_EQ(get_date("1992-06-17 14:00", nullptr), utc(1992, 6, 17, 14));
}

// Europe/Berlin: CET (UTC+1), summer time CEST (UTC+2) from 2024-03-31 02:00.
class SummerTimeDates : public ZoneTest {
  protected:
    void SetUp() override {
        use_zone(access("/usr/share/zoneinfo/Europe/Berlin", R_OK) == 0
                     ? "Europe/Berlin"
                     : "CET-1CEST,M3.5.0,M10.5.0/3");
        now_ = {wall(2024, 3, 30, 12), -60};  // Saturday, the day before the change
    }
};

TEST_F(SummerTimeDates, AbsoluteDatesFollowTheLocalRules) {
    EXPECT_EQ(at("2024-07-01 12:00"), utc(2024, 7, 1, 10));
    EXPECT_EQ(at("2024-01-15 12:00"), utc(2024, 1, 15, 11));
    EXPECT_EQ(at("2024-07-01 12:00 cet"), utc(2024, 7, 1, 11));  // a zone says DST off
    EXPECT_EQ(at("2024-01-15 12:00 mest"), utc(2024, 1, 15, 10));
    EXPECT_EQ(at(""), wall(2024, 3, 30));
}

TEST_F(SummerTimeDates, DaysAndMonthsKeepTheWallClock) {
    EXPECT_EQ(at("sunday"), wall(2024, 3, 31));
    EXPECT_EQ(at("monday"), wall(2024, 4, 1));
    EXPECT_EQ(at("next monday"), wall(2024, 4, 8));
    EXPECT_EQ(at("1 month"), wall(2024, 4, 30, 12));
    now_.time = wall(2024, 4, 15, 9, 45);
    EXPECT_EQ(at("1 month ago"), wall(2024, 3, 15, 9, 45));
    EXPECT_EQ(at("last saturday"), wall(2024, 4, 13));
    // Plain seconds do not: a day later is 86400 seconds later.
    now_.time = wall(2024, 3, 30, 12);
    EXPECT_EQ(at("tomorrow"), wall(2024, 3, 30, 12) + 86400);
}

TEST_F(SummerTimeDates, PlatformZoneWhenNowIsNull) {
    // The zone taken from the platform is the standard one whichever
    // season it is now.
    EXPECT_EQ(get_date("2024-07-01 12:00", nullptr), utc(2024, 7, 1, 10));
    EXPECT_EQ(get_date("2024-12-01 12:00", nullptr), utc(2024, 12, 1, 11));
}

}  // namespace

// Random text built from the scanner's own pieces (and raw bytes) must come
// back as a time or as -1; under the sanitizers this also shows that no
// input reads or writes out of bounds.
TEST_F(UtcDates, RandomTextNeverMisbehaves) {
    const char *pieces[] = {"1992", "-", "06", "/", ":", " ", "ago", "next", "last", "am", "pm",
                            "est", "dst", "+0100", "(", ")", "june", "tuesday", "week", ",",
                            "12", "99999999999", ".", "z", "\t", "yesterday", "third"};
    std::mt19937 rng(42);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        int n = static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i) {
            if (rng() % 8 == 0)
                text += static_cast<char>(1 + rng() % 255);
            else
                text += pieces[rng() % std::size(pieces)];
        }
        time_t t = at(text.c_str());
        EXPECT_GE(t, -1) << text;
    }
}
