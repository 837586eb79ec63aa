// The responses of the command child. (Being written.)
#include "src/server/server_results.h"

#include "src/base/error.h"

namespace {
[[noreturn]] void not_yet(const char *what) {
    error(1, 0, "internal error: %s is not available yet", what);
    __builtin_unreachable();
}
}  // namespace

void ProtocolResults::register_entry(const std::string &, const std::string &,
                                     const std::string &, const std::string &, const opt_str &,
                                     const opt_str &, const opt_str &) {
    not_yet("server_register");
}
void ProtocolResults::scratch(const std::string &) { not_yet("server_scratch"); }
void ProtocolResults::scratch_entry_only() { not_yet("server_scratch_entry_only"); }
void ProtocolResults::checked_in(const char *, const char *, const char *) {
    not_yet("server_checked_in");
}
void ProtocolResults::update_entries(const char *, const char *, const char *, int) {
    not_yet("server_update_entries");
}
void ProtocolResults::updated(const file_info *, const Vers_TS *, int, mode_t,
                              const unsigned char *, buffer *) {
    not_yet("server_updated");
}
void ProtocolResults::copy_file(const char *, const char *, const char *, const char *) {
    not_yet("server_copy_file");
}
void ProtocolResults::modtime(const file_info *, const Vers_TS *) { not_yet("server_modtime"); }
bool ProtocolResults::use_rcs_diff() { return false; }
void ProtocolResults::set_entstat(const char *, const char *) { not_yet("server_set_entstat"); }
void ProtocolResults::clear_entstat(const char *, const char *) {
    not_yet("server_clear_entstat");
}
void ProtocolResults::set_sticky(const char *, const char *, const opt_str &, const opt_str &,
                                 int) {
    not_yet("server_set_sticky");
}
void ProtocolResults::template_file(const char *, const char *) { not_yet("server_template"); }
void ProtocolResults::prog(const char *, const char *, progs) { not_yet("server_prog"); }
