// The command table, its lookup, and the usage listings.
#pragma once

#include "src/commands/commands.h"

// Command attributes: JOL/Root is consulted when no -d was given; the
// command changes the repository (refused to read-only users).
constexpr int CMD_READS_ROOT_FILE = 1;
constexpr int CMD_WRITES_REPOSITORY = 4;

struct cmd {
    const char *fullname;
    const char *nick1;
    const char *nick2;
    CommandHandler func;
    const char *help;  // null: not listed
    int attributes;    // CMD_* bits
};

extern const cmd cmds[];

int lookup_command_attribute(const char *name);
const cmd *lookup_command(const char *typed);

[[noreturn]] void cmd_usage_exit();
[[noreturn]] void cmd_synonyms_exit();
[[noreturn]] void opt_usage_exit();
[[noreturn]] void general_usage_exit();
