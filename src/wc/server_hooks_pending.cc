// The server is not built yet, so no process ever runs with server_active
// set and these are never reached; the server's own code replaces this file.
#include "src/base/error.h"
#include "src/wc/server_hooks.h"

namespace {
[[noreturn]] void unreachable(const char *what) {
    error(1, 0, "internal error: %s called, but the server is not available yet", what);
    __builtin_unreachable();
}
}  // namespace

void server_register(const std::string &, const std::string &, const std::string &,
                     const std::string &, const opt_str &, const opt_str &, const opt_str &) {
    unreachable("server_register");
}
void server_scratch(const std::string &) { unreachable("server_scratch"); }
void server_set_sticky(const char *, const char *, const opt_str &, const opt_str &, int) {
    unreachable("server_set_sticky");
}
void server_template(const char *, const char *) { unreachable("server_template"); }
void server_update_entries(const char *, const char *, const char *, int) {
    unreachable("server_update_entries");
}
void server_modtime(const file_info *, const Vers_TS *) { unreachable("server_modtime"); }
void server_pathname_check(const char *) { unreachable("server_pathname_check"); }
void server_pause_check() { unreachable("server_pause_check"); }
