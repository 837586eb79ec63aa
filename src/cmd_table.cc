// Command table, attribute lookup and the help listings.
#include "src/cmd_table.h"

#include <cstring>
#include <string>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/usage.h"

namespace {
constexpr int kReads = CMD_READS_ROOT_FILE;
constexpr int kWrites = CMD_WRITES_REPOSITORY;
}  // namespace

const cmd cmds[] = {
    {"add", "ad", "new", add, "Add a new file/directory to the repository", kReads | kWrites},
    {"admin", "adm", "rcs", admin, "Administration front end for rcs", kReads | kWrites},
    {"annotate", "ann", nullptr, annotate, "Show last revision where each line was modified",
     kReads},
    {"checkout", "co", "get", checkout, "Checkout sources for editing", kReads},
    {"commit", "ci", "com", commit, "Check files into the repository", kReads | kWrites},
    {"diff", "di", "dif", diff, "Show differences between revisions", kReads},
    {"edit", nullptr, nullptr, edit, "Get ready to edit a watched file", kReads | kWrites},
    {"editors", nullptr, nullptr, editors, "See who is editing a watched file", kReads},
    {"export", "exp", "ex", checkout, "Export sources from JOL, similar to checkout", kReads},
    {"history", "hi", "his", history, "Show repository access history", kReads},
    {"import", "im", "imp", import, "Import sources into JOL, using vendor branches", kWrites},
    {"init", nullptr, nullptr, init, "Create a JOL repository if it doesn't exist",
     kReads | kWrites},
    {"log", "lo", "rlog", jollog, "Print out history information for files", kReads},
    {"login", "logon", "lgn", login, "Prompt for password for authenticating server",
     kReads | kWrites},
    {"logout", nullptr, nullptr, logout, "Removes entry in .jolpass for remote repository",
     kReads | kWrites},
    {"pserver", nullptr, nullptr, server, "Password server mode", kReads | kWrites},
    {"rdiff", "patch", "pa", patch, "Create 'patch' format diffs between releases", kReads},
    {"release", "re", "rel", release, "Indicate that a Module is no longer in use", kReads},
    {"remove", "rm", "delete", jolremove, "Remove an entry from the repository", kReads | kWrites},
    {"rtag", "rt", "rfreeze", rtag, "Add a symbolic tag to a module", kReads | kWrites},
    {"server", nullptr, nullptr, server, "Server mode", kReads | kWrites},
    {"status", "st", "stat", jolstatus, "Display status information on checked out files", kReads},
    {"tag", "ta", "freeze", joltag, "Add a symbolic tag to checked out version of files",
     kReads | kWrites},
    {"unedit", nullptr, nullptr, unedit, "Undo an edit command", kReads | kWrites},
    {"update", "up", "upd", update, "Bring work tree in sync with repository", kReads},
    {"version", "ve", "ver", version, nullptr, kReads | kWrites},
    {"watch", nullptr, nullptr, watch, "Set watches", kReads | kWrites},
    {"watchers", nullptr, nullptr, watchers, "See who is watching a file", kReads},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0},
};

int lookup_command_attribute(const char *name) {
    for (const cmd *cm = cmds; cm->fullname; ++cm)
        if (std::strcmp(name, cm->fullname) == 0)
            return cm->attributes;
    // Names outside the table (protocol requests) read the root file and
    // count as writing, except the request that does nothing.
    if (std::strcmp(name, "noop") == 0)
        return CMD_READS_ROOT_FILE;
    return CMD_READS_ROOT_FILE | CMD_WRITES_REPOSITORY;
}

const cmd *lookup_command(const char *typed) {
    for (const cmd *cm = cmds; cm->fullname; ++cm) {
        if ((cm->nick1 && std::strcmp(typed, cm->nick1) == 0) ||
            (cm->nick2 && std::strcmp(typed, cm->nick2) == 0) ||
            std::strcmp(typed, cm->fullname) == 0)
            return cm;
    }
    return nullptr;
}

namespace {

const char *const usg[] = {
    "Usage: %s [jol-options] command [command-options-and-arguments]\n",
    "  where jol-options are -q, -n, etc.\n",
    "    (specify --help-options for a list of options)\n",
    "  where command is add, admin, etc.\n",
    "    (specify --help-commands for a list of commands\n",
    "     or --help-synonyms for a list of command synonyms)\n",
    "  where command-options-and-arguments depend on the specific command\n",
    "    (specify -H followed by a command name for command-specific help)\n",
    "  Specify --help to receive this message\n",
    "\n",
    "  JOL keeps the history of a tree of files in a central repository\n",
    "  and lets many people work on it in their own working copies.\n",
    "  Its manual page (man jol) describes every command and option;\n",
    "  the README of the source tree shows a first session.\n",
    nullptr,
};

const char *const opt_usage[] = {
    "JOL global options (specified before the command name) are:\n",
    "    -H           Displays usage information for command.\n",
    "    -Q           Cause JOL to be really quiet.\n",
    "    -q           Cause JOL to be somewhat quiet.\n",
    "    -r           Make checked-out files read-only.\n",
    "    -w           Make checked-out files read-write (default).\n",
    "    -l           Turn history logging off.\n",
    "    -n           Do not execute anything that will change the disk.\n",
    "    -t           Show trace of program execution -- try with -n.\n",
    "    -v           JOL version and copyright.\n",
    "    -T tmpdir    Use 'tmpdir' for temporary files.\n",
    "    -e editor    Use 'editor' for editing log information.\n",
    "    -d JOL_root  Overrides $JOLROOT as the root of the JOL tree.\n",
    "    -f           Do not use the ~/.jolrc file.\n",
    "    -z #         Use compression level '#' for net traffic.\n",
    "    -a           Authenticate all net traffic.\n",
    "    -s VAR=VAL   Set JOL user variable.\n",
    "    -jolgui i o  Set the handles for communication with the GUI front-end\n",
    "                 (given by the front-end itself, not at the command line).\n",
    "(Specify the --help option for a list of other help options)\n",
    nullptr,
};

// Listings are built as text; every "%" in it is doubled so that usage()
// prints it as it stands.
std::string escape_percent(const std::string &s) {
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '%')
            out += '%';
    }
    return out;
}

[[noreturn]] void usage_text(const std::string &text) {
    std::string escaped = escape_percent(text);
    const char *lines[] = {escaped.c_str(), nullptr};
    usage(lines);
}

}  // namespace

void general_usage_exit() { usage(usg); }
void opt_usage_exit() { usage(opt_usage); }

void cmd_usage_exit() {
    std::string text = "JOL commands are:\n";
    for (const cmd *cm = cmds; cm->fullname; ++cm) {
        if (!cm->help)
            continue;
        char line[256];
        std::snprintf(line, sizeof line, "        %-13s%s\n", cm->fullname, cm->help);
        text += line;
    }
    text += "(Specify the --help option for a list of other help options)\n";
    usage_text(text);
}

void cmd_synonyms_exit() {
    std::string text = "JOL command synonyms are:\n";
    for (const cmd *cm = cmds; cm->fullname; ++cm) {
        if (!cm->nick1 && !cm->nick2)
            continue;
        char line[256];
        std::snprintf(line, sizeof line, "        %-12s %s %s\n", cm->fullname,
                      cm->nick1 ? cm->nick1 : "", cm->nick2 ? cm->nick2 : "");
        text += line;
    }
    text += "(Specify the --help option for a list of other help options)\n";
    usage_text(text);
}
