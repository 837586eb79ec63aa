// do_jol_command: a command request runs in a child process in the
// temporary tree; the parent relays the child's output lines and response
// records to the client and keeps the memory they take bounded.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <optional>
#include <vector>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/protocol/fd_channel.h"
#include "src/protocol/protocol_tables.h"
#include "src/server/flow_control.h"
#include "src/server/pending.h"
#include "src/server/record_relay.h"
#include "src/server/requests.h"
#include "src/server/server.h"
#include "src/server/server_signals.h"
#include "src/server/server_state.h"
#include "src/wc/entries.h"

namespace {

// Network output held before the child is asked to stop, and below which
// it may go on; also the marks at which the parent stops and resumes
// reading the child's pipes, so that memory stays bounded whatever the
// child writes.
constexpr size_t high_water = 2097152;
constexpr size_t low_water = 1048576;
constexpr size_t relay_read_limit = 65536;

// The descriptors of one command's pipes; every one is closed when dropped.
struct CommandPipes {
    unique_fd out_r, out_w;    // the child's standard output
    unique_fd err_r, err_w;    // its standard error
    unique_fd proto_r, proto_w;  // its counted response records
    unique_fd flow_r, flow_w;  // "S"/"G" from the parent to the child
    unique_fd devnull;         // the child's standard input
};

bool make_pipe(unique_fd &r, unique_fd &w) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    r.reset(fds[0]);
    w.reset(fds[1]);
    return true;
}

void send_text(const char *text) { buf_output0(*buf_to_net, text); }

// The parent's own unfinished output lines go out before the child's.
void send_saved_output() {
    for (auto [saved, kind] : {std::pair{saved_output.get(), 'M'}, {saved_outerr.get(), 'E'}}) {
        if (buf_empty_p(*saved))
            continue;
        buf_append_char(*saved, '\n');
        buf_copy_lines(*buf_to_net, *saved, kind);
    }
    buf_flush(*buf_to_net, true);
}

bool create_pipes(CommandPipes &p) {
    if (!make_pipe(p.out_r, p.out_w) || !make_pipe(p.err_r, p.err_w) ||
        !make_pipe(p.proto_r, p.proto_w) || !make_pipe(p.flow_r, p.flow_w)) {
        int e = errno;
        send_text("E pipe failed\n");
        print_error(e);
        return false;
    }
    if (sys_set_blocking(p.flow_r.get(), false) != 0 ||
        sys_set_blocking(p.flow_w.get(), false) != 0) {
        int e = errno;
        send_text("E pipe failed\n");
        print_error(e);
        return false;
    }
    p.devnull.reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!p.devnull) {
        int e = errno;
        send_text("E open /dev/null failed\n");
        print_error(e);
        return false;
    }
    return true;
}

[[noreturn]] void protocol_memory_error(buffer &) {
    error(1, ENOMEM, "Virtual memory exhausted");
    __builtin_unreachable();
}

