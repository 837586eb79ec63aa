// Starting child programs and waiting for them.
#include "src/subprocess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "src/globals.h"

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

int run_vector(const std::vector<std::string> &argv, bool ignore_signals) {
    if (argv.empty())
        return -1;
    std::fflush(stdout);
    std::fflush(stderr);
    struct sigaction ign {}, old_int, old_quit;
    ign.sa_handler = SIG_IGN;
    if (ignore_signals) {
        sigaction(SIGINT, &ign, &old_int);
        sigaction(SIGQUIT, &ign, &old_quit);
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (ignore_signals) {
            signal(SIGINT, SIG_DFL);
            signal(SIGQUIT, SIG_DFL);
        }
        std::vector<char *> v;
        for (const auto &a : argv)
            v.push_back(const_cast<char *>(a.c_str()));
        v.push_back(nullptr);
        execvp(v[0], v.data());
        std::fprintf(stderr, "%s: cannot exec %s: %s\n", program_name.c_str(), v[0],
                     std::strerror(errno));
        _exit(127);
    }
    int result = -1;
    if (pid > 0) {
        int status;
        pid_t w;
        while ((w = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (w == pid)
            result = WIFEXITED(status) ? WEXITSTATUS(status)
                                       : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    }
    if (ignore_signals) {
        sigaction(SIGINT, &old_int, nullptr);
        sigaction(SIGQUIT, &old_quit, nullptr);
    }
    return result;
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

FILE *run_popen_write(const std::string &command) {
    std::fflush(stdout);
    std::fflush(stderr);
    return popen(command.c_str(), "w");
}

int run_pclose(FILE *fp) {
    int status = pclose(fp);
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
