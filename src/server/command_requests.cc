// The command requests: each runs its command through do_jol_command under
// the name the access check knows it by.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/commands/commands.h"
#include "src/commands/watch.h"
#include "src/server/pending.h"
#include "src/server/requests.h"
#include "src/server/server.h"
#include "src/server/server_state.h"

namespace {

struct command_request {
    const char *request;
    const char *cmd_name;
    ServerCommand func;
};

const command_request commands[] = {
    {"ci", "commit", commit},
    {"update", "update", update},
    {"diff", "diff", diff},
    {"log", "log", jollog},
    {"add", "add", add},
    {"remove", "remove", jolremove},
    {"status", "status", jolstatus},
    {"rdiff", "rdiff", patch},
    {"tag", "joltag", joltag},
    {"rtag", "rtag", rtag},
    {"import", "import", import},
    {"admin", "admin", admin},
    {"history", "history", history},
    {"release", "release", release},
    {"watch-on", "watch_on", watch_on},
    {"watch-off", "watch_off", watch_off},
    {"watch-add", "watch_add", watch_add},
    {"watch-remove", "watch_remove", watch_remove},
    {"watchers", "watchers", watchers},
    {"editors", "editors", editors},
    {"annotate", "annotate", annotate},
    {"version", "version", version},
};

// co and export without a "Directory" work in a directory of their own.
void checkout_request(const char *cmd_name) {
    if (print_pending_error()) {
        clear_arguments();
        return;
    }
    if (!isdir("JOL")) {
        std::string dir = server_temp_dir + "/checkout-dir";
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            int e = errno;
            buf_output0(*buf_to_net, ("E Cannot create " + dir + "\n").c_str());
            print_error(e);
            clear_arguments();
            return;
        }
        if (chdir(dir.c_str()) != 0) {
            int e = errno;
            buf_output0(*buf_to_net, ("E Cannot change to directory " + dir + "\n").c_str());
            print_error(e);
            clear_arguments();
            return;
        }
        dir_name = dir;
    }
    do_jol_command(cmd_name, checkout);
}

void init_request(const std::string &arg) {
    if (arg.empty() || arg[0] != '/') {
        set_pending("E Root " + arg + " must be an absolute pathname");
    } else if (Pserver_Repos && *Pserver_Repos != arg) {
        // An authenticated peer may only create the repository it logged
        // in to.
        set_pending("E Protocol error: init says \"" + arg + "\" but pserver says \"" +
                    *Pserver_Repos + "\"");
    } else if (alloc_pending()) {
        if (parse_jolroot(arg) != 0)
            set_pending("E Bad root " + arg);
        else
            current_root = arg;
    }
    do_jol_command("init", init);
}

}  // namespace

void serve_command(const std::string &request, const std::string &arg) {
    if (request == "co") {
        checkout_request("checkout");
        return;
    }
    if (request == "export") {
        command_name = "export";
        checkout_request("export");
        return;
    }
    if (request == "init") {
        init_request(arg);
        return;
    }
    for (const command_request &c : commands) {
        if (request == c.request) {
            do_jol_command(c.cmd_name, c.func);
            return;
        }
    }
    set_pending("E Protocol error: unknown command request " + request);
}
