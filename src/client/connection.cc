// The client's connection: the forked and remote-shell methods, the opening
// handshake, sending and receiving protocol text, and the closing sequence.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/subprocess.h"
#include "src/client/auth_connect.h"
#include "src/client/client.h"
#include "src/client/client_state.h"
#include "src/client/string_to_argv.h"
#include "src/protocol/compress_channel.h"
#include "src/protocol/fd_channel.h"
#include "src/protocol/file_modes.h"
#include "src/protocol/log_channel.h"
#include "src/protocol/protocol_tables.h"
#include "src/repo/variables.h"
#include "src/wc/register_clock.h"

namespace {

// The longest response line the client takes; file data is counted and
// read separately.
constexpr size_t response_line_max = 1 << 20;

size_t nbytes = 0;  // queued since the last forced send

std::vector<int> &request_flags() {
    static std::vector<int> flags = [] {
        std::vector<int> f;
        for (const request_name *rq = request_names; rq->name; ++rq)
            f.push_back(rq->flags);
        return f;
    }();
    return flags;
}

std::string env_or(const char *name, const char *fallback) {
    auto v = jolguiglue_getenv(name);
    return v ? *v : std::string(fallback);
}

[[noreturn]] void client_memory_error(buffer &) {
    error(1, 0, "out of memory");
    __builtin_unreachable();
}

void connect_to_forked_server(int &tofd, int &fromfd) {
    std::vector<std::string> cmd{env_or("JOL_SERVER", "jol"), "server"};
    if (trace) {
        std::string line = " -> Forking server: ";
        for (const std::string &w : cmd)
            line += w + " ";
        jol_outerr(line + "\n");
    }
    rsh_pid = piped_child(cmd, &tofd, &fromfd);
    if (rsh_pid < 0)
        error(1, errno, "could not fork server process");
}

void start_rsh_server(int &tofd, int &fromfd) {
    std::vector<std::string> cmd{env_or("JOL_RSH", "rsh"), JOLroot_hostname};
    if (auto id = jolguiglue_getenv("JOL_RSA_IDENTITY"); id && !id->empty()) {
        cmd.push_back("-i");
        cmd.push_back(*id);
    }
    if (auto opts = jolguiglue_getenv("JOL_RSA_OPTIONS"); opts && !opts->empty())
        for (std::string &w : string_to_argv(*opts))
            cmd.push_back(std::move(w));
    if (!JOLroot_username.empty()) {
        cmd.push_back("-l");
        cmd.push_back(JOLroot_username);
    }
    cmd.push_back(env_or("JOL_SERVER", "jol") + " server");
    if (trace) {
        std::string line = " -> Starting server: ";
        for (const std::string &w : cmd)
            line += w + " ";
        jol_outerr(line + "\n");
    }
    rsh_pid = piped_child(cmd, &tofd, &fromfd);
    if (rsh_pid < 0)
        error(1, errno, "cannot start server via rsh");
}

void open_connection() {
    int tofd = -1, fromfd = -1;
    switch (JOLroot_method) {
    case server_method:
        error(1, 0, "the :server: access method is not supported by this port of JOL");
        break;
    case pserver_method:
    case gserver_method:
        fromfd = connect_to_pserver(false, JOLroot_method == gserver_method);
        tofd = dup(fromfd);
        if (tofd < 0)
            error(1, errno, "cannot dup net connection");
        break;
    case ext_method: start_rsh_server(tofd, fromfd); break;
    case fork_method: connect_to_forked_server(tofd, fromfd); break;
    default: error(1, 0, "(start_server internal error): unknown access method");
    }
    server_started = true;
    fcntl(tofd, F_SETFD, FD_CLOEXEC);
    fcntl(fromfd, F_SETFD, FD_CLOEXEC);
    to_server = fd_buffer_initialize(unique_fd(tofd), false, client_memory_error);
    from_server = fd_buffer_initialize(unique_fd(fromfd), true, client_memory_error);
}

// The server's "Valid-requests" answer marks what it offers; sends the
// requests it wants enabled.
void ask_valid_requests() {
    send_to_server("valid-requests\n");
    if (get_server_responses() != 0)
        error_exit();
}

void send_global_options() {
    const std::pair<int, const char *> opts[] = {{noexec, "-n"},    {quiet, "-q"},
                                                 {really_quiet, "-Q"}, {!jolwrite, "-r"},
                                                 {trace, "-t"},     {logoff, "-l"}};
    for (auto [on, opt] : opts) {
        if (!on)
            continue;
        if (!supported_request("Global_option"))
            error(1, 0, "This server does not support the global %s option.", opt);
        send_to_server(std::string("Global_option ") + opt + "\n");
    }
}

void start_compression() {
    if (gzip_level == 0)
        return;
    if (supported_request("Gzip-stream")) {
        send_to_server("Gzip-stream " + std::to_string(gzip_level) + "\n");
        // What is queued goes out plain, as the request line itself.
        buf_flush(*to_server, true);
        buffer_memory_error mem = to_server->memory_error;
        to_server = compress_buffer_initialize(std::move(to_server), false, gzip_level, mem);
        from_server = compress_buffer_initialize(std::move(from_server), true, gzip_level, mem);
    } else if (supported_request("gzip-file-contents")) {
        send_to_server("gzip-file-contents " + std::to_string(gzip_level) + "\n");
        file_gzip_level = gzip_level;
    } else {
        jol_outerr("server doesn't support gzip-file-contents\n");
        gzip_level = 0;
    }
}

void handshake() {
    const bool init = command_name == "init";
    if (!init)
        send_to_server("Root " + JOLroot_directory + "\n");
    std::string line = "Valid-responses";
    for (const response_name *r = response_names; r->name; ++r) {
        line += ' ';
        line += r->name;
    }
    send_to_server(line + "\n");
    ask_valid_requests();
    send_global_options();
    if ((command_name == "import" || command_name == "add") &&
        supported_request("wrapper-sendme-rcsOptions")) {
        send_to_server("wrapper-sendme-rcsOptions\n");
        if (get_server_responses() != 0)
            error(1, 0, "error reading from server");
    }
    if (!init && jolencrypt)
        error(1, 0, "This client does not support encryption");
    if (!init)
        start_compression();
    if (!init && jolauthenticate)
        start_stream_authentication();
    if (supported_request("Set") && variable_list)
        JOL_FOR_EACH_NODE(variable_list, p) {
            send_to_server("Set " + *p->key + "=" + static_cast<const char *>(p->data) + "\n");
        }
}

}  // namespace