// The child: standard streams on the pipes, the command, its exit status.
[[noreturn]] void run_child(CommandPipes &p, ServerCommand command) {
    command_pid = 0;
    error_use_protocol = 0;
    server_restore_signals();
    protocol = fd_buffer_initialize(std::move(p.proto_w), false, protocol_memory_error);
    saved_output->memory_error = protocol_memory_error;
    saved_outerr->memory_error = protocol_memory_error;
    // Dropping the network buffers closes descriptors 0 and 1, which the
    // pipes take over at once.
    buf_to_net.reset();
    buf_from_net.reset();
    if (dup2(p.devnull.get(), STDIN_FILENO) < 0 || dup2(p.out_w.get(), STDOUT_FILENO) < 0 ||
        dup2(p.err_w.get(), STDERR_FILENO) < 0)
        error(1, errno, "can't set up pipes");
    p.devnull.reset();
    p.out_r.reset();
    p.err_r.reset();
    p.proto_r.reset();
    p.out_w.reset();
    p.err_w.reset();
    p.flow_w.reset();
    flow_control_child(std::move(p.flow_r));

    if (const char *s = std::getenv("JOL_SERVER_SLEEP")) {
        char *end;
        long n = std::strtol(s, &end, 10);
        if (*end == '\0' && n > 0 && n < 3600)
            sleep(static_cast<unsigned>(n));
    }
    std::vector<char *> argv;
    for (std::string &a : argument_vector)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int status = command(static_cast<int>(argument_vector.size()), argv.data());
    run_cleanup_stage(CleanupStage::repository_locks);
    if (admin_write_failures)
        status = 1;
    if (!buf_empty_p(*saved_output) && supported_response("MT")) {
        buf_output0(*protocol, "MT text ");
        buf_append_buffer(*protocol, *saved_output);
        buf_append_char(*protocol, '\n');
        buf_send_counted(*protocol);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    protocol.reset();
    _exit(status != 0 ? 1 : 0);
}

// One of the child's three output pipes, read into a buffer.
struct Source {
    buffer_ptr buf;
    int fd = -1;  // -1 once at end of file
};

// The child's wait status once it has been reaped.
std::optional<int> child_status;

bool child_exited() {
    if (child_status)
        return true;
    int status;
    if (waitpid(command_pid, &status, WNOHANG) == command_pid)
        child_status = status;
    return child_status.has_value();
}

// What the ended child's output pipes hold now, as lines; no waiting.
void drain_lines(Source &out, Source &err) {
    for (auto [s, kind] : {std::pair{&out, 'M'}, {&err, 'E'}}) {
        if (s->fd < 0)
            continue;
        buf_input_data(*s->buf, nullptr);
        buf_copy_lines(*buf_to_net, *s->buf, kind);
        s->fd = -1;
    }
}

// Relays until the child has closed all three pipes (or has ended and
// closed its record pipe); false after a failure that was reported to the
// client.
bool relay(Source &out, Source &err, Source &proto, FlowControl &flow) {
    RecordRelay records;
    set_nonblock(*buf_to_net);
    for (Source *s : {&out, &err, &proto})
        set_nonblock(*s->buf);
    // Above the high mark the child's pipes are left to fill until the
    // backlog is below the low mark, so that the child waits instead of
    // the parent's memory growing.
    bool reading_paused = false;
    while (out.fd >= 0 || err.fd >= 0 || proto.fd >= 0) {
        size_t held = buf_count_mem(*buf_to_net);
        // The parent's own lines must not land inside a record.
        flow.check(held, high_water, low_water, !records.in_record());
        if (held > high_water)
            reading_paused = true;
        else if (held < low_water)
            reading_paused = false;
        bool take = !reading_paused;
        struct pollfd fds[4];
        int n = 0;
        int net = -1, io[3] = {-1, -1, -1};
        if (!buf_empty_p(*buf_to_net)) {
            net = n;
            fds[n++] = {STDOUT_FILENO, POLLOUT, 0};
        }
        Source *sources[3] = {&out, &err, &proto};
        for (int i = 0; i < 3; ++i) {
            // Lines wait while a record is only partly passed on.
            bool lines_blocked = i < 2 && records.in_record() && proto.fd >= 0;
            if (sources[i]->fd >= 0 && take && !lines_blocked) {
                io[i] = n;
                fds[n++] = {sources[i]->fd, POLLIN, 0};
            }
        }
        // Once the child closed its record pipe it has ended or is ending;
        // its output pipes may still be held open by a program it left
        // running, so the relay then also watches for the child's exit.
        int timeout = proto.fd < 0 ? 50 : -1;
        if (proto.fd < 0 && child_exited()) {
            drain_lines(out, err);
            break;
        }
        if (poll(fds, static_cast<nfds_t>(n), timeout) < 0) {
            if (errno == EINTR) {
                if (server_signal_received())
                    return false;
                continue;
            }
            int e = errno;
            send_text("E select failed\n");
            print_error(e);
            return false;
        }
        if (net >= 0 && fds[net].revents)
            buf_send_output(*buf_to_net);
        for (int i = 0; i < 3; ++i) {
            if (io[i] < 0 || !fds[io[i]].revents)
                continue;
            Source &s = *sources[i];
            // A bounded read per turn, so that the marks above hold
            // however fast the child writes.
            int status = buf_input_data(*s.buf, nullptr, relay_read_limit);
            if (status == buf_eof) {
                s.fd = -1;
            } else if (status != 0 && status != EAGAIN) {
                send_text("E buf_input_data failed\n");
                print_error(status == buf_nomem ? ENOMEM : status);
                return false;
            }
            if (i == 2)
                records.forward(*s.buf, *buf_to_net);
            else
                buf_copy_lines(*buf_to_net, *s.buf, i == 0 ? 'M' : 'E');
            buf_send_output(*buf_to_net);
        }
    }
    if (records.in_record() || !buf_empty_p(*proto.buf))
        send_text("E Protocol error: uncounted data discarded\n");
    flow.flush_trace();
    return true;
}

// Lines left without their newline when the child ended.
void finish_partial_lines(Source &out, Source &err) {
    for (auto [s, kind] : {std::pair{&out, 'M'}, {&err, 'E'}}) {
        if (buf_empty_p(*s->buf))
            continue;
        buf_append_char(*s->buf, '\n');
        buf_copy_lines(*buf_to_net, *s->buf, kind);
    }
}

// Waits for the child; the errors its end adds to the count.
int reap_child() {
    int status = 0;
    pid_t r = command_pid;
    if (child_status)
        status = *child_status;
    else
        while ((r = waitpid(command_pid, &status, 0)) < 0 && errno == EINTR) {
        }
    child_status.reset();
    int errs = 0;
    if (r == command_pid) {
        if (WIFEXITED(status)) {
            errs += WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            send_text(("E Terminated with fatal signal " + std::to_string(WTERMSIG(status)) +
                       "\n")
                          .c_str());
            if (WCOREDUMP(status)) {
                send_text(("E Core dumped; preserving " + orig_server_temp_dir +
                           " on server.\nE JOL locks may need cleaning up.\n")
                              .c_str());
                dont_delete_temp = true;
            }
            ++errs;
        }
    }
    command_pid = -1;
    return errs;
}

void stop_child() {
    child_status.reset();
    if (command_pid <= 0)
        return;
    kill(command_pid, SIGTERM);
    while (waitpid(command_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    command_pid = -1;
}

[[noreturn]] void input_memory_error(buffer &b) {
    if (command_pid > 0)
        kill(command_pid, SIGTERM);
    static const char text[] = "E Fatal server error\nerror ENOMEM Virtual memory exhausted.\n";
    size_t wrote;
    sys_write(STDOUT_FILENO, false, true, text, sizeof text - 1, wrote);
    (void)b;
    error_exit();
}

// Runs the child and relays its output; the "ok"/"error" line is sent.
void run_and_relay(ServerCommand command, int earlier_errors) {
    CommandPipes p;
    if (!create_pipes(p))
        return;
    send_saved_output();
    pid_t pid = fork();
    if (pid < 0) {
        int e = errno;
        send_text("E fork failed\n");
        print_error(e);
        return;
    }
    if (pid == 0)
        run_child(p, command);
    command_pid = pid;

    Source out{fd_buffer_initialize(std::move(p.out_r), true, input_memory_error), -1};
    Source err{fd_buffer_initialize(std::move(p.err_r), true, input_memory_error), -1};
    Source proto{fd_buffer_initialize(std::move(p.proto_r), true, input_memory_error), -1};
    out.fd = static_cast<fd_channel *>(out.buf->chan.get())->fd();
    err.fd = static_cast<fd_channel *>(err.buf->chan.get())->fd();
    proto.fd = static_cast<fd_channel *>(proto.buf->chan.get())->fd();
    p.out_w.reset();
    p.err_w.reset();
    p.proto_w.reset();
    p.flow_r.reset();
    p.devnull.reset();
    FlowControl flow(std::move(p.flow_w));

    if (!relay(out, err, proto, flow)) {
        stop_child();
        if (server_signal_received())
            server_signal_exit();
        return;
    }
    finish_partial_lines(out, err);
    flow.close();
    int errs = reap_child() + earlier_errors;
    set_block(*buf_to_net);
    buf_flush(*buf_to_net, true);
    send_text(errs ? "error  \n" : "ok\n");
}

}  // namespace

void (*command_child_stub)(const char *cmd_name, ServerCommand command) = nullptr;

void do_jol_command(const char *cmd_name, ServerCommand command) {
    command_pid = -1;
    server_write_entries();
    if (!print_pending_error()) {
        if (!check_command_legal_p(cmd_name)) {
            send_text(("E " + program_name + " [server aborted]: \"" + cmd_name +
                       "\" requires write access to the repository\nerror  \n")
                          .c_str());
        } else {
            const int notify_errors = server_notify();
            if (command_child_stub)
                command_child_stub(cmd_name, command);
            else
                run_and_relay(command, notify_errors);
        }
    }
    clear_arguments();
    set_block(*buf_to_net);
    buf_flush(*buf_to_net, true);
}
