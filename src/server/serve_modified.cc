// "Modified", which receives a file's contents into the current directory
// of the temporary tree, and "Checkin-time", the time that file gets. The
// contents are streamed to the file as they arrive, compressed or not, so
// a file costs no memory whatever its size.
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "src/base/getdate.h"
#include "src/protocol/buffer.h"
#include "src/protocol/gzip_file.h"
#include "src/protocol/protocol_size.h"
#include "src/protocol/sys_io.h"
#include "src/server/pending.h"
#include "src/server/requests.h"
#include "src/server/server_state.h"
#include "src/server/tree_requests.h"

namespace {

// A failure while receiving: a protocol text ("E ...", may be empty) and
// a system error number (may be 0).
struct receive_failure {
    std::string text;
    int errnum = 0;
};

// The permissions of a mode line such as "u=rw,g=r,o=r": groups of "u",
// "g", "o" or "a", "=", and the letters "r", "w", "x". None for anything
// else.
std::optional<mode_t> parse_mode(std::string_view text) {
    mode_t mode = 0;
    for (;;) {
        size_t comma = text.find(',');
        std::string_view group = text.substr(0, comma);
        size_t eq = group.find('=');
        if (eq == 0 || eq == std::string_view::npos)
            return std::nullopt;
        mode_t who = 0, what = 0;
        for (char c : group.substr(0, eq)) {
            switch (c) {
            case 'u': who |= S_IRWXU; break;
            case 'g': who |= S_IRWXG; break;
            case 'o': who |= S_IRWXO; break;
            case 'a': who |= S_IRWXU | S_IRWXG | S_IRWXO; break;
            default: return std::nullopt;
            }
        }
        for (char c : group.substr(eq + 1)) {
            switch (c) {
            case 'r': what |= S_IRUSR | S_IRGRP | S_IROTH; break;
            case 'w': what |= S_IWUSR | S_IWGRP | S_IWOTH; break;
            case 'x': what |= S_IXUSR | S_IXGRP | S_IXOTH; break;
            default: return std::nullopt;
            }
        }
        mode |= who & what;
        if (comma == std::string_view::npos)
            return mode;
        text.remove_prefix(comma + 1);
    }
}

// Reads `size` bytes from the client in the pieces the buffer holds,
// handing each to `take`. The first failure to read, if any.
template <class Take> std::optional<receive_failure> read_pieces(off_t size, Take take) {
    while (size > 0) {
        const char *data;
        size_t got = 0;
        size_t want = static_cast<size_t>(std::min<off_t>(size, BUFFER_DATA_SIZE));
        int status = buf_read_data(*buf_from_net, want, data, got);
        if (status == buf_eof)
            return receive_failure{"E premature end of file from client"};
        if (status == buf_nomem)
            return receive_failure{"", ENOMEM};
        if (status != 0 || got == 0)
            return receive_failure{"E error reading from client", status ? status : EAGAIN};
        take(data, got);
        size -= static_cast<off_t>(got);
    }
    return std::nullopt;
}

// Reads and drops the data of a request that is not carried out.
void discard_data(off_t size) {
    if (auto failure = read_pieces(size, [](const char *, size_t) {}))
        set_pending(failure->text, failure->errnum);
}

// Plain contents, written as they come; after a failed write the rest is
// still read.
std::optional<receive_failure> receive_plain(int fd, off_t size) {
    std::optional<receive_failure> failed;
    auto read_failed = read_pieces(size, [&](const char *data, size_t len) {
        size_t wrote;
        if (failed)
            return;
        if (int err = sys_write(fd, false, true, data, len, wrote))
            failed = receive_failure{"E unable to write", err};
    });
    return failed ? failed : read_failed;
}

// gzip data, expanded into the file as it comes.
std::optional<receive_failure> receive_gzipped(int fd, const std::string &name, off_t size) {
    gunzip_stream stream(fd, name);
    auto read_failed =
        read_pieces(size, [&](const char *data, size_t len) { stream.feed(data, len); });
    if (read_failed)
        return read_failed;
    if (stream.finish() != 0)
        return receive_failure{"E aborting due to compression error"};
    return std::nullopt;
}

// The file's times and permissions once its contents are in.
bool finish_file(int fd, const std::string &name, mode_t mode) {
    if (checkin_time) {
        struct timespec times[2] = {{*checkin_time, 0}, {*checkin_time, 0}};
        checkin_time.reset();
        if (futimens(fd, times) != 0) {
            set_pending("E cannot utime " + shown(name), errno);
            return false;
        }
    }
    if (fchmod(fd, mode) != 0) {
        set_pending("E cannot change mode for " + shown(name), errno);
        return false;
    }
    return true;
}

void receive_file(const std::string &name, off_t size, bool gzipped, mode_t mode) {
    unique_fd fd(open_tree_file(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    if (!fd) {
        set_pending("E cannot open " + shown(name), errno);
        discard_data(size);
        return;
    }
    auto failure = gzipped ? receive_gzipped(fd.get(), name, size) : receive_plain(fd.get(), size);
    if (failure) {
        if (failure->text.empty())
            set_pending_errno(failure->errnum);
        else
            set_pending(failure->text + ", file " + shown(name), failure->errnum);
        return;
    }
    if (!finish_file(fd.get(), name, mode))
        return;
    if (int err = fd.reset()) {
        set_pending("E cannot close " + shown(name), err);
        return;
    }
    if (kopt)
        mark_is_modified(name);
}

}  // namespace

// Format: doc/protocol.md#tree-requests
void serve_modified(const std::string &arg) {
    std::string mode_line, size_line;
    if (!read_request_data("mode", arg, mode_line) || !read_request_data("size", arg, size_line))
        return;
    bool gzipped = !size_line.empty() && size_line[0] == 'z';
    std::optional<off_t> size =
        parse_protocol_size(std::string_view(size_line).substr(gzipped ? 1 : 0));
    // Without a size the data cannot be told from the next request.
    if (!size)
        end_connection("E Protocol error: invalid size `" + shown(size_line) + "' for " +
                       shown(arg));
    if (!file_request_allowed(arg)) {
        discard_data(*size);
        return;
    }
    std::optional<mode_t> mode = parse_mode(mode_line);
    if (!mode) {
        set_pending("E protocol error: invalid mode " + shown(mode_line) + " for " + shown(arg));
        discard_data(*size);
        return;
    }
    receive_file(arg, *size, gzipped, *mode);
}

void serve_checkin_time(const std::string &arg) {
    if (error_pending())
        return;
    if (checkin_time) {
        set_pending("E protocol error: duplicate Checkin-time request: " + shown(arg));
        return;
    }
    time_t t = arg.find('\0') == std::string::npos ? get_date(arg.c_str(), nullptr) : -1;
    if (t == -1) {
        set_pending("E cannot parse date " + shown(arg));
        return;
    }
    checkin_time = t;
}
