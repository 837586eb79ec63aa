// The requests that set up the session rather than the temporary tree: the
// root, the responses the client takes, the requests the server offers,
// arguments, global options, user variables, compression and "noop".
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/protocol/compress_channel.h"
#include "src/protocol/protocol_tables.h"
#include "src/protocol/sys_io.h"
#include "src/repo/parseinfo.h"
#include "src/repo/variables.h"
#include "src/server/pending.h"
#include "src/server/requests.h"
#include "src/server/server.h"
#include "src/server/server_state.h"
#include "src/wc/ignore.h"

namespace {

// A level of "Gzip-stream" or "gzip-file-contents": one digit, 0 meaning 6.
std::optional<int> compression_level(const std::string &arg) {
    if (arg.size() != 1 || arg[0] < '0' || arg[0] > '9')
        return std::nullopt;
    int level = arg[0] - '0';
    return level == 0 ? 6 : level;
}

// The environment entry for child programs must outlive this call.
void export_root(const std::string &dir) {
    static std::string entry;
    entry = "JOLROOT=" + dir;
    putenv(entry.data());
}

}  // namespace

void serve_root(const std::string &arg) {
    if (error_pending())
        return;
    if (arg.empty() || arg[0] != '/') {
        set_pending("E Root " + arg + " must be an absolute pathname");
        return;
    }
    if (current_root) {
        set_pending("E Protocol error: Duplicate Root request, for " + arg);
        return;
    }
    // A peer that authenticated for one repository gets no other.
    if (Pserver_Repos && *Pserver_Repos != arg) {
        set_pending("E Protocol error: Root says \"" + arg + "\" but pserver says \"" +
                    *Pserver_Repos + "\"");
        return;
    }
    if (parse_jolroot(arg) != 0 || JOLroot_directory.empty()) {
        set_pending("E Bad root " + arg);
        return;
    }
    current_root = arg;
    parse_config(JOLroot_directory.c_str());
    std::string adm = JOLroot_directory + "/JOLROOT";
    if (access(adm.c_str(), R_OK | X_OK) != 0) {
        set_pending("E Cannot access " + adm, errno);
        return;
    }
    export_root(JOLroot_directory);
}

void serve_valid_responses(const std::string &arg) {
    if (const char *missing = mark_valid_responses(arg)) {
        buf_output0(*buf_to_net, "E response `");
        buf_output0(*buf_to_net, missing);
        buf_output0(*buf_to_net, "' not supported by client\nerror  \n");
        server_exit();
    }
}

void serve_valid_requests(const std::string &) {
    if (print_pending_error())
        return;
    std::string line = "Valid-requests";
    for (const request_name *rq = request_names; rq->name; ++rq) {
        line += ' ';
        line += rq->name;
    }
    line += "\nok\n";
    buf_output(*buf_to_net, line);
    buf_flush(*buf_to_net, false);
}

void serve_repository(const std::string &) {
    set_pending("E Repository request is obsolete; aborted");
}

void serve_enable_unchanged(const std::string &) {}
void serve_ignore(const std::string &) {}

void serve_case(const std::string &) { ign_case = 1; }

void serve_argument(const std::string &arg) {
    if (error_pending())
        return;
    if (!charge_request_memory(arg.size() + sizeof(std::string))) {
        set_pending_errno(ENOMEM);
        return;
    }
    argument_vector.push_back(arg);
}

void serve_argumentx(const std::string &arg) {
    if (error_pending())
        return;
    // Slot 0 is the fixed "jol server": a continuation with no argument to
    // continue is ignored.
    if (argument_vector.size() < 2)
        return;
    if (!charge_request_memory(arg.size() + 1)) {
        set_pending_errno(ENOMEM);
        return;
    }
    argument_vector.back() += '\n';
    argument_vector.back() += arg;
}

void serve_global_option(const std::string &arg) {
    if (arg == "-Q") {
        really_quiet = 1;
        quiet = 1;
    } else if (arg == "-l") {
        logoff = 1;
    } else if (arg == "-n") {
        noexec = 1;
        logoff = 1;
    } else if (arg == "-q") {
        quiet = 1;
    } else if (arg == "-r") {
        jolwrite = 0;
    } else if (arg == "-t") {
        trace = 1;
    } else {
        set_pending("E Protocol error: bad global option " + arg);
    }
}

void serve_set(const std::string &arg) {
    // Checked here: a bad name would otherwise end the whole server.
    size_t eq = arg.find('=');
    bool ok = eq != std::string::npos && eq > 0;
    for (size_t i = 0; ok && i < eq; ++i)
        ok = std::isalnum(static_cast<unsigned char>(arg[i])) || arg[i] == '_';
    if (!ok) {
        set_pending("E Protocol error: bad Set request " + arg);
        return;
    }
    if (!charge_request_memory(arg.size() + 64)) {
        set_pending_errno(ENOMEM);
        return;
    }
    variable_set(arg.c_str());
}

void serve_gzip_stream(const std::string &arg) {
    std::optional<int> level = compression_level(arg);
    if (!level) {
        set_pending("E Protocol error: bad Gzip-stream level " + arg);
        return;
    }
    if (gzip_stream_on) {
        set_pending("E Protocol error: Gzip-stream requested twice");
        return;
    }
    gzip_stream_on = true;
    // The answers so far go out plain; everything after this line is
    // compressed both ways.
    buf_flush(*buf_to_net, true);
    buffer_memory_error to_mem = buf_to_net->memory_error;
    buffer_memory_error from_mem = buf_from_net->memory_error;
    buf_to_net = compress_buffer_initialize(std::move(buf_to_net), false, *level, to_mem);
    buf_from_net = compress_buffer_initialize(std::move(buf_from_net), true, *level, from_mem);
}

void serve_gzip_contents(const std::string &arg) {
    std::optional<int> level = compression_level(arg);
    if (!level) {
        set_pending("E Protocol error: bad gzip-file-contents level " + arg);
        return;
    }
    file_gzip_level = *level;
}

void serve_noop(const std::string &) {
    server_write_entries();
    if (!print_pending_error()) {
        buf_output0(*buf_to_net, server_notify() ? "error  \n" : "ok\n");
    }
    buf_flush(*buf_to_net, false);
}
