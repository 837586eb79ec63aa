// The console's routing between the standard streams and an installed link,
// and the final exit with its check of standard output.
#include "src/base/console.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "src/base/globals.h"
#include "src/base/output.h"

namespace {

ConsoleLink *installed = nullptr;
bool quit_sent = false;

// errno of the first failed write or flush of standard output, 0 for none.
int stdout_failure() {
    errno = 0;
    if (std::fflush(stdout) != 0 && errno)
        return errno;
    if (int e = stdout_write_errno())
        return e;
    return std::ferror(stdout) ? EIO : 0;
}

}  // namespace

void set_console_link(ConsoleLink *l) { installed = l; }
ConsoleLink *console_output_link() {
    return installed && installed->carries_output() ? installed : nullptr;
}

std::optional<std::string> jolguiglue_getenv(const char *name) {
    if (installed)
        return installed->getenv(name);
    const char *v = name ? std::getenv(name) : nullptr;
    if (!v)
        return std::nullopt;
    return std::string(v);
}

std::optional<std::string> jolguiglue_getpass(const char *prompt) {
    jolguiglue_flushconsole(0);
    if (installed)
        return installed->getpass(prompt);
    const char *p = getpass(prompt);
    if (!p)
        return std::nullopt;
    return std::string(p);
}

void jolguiglue_flushconsole(int) {
    std::fflush(stdout);
    std::fflush(stderr);
}

void jolguiglue_exit(int status) {
    if (int e = stdout_failure(); e && e != EPIPE) {
        // Reported directly: the output layer is what just failed.
        std::fprintf(stderr, "%s: cannot write standard output: %s\n", program_name.c_str(),
                     std::strerror(e));
        if (status == 0)
            status = 1;
    }
    jolguiglue_flushconsole(1);
    // An exit reached again from exit-time code must not send a second QUIT.
    if (installed && !quit_sent) {
        quit_sent = true;
        installed->quit(status);
    }
    std::exit(status);
}

int yesno() {
    jol_output("\n", 1);
    if (auto v = jolguiglue_getenv("JOLLIB_YESNO"))
        return *v == "yes";
    std::fflush(stderr);
    std::fflush(stdout);
    int c = std::getchar();
    int yes = c == 'y' || c == 'Y';
    while (c != EOF && c != '\n')
        c = std::getchar();
    return yes;
}
