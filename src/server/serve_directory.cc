// "Directory", which enters (creating) a directory of the temporary tree
// with its administrative files, and the requests that set that directory
// up: Max-dotdot, Static-directory, Sticky, Checkin-prog and Update-prog.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/root.h"
#include "src/protocol/sys_io.h"
#include "src/repo/modules.h"
#include "src/server/path_checks.h"
#include "src/server/pending.h"
#include "src/server/requests.h"
#include "src/server/server.h"
#include "src/server/server_state.h"
#include "src/server/tree_requests.h"
#include "src/wc/entries.h"

namespace {

// Max-dotdot levels in all: each is a "/d" component of the tree's path.
constexpr int max_dotdot_most = 1000;

bool is_leading_dotdot(std::string_view rest) { return rest == ".." || rest.starts_with("../"); }

// The client's name of a directory, checked: none when it may be used,
// else the pending-error text.
std::optional<std::string> directory_name_refusal(const std::string &name) {
    if (!name.empty() && name[0] == '/')
        return "E absolute pathname `" + shown(name) + "' illegal for server";
    std::string syntax = "E protocol error: invalid directory syntax in " + shown(name);
    if (name.find('\0') != std::string::npos)
        return syntax;
    if (pathname_levels(name.c_str()) > max_dotdot_limit)
        return "E protocol error: `" + shown(name) + "' has too many ..";
    if (name == ".")
        return std::nullopt;
    // Leading ".." components, then plain names only: no "JOL" (a peer
    // could write the administrative files), no "." or empty component,
    // no ".." in the middle.
    std::string_view rest(name);
    while (is_leading_dotdot(rest))
        rest.remove_prefix(rest.size() == 2 ? 2 : 3);
    for (;;) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        if (part.empty() || part == "." || part == ".." || is_admin_name(part))
            return syntax;
        if (slash == std::string_view::npos)
            return std::nullopt;
        rest.remove_prefix(slash + 1);
    }
}

// Where the directory of a client's name lies: the top its leading ".."
// climb to (server_temp_dir when there are none), and the path below it.
struct tree_path {
    std::string base;   // the top its leading ".." climb to
    std::string below;  // the rest, relative to `base` ("." for none)
};

tree_path split_tree_path(const std::string &name) {
    tree_path p{server_temp_dir, ""};
    std::string_view rest(name);
    while (is_leading_dotdot(rest)) {
        p.base.erase(p.base.rfind('/'));
        rest.remove_prefix(rest.size() == 2 ? 2 : 3);
    }
    p.below = rest.empty() || rest == "." ? "." : std::string(rest);
    return p;
}

// Makes the directory one component at a time from orig_server_temp_dir
// down, each a real directory: nothing found in the tree, a symbolic link
// least of all, leads the server elsewhere. 0 or an error number.
int make_tree_dirs(const tree_path &p) {
    std::string path = orig_server_temp_dir;
    auto step = [&path](std::string_view part) {
        path += '/';
        path += part;
        if (mkdir(path.c_str(), 0777) == 0)
            return 0;
        struct stat sb;
        if (errno != EEXIST || lstat(path.c_str(), &sb) != 0)
            return errno;
        return S_ISDIR(sb.st_mode) ? 0 : S_ISLNK(sb.st_mode) ? ELOOP : ENOTDIR;
    };
    // The whole of server_temp_dir, which the name's path passes through
    // even where it climbs back out.
    for (int i = 0; i < dotdot_levels; ++i)
        if (int err = step("d"))
            return err;
    path = p.base;
    if (p.below == ".")
        return 0;
    std::string_view rest(p.below);
    for (;;) {
        size_t slash = rest.find('/');
        if (int err = step(rest.substr(0, slash)))
            return err;
        if (slash == std::string_view::npos)
            return 0;
        rest.remove_prefix(slash + 1);
    }
}

// JOL in the current directory, a real directory. 0 or an error number.
int make_admin_dir() {
    struct stat sb;
    if (mkdir("JOL", 0777) != 0 && errno != EEXIST)
        return errno;
    if (lstat("JOL", &sb) != 0)
        return errno;
    return S_ISDIR(sb.st_mode) ? 0 : S_ISLNK(sb.st_mode) ? ELOOP : ENOTDIR;
}

