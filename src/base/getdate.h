// Dates: free-form date text to seconds since the epoch (get_date), and the
// two date texts of the system: the dotted archive form (year, month, day,
// hour, minute, second in UTC) and the form sent over the wire.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// The reference point of get_date: a time and the zone it is read in, in
// minutes west of UTC without summer time (Berlin is -60 all year round).
struct timeb_like {
    time_t time;
    int timezone;
};

// Seconds since 1970-01-01 00:00 UTC for texts such as "yesterday",
// "2 weeks ago", "next tuesday", "Jun 17, 1992 14:00 EST", "1992-06-17".
// Relative items count from `now`; null means the current time in the local
// zone. -1 when the text cannot be parsed or names an impossible date; a
// result of exactly -1 is given as 0. The local zone is read from TZ afresh
// on every call.
time_t get_date(const char *text, const timeb_like *now);

// The archive form of free-form date text; fatal "Can't parse date/time: %s"
// when get_date rejects it.
std::string Make_Date(const char *text);

// The archive form of `t` ("95.01.31.12.00.00", "2001.01.31.12.00.00"):
// a two-digit year for 1900-1999, the full year otherwise. Empty when the
// time cannot be broken down at all.
std::string date_from_time_t(time_t t);

// Room that date_to_internet needs in `dest`, terminating NUL included.
constexpr std::size_t DATE_INTERNET_SIZE = 80;

// The wire form ("31 Jan 1995 12:00:00 -0000") of an archive date. A source
// with fewer than six numbers draws "internal error: bad date %s" (not fatal)
// and leaves `dest` empty. `dest` holds DATE_INTERNET_SIZE bytes.
void date_to_internet(char *dest, const char *source);
std::string date_to_internet(const char *source);
