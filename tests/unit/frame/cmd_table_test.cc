// Command attributes come from the command's row; names outside the table
// (protocol requests) read the root file and count as writing, but noop.
#include <gtest/gtest.h>

#include "src/cmd_table.h"

TEST(CommandTable, AttributesFollowTheRowsAndTheDefaultForOtherNames) {
    EXPECT_EQ(lookup_command_attribute("import"), CMD_WRITES_REPOSITORY);
    EXPECT_EQ(lookup_command_attribute("log"), CMD_READS_ROOT_FILE);
    EXPECT_EQ(lookup_command_attribute("export"), CMD_READS_ROOT_FILE);
    EXPECT_EQ(lookup_command_attribute("commit"), CMD_READS_ROOT_FILE | CMD_WRITES_REPOSITORY);
    EXPECT_EQ(lookup_command_attribute("noop"), CMD_READS_ROOT_FILE);
    EXPECT_EQ(lookup_command_attribute("watch-on"), CMD_READS_ROOT_FILE | CMD_WRITES_REPOSITORY);
    // Exact names only: a synonym or a prefix is another name.
    EXPECT_EQ(lookup_command_attribute("lo"), CMD_READS_ROOT_FILE | CMD_WRITES_REPOSITORY);
    EXPECT_EQ(lookup_command_attribute("statu"), CMD_READS_ROOT_FILE | CMD_WRITES_REPOSITORY);
}

TEST(CommandTable, LookupAcceptsFullNamesAndSynonyms) {
    ASSERT_NE(lookup_command("rlog"), nullptr);
    EXPECT_STREQ(lookup_command("rlog")->fullname, "log");
    EXPECT_STREQ(lookup_command("pa")->fullname, "rdiff");
    EXPECT_EQ(lookup_command("nosuch"), nullptr);
}
