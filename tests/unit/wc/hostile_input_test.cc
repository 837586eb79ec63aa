// Text from users and from disk that is short, unterminated or full of
// shell syntax: entry time stamps, variable references in info files.
#include "tests/unit/wc/wc_test_util.h"

#include "src/entries.h"
#include "src/parseinfo.h"
#include "src/variables.h"

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

TEST(HostileInput, UnterminatedVariableReferenceFailsTheExpansion) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(expand_path("echo ${=NAME", "loginfo", 3));
    EXPECT_FALSE(expand_path("${", "loginfo", 0));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("loginfo:3: unrecognized variable syntax ${=NAME"), std::string::npos)
        << err;
    EXPECT_NE(err.find("loginfo: unrecognized variable syntax ${"), std::string::npos) << err;
}

TEST(HostileInput, UserVariablesAreQuotedForTheShellOnlyWhenAsked) {
    variable_set("Q=a';touch X;'b");
    EXPECT_EQ(expand_path("echo ${=Q}", "loginfo", 1, true).value_or("<none>"),
              "echo 'a'\\'';touch X;'\\''b'");
    EXPECT_EQ(expand_path("echo ${=Q}", "commitinfo", 1, false).value_or("<none>"),
              "echo a';touch X;'b");
    EXPECT_EQ(shell_word("plain"), "'plain'");
    EXPECT_EQ(shell_word(""), "''");
}
