// The request and response tables and the peer's support of responses.
#include "src/protocol/protocol_tables.h"

#include <cstring>
#include <vector>

#include "src/base/error.h"

const request_name request_names[] = {
    {"Root", RQ_ESSENTIAL | RQ_ROOTLESS},
    {"Valid-responses", RQ_ESSENTIAL | RQ_ROOTLESS},
    {"valid-requests", RQ_ESSENTIAL | RQ_ROOTLESS},
    {"Repository", 0},
    {"Directory", RQ_ESSENTIAL},
    {"Max-dotdot", 0},
    {"Static-directory", 0},
    {"Sticky", 0},
    {"Checkin-prog", 0},
    {"Update-prog", 0},
    {"Entry", RQ_ESSENTIAL},
    {"Kopt", 0},
    {"Checkin-time", 0},
    {"Modified", RQ_ESSENTIAL},
    {"Is-modified", 0},
    {"UseUnchanged", RQ_ENABLEME | RQ_ROOTLESS},
    {"Unchanged", RQ_ESSENTIAL},
    {"Notify", 0},
    {"Questionable", 0},
    {"Case", 0},
    {"Argument", RQ_ESSENTIAL},
    {"Argumentx", RQ_ESSENTIAL},
    {"Global_option", RQ_ROOTLESS},
    {"Gzip-stream", 0},
    {"wrapper-sendme-rcsOptions", 0},
    {"Set", RQ_ROOTLESS},
    {"Gssapi-authenticate", 0},
    {"expand-modules", 0},
    {"ci", RQ_ESSENTIAL},
    {"co", RQ_ESSENTIAL},
    {"update", RQ_ESSENTIAL},
    {"diff", 0},
    {"log", 0},
    {"add", 0},
    {"remove", 0},
    {"update-patches", 0},
    {"gzip-file-contents", 0},
    {"status", 0},
    {"rdiff", 0},
    {"tag", 0},
    {"rtag", 0},
    {"import", 0},
    {"admin", 0},
    {"export", 0},
    {"history", 0},
    {"release", 0},
    {"watch-on", 0},
    {"watch-off", 0},
    {"watch-add", 0},
    {"watch-remove", 0},
    {"watchers", 0},
    {"editors", 0},
    {"init", RQ_ROOTLESS},
    {"annotate", 0},
    {"noop", RQ_ROOTLESS},
    {"version", RQ_ROOTLESS},
    {nullptr, 0},
};

const response_name response_names[] = {
    {"ok", response_type_ok, rs_essential},
    {"error", response_type_error, rs_essential},
    {"Valid-requests", response_type_normal, rs_essential},
    {"Checked-in", response_type_normal, rs_essential},
    {"New-entry", response_type_normal, rs_optional},
    {"Checksum", response_type_normal, rs_optional},
    {"Copy-file", response_type_normal, rs_optional},
    {"Updated", response_type_normal, rs_essential},
    {"Created", response_type_normal, rs_optional},
    {"Update-existing", response_type_normal, rs_optional},
    {"Merged", response_type_normal, rs_essential},
    {"Patched", response_type_normal, rs_optional},
    {"Rcs-diff", response_type_normal, rs_optional},
    {"Mode", response_type_normal, rs_optional},
    {"Mod-time", response_type_normal, rs_optional},
    {"Removed", response_type_normal, rs_essential},
    {"Remove-entry", response_type_normal, rs_optional},
    {"Set-static-directory", response_type_normal, rs_optional},
    {"Clear-static-directory", response_type_normal, rs_optional},
    {"Set-sticky", response_type_normal, rs_optional},
    {"Clear-sticky", response_type_normal, rs_optional},
    {"Template", response_type_normal, rs_optional},
    {"Set-checkin-prog", response_type_normal, rs_optional},
    {"Set-update-prog", response_type_normal, rs_optional},
    {"Notified", response_type_normal, rs_optional},
    {"Module-expansion", response_type_normal, rs_optional},
    {"Wrapper-rcsOption", response_type_normal, rs_optional},
    {"M", response_type_normal, rs_essential},
    {"Mbinary", response_type_normal, rs_optional},
    {"E", response_type_normal, rs_essential},
    {"F", response_type_normal, rs_optional},
    {"MT", response_type_normal, rs_optional},
    {nullptr, response_type_normal, rs_optional},
};

namespace {

std::vector<response_status> &states() {
    static std::vector<response_status> s = [] {
        std::vector<response_status> v;
        for (const response_name *r = response_names; r->name; ++r)
            v.push_back(r->initial);
        return v;
    }();
    return s;
}

}  // namespace

int response_count() { return static_cast<int>(states().size()); }

int response_index(std::string_view name) {
    for (int i = 0; response_names[i].name; ++i)
        if (name == response_names[i].name)
            return i;
    return -1;
}

response_status response_state(int index) { return states().at(static_cast<size_t>(index)); }

void set_response_state(int index, response_status status) {
    states().at(static_cast<size_t>(index)) = status;
}

const char *mark_valid_responses(std::string_view names) {
    while (!names.empty()) {
        size_t sp = names.find(' ');
        std::string_view word = names.substr(0, sp);
        names = sp == std::string_view::npos ? std::string_view() : names.substr(sp + 1);
        if (int i = response_index(word); i >= 0)
            set_response_state(i, rs_supported);
    }
    const char *missing = nullptr;
    for (int i = 0; i < response_count(); ++i) {
        if (response_state(i) == rs_optional)
            set_response_state(i, rs_not_supported);
        else if (response_state(i) == rs_essential && !missing)
            missing = response_names[i].name;
    }
    return missing;
}

bool supported_response(const char *name) {
    int i = response_index(name);
    if (i < 0)
        error(1, 0, "internal error: testing support for unknown response?");
    return response_state(i) == rs_supported;
}
