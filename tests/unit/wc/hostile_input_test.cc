// Text from disk that is short or unterminated: entry time stamps.
#include "tests/unit/wc/wc_test_util.h"

#include "src/wc/entries.h"

TEST(HostileInput, ShortTwoStampFieldIsNotReadPastItsEnd) {
    ScratchDir s;
    write_text("f.c", "x\n");
    // Longer than 30 but too short to hold a second stamp at offset 25:
    // treated as a mismatch ("*" and the tail), never compared.
    const std::string field = "Sun Dec  6 14:05:00 2026 Sun Dec";
    auto e = parse_entries_line("/f.c/1.1/" + field + "//\n", false, nullptr, nullptr);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->timestamp, "*" + field.substr(25));
    // A file that is not there keeps the field as it is.
    e = parse_entries_line("/gone.c/1.1/" + field + "//\n", false, nullptr, nullptr);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->timestamp, field);
}
