// The archive and wire date texts, Make_Date and the -D option values.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "src/base/date_option.h"
#include "src/base/getdate.h"

namespace {

time_t utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    tm t{};
    t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d;
    t.tm_hour = h, t.tm_min = mi, t.tm_sec = s;
    return timegm(&t);
}

}  // namespace

TEST(DateFromTimeT, TwoDigitYearsOnlyInTheTwentiethCentury) {
    EXPECT_EQ(date_from_time_t(utc(1995, 1, 31, 12)), "95.01.31.12.00.00");
    EXPECT_EQ(date_from_time_t(0), "70.01.01.00.00.00");
    EXPECT_EQ(date_from_time_t(utc(1999, 12, 31, 23, 59, 59)), "99.12.31.23.59.59");
    EXPECT_EQ(date_from_time_t(utc(2000, 1, 1)), "2000.01.01.00.00.00");
    EXPECT_EQ(date_from_time_t(utc(2038, 12, 31, 1, 2, 3)), "2038.12.31.01.02.03");
    EXPECT_EQ(date_from_time_t(LLONG_MAX), "");
}

TEST(DateToInternet, WireForm) {
    EXPECT_EQ(date_to_internet("95.01.31.12.00.00"), "31 Jan 1995 12:00:00 -0000");
    EXPECT_EQ(date_to_internet("2001.12.05.01.02.03"), "5 Dec 2001 01:02:03 -0000");
    EXPECT_EQ(date_to_internet("2001.13.05.01.02.03"), "5 ??? 2001 01:02:03 -0000");
    char buf[DATE_INTERNET_SIZE];
    date_to_internet(buf, "-2147483648.0.-2147483648.-2147483648.-2147483648.-2147483648");
    EXPECT_STREQ(buf, "-2147483648 ??? -2147481748 -2147483648:-2147483648:-2147483648 -0000");
}

TEST(DateToInternet, ShortOrOverflowingSourceIsReported) {
    for (const char *bad : {"95.01.31", "", "95.01.31.12.00.x", "99999999999.1.1.1.1.1", "%s%d"}) {
        testing::internal::CaptureStderr();
        std::string out = date_to_internet(bad);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(out, "") << bad;
        EXPECT_NE(err.find(std::string("internal error: bad date ") + bad + "\n"),
                  std::string::npos)
            << err;
    }
}

class DatesInUtc : public testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

TEST_F(DatesInUtc, MakeDateGivesTheArchiveForm) {
    EXPECT_EQ(Make_Date("1992-06-17 14:00"), "92.06.17.14.00.00");
    EXPECT_EQ(Make_Date("1 Jan 2001 8:05:09 pm"), "2001.01.01.20.05.09");
    EXPECT_EQ(Make_Date("1970-01-02 1 day ago"), "70.01.01.00.00.00");
    EXPECT_EQ(Make_Date("2100-03-01 12:00"), "2100.03.01.12.00.00");
}

TEST_F(DatesInUtc, DateOptionKeepsArchiveDates) {
    EXPECT_EQ(date_option("2024.01.31.12.00.00"), "2024.01.31.12.00.00");
    EXPECT_EQ(date_option("95.1.31.12.0.0"), "95.1.31.12.0.0");
    EXPECT_EQ(date_option("2001-01-31 12:00"), "2001.01.31.12.00.00");
}

TEST_F(DatesInUtc, UnparseableDatesAreFatal) {
    EXPECT_EXIT(Make_Date("next blue moon"), testing::ExitedWithCode(1),
                "Can't parse date/time: next blue moon");
    EXPECT_EXIT(Make_Date("%s%n"), testing::ExitedWithCode(1), "Can't parse date/time: %s%n");
    for (const char *bad : {"2024.01.31", "2024.01.31.12.00.00.00", "2024.01.31.12.00.",
                            "20240.01.31.12.00.00"})
        EXPECT_EXIT(date_option(bad), testing::ExitedWithCode(1), "Can't parse date/time: ")
            << bad;
}
