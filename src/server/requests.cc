// The server's request table: the shared names bound to their handlers,
// and the dispatch of one request line with the "Root" rule.
#include "src/server/requests.h"

#include <cstring>

#include "src/base/globals.h"
#include "src/protocol/protocol_tables.h"
#include "src/server/pending.h"
#include "src/server/server_state.h"

namespace {

using Handler = void (*)(const std::string &);

struct binding {
    const char *name;
    Handler func;  // null: a command request
};

const binding bindings[] = {
    {"Root", serve_root},
    {"Valid-responses", serve_valid_responses},
    {"valid-requests", serve_valid_requests},
    {"Repository", serve_repository},
    {"Directory", serve_directory},
    {"Max-dotdot", serve_max_dotdot},
    {"Static-directory", serve_static_directory},
    {"Sticky", serve_sticky},
    {"Checkin-prog", serve_checkin_prog},
    {"Update-prog", serve_update_prog},
    {"Entry", serve_entry},
    {"Kopt", serve_kopt},
    {"Checkin-time", serve_checkin_time},
    {"Modified", serve_modified},
    {"Is-modified", serve_is_modified},
    {"UseUnchanged", serve_enable_unchanged},
    {"Unchanged", serve_unchanged},
    {"Notify", serve_notify},
    {"Questionable", serve_questionable},
    {"Case", serve_case},
    {"Argument", serve_argument},
    {"Argumentx", serve_argumentx},
    {"Global_option", serve_global_option},
    {"Gzip-stream", serve_gzip_stream},
    {"wrapper-sendme-rcsOptions", serve_wrapper_sendme_rcs_options},
    {"Set", serve_set},
    {"Gssapi-authenticate", serve_gssapi_authenticate},
    {"expand-modules", serve_expand_modules},
    {"update-patches", serve_ignore},
    {"gzip-file-contents", serve_gzip_contents},
    {"noop", serve_noop},
};

Handler handler_of(const char *name) {
    for (const binding &b : bindings)
        if (std::strcmp(b.name, name) == 0)
            return b.func;
    return nullptr;
}

}  // namespace

void dispatch_request(const std::string &line) {
    for (const request_name *rq = request_names; rq->name; ++rq) {
        size_t n = std::strlen(rq->name);
        if (line.compare(0, n, rq->name) != 0 || (line.size() > n && line[n] != ' '))
            continue;
        if (!(rq->flags & RQ_ROOTLESS) && !current_root) {
            set_pending("E Protocol error: Root request missing");
            return;
        }
        std::string arg = line.size() > n ? line.substr(n + 1) : std::string();
        if (Handler h = handler_of(rq->name))
            h(arg);
        else
            serve_command(rq->name, arg);
        return;
    }
    if (print_pending_error())
        return;
    buf_output0(*buf_to_net, "error  unrecognized request `");
    buf_output(*buf_to_net, line);
    buf_output0(*buf_to_net, "'\n");
    buf_flush(*buf_to_net, false);
}
