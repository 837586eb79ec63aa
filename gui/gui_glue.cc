// Console glue of GUI mode: start-up of the link, environment and password
// lookups, yes/no questions, the final QUIT and the protocol-error exit.
#include "gui/gui_glue.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "gui/messages.h"
#include "gui/staging.h"
#include "gui/wire.h"
#include "src/base/console.h"
#include "src/base/error.h"

int _jolgui_readfd = 0;
int _jolgui_writefd = 0;

namespace {

// A descriptor the front-end did not really hand over is no link at all.
int usable(int fd) {
    if (fd <= 0 || fcntl(fd, F_GETFD) == -1)
        return 0;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

bool can_ask() { return _jolgui_readfd > 0 && _jolgui_writefd > 0; }

class GuiLink final : public ConsoleLink {
  public:
    bool carries_output() const override { return gui_link_active(); }

    void write(const char *str, size_t len, bool is_stderr) override {
        gp_console_write(_jolgui_writefd, str, len, is_stderr ? 1 : 0);
    }

    std::optional<std::string> getenv(const char *name) override {
        // Without a way to ask, the real environment answers.
        if (!can_ask()) {
            const char *v = name ? std::getenv(name) : nullptr;
            if (!v)
                return std::nullopt;
            return std::string(v);
        }
        jolguiglue_flushconsole(0);
        if (!name)
            return std::nullopt;
        if (!gp_getenv_write(_jolgui_writefd, std::string(name)))
            return std::nullopt;
        return gp_getenv_read(_jolgui_readfd);
    }

    std::optional<std::string> getpass(const char *prompt) override {
        if (can_ask())
            return getenv("JOL_GETPASS");
        const char *p = ::getpass(prompt);
        if (!p)
            return std::nullopt;
        return std::string(p);
    }

    void quit(int status) override {
        if (gui_link_active())
            gp_quit_write(_jolgui_writefd, status);
    }
};

GuiLink gui_link;

}  // namespace

bool gui_link_active() { return _jolgui_writefd > 0; }

void jol_process_init() {
    _jolgui_readfd = usable(_jolgui_readfd);
    _jolgui_writefd = usable(_jolgui_writefd);
    gp_init();
    wire_set_writer(jol_process_write);
    wire_set_flusher(jol_process_flush);
    set_console_link(&gui_link);
}

void reopen_consoles() {}

std::optional<std::string> gp_getenv_read(int fd) {
    WireMessage msg;
    if (!wire_read_msg(fd, &msg) || msg.type != GP_GETENV) {
        wire_destroy(&msg);
        jolgui_protocol_error();
    }
    std::optional<std::string> value = gp_getenv_value(*static_cast<GPT_GETENV *>(msg.data));
    wire_destroy(&msg);
    return value;
}

void jolgui_protocol_error() {
    static bool failing = false;
    if (failing)
        _exit(255);
    failing = true;
    std::fflush(stdout);
    std::fputs("jolgui protocol error !\n", stderr);
    std::fflush(stderr);
    // The link is dead: whatever the cleanup hooks print or look up goes to
    // the standard streams and the real environment.
    _jolgui_readfd = 0;
    _jolgui_writefd = 0;
    signal(SIGPIPE, SIG_IGN);
    run_cleanup_hooks();
    jolguiglue_flushconsole(1);
    _exit(255);
}
