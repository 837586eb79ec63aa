// The client's response loop and the handlers of the responses that do not
// write working files: output, errors, tagged text, checksums, modes,
// times, programs, module expansions and wrapper options.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "src/base/error.h"
#include "src/base/getdate.h"
#include "src/base/globals.h"
#include "src/base/hex.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/client/client.h"
#include "src/client/client_state.h"
#include "src/client/response_files.h"
#include "src/client/response_state.h"
#include "src/client/server_paths.h"
#include "src/protocol/protocol_size.h"
#include "src/protocol/protocol_tables.h"
#include "src/wc/wrapper.h"

namespace {

using Handler = void (*)(std::string_view arg);

void print_pending_updated_fname() {
    auto &fname = client_response_state.updated_fname;
    if (fname) {
        jol_output("U " + *fname + "\n");
        fname.reset();
    }
}

void handle_ok(std::string_view) {}

void handle_error(std::string_view arg) {
    size_t sp = arg.find(' ');
    if (sp == std::string_view::npos) {
        error(0, 0, "invalid data from jol server");
        return;
    }
    jol_flushout();
    jol_outerr(std::string(arg.substr(sp + 1)) + "\n");
}

void handle_valid_requests(std::string_view arg) {
    while (!arg.empty()) {
        size_t sp = arg.find(' ');
        mark_request_supported(std::string(arg.substr(0, sp)));
        arg = sp == std::string_view::npos ? std::string_view() : arg.substr(sp + 1);
    }
    if (const char *missing = missing_essential_request())
        error(1, 0, "request `%s' not supported by server", missing);
}

void handle_checksum(std::string_view arg) {
    if (client_response_state.stored_checksum)
        error(1, 0, "Checksum received before last one was used");
    std::array<unsigned char, 16> sum{};
    bool ok = arg.size() == 32;
    for (size_t i = 0; ok && i < 16; ++i) {
        int hi = hex_value(arg[2 * i]), lo = hex_value(arg[2 * i + 1]);
        ok = hi >= 0 && lo >= 0;
        sum[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    if (!ok)
        error(1, 0, "Invalid Checksum response: `%s'", std::string(arg));
    client_response_state.stored_checksum = sum;
}

void handle_mode(std::string_view arg) {
    if (client_response_state.stored_mode)
        error(1, 0, "protocol error: duplicate Mode");
    client_response_state.stored_mode = std::string(arg);
}

void handle_mod_time(std::string_view arg) {
    if (client_response_state.stored_modtime) {
        error(0, 0, "protocol error: duplicate Mod-time");
        return;
    }
    std::string text(arg);
    time_t t = get_date(text.c_str(), nullptr);
    if (t == static_cast<time_t>(-1)) {
        error(0, 0, "protocol error: cannot parse date %s", text);
        return;
    }
    client_response_state.stored_modtime = t;
}

void handle_m(std::string_view arg) {
    jol_flusherr();
    jol_output(std::string(arg) + "\n");
}

void handle_e(std::string_view arg) {
    jol_flushout();
    jol_outerr(std::string(arg) + "\n");
}

void handle_f(std::string_view) { jol_flusherr(); }

void handle_mbinary(std::string_view) {
    std::string size_line = read_line();
    std::optional<off_t> size = parse_protocol_size(size_line);
    if (!size)
        error(1, 0, "protocol error: bad size %s in Mbinary", size_line);
    char buf[8192];
    for (off_t left = *size; left > 0;) {
        size_t n = left > static_cast<off_t>(sizeof buf) ? sizeof buf : static_cast<size_t>(left);
        read_from_server(buf, n);
        jol_output_binary(buf, n);
        left -= static_cast<off_t>(n);
    }
}

void print_importmergecmd() {
    ImportMergeCmd &m = client_response_state.importmergecmd;
    if (!m.conflicts || !m.mergetag1 || !m.mergetag2 || !m.repository) {
        error(0, 0, "invalid server: incomplete importmergecmd tags");
    } else {
        std::string text = "\n" + std::to_string(*m.conflicts) +
                           " conflicts created by this import.\n"
                           "Use the following command to help the merge:\n\n\t" +
                           program_name;
        if (JOLroot_cmdline)
            text += " -d " + *JOLroot_cmdline;
        text += " checkout -j" + *m.mergetag1 + " -j" + *m.mergetag2 + " " + *m.repository +
                "\n\n";
        jol_output(text);
    }
    m = ImportMergeCmd{};
}

void handle_mt(std::string_view arg) {
    size_t sp = arg.find(' ');
    std::string tag(arg.substr(0, sp));
    std::optional<std::string> text;
    if (sp != std::string_view::npos)
        text = std::string(arg.substr(sp + 1));
    ResponseState &rs = client_response_state;
    if (tag == "+updated") {
        rs.updated_seen = true;
    } else if (tag == "-updated") {
        rs.updated_seen = false;
    } else if (tag == "+importmergecmd") {
        rs.importmergecmd = ImportMergeCmd{};
        rs.importmergecmd.seen = true;
    } else if (tag == "-importmergecmd") {
        print_importmergecmd();
    } else if (tag[0] == '+' || tag[0] == '-') {
    } else if (rs.updated_seen) {
        if (tag == "fname") {
            print_pending_updated_fname();
            rs.updated_fname = text.value_or("");
        }
    } else if (rs.importmergecmd.seen) {
        ImportMergeCmd &m = rs.importmergecmd;
        if (tag == "conflicts" && text)
            m.conflicts = std::atoi(text->c_str());
        else if (tag == "mergetag1")
            m.mergetag1 = text;
        else if (tag == "mergetag2")
            m.mergetag2 = text;
        else if (tag == "repository")
            m.repository = text;
    } else if (tag == "newline") {
        jol_output("\n");
    } else if (text) {
        jol_output(*text);
    }
}

void handle_prog(std::string_view arg, std::vector<SavedProg> &progs) {
    // The program is written into the directory's JOL/ at the end.
    check_server_directory(arg, false);
    std::string prog = read_line();
    if (command_name != "export")
        progs.insert(progs.begin(), SavedProg{prog, std::string(arg)});
}

void handle_set_checkin_prog(std::string_view arg) {
    handle_prog(arg, client_response_state.checkin_progs);
}
void handle_set_update_prog(std::string_view arg) {
    handle_prog(arg, client_response_state.update_progs);
}

// The client sends the working files it finds under each expansion, so
// none may name a place outside the working tree.
void handle_module_expansion(std::string_view arg) {
    check_server_directory(arg, false);
    modules_vector.emplace_back(arg);
}

void handle_wrapper_rcs_option(std::string_view arg) {
    size_t sp = arg.find(' ');
    bool ok = sp != std::string_view::npos && arg.substr(sp + 1).rfind("-k '", 0) == 0 &&
              arg.find('\'', sp + 5) != std::string_view::npos;
    if (!ok) {
        error(0, 0, "protocol error: ignoring invalid wrappers %s", std::string(arg));
        return;
    }
    wrap_add(std::string(arg).c_str(), 0);
}

struct response_handler {
    const char *name;
    Handler func;
};

const response_handler handlers[] = {
    {"ok", handle_ok},
    {"error", handle_error},
    {"Valid-requests", handle_valid_requests},
    {"Checked-in", handle_checked_in},
    {"New-entry", handle_new_entry},
    {"Checksum", handle_checksum},
    {"Copy-file", handle_copy_file},
    {"Updated", handle_updated},
    {"Created", handle_created},
    {"Update-existing", handle_update_existing},
    {"Merged", handle_merged},
    {"Patched", handle_patched},
    {"Rcs-diff", handle_rcs_diff},
    {"Mode", handle_mode},
    {"Mod-time", handle_mod_time},
    {"Removed", handle_removed},
    {"Remove-entry", handle_remove_entry},
    {"Set-static-directory", handle_set_static_directory},
    {"Clear-static-directory", handle_clear_static_directory},
    {"Set-sticky", handle_set_sticky},
    {"Clear-sticky", handle_clear_sticky},
    {"Template", handle_template},
    {"Set-checkin-prog", handle_set_checkin_prog},
    {"Set-update-prog", handle_set_update_prog},
    {"Notified", handle_notified},
    {"Module-expansion", handle_module_expansion},
    {"Wrapper-rcsOption", handle_wrapper_rcs_option},
    {"M", handle_m},
    {"Mbinary", handle_mbinary},
    {"E", handle_e},
    {"F", handle_f},
    {"MT", handle_mt},
};

}  // namespace

int get_server_responses() {
    for (;;) {
        std::string line = read_line();
        const response_handler *found = nullptr;
        size_t n = 0;
        for (const response_handler &h : handlers) {
            n = std::strlen(h.name);
            if (line.compare(0, n, h.name) == 0 && (line.size() == n || line[n] == ' ')) {
                found = &h;
                break;
            }
        }
        if (!found) {
            error(0, 0, "warning: unrecognized response `%s' from jol server", line);
            continue;
        }
        std::string_view arg = line.size() > n ? std::string_view(line).substr(n + 1) : "";
        found->func(arg);
        response_type type = response_names[response_index(found->name)].type;
        if (type == response_type_normal)
            continue;
        print_pending_updated_fname();
        if (type == response_type_error)
            return 1;
        return failure_exit ? 1 : 0;
    }
}
