// The reversible scrambling of stored and transmitted passwords. It keeps
// a password from being read at a glance in the password file or in a
// traffic log; it is no protection against anyone who wants to read it.
// Format: doc/formats.md#password-file
#pragma once

#include <string>
#include <string_view>

// "A" (the method) followed by every byte of `text` substituted through
// the table.
std::string scramble(std::string_view text);
// The inverse of scramble; a text without the method marker "A" is fatal
// ("descramble: unknown scrambling method").
std::string descramble(std::string_view text);
// The substitution of one byte (the table is its own inverse).
unsigned char scramble_byte(unsigned char c);