// Makes, enters and sets up the directory `name` of the tree for the
// repository directory `repository`.
void enter_directory(const std::string &name, const std::string &repository) {
    std::string dir = server_temp_dir + "/" + name;
    tree_path where = split_tree_path(name);
    if (int err = make_tree_dirs(where)) {
        set_pending("E cannot mkdir " + shown(dir), err);
        return;
    }
    // Administrative files on the levels between the top and the
    // directory, never on a ".." level.
    if (int err = create_adm_p(where.base.c_str(), where.below.c_str())) {
        set_pending("E cannot create_adm_p " + shown(dir), err);
        return;
    }
    if (chdir(dir.c_str()) != 0) {
        set_pending("E cannot change to " + shown(dir), errno);
        return;
    }
    dir_name = dir;
    client_dir_name = name;
    if (int err = make_admin_dir()) {
        set_pending("E cannot mkdir " + shown(dir) + "/JOL", err);
        return;
    }
    std::string line = repository;
    if (name == "." && repository == JOLroot_directory)
        line += "/.";
    line += '\n';
    if (!write_tree_file("JOL/Repository", line, dir + "/JOL/Repository",
                         {"E cannot open ", "E error writing ", "E error closing "}))
        return;
    unique_fd entries(open_tree_file("JOL/Entries", O_WRONLY | O_APPEND | O_CREAT, 0666));
    if (!entries) {
        set_pending("E cannot open JOL/Entries", errno);
        return;
    }
    if (int err = entries.reset())
        set_pending("E cannot close JOL/Entries", err);
}

// The program of a Checkin-prog or Update-prog request runs later on this
// machine, so only a program the repository's modules file names for that
// purpose is taken.
bool program_allowed(char option, const char *request, const std::string &prog) {
    DBM *db = open_module();
    bool listed = module_program_listed(db, option, prog);
    close_module(db);
    if (!listed)
        error(0, 0, "warning: %s `%s' is not a program of the modules file; ignored", request,
              shown(prog));
    return listed;
}

}  // namespace

// Format: doc/protocol.md#tree-requests
void serve_directory(const std::string &arg) {
    std::string repository;
    if (!read_request_data("mode", arg, repository))
        return;
    if (error_pending())
        return;
    std::string refusal = outside_root(repository);
    if (!refusal.empty())
        set_pending(refusal);
    // The entries queued so far belong to the directory being left.
    server_write_entries();
    if (error_pending())
        return;
    if (std::optional<std::string> bad = directory_name_refusal(arg)) {
        set_pending(*bad);
        return;
    }
    enter_directory(arg, repository);
}

void serve_max_dotdot(const std::string &arg) {
    if (!arg.empty() && arg[0] == '-')
        return;
    if (arg.empty() || arg.size() > 4 || arg.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(arg) > max_dotdot_most - dotdot_levels) {
        set_pending("E protocol error: invalid Max-dotdot request: " + shown(arg));
        return;
    }
    int levels = std::stoi(arg);
    for (int i = 0; i < levels; ++i)
        server_temp_dir += "/d";
    dotdot_levels += levels;
    max_dotdot_limit = levels;
}

void serve_static_directory(const std::string &) {
    if (directory_request_allowed())
        write_tree_file("JOL/Entries.Static", "", "JOL/Entries.Static");
}

void serve_sticky(const std::string &arg) {
    if (directory_request_allowed())
        write_tree_file("JOL/Tag", arg + "\n", "JOL/Tag");
}

void serve_checkin_prog(const std::string &arg) {
    if (directory_request_allowed() && program_allowed('i', "Checkin-prog", arg))
        write_tree_file("JOL/Checkin.prog", arg + "\n", "JOL/Checkin.prog");
}

void serve_update_prog(const std::string &arg) {
    if (!directory_request_allowed())
        return;
    if (!check_command_legal_p("commit")) {
        set_pending("E Flag -u in modules not allowed in readonly mode");
        return;
    }
    if (program_allowed('u', "Update-prog", arg))
        write_tree_file("JOL/Update.prog", arg + "\n", "JOL/Update.prog");
}
