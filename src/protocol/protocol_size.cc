// Strict on purpose: a lenient parse (strtol and friends) would accept a
// sign, blanks or an overflowing number from a hostile peer.
#include "protocol_size.h"

#include <limits>

std::optional<off_t> parse_protocol_size(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    constexpr off_t max = std::numeric_limits<off_t>::max();
    off_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        int digit = c - '0';
        if (value > (max - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}