void mark_request_supported(const std::string &name) {
    for (size_t i = 0; request_names[i].name; ++i) {
        if (name != request_names[i].name)
            continue;
        if (request_flags()[i] & RQ_ENABLEME)
            send_to_server(name + "\n");
        else
            request_flags()[i] |= RQ_SUPPORTED;
    }
}

const char *missing_essential_request() {
    for (size_t i = 0; request_names[i].name; ++i) {
        int f = request_flags()[i];
        if ((f & RQ_ESSENTIAL) && !(f & (RQ_SUPPORTED | RQ_ENABLEME)))
            return request_names[i].name;
    }
    return nullptr;
}

bool supported_request(const char *name) {
    for (size_t i = 0; request_names[i].name; ++i)
        if (std::strcmp(name, request_names[i].name) == 0)
            return request_flags()[i] & RQ_SUPPORTED;
    error(1, 0, "internal error: testing support for unknown option?");
    return false;
}

void start_server() {
    std::optional<std::string> log = jolguiglue_getenv("JOL_CLIENT_LOG");
    client_reset_state();
    nbytes = 0;
    open_connection();
    if (log)
        log_client_traffic(to_server, from_server, *log);
    handshake();
}

void send_to_server(const char *data, size_t len) {
    if (!to_server)
        error(1, 0, "internal error: no connection to the server");
    buf_output(*to_server, data, len);
    nbytes += len;
    if (nbytes >= 8192) {
        nbytes = 0;
        if (int status = buf_send_output(*to_server); status != 0)
            error(1, status == buf_nomem ? ENOMEM : status, "error writing to server");
    }
}

std::string read_line() {
    if (int status = buf_flush(*to_server, true); status != 0)
        error(1, status == buf_nomem ? ENOMEM : status, "writing to server");
    nbytes = 0;
    std::string line;
    int status = buf_read_line(*from_server, line, response_line_max);
    if (status == buf_eof)
        error(1, 0, "end of file from server (consult above messages if any)");
    if (status == buf_nomem)
        error(1, 0, "out of memory");
    if (status == buf_line_too_long)
        error(1, 0, "reading from server: response line too long");
    if (status != 0)
        error(1, status, "reading from server");
    return line;
}

void read_from_server(char *dest, size_t len) {
    while (len > 0) {
        const char *data;
        size_t got;
        int status = buf_read_data(*from_server, len, data, got);
        if (status == buf_eof)
            error(1, 0, "end of file from server (consult above messages if any)");
        if (status == buf_nomem)
            error(1, 0, "out of memory");
        if (status != 0)
            error(1, status, "reading from server");
        std::memcpy(dest, data, got);
        dest += got;
        len -= got;
    }
}

int get_responses_and_close() {
    int errs = get_server_responses();
    client_close_entries();
    do_deferred_progs();
    if (client_prune_dirs)
        process_prune_candidates();
    if (buf_shutdown(*to_server) != 0)
        error(0, 0, "shutting down buffer to server");
    // Whatever the server still sends after its last response was not
    // asked for.
    if (!buf_empty_p(*from_server))
        error(0, 0, "dying gasps from %s unexpected", JOLroot_hostname);
    to_server.reset();
    // The socket stays open for reading: only its sending side ends here.
    if (server_fd >= 0 && shutdown(server_fd, SHUT_WR) != 0)
        error(1, 0, "shutting down connection to %s: %s", JOLroot_hostname, std::strerror(errno));
    if (from_server) {
        const char *data;
        size_t got;
        int status = buf_read_data(*from_server, 1, data, got);
        if (status == 0 && got > 0)
            error(0, 0, "dying gasps from %s unexpected", JOLroot_hostname);
        else if (status != 0 && status != buf_eof)
            error(0, status, "reading %s", JOLroot_hostname);
        buf_shutdown(*from_server);
        from_server.reset();
    }
    if (rsh_pid > 0) {
        int status;
        while (waitpid(rsh_pid, &status, 0) < 0) {
            if (errno != EINTR)
                error(1, errno, "waiting for process %d", static_cast<int>(rsh_pid));
        }
        rsh_pid = -1;
    }
    server_fd = -1;
    server_started = false;
    wait_past_second(client_last_register_time);
    client_last_register_time = 0;
    return errs;
}
