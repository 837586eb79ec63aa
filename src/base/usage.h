// Command usage messages: the end of every -H request and option error.
#pragma once

// Prints lines[0] with program and command name, then the other lines, on
// the error stream; exits 1. `lines` ends with a null entry.
[[noreturn]] void usage(const char *const *lines);
