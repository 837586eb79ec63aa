// Starting child programs and waiting for them.
#include "src/base/subprocess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/globals.h"
#include "src/base/output.h"

std::vector<std::string> split_command(const std::string &line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t')
            ++j;
        if (j > i)
            out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

std::string print_vector(const std::vector<std::string> &argv) {
    std::string out;
    for (size_t i = 0; i < argv.size(); ++i) {
        if (i)
            out += ' ';
        out += argv[i];
    }
    return out;
}

namespace {

// Filter pipes open for writing, and the broken-pipe action they replaced.
int open_filter_pipes = 0;
struct sigaction saved_sigpipe;

}  // namespace

FILE *run_popen_write(const std::string &command) {
    std::fflush(stdout);
    std::fflush(stderr);
    FILE *fp = popen(command.c_str(), "w");
    if (fp && open_filter_pipes++ == 0) {
        struct sigaction ign {};
        ign.sa_handler = SIG_IGN;
        sigemptyset(&ign.sa_mask);
        sigaction(SIGPIPE, &ign, &saved_sigpipe);
    }
    return fp;
}

int run_pclose(FILE *fp) {
    int status = pclose(fp);
    if (--open_filter_pipes == 0)
        sigaction(SIGPIPE, &saved_sigpipe, nullptr);
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

std::vector<std::string> run_argv;

// Opens one redirection; -1 after reporting when it cannot be opened.
int open_redirection(const char *file, int flags, const char *how) {
    int fd = open(file, flags | O_CLOEXEC, 0666);
    if (fd < 0)
        error(0, errno, "cannot open %s for %s (prog %s)", file, how,
              run_argv.empty() ? std::string() : run_argv[0]);
    return fd;
}

}  // namespace

void run_setup(const char *prog) { run_argv = split_command(prog ? prog : ""); }

void run_arg(const char *s) { run_argv.emplace_back(s ? s : ""); }

const std::vector<std::string> &run_args() { return run_argv; }

void run_print(FILE *fp) {
    std::string text;
    for (size_t i = 0; i < run_argv.size(); ++i) {
        if (i)
            text += ' ';
        text += "'" + run_argv[i] + "'";
    }
    if (fp == stderr)
        jol_outerr(text);
    else if (fp == stdout)
        jol_output(text);
    else
        fatal(0, "internal error: bad argument to run_print");
}

int run_exec(const char *stin, const char *stout, const char *sterr, int flags) {
    if (trace) {
        jol_outerr(std::string(server_active ? "S" : " ") + "-> system(");
        run_print(stderr);
        jol_outerr(std::string(")\n"));
    }
    if (noexec && !(flags & RUNF_EVEN_IF_NOEXEC))
        return 0;
    if (run_argv.empty()) {
        errno = EINVAL;
        return -1;
    }
    int fds[3] = {-1, -1, -1};
    auto close_all = [&] {
        int saved = errno;
        for (int &fd : fds)
            if (fd >= 0) {
                close(fd);
                fd = -1;
            }
        errno = saved;
    };
    if (stin && (fds[0] = open_redirection(stin, O_RDONLY, "reading")) < 0)
        return -1;
    if (stout && (fds[1] = open_redirection(stout,
                                            O_WRONLY | O_CREAT |
                                                ((flags & RUNF_APPEND_STDOUT) ? O_APPEND : O_TRUNC),
                                            "writing")) < 0) {
        close_all();
        return -1;
    }
    if (sterr && !(flags & RUNF_MERGE_STDERR) &&
        (fds[2] = open_redirection(sterr,
                                   O_WRONLY | O_CREAT |
                                       ((flags & RUNF_APPEND_STDERR) ? O_APPEND : O_TRUNC),
                                   "writing")) < 0) {
        close_all();
        return -1;
    }
    std::vector<char *> argv;
    for (std::string &a : run_argv)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        for (int i = 0; i < 3; ++i)
            if (fds[i] >= 0 && dup2(fds[i], i) < 0)
                _exit(127);
        if ((flags & RUNF_MERGE_STDERR) && dup2(1, 2) < 0)
            _exit(127);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "%s: cannot exec %s: %s\n", program_name.c_str(), argv[0],
                     std::strerror(errno));
        _exit(127);
    }
    if (pid < 0) {
        close_all();
        return -1;
    }
    struct sigaction ign {}, old_int, old_quit;
    sigset_t block, old_mask;
    if (flags & RUNF_IGNORE_SIGNALS) {
        ign.sa_handler = SIG_IGN;
        sigaction(SIGINT, &ign, &old_int);
        sigaction(SIGQUIT, &ign, &old_quit);
    } else {
        sigemptyset(&block);
        sigaddset(&block, SIGINT);
        sigaddset(&block, SIGQUIT);
        sigprocmask(SIG_SETMASK, &block, &old_mask);
    }
    int status = 0;
    pid_t w;
    while ((w = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    int wait_errno = errno;
    if (flags & RUNF_IGNORE_SIGNALS) {
        sigaction(SIGINT, &old_int, nullptr);
        sigaction(SIGQUIT, &old_quit, nullptr);
    } else {
        sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    }
    close_all();
    if (w != pid) {
        errno = wait_errno;
        return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
        if (WTERMSIG(status) == SIGPIPE)
            fatal(0, "broken pipe");
        return 2;
    }
    return 1;
}

FILE *run_popen(const char *cmd, const char *mode) {
    trace_op(std::string("run_popen(") + cmd + "," + mode + ")");
    if (noexec)
        return nullptr;
    std::fflush(stdout);
    std::fflush(stderr);
    return popen(cmd, mode);
}

pid_t piped_child(const std::vector<std::string> &command, int *tofd, int *fromfd) {
    if (command.empty())
        fatal(0, "cannot exec %s", "");
    int to_child[2], from_child[2];
    if (pipe(to_child) < 0 || pipe(from_child) < 0)
        fatal(errno, "cannot create pipe");
    std::vector<char *> argv;
    std::vector<std::string> words = command;
    for (std::string &a : words)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid < 0)
        fatal(errno, "cannot fork");
    if (pid == 0) {
        if (dup2(to_child[0], 0) < 0 || dup2(from_child[1], 1) < 0)
            _exit(127);
        close(to_child[0]);
        close(to_child[1]);
        close(from_child[0]);
        close(from_child[1]);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "%s: cannot exec %s: %s\n", program_name.c_str(), argv[0],
                     std::strerror(errno));
        _exit(127);
    }
    if (close(to_child[0]) < 0 || close(from_child[1]) < 0)
        fatal(errno, "cannot close pipe");
    *tofd = to_child[1];
    *fromfd = from_child[0];
    return pid;
}

void close_on_exec(int fd) {
    if (fcntl(fd, F_SETFD, FD_CLOEXEC) < 0)
        fatal(errno, "can't set close-on-exec flag on %d", fd);
}

int run_vector(const std::vector<std::string> &argv, bool ignore_signals) {
    run_argv = argv;
    return run_exec(nullptr, nullptr, nullptr,
                    RUNF_EVEN_IF_NOEXEC | (ignore_signals ? RUNF_IGNORE_SIGNALS : 0));
}
