// Command table, attribute lookup and the help listings.
#include "src/cmd_table.h"

#include <cstring>
#include <string>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/usage.h"

const cmd cmds[] = {
    {"add", "ad", "new", add, "Add a new file/directory to the repository"},
    {"admin", "adm", "rcs", admin, "Administration front end for rcs"},
    {"annotate", "ann", nullptr, annotate, "Show last revision where each line was modified"},
    {"checkout", "co", "get", checkout, "Checkout sources for editing"},
    {"commit", "ci", "com", commit, "Check files into the repository"},
    {"diff", "di", "dif", diff, "Show differences between revisions"},
    {"edit", nullptr, nullptr, edit, "Get ready to edit a watched file"},
    {"editors", nullptr, nullptr, editors, "See who is editing a watched file"},
    {"export", "exp", "ex", checkout, "Export sources from JOL, similar to checkout"},
    {"history", "hi", "his", history, "Show repository access history"},
    {"import", "im", "imp", import, "Import sources into JOL, using vendor branches"},
    {"init", nullptr, nullptr, init, "Create a JOL repository if it doesn't exist"},
    {"log", "lo", "rlog", jollog, "Print out history information for files"},
    {"login", "logon", "lgn", login, "Prompt for password for authenticating server"},
    {"logout", nullptr, nullptr, logout, "Removes entry in .jolpass for remote repository"},
    {"pserver", nullptr, nullptr, server, "Password server mode"},
    {"rdiff", "patch", "pa", patch, "Create 'patch' format diffs between releases"},
    {"release", "re", "rel", release, "Indicate that a Module is no longer in use"},
    {"remove", "rm", "delete", jolremove, "Remove an entry from the repository"},
    {"rtag", "rt", "rfreeze", rtag, "Add a symbolic tag to a module"},
    {"server", nullptr, nullptr, server, "Server mode"},
    {"status", "st", "stat", jolstatus, "Display status information on checked out files"},
    {"tag", "ta", "freeze", joltag, "Add a symbolic tag to checked out version of files"},
    {"unedit", nullptr, nullptr, unedit, "Undo an edit command"},
    {"update", "up", "upd", update, "Bring work tree in sync with repository"},
    {"version", "ve", "ver", version, nullptr},
    {"watch", nullptr, nullptr, watch, "Set watches"},
    {"watchers", nullptr, nullptr, watchers, "See who is watching a file"},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

int lookup_command_attribute(const char *name) {
    static const char *const read_only[] = {"annotate", "checkout", "diff",     "rdiff",
                                            "update",   "editors",  "export",   "history",
                                            "log",      "noop",     "watchers", "release",
                                            "status",   nullptr};
    int bits = 0;
    if (std::strcmp(name, "import") != 0)
        bits |= CMD_READS_ROOT_FILE;
    bool writes = true;
    for (const char *const *p = read_only; *p; ++p)
        if (std::strcmp(name, *p) == 0)
            writes = false;
    if (writes)
        bits |= CMD_WRITES_REPOSITORY;
    return bits;
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
