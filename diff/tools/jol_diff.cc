// jol-diff: the comparison engine on its own, with the engine's own
// options; the exit status is the engine's (0 same, 1 different, 2 trouble).
#include <cstdio>

#include "diff/diffrun.h"

namespace {

void write_output(const char *text, size_t len) { std::fwrite(text, 1, len, stdout); }
void flush_output() { std::fflush(stdout); }
void write_stdout(const char *text) { std::fputs(text, stdout); }
void report(const char *format, const char *a1, const char *a2) {
    // `format` comes from the engine's own message table, never from input.
    std::fputs("jol-diff: ", stderr);
    std::fprintf(stderr, format, a1 ? a1 : "", a2 ? a2 : "");
    std::fputc('\n', stderr);
}

const diff_callbacks callbacks = {write_output, flush_output, write_stdout, report};

}  // namespace

int main(int argc, char **argv) {
    int status = diff_run(argc, argv, nullptr, &callbacks);
    std::fflush(stdout);
    return status;
}
