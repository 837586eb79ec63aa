// Front-end side of the GUI link: starting children in GUI mode, serving
// their lookups and relaying their console output and exit codes.
#include "gui/frontend.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include "gui/messages.h"
#include "gui/wire.h"

namespace {

std::vector<std::unique_ptr<JolProcess>> processes;
volatile sig_atomic_t tty_signal = 0;

const char kTtyMessage[] = "This JOL command required an interactive TTY, I had to kill it.\n";

void on_tty_signal(int) { tty_signal = 1; }

void ensure_init() {
    static bool done = false;
    if (done)
        return;
    done = true;
    gp_init();
    wire_set_writer(jol_process_write);
    wire_set_flusher(jol_process_flush);
}

// Pipe ends away from the standard descriptors, closed on exec.
bool make_pipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        if (fds[i] < 3) {
            int moved = fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
            close(fds[i]);
            fds[i] = moved;
        }
    }
    if (fds[0] < 0 || fds[1] < 0) {
        if (fds[0] >= 0)
            close(fds[0]);
        if (fds[1] >= 0)
            close(fds[1]);
        return false;
    }
    return true;
}

std::string quoted(const char *text, size_t len) {
    std::string out = "\"";
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                out += static_cast<char>(c);
            } else {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02x", c);
                out += buf;
            }
        }
    }
    return out + "\"";
}

void trace(JolProcess *p, const std::string &line) {
    if (p->callbacks.trace)
        p->callbacks.trace(line);
}

// Closes the link and reaps the child. A child that is being dropped gets
// SIGTERM first, so that it can still remove its locks, then SIGKILL.
void close_process(JolProcess *p, bool kill_it) {
    if (!p->open)
        return;
    p->open = false;
    close(p->my_read);
    close(p->my_write);
    p->my_read = p->my_write = -1;
    bool reaped = false;
    if (kill_it) {
        kill(p->pid, SIGTERM);
        for (int i = 0; i < 200 && !reaped; ++i) {
            reaped = waitpid(p->pid, &p->wait_status, WNOHANG) == p->pid;
            if (!reaped)
                usleep(10000);
        }
        if (!reaped)
            kill(p->pid, SIGKILL);
    }
    while (!reaped && waitpid(p->pid, &p->wait_status, 0) < 0 && errno == EINTR) {
    }
    if (!p->quit_received)
        trace(p, "CLOSED");
}

void answer_getenv(JolProcess *p, const GPT_GETENV &rec) {
    std::optional<std::string> value;
    if (p->callbacks.getenv && rec.str)
        value = p->callbacks.getenv(rec.str->c_str());
    trace(p, "GETENV " + (rec.str ? *rec.str : std::string("(null)")) + " -> " +
                 (value ? quoted(value->data(), value->size()) : std::string("(not set)")));
    current_write_buffer = &p->write_buffer;
    int ok = gp_getenv_write(p->my_write, value);
    current_write_buffer = &process_write_buffer;
    if (!ok)
        close_process(p, true);
}

void relay_console(JolProcess *p, const GPT_CONSOLE &rec) {
    // Never trust `len` beyond the bytes that came.
    const char *text = rec.str ? rec.str->data() : "";
    size_t have = rec.str ? rec.str->size() : 0;
    size_t len = rec.len > 0 ? std::min(static_cast<size_t>(rec.len), have) : 0;
    trace(p, std::string("CONSOLE ") + (rec.isStderr ? "err " : "out ") + std::to_string(len) +
                 " " + quoted(text, len));
    auto &cb = rec.isStderr ? p->callbacks.consoleerr : p->callbacks.consoleout;
    if (cb)
        cb(text, len);
}

void receive_one(JolProcess *p) {
    wire_clear_error();
    WireMessage msg;
    if (!wire_read_msg(p->my_read, &msg)) {
        wire_clear_error();
        close_process(p, true);
        return;
    }
    switch (msg.type) {
    case GP_GETENV: answer_getenv(p, *static_cast<GPT_GETENV *>(msg.data)); break;
    case GP_CONSOLE: relay_console(p, *static_cast<GPT_CONSOLE *>(msg.data)); break;
    case GP_QUIT: {
        int code = static_cast<GPT_QUIT *>(msg.data)->code;
        trace(p, "QUIT " + std::to_string(code));
        p->quit_received = true;
        if (p->callbacks.exit)
            p->callbacks.exit(code);
        close_process(p, false);
        break;
    }
    default: close_process(p, true); break;
    }
    wire_destroy(&msg);
    wire_clear_error();
}

}  // namespace

