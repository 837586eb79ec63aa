// Sizes from a peer: digits only, and never past the largest file offset.
#include <gtest/gtest.h>

#include "src/protocol/protocol_size.h"

TEST(ProtocolSize, AcceptsPlainDecimalNumbers) {
    EXPECT_EQ(parse_protocol_size("0"), 0);
    EXPECT_EQ(parse_protocol_size("00042"), 42);
    EXPECT_EQ(parse_protocol_size("9223372036854775807"), INT64_MAX);
}

TEST(ProtocolSize, RefusesEverythingElse) {
    for (const char *bad : {"", "-1", "+1", " 1", "1 ", "12a", "0x10", "1e3", "9223372036854775808",
                            "99999999999999999999999", "1\n"})
        EXPECT_FALSE(parse_protocol_size(bad).has_value()) << '"' << bad << '"';
    EXPECT_FALSE(parse_protocol_size(std::string_view("1\0", 2)).has_value());
}
