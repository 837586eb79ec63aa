// Output routing: checked in the order network, command child, console
// link (GUI), plain.
#include "src/base/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/globals.h"

namespace {

ServerOutputRoute *net_route = nullptr;
ServerOutputRoute *child_route = nullptr;

ServerOutputRoute *server_route() {
    if (error_use_protocol && net_route)
        return net_route;
    if (server_active && !error_use_protocol && child_route)
        return child_route;
    return nullptr;
}

int stdout_errno = 0;

void write_all(FILE *fp, const char *str, size_t len) {
    while (len > 0) {
        size_t n = std::fwrite(str, 1, len, fp);
        if (n == 0) {
            if (fp == stdout && stdout_errno == 0)
                stdout_errno = errno ? errno : EIO;
            return;
        }
        str += n;
        len -= n;
    }
}

}  // namespace

int stdout_write_errno() { return stdout_errno; }

void set_net_output_route(ServerOutputRoute *route) { net_route = route; }
void set_child_output_route(ServerOutputRoute *route) { child_route = route; }

void jol_output(const char *str, size_t len) {
    if (len == 0)
        len = std::strlen(str);
    if (ServerOutputRoute *r = server_route())
        r->text('M', str, len);
    else if (ConsoleLink *l = console_output_link())
        l->write(str, len, false);
    else
        write_all(stdout, str, len);
}

void jol_outerr(const char *str, size_t len) {
    if (len == 0)
        len = std::strlen(str);
    if (ServerOutputRoute *r = server_route()) {
        r->text('E', str, len);
    } else if (ConsoleLink *l = console_output_link()) {
        l->write(str, len, true);
    } else {
        std::fflush(stdout);
        write_all(stderr, str, len);
    }
}

void jol_output_binary(const char *str, size_t len) {
    if (ServerOutputRoute *r = server_route())
        r->binary(str, len);
    else if (ConsoleLink *l = console_output_link())
        l->write(str, len, false);
    else
        write_all(stdout, str, len);
}

void jol_output_tagged(const char *tag, const char *text) {
    jol_assert(!text || !std::strchr(text, '\n'));
    jol_assert(!text || (tag[0] != '+' && tag[0] != '-'));
    if (server_active) {
        if (ServerOutputRoute *r = server_route())
            if (r->tagged(tag, text))
                return;
    }
    if (std::strcmp(tag, "newline") == 0)
        jol_output("\n", 1);
    else if (text)
        jol_output(text, 0);
}

void jol_flushout() {
    if (ServerOutputRoute *r = server_route())
        r->flush_out();
    else
        std::fflush(stdout);
}

void jol_flusherr() {
    if (ServerOutputRoute *r = server_route())
        r->flush_err();
    else
        std::fflush(stderr);
}