JolProcess *jol_process_run(const char *name, int argc, const char *const *argv,
                            const JolProcessCallbacks &callbacks,
                            const JolProcessStartupInfo *startupInfo) {
    ensure_init();
    int to_child[2], from_child[2];
    if (!make_pipe(to_child)) {
        std::fputs("unable to open pipe\n", stderr);
        return nullptr;
    }
    if (!make_pipe(from_child)) {
        close(to_child[0]);
        close(to_child[1]);
        std::fputs("unable to open pipe\n", stderr);
        return nullptr;
    }

    auto p = std::make_unique<JolProcess>();
    p->callbacks = callbacks;
    p->his_read = to_child[0];
    p->my_write = to_child[1];
    p->my_read = from_child[0];
    p->his_write = from_child[1];
    if (startupInfo && startupInfo->hasTty) {
        p->args.push_back("xterm");
        p->args.push_back("-e");
    }
    p->args.push_back(name);
    p->args.push_back("-jolgui");
    p->args.push_back(std::to_string(p->his_read));
    p->args.push_back(std::to_string(p->his_write));
    for (int i = 0; i < argc; ++i)
        p->args.push_back(argv[i]);
    p->argc = static_cast<int>(p->args.size());

    struct sigaction act {};
    act.sa_handler = on_tty_signal;
    sigemptyset(&act.sa_mask);
    sigaction(SIGTTIN, &act, nullptr);
    sigaction(SIGTTOU, &act, nullptr);

    std::vector<char *> vec;
    for (std::string &a : p->args)
        vec.push_back(a.data());
    vec.push_back(nullptr);
    std::fflush(nullptr);

    pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {p->his_read, p->his_write, p->my_read, p->my_write})
            close(fd);
        return nullptr;
    }
    if (pid == 0) {
        // The child keeps only its own ends, and default signal behaviour.
        close(p->my_read);
        close(p->my_write);
        fcntl(p->his_read, F_SETFD, 0);
        fcntl(p->his_write, F_SETFD, 0);
        for (int sig : {SIGPIPE, SIGTTIN, SIGTTOU})
            signal(sig, SIG_DFL);
        if (startupInfo && !startupInfo->currentDirectory.empty() &&
            chdir(startupInfo->currentDirectory.c_str()) != 0)
            _exit(1);
        execvp(vec[0], vec.data());
        _exit(1);
    }
    close(p->his_read);
    close(p->his_write);
    p->pid = pid;
    p->open = true;
    processes.push_back(std::move(p));
    return processes.back().get();
}

int jol_process_give_time() {
    fd_set ready;
    FD_ZERO(&ready);
    int maxfd = -1;
    for (auto &p : processes) {
        if (p->open && p->my_read < FD_SETSIZE) {
            FD_SET(p->my_read, &ready);
            maxfd = std::max(maxfd, p->my_read);
        }
    }
    struct timeval tv {0, 10000};
    int n = select(maxfd + 1, &ready, nullptr, nullptr, &tv);

    if (tty_signal) {
        tty_signal = 0;
        for (auto &p : processes) {
            if (!p->open)
                continue;
            kill(p->pid, SIGKILL);
            if (p->callbacks.consoleerr)
                p->callbacks.consoleerr(kTtyMessage, sizeof kTtyMessage - 1);
            close_process(p.get(), true);
        }
    } else if (n > 0) {
        // The list may grow while a callback runs; walk it by index.
        for (size_t i = 0; i < processes.size(); ++i) {
            JolProcess *p = processes[i].get();
            if (p->open && FD_ISSET(p->my_read, &ready))
                receive_one(p);
        }
    }
    return static_cast<int>(std::count_if(processes.begin(), processes.end(),
                                          [](const auto &p) { return p->open; }));
}

void jol_process_forget(JolProcess *p) {
    auto it = std::find_if(processes.begin(), processes.end(),
                           [p](const auto &q) { return q.get() == p; });
    if (it == processes.end())
        return;
    close_process(p, true);
    processes.erase(it);
}
