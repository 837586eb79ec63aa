// The real main: environment, global options, rc file, command lookup, root
// choice, the loop over repository roots, and the exit sequence.
#include "src/frame.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <getopt.h>
#include <string>
#include <unistd.h>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/sighandle.h"
#include "src/cmd_table.h"
#include "src/commands/version.h"
#include "src/commands/watch.h"
#include "src/jolrc.h"
#include "src/repo/parseinfo.h"
#include "src/repo/variables.h"
#include "src/server/auth.h"
#include "src/server/server.h"
#include "src/wc/entries.h"

namespace {

const char short_options[] = "+Qqrwtnlvb:T:e:d:Hfz:s:xa";

const struct option long_options[] = {
    {"help", 0, nullptr, 'H'},          {"version", 0, nullptr, 'v'},
    {"help-commands", 0, nullptr, 1},   {"help-synonyms", 0, nullptr, 2},
    {"help-options", 0, nullptr, 4},    {"allow-root", 1, nullptr, 3},
    {nullptr, 0, nullptr, 0},
};

int set_root_directory(Node *p, void *) {
    if (!current_root && p->data == nullptr) {
        current_root = *p->key;
        return 1;
    }
    return 0;
}

// setenv keeps its own copy, so a value set again for the next root does
// not leave the previous one behind.
void set_env(const char *name, const std::string &value) {
    if (setenv(name, value.c_str(), 1) != 0)
        error(1, errno, "cannot set %s in the environment", name);
}

// Decisions of start-up that later steps act on.
struct StartState {
    std::optional<std::string> JOLroot;  // the chosen root string
    int jol_update_env = 0;              // export JOLROOT
    int tmpdir_update_env = 0;           // export TMPDIR
    int help = 0;                        // -H seen
};

void read_environment(StartState &st) {
    st.tmpdir_update_env = !Tmpdir.empty();
    if (auto v = jolguiglue_getenv("TMPDIR")) {
        Tmpdir = *v;
        st.tmpdir_update_env = 0;
    }
    if (auto v = jolguiglue_getenv("JOLEDITOR"))
        Editor = *v;
    else if (auto v2 = jolguiglue_getenv("VISUAL"))
        Editor = *v2;
    else if (auto v3 = jolguiglue_getenv("EDITOR"))
        Editor = *v3;
    if (auto v = jolguiglue_getenv("JOLROOT")) {
        st.JOLroot = *v;
        st.jol_update_env = 0;
    }
    if (jolguiglue_getenv("JOLREAD"))
        jolwrite = 0;
}

// The global options, with those of ~/.jolrc spliced in front; leaves
// argc/argv at the command name.
void parse_global_options(int &argc, char **&argv, StartState &st) {
    // First pass, silent: only -f matters before the rc file is read.
    opterr = 0;
    optind = 0;
    int c;
    while ((c = getopt_long(argc, argv, short_options, long_options, nullptr)) != -1)
        if (c == 'f')
            use_jolrc = 0;
    // The password server starts as root, from a super-server: it reads no
    // rc file, as if -f were given.
    if (optind < argc && std::strcmp(argv[optind], "pserver") == 0)
        use_jolrc = 0;

    if (use_jolrc)
        read_jolrc(&argc, &argv, "jol");

    opterr = 1;
    optind = 0;
    while ((c = getopt_long(argc, argv, short_options, long_options, nullptr)) != -1) {
        switch (c) {
        case 1: cmd_usage_exit();
        case 2: cmd_synonyms_exit();
        case 4: opt_usage_exit();
        case 3: root_allow_add(optarg); break;
        case 'H': st.help = 1; break;
        case 'Q': really_quiet = 1; quiet = 1; break;
        case 'q': quiet = 1; break;
        case 'r': jolwrite = 0; break;
        case 'w': jolwrite = 1; break;
        case 't': trace = 1; break;
        case 'n': noexec = 1; logoff = 1; break;
        case 'l': logoff = 1; break;
        case 'v': print_version_banner_and_exit();
        case 'b': break;
        case 'T': Tmpdir = optarg; st.tmpdir_update_env = 1; break;
        case 'e': Editor = optarg; break;
        case 'd':
            JOLroot_cmdline = optarg;
            st.JOLroot = optarg;
            st.jol_update_env = 1;
            break;
        case 'f': use_jolrc = 0; break;
        case 'z':
            gzip_level = std::atoi(optarg);
            if (static_cast<unsigned>(gzip_level) > 9)
                error(1, 0, "gzip compression level must be between 0 and 9");
            break;
        case 's': variable_set(optarg); break;
        case 'x': jolencrypt = 1; break;
        case 'a': jolauthenticate = 1; break;
        default: general_usage_exit();
        }
    }
    argc -= optind;
    argv += optind;
    if (argc < 1)
        general_usage_exit();
}

const cmd *find_command(const char *typed) {
    const cmd *cm = lookup_command(typed);
    if (!cm) {
        jol_outerr("Unknown command: `");
        jol_outerr(typed);
        jol_outerr("'\n\n");
        cmd_usage_exit();
    }
    command_name = cm->fullname;
    if (std::strcmp(typed, "rlog") == 0) {
        error(0, 0, "warning: the rlog command is deprecated");
        error(0, 0, "use the synonymous log command instead");
    }
    return cm;
}

// The umask, the working directory, the temporary directory, the signal
// handlers and the host name, before any command runs.
void prepare_process(const StartState &st) {
    if (auto v = jolguiglue_getenv("JOLUMASK")) {
        errno = 0;
        char *end;
        long mask = std::strtol(v->c_str(), &end, 8);
        if (*end != '\0')
            error(1, errno, "invalid umask value in %s (%s)", "JOLUMASK", *v);
        jolumask = static_cast<mode_t>(mask) & 0777;
    }

    // The password server authenticates the connection, then serves it
    // like "server".
    if (command_name == "pserver") {
        pserver_authenticate_connection();
        command_name = "server";
    }
    server_active = command_name == "server";
    static_assert(CMD_WRITES_REPOSITORY == 4, "the server's access check reads bit 4");
    set_command_attribute_lookup(lookup_command_attribute);
    install_broken_lock_notices();
    if (server_active) {
        CurDir = "<remote>";
    } else {
        char *cwd = getcwd(nullptr, 0);
        if (!cwd)
            error(1, errno, "cannot get working directory");
        CurDir = cwd;
        std::free(cwd);
    }

    if (Tmpdir.empty())
        Tmpdir = "/tmp";
    if (st.tmpdir_update_env)
        set_env("TMPDIR", Tmpdir);

    for (int sig : {SIGABRT, SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM})
        SIG_register(sig, main_cleanup);

    gethostname(hostname, sizeof hostname);
    hostname[sizeof hostname - 1] = '\0';
}

// -d, else JOL/Root (for commands that read it), else JOLROOT; the
// command-line root list starts with it.
void choose_root(StartState &st) {
    if (!server_active) {
        std::optional<std::string> JOLADM_Root;
        if ((lookup_command_attribute(command_name.c_str()) & CMD_READS_ROOT_FILE) &&
            !JOLroot_cmdline)
            JOLADM_Root = Name_Root(nullptr, nullptr);
        if (JOLADM_Root && (!st.JOLroot || !st.jol_update_env)) {
            st.JOLroot = JOLADM_Root;
            st.jol_update_env = 1;
        }
        if (!st.JOLroot) {
            error(0, 0, "No JOLROOT specified!  Please use the `-d' option");
            error(1, 0, "or set the %s environment variable.", "JOLROOT");
        }
        if (st.JOLroot->empty()) {
            error(0, 0, "JOLROOT is set but empty!  Make sure that the");
            error(0, 0, "specification of JOLROOT is legal, either via the");
            error(0, 0, "`-d' option, the %s environment variable, or the", "JOLROOT");
            error(1, 0, "JOL/Root file (if any).");
        }
    }

    root_directories = getlist();
    if (st.JOLroot) {
        Node *n = getnode();
        n->type = NT_UNKNOWN;
        n->key = *st.JOLroot;
        if (addnode(root_directories, n) != 0)
            error(1, 0, "cannot add initial JOLROOT %s", *st.JOLroot);
    }
}

// Runs the command once per repository root not yet done (once in the
// server); the result of the last run.
int run_root_loop(const cmd *cm, int argc, char **argv, const StartState &st) {
    int result = 0;
    for (bool first = true;; first = false) {
        if (server_active) {
            if (!first)
                break;
        } else if (walklist(root_directories, set_root_directory, nullptr) == 0) {
            break;
        }
        if (!server_active) {
            if (parse_jolroot(*current_root) != 0)
                error(1, 0, "Bad JOLROOT.");
            if (trace)
                error(0, 0, "notice: main loop with JOLROOT=%s", *current_root);
            if (!client_active) {
                std::string adm = JOLroot_directory + "/JOLROOT";
                if (access(adm.c_str(), R_OK | X_OK) != 0 && command_name != "init")
                    error(1, errno, "%s", adm);
            }
            if (st.jol_update_env)
                set_env("JOLROOT", *st.JOLroot);
            if (!client_active)
                parse_config(JOLroot_directory.c_str());
        }
        result = cm->func(argc, argv);
        // The server sets its root from the client; it is no entry here.
        if (current_root && !server_active) {
            Node *n = findnode(root_directories, *current_root);
            jol_assert(n != nullptr);
            n->data = reinterpret_cast<void *>(1);
            n->delproc = [](Node *) {};
            current_root.reset();
        }
    }
    return result;
}

}  // namespace

void jolguiglue_main(int argc, char **argv) {
    tzset();
    program_path = argv[0];
    program_name = last_component(argv[0]);

    StartState st;
    read_environment(st);
    parse_global_options(argc, argv, st);
    const cmd *cm = find_command(argv[0]);

    int result = 0;
    if (st.help) {
        result = cm->func(-1, argv);
    } else {
        prepare_process(st);
        if (use_jolrc)
            read_jolrc(&argc, &argv, command_name.c_str());
        choose_root(st);
        result = run_root_loop(cm, argc, argv, st);
    }

    run_cleanup_stage(CleanupStage::repository_locks);
    root_allow_free();
    // An entry that only lives in memory is a failure, even when the
    // command's own work succeeded.
    if (admin_write_failures)
        result = 1;
    jolguiglue_exit(result != 0 ? 1 : 0);
}
