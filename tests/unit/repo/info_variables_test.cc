// Variable references in info files: unterminated ones, and user variables
// full of shell syntax.
#include <gtest/gtest.h>

#include "src/repo/parseinfo.h"
#include "src/repo/variables.h"

TEST(InfoVariables, UnterminatedVariableReferenceFailsTheExpansion) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(expand_path("echo ${=NAME", "loginfo", 3));
    EXPECT_FALSE(expand_path("${", "loginfo", 0));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("loginfo:3: unrecognized variable syntax ${=NAME"), std::string::npos)
        << err;
    EXPECT_NE(err.find("loginfo: unrecognized variable syntax ${"), std::string::npos) << err;
}

TEST(InfoVariables, UserVariablesAreQuotedForTheShellOnlyWhenAsked) {
    variable_set("Q=a';touch X;'b");
    EXPECT_EQ(expand_path("echo ${=Q}", "loginfo", 1, true).value_or("<none>"),
              "echo 'a'\\'';touch X;'\\''b'");
    EXPECT_EQ(expand_path("echo ${=Q}", "commitinfo", 1, false).value_or("<none>"),
              "echo a';touch X;'b");
    EXPECT_EQ(shell_word("plain"), "'plain'");
    EXPECT_EQ(shell_word(""), "''");
}
