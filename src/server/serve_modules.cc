// The requests that answer with the repository's settings rather than
// build the tree: expand-modules (what module names stand for) and
// wrapper-sendme-rcsOptions (the keyword modes of the wrappers).
#include <cstring>
#include <vector>

#include "src/base/error.h"
#include "src/protocol/buffer.h"
#include "src/repo/modules.h"
#include "src/server/requests.h"
#include "src/server/server_state.h"
#include "src/server/tree_requests.h"
#include "src/wc/server_hooks.h"
#include "src/wc/wrapper.h"

namespace {

void send_expansion(const std::string &name) {
    std::string line = "Module-expansion ";
    if (server_dir) {
        line += *server_dir;
        line += '/';
    }
    line += name;
    line += '\n';
    buf_output(*buf_to_net, line);
}

// One expansion result: the module's own directory (with the file asked
// for inside it), a plain directory, or the files a module names in it.
int expansion_proc(int argc, char **argv, const char *, const char *mwhere, const char *mfile, int,
                   int, const char *, const char *) {
    if (mwhere) {
        send_expansion(mfile ? std::string(mwhere) + "/" + mfile : std::string(mwhere));
        return 0;
    }
    if (argc == 1) {
        send_expansion(argv[0]);
        return 0;
    }
    for (int i = 1; i < argc; ++i)
        send_expansion(std::string(argv[0]) + "/" + argv[i]);
    return 0;
}

// A module name goes into traces and answers a line at a time.
bool module_name_ok(const std::string &name) {
    if (name.find('\n') == std::string::npos && name.find('\0') == std::string::npos)
        return true;
    error(0, 0, "protocol error: module name `%s' contains a newline or NUL byte", shown(name));
    return false;
}

}  // namespace

void serve_expand_modules(const std::string &) {
    int errs = 0;
    DBM *db = open_module();
    // While expanding, the module machinery announces module programs to
    // the client instead of writing them.
    server_expanding = true;
    for (size_t i = 1; i < argument_vector.size(); ++i) {
        const std::string &name = argument_vector[i];
        if (!module_name_ok(name)) {
            ++errs;
            continue;
        }
        errs += do_module(db, name.c_str(), CHECKOUT, "Updating", expansion_proc, nullptr, 0, 0, 0,
                          nullptr);
    }
    server_expanding = false;
    close_module(db);
    clear_arguments();
    buf_output0(*buf_to_net, errs ? "error  \n" : "ok\n");
    buf_flush(*buf_to_net, false);
}

void serve_wrapper_sendme_rcs_options(const std::string &) {
    wrap_setup();
    for (int first = 1;; first = 0) {
        std::optional<std::string> option = wrap_unparse_rcs_options(first);
        if (!option)
            break;
        buf_output(*buf_to_net, "Wrapper-rcsOption " + *option + "\n");
    }
    buf_output0(*buf_to_net, "ok\n");
    buf_flush(*buf_to_net, false);
}
