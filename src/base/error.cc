// error(), its formatter, and the fatal-exit path with its cleanup hooks.
#include "src/base/error.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "src/base/console.h"
#include "src/base/globals.h"
#include "src/base/output.h"

namespace {

struct Hooks {
    std::vector<CleanupHook> stage[4];
};

Hooks &hooks() {
    static Hooks h;
    return h;
}

bool exiting = false;
ErrorExitHandler exit_handler = nullptr;

}  // namespace

std::string error_format(std::string_view message, std::span<const ErrArg> args) {
    std::string out;
    size_t next = 0;
    auto arg = [&]() -> const ErrArg * { return next < args.size() ? &args[next++] : nullptr; };
    for (size_t i = 0; i < message.size(); ++i) {
        char c = message[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= message.size()) {
            out += "\ninternal error: bad % in error()\n";
            break;
        }
        char d = message[i];
        if (d == '%') {
            out += '%';
        } else if (d == 's') {
            if (const ErrArg *a = arg()) {
                if (a->kind() == ErrArg::Kind::text)
                    out += a->text();
                else if (a->kind() == ErrArg::Kind::character)
                    out += static_cast<char>(a->number());
                else
                    out += std::to_string(a->number());
            }
        } else if (d == 'd') {
            if (const ErrArg *a = arg()) {
                if (a->kind() == ErrArg::Kind::text)
                    out += a->text();
                else
                    out += std::to_string(static_cast<int>(a->number()));
            }
        } else if (d == 'x') {
            if (const ErrArg *a = arg()) {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(a->number()));
                out += a->kind() == ErrArg::Kind::text ? std::string(a->text()) : buf;
            }
        } else if (d == 'c') {
            if (const ErrArg *a = arg()) {
                if (a->kind() == ErrArg::Kind::text)
                    out += a->text().substr(0, 1);
                else
                    out += static_cast<char>(a->number());
            }
        } else {
            out += "\ninternal error: bad % in error()\n";
            break;
        }
    }
    return out;
}

void error_v(int status, int errnum, const char *message, std::span<const ErrArg> args) {
    int saved_errno = errno;
    if (message && *message) {
        jol_outerr(program_name.data(), program_name.size());
        if (!command_name.empty()) {
            if (status) {
                jol_outerr(" [", 2);
                jol_outerr(command_name.data(), command_name.size());
                jol_outerr(" aborted]", 9);
            } else {
                jol_outerr(" ", 1);
                jol_outerr(command_name.data(), command_name.size());
            }
        }
        jol_outerr(": ", 2);
        std::string text = error_format(message, args);
        jol_outerr(text.data(), text.size());
        if (errnum) {
            jol_outerr(": ", 2);
            const char *e = std::strerror(errnum);
            jol_outerr(e, std::strlen(e));
        }
        jol_outerr("\n", 1);
    }
    if (status)
        error_exit();
    errno = saved_errno;
}

void register_cleanup(CleanupStage stage, CleanupHook hook) {
    auto &v = hooks().stage[static_cast<int>(stage)];
    if (std::find(v.begin(), v.end(), hook) == v.end())
        v.push_back(hook);
}

void deregister_cleanup(CleanupStage stage, CleanupHook hook) {
    auto &v = hooks().stage[static_cast<int>(stage)];
    v.erase(std::remove(v.begin(), v.end(), hook), v.end());
}

void run_cleanup_stage(CleanupStage stage) {
    // A hook may deregister itself while it runs; walk a copy.
    std::vector<CleanupHook> copy = hooks().stage[static_cast<int>(stage)];
    for (CleanupHook h : copy)
        h();
}

void run_cleanup_hooks() {
    for (int s = 0; s < 4; ++s)
        run_cleanup_stage(static_cast<CleanupStage>(s));
}

void set_error_exit_handler(ErrorExitHandler handler) { exit_handler = handler; }

void error_exit() {
    // A fatal error inside a cleanup hook must not run the hooks again.
    if (!exiting) {
        exiting = true;
        run_cleanup_hooks();
    }
    if (exit_handler) {
        exiting = false;
        exit_handler();
    }
    jolguiglue_exit(1);
    std::exit(1);
}

int fperrmsg(FILE *fp, int status, int errnum, const char *message, ...) {
    std::fprintf(fp, "%s: ", program_name.c_str());
    va_list ap;
    va_start(ap, message);
    std::vfprintf(fp, message, ap);
    va_end(ap);
    if (errnum)
        std::fprintf(fp, ": %s", std::strerror(errnum));
    std::fputc('\n', fp);
    int r = std::fflush(fp);
    if (status)
        error_exit();
    return r;
}

void eprintf_assert(const char *file, unsigned line, const char *expression) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", file, line, expression);
    std::fflush(stderr);
    std::abort();
}
