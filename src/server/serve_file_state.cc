// The requests that tell the state of files in the current directory of the
// temporary tree without sending them: Entry, Kopt, Unchanged, Is-modified
// and Questionable; and the writing of the queued entries.
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <strings.h>
#include <vector>

#include "src/protocol/buffer.h"
#include "src/protocol/sys_io.h"
#include "src/server/path_checks.h"
#include "src/server/pending.h"
#include "src/server/requests.h"
#include "src/server/server_state.h"
#include "src/server/tree_requests.h"
#include "src/wc/ignore.h"

namespace {

constexpr size_t kopt_most = 10;
// "M ?" lines wait for the client's next read; past a backlog of
// questionable_push bytes they are pushed out as far as the client takes
// them without waiting, and a client that reads nothing is not queued
// more than questionable_backlog_most.
constexpr size_t questionable_push = size_t{64} << 10;
constexpr size_t questionable_backlog_most = size_t{16} << 20;

size_t entry_cost(const std::string &line) { return line.size() + sizeof(std::string); }

// The fields of an entries line "/name/version/timestamp/options/tagdate":
// exactly five, or none.
std::optional<std::vector<std::string_view>> entry_fields(std::string_view line) {
    if (line.empty() || line[0] != '/')
        return std::nullopt;
    line.remove_prefix(1);
    std::vector<std::string_view> fields;
    for (;;) {
        size_t slash = line.find('/');
        fields.push_back(line.substr(0, slash));
        if (slash == std::string_view::npos)
            break;
        line.remove_prefix(slash + 1);
    }
    if (fields.size() != 5)
        return std::nullopt;
    return fields;
}

// Whether the queued (so well-formed) line is the entry of `name`.
bool entry_of(const std::string &line, const std::string &name) {
    if (line.size() < name.size() + 2 || line[name.size() + 1] != '/')
        return false;
    if (ign_case)
        return strncasecmp(line.data() + 1, name.data(), name.size()) == 0;
    return line.compare(1, name.size(), name) == 0;
}

// The newest queued entry of `name`, or null.
std::string *queued_entry(const std::string &name) {
    for (auto it = queued_entries.rbegin(); it != queued_entries.rend(); ++it)
        if (entry_of(*it, name))
            return &*it;
    return nullptr;
}

// Where the time-stamp field of a queued (so well-formed) line starts.
size_t timestamp_offset(const std::string &line) {
    size_t name_end = line.find('/', 1);
    return line.find('/', name_end + 1) + 1;
}

bool queue_entry(std::string line) {
    if (!charge_request_memory(entry_cost(line))) {
        set_pending_errno(ENOMEM);
        return false;
    }
    queued_entries.push_back(std::move(line));
    return true;
}

// Writes a "M ?" line after what is queued for the client, without waiting
// for the client to read.
void queue_questionable(const std::string &line) {
    if (buf_length(*buf_to_net) >= questionable_push) {
        set_nonblock(*buf_to_net);
        buf_send_output(*buf_to_net);
        set_block(*buf_to_net);
    }
    if (buf_length(*buf_to_net) >= questionable_backlog_most) {
        set_pending_errno(ENOMEM);
        return;
    }
    buf_output(*buf_to_net, line);
}

}  // namespace

// Format: doc/protocol.md#tree-requests
void serve_entry(const std::string &arg) {
    if (!directory_request_allowed())
        return;
    auto fields = entry_fields(arg);
    if (!fields || arg.find('\0') != std::string::npos ||
        !outside_dir(std::string((*fields)[0])).empty()) {
        set_pending("E protocol error: invalid Entry request: " + shown(arg));
        return;
    }
    queue_entry(arg);
}

void serve_kopt(const std::string &arg) {
    if (error_pending())
        return;
    if (kopt) {
        set_pending("E protocol error: duplicate Kopt request: " + shown(arg));
        return;
    }
    // "-k" and the letters of a keyword mode: nothing else reaches the
    // entries line.
    bool letters = arg.size() > 2 && arg.compare(0, 2, "-k") == 0 &&
                   arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ",
                                         2) == std::string::npos;
    if (arg.size() > kopt_most || !letters) {
        set_pending("E protocol error: invalid Kopt request: " + shown(arg));
        return;
    }
    kopt = arg;
}

void serve_unchanged(const std::string &arg) {
    if (!file_request_allowed(arg))
        return;
    if (std::string *line = queued_entry(arg)) {
        size_t ts = timestamp_offset(*line);
        if ((*line)[ts] != '=')
            line->insert(ts, 1, '=');
    }
}

void mark_is_modified(const std::string &name) {
    if (std::string *line = queued_entry(name)) {
        size_t ts = timestamp_offset(*line);
        if (line->compare(ts, 2, "M/") != 0)
            line->insert(ts, 1, 'M');
        if (kopt) {
            set_pending("E protocol error: both Kopt and Entry for " + name);
            kopt.reset();
        }
        return;
    }
    queue_entry("/" + name + "//D/" + kopt.value_or("") + "/");
    kopt.reset();
}

void serve_is_modified(const std::string &arg) {
    if (file_request_allowed(arg))
        mark_is_modified(arg);
}

void serve_questionable(const std::string &arg) {
    static bool ignore_ready = false;
    if (!ignore_ready) {
        ign_setup();
        ignore_ready = true;
    }
    if (!dir_name) {
        queue_questionable("E Protocol error: 'Directory' missing\n");
        return;
    }
    std::string refusal = outside_dir(arg);
    if (!refusal.empty()) {
        set_pending(refusal);
        return;
    }
    if (ign_name(arg.c_str()))
        return;
    if (!client_dir_name || *client_dir_name == ".")
        queue_questionable("M ? " + arg + "\n");
    else
        queue_questionable("M ? " + *client_dir_name + "/" + arg + "\n");
}

void server_write_entries() {
    if (queued_entries.empty())
        return;
    // The client sends its entries as a stack: the newest comes first.
    std::string text;
    size_t cost = 0;
    for (auto it = queued_entries.rbegin(); it != queued_entries.rend(); ++it) {
        text += *it;
        text += '\n';
        cost += entry_cost(*it);
    }
    queued_entries.clear();
    release_request_memory(cost);
    unique_fd fd(open_tree_file("JOL/Entries", O_WRONLY | O_APPEND | O_CREAT, 0666));
    if (!fd) {
        set_pending("E cannot open JOL/Entries", errno);
        return;
    }
    size_t wrote;
    if (int err = sys_write(fd.get(), false, true, text.data(), text.size(), wrote)) {
        set_pending("E cannot write to JOL/Entries", err);
        return;
    }
    if (int err = fd.reset())
        set_pending("E cannot close JOL/Entries", err);
}
