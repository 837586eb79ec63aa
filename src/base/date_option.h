// The value of a -D option in the archive date format.
#pragma once

#include <string>

// Fatal "Can't parse date/time: %s" when the text is not a date.
std::string date_option(const char *text);
