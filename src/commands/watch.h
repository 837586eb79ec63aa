// Watches, edits and their notifications: the pieces other commands and
// the server share.
#pragma once

#include <string>

// One change of a user's watch actions on a file (null: the directory's
// defaults).
struct addremove_args {
    bool edit = false;
    bool unedit = false;
    bool commit = false;
    bool adding = false;
    bool add_tedit = false;
    bool add_tunedit = false;
    bool add_tcommit = false;
    bool remove_temp = false;
    bool setting_default = false;
};

// Applies `what` to the `_watchers` entry of `who` in the current
// directory's attribute database.
void watch_modify_watchers(const char *file, const char *who, const addremove_args &what);

// Whether a user name or file name may go into the attribute database
// (reports the refusal itself).
bool watch_user_ok(const std::string &who);
bool watch_file_ok(const std::string &file);

// The repository side of one notification of type 'E', 'U' or 'C' for
// `file` of `repository`, by `who`: updates the editors, runs the notify
// filters for the matching watchers and the temporary watches. The number
// of failures.
int notify_do(char type, const std::string &file, const std::string &who,
              const std::string &value, const std::string &watches, const char *repository);

// Makes a broken lock of the archive layer notify the watchers of the
// file's commits, as a commit by the user who broke it would.
void install_broken_lock_notices();

// Delivers the working copy's queued notifications (JOL/Notify) for the
// named files or directories; the number of failures.
int send_notifications(int argc, char **argv, int local);

// The server's entries for the watch requests.
int watch_on(int argc, char **argv);
int watch_off(int argc, char **argv);
int watch_add(int argc, char **argv);
int watch_remove(int argc, char **argv);
