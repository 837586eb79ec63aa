// The value of one hexadecimal digit, for the readers of checksums and of
// the history journal's times.
#pragma once

// 0-15 for a digit of either case, -1 for anything else.
constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
