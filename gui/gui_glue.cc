// Console glue for plain (non-GUI) runs. The wire layer that carries GUI runs
// is not built yet, so a -jolgui run falls back to the terminal.
#include "gui/gui_glue.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "src/output.h"

int _jolgui_readfd = 0;
int _jolgui_writefd = 0;

bool gui_link_active() { return false; }

void jol_process_init() {}

void reopen_consoles() {}

std::optional<std::string> jolguiglue_getenv(const char *name) {
    if (!name)
        return std::nullopt;
    const char *v = std::getenv(name);
    if (!v)
        return std::nullopt;
    return std::string(v);
}

std::optional<std::string> jolguiglue_getpass(const char *prompt) {
    jolguiglue_flushconsole(0);
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
    jolguiglue_flushconsole(1);
    std::exit(status);
}

int gp_console_write(int, const char *text, size_t len, int isStderr) {
    std::fwrite(text, 1, len, isStderr ? stderr : stdout);
    return 1;
}

int gp_quit_write(int, int) { return 1; }

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
