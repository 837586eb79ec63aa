// What the requests that build the temporary tree share: the checks a
// request makes before it touches the current directory, the lines of data
// that follow a request, and the files it writes there (never through a
// symbolic link).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// The client's name of the current directory ("." for the top), as the
// last successful "Directory" gave it; none before.
extern std::optional<std::string> client_dir_name;

// `text` with control characters shown as "?", for names echoed in
// messages.
std::string shown(std::string_view text);

// False when an error is pending or no "Directory" came yet (then the
// pending error "'Directory' missing" is recorded): the request must not
// touch the tree.
bool directory_request_allowed();
// directory_request_allowed, and `name` must be one plain file name of the
// current directory (outside_dir); a bad name is recorded as pending.
bool file_request_allowed(const std::string &name);

// Reads the line of data that follows the request for `name`; `what`
// ("mode", "size", "notification") names it in the messages. False after
// recording the failure. A line over the request limit ends the
// connection: the stream is out of step.
bool read_request_data(const char *what, const std::string &name, std::string &line);

// Tells the client `text` (a line "E ...") and "error", then ends the
// server: used when the request stream can no longer be followed.
[[noreturn]] void end_connection(const std::string &text);

// open(2) that never follows a symbolic link in the last component and
// does not pass the descriptor to programs.
int open_tree_file(const char *path, int flags, mode_t mode);

// The three failure texts of writing a file, each followed by its name.
struct write_texts {
    const char *open = "E cannot open ";
    const char *write = "E cannot write to ";
    const char *close = "E cannot close ";
};
// Creates or replaces `path` (relative to the current directory) with
// `contents`; a failure is recorded as pending, naming the file `shown_as`.
bool write_tree_file(const char *path, std::string_view contents, const std::string &shown_as,
                     const write_texts &texts = {});

// Is-modified of `name`: marks its queued entry, or queues one that
// carries the pending keyword option.
void mark_is_modified(const std::string &name);
