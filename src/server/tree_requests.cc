// The checks, data lines and file writing shared by the requests that build
// the temporary tree.
#include "src/server/tree_requests.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "src/protocol/buffer.h"
#include "src/protocol/sys_io.h"
#include "src/server/path_checks.h"
#include "src/server/pending.h"
#include "src/server/server.h"
#include "src/server/server_state.h"

std::optional<std::string> client_dir_name;

std::string shown(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

bool directory_request_allowed() {
    if (error_pending())
        return false;
    if (!dir_name) {
        set_pending("E Protocol error: 'Directory' missing");
        return false;
    }
    return true;
}

bool file_request_allowed(const std::string &name) {
    if (!directory_request_allowed())
        return false;
    std::string refusal = outside_dir(name);
    if (!refusal.empty()) {
        set_pending(refusal);
        return false;
    }
    return true;
}

bool read_request_data(const char *what, const std::string &name, std::string &line) {
    int status = buf_read_line(*buf_from_net, line, request_line_max);
    if (status == 0)
        return true;
    if (status == buf_line_too_long)
        end_connection(std::string("E Protocol error: ") + what + " line too long for " +
                       shown(name));
    if (status == buf_eof)
        set_pending(std::string("E end of file reading ") + what + " for " + shown(name));
    else if (status == buf_nomem)
        set_pending_errno(ENOMEM);
    else
        set_pending(std::string("E error reading ") + what + " for " + shown(name), status);
    return false;
}

void end_connection(const std::string &text) {
    buf_output(*buf_to_net, text);
    buf_output0(*buf_to_net, "\nerror  \n");
    server_exit();
}

int open_tree_file(const char *path, int flags, mode_t mode) {
    return open(path, flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

bool write_tree_file(const char *path, std::string_view contents, const std::string &shown_as,
                     const write_texts &texts) {
    // Read back by code that stops at a NUL, the rest would be unseen.
    if (contents.find('\0') != std::string_view::npos) {
        set_pending("E protocol error: NUL byte in the contents of " + shown(shown_as));
        return false;
    }
    unique_fd fd(open_tree_file(path, O_WRONLY | O_CREAT | O_TRUNC, 0666));
    if (!fd) {
        set_pending(texts.open + shown(shown_as), errno);
        return false;
    }
    size_t wrote;
    if (int err = sys_write(fd.get(), false, true, contents.data(), contents.size(), wrote)) {
        set_pending(texts.write + shown(shown_as), err);
        return false;
    }
    if (int err = fd.reset()) {
        set_pending(texts.close + shown(shown_as), err);
        return false;
    }
    return true;
}
