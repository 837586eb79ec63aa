// The second in which entries were last registered, and the wait for the
// clock to leave it. Time stamps in the entries have one-second resolution:
// a file changed again within the second its stamp was recorded in would
// look unchanged, so commands that register fresh stamps wait before they
// return.
#pragma once

#include <ctime>
#include <optional>
#include <string>

// The second a registered stamp `stamp` (the text of time_stamp) can share
// with a later change of the file: the current second, unless the stamp
// names an earlier one (a file whose time was set to its revision's date),
// in which case any later change already carries a different stamp.
time_t register_second(const std::optional<std::string> &stamp);

// Seconds since the epoch of a stamp in the time_stamp layout
// ("Mon Dec  7 13:09:41 2026", UTC); nullopt when it is not one.
std::optional<time_t> stamp_seconds(const std::string &stamp);

// Waits until the clock that file systems stamp files with has left
// second `when` (nothing when `when` is 0 or already past).
void wait_past_second(time_t when);
