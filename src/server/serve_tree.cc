// Requests that build the temporary tree: Directory and the directory-level
// requests. (Being written.)
#include "src/server/pending.h"
#include "src/server/requests.h"

namespace {
void not_yet(const char *what) { set_pending(std::string("E ") + what + " is not available yet"); }
}  // namespace

void serve_directory(const std::string &) { not_yet("Directory"); }
void serve_max_dotdot(const std::string &) { not_yet("Max-dotdot"); }
void serve_static_directory(const std::string &) { not_yet("Static-directory"); }
void serve_sticky(const std::string &) { not_yet("Sticky"); }
void serve_checkin_prog(const std::string &) { not_yet("Checkin-prog"); }
void serve_update_prog(const std::string &) { not_yet("Update-prog"); }
void serve_entry(const std::string &) { not_yet("Entry"); }
void serve_kopt(const std::string &) { not_yet("Kopt"); }
void serve_checkin_time(const std::string &) { not_yet("Checkin-time"); }
void serve_modified(const std::string &) { not_yet("Modified"); }
void serve_is_modified(const std::string &) { not_yet("Is-modified"); }
void serve_unchanged(const std::string &) { not_yet("Unchanged"); }
void serve_notify(const std::string &) { not_yet("Notify"); }
void serve_questionable(const std::string &) { not_yet("Questionable"); }
void serve_wrapper_sendme_rcs_options(const std::string &) { not_yet("wrapper-sendme-rcsOptions"); }
void serve_expand_modules(const std::string &) { not_yet("expand-modules"); }
void server_write_entries() {}
void server_notify() {}
