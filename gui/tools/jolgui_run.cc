// jolgui-run: a minimal front-end. It starts a program in GUI mode, answers
// its environment lookups from its own environment, prints its console
// messages on its own standard output and error, and exits with the code
// of the program's QUIT message.
//
//   jolgui-run [--trace FILE] PROGRAM [ARGS...]
//
// --trace writes one line per message received to FILE ("-": standard
// error).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>

#include "gui/frontend.h"

namespace {

void usage() {
    std::fputs("usage: jolgui-run [--trace FILE] PROGRAM [ARGS...]\n", stderr);
    std::exit(2);
}

void put(FILE *fp, const char *text, size_t len) {
    std::fflush(fp == stderr ? stdout : stderr);
    std::fwrite(text, 1, len, fp);
    std::fflush(fp);
}

}  // namespace

int main(int argc, char **argv) {
    FILE *trace = nullptr;
    int i = 1;
    while (i < argc && argv[i][0] == '-' && argv[i][1] == '-') {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(argv[i], "--trace") != 0 || i + 1 >= argc)
            usage();
        const char *file = argv[i + 1];
        trace = std::strcmp(file, "-") == 0 ? stderr : std::fopen(file, "w");
        if (!trace) {
            std::perror(file);
            return 2;
        }
        i += 2;
    }
    if (i >= argc)
        usage();

    // A child that goes away must not take this program with it.
    signal(SIGPIPE, SIG_IGN);

    int quit_code = 0;
    JolProcessCallbacks cb;
    cb.consoleout = [](const char *text, size_t len) { put(stdout, text, len); };
    cb.consoleerr = [](const char *text, size_t len) { put(stderr, text, len); };
    cb.getenv = [](const char *name) -> std::optional<std::string> {
        const char *v = std::getenv(name);
        if (!v)
            return std::nullopt;
        return std::string(v);
    };
    cb.exit = [&quit_code](int code) { quit_code = code; };
    if (trace)
        cb.trace = [trace](std::string_view line) {
            std::fprintf(trace, "%.*s\n", static_cast<int>(line.size()), line.data());
            std::fflush(trace);
        };

    JolProcess *p = jol_process_run(argv[i], argc - i - 1, argv + i + 1, cb, nullptr);
    if (!p)
        return 127;
    while (jol_process_give_time() > 0) {
    }
    if (p->quit_received)
        return quit_code & 0xff;
    // Ended without a QUIT: report how the process ended.
    std::fprintf(stderr, "jolgui-run: %s ended without a quit message\n", argv[i]);
    if (WIFEXITED(p->wait_status))
        return WEXITSTATUS(p->wait_status) ? WEXITSTATUS(p->wait_status) : 1;
    if (WIFSIGNALED(p->wait_status))
        return 128 + WTERMSIG(p->wait_status);
    return 1;
}
