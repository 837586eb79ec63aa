// send_files: the working copy's state as requests (directories, entries,
// modified contents, questionable files), and module expansion for
// checkout and export.
#include <cerrno>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mac/convert.h"
#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/client/client.h"
#include "src/client/client_state.h"
#include "src/client/send_modified.h"
#include "src/client/temp_beside.h"
#include "src/protocol/file_modes.h"
#include "src/protocol/gzip_file.h"
#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

namespace {

struct send_data {
    bool build_dirs;
    bool force;
    bool no_contents;
    bool backup_modified;
    List *ignlist = nullptr;
};

// Files whose modification makes nothing worth sending (project files that
// every build rewrites), unless DIRTY_MCP is "no".
bool dirty_file(const std::string &name) {
    auto v = jolguiglue_getenv("DIRTY_MCP");
    if (v && *v == "no")
        return false;
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".mcp") == 0;
}

}  // namespace

void send_modified(const std::string &file, const std::string &fullname, const Vers_TS *vers) {
    if (trace)
        jol_outerr(" -> Sending file `" + fullname + "' to server\n");
    struct stat sb;
    if (stat(file.c_str(), &sb) != 0)
        error(1, errno, "reading %s", fullname);
    const bool binary = vers && vers->options == "-kb";
    // A file that needs no conversion is sent as it is; the others go
    // through their repository form in a temporary file.
    std::optional<TempBeside> temp;
    std::string source = file;
    if (!conversion_is_plain_copy(file.c_str(), O_RDONLY, binary ? 1 : 0)) {
        temp.emplace(conversion_temp_name(file.c_str()));
        if (!temp->ok())
            error(1, temp->error_number(), "cannot write %s", temp->name());
        temp->close_fd();
        convert_file(file.c_str(), O_RDONLY, temp->name().c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC | mac_repository_form, binary ? 1 : 0);
        source = temp->name();
    }
    std::string contents;
    int err = 0;
    if (!read_whole_file(source.c_str(), contents, err))
        error(1, err, "reading %s", fullname);
    std::string head = "Modified " + file + "\n" + mode_to_string(sb.st_mode) + "\n";
    if (file_gzip_level && contents.size() > 100) {
        int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
        std::string gz;
        if (fd < 0 || read_and_gzip(fd, fullname.c_str(), gz, file_gzip_level) != 0)
            error(1, 0, "aborting due to compression error");
        close(fd);
        send_to_server(head + "z" + std::to_string(gz.size()) + "\n");
        send_to_server(gz);
    } else {
        send_to_server(head + std::to_string(contents.size()) + "\n");
        send_to_server(contents);
    }
    if (temp)
        if (int rm = temp->remove())
            error(0, rm, "warning: can't remove temp file %s", temp->name());
}

namespace {

std::string entry_request(const std::string &name, const Vers_TS &vers) {
    const Entnode *e = vers.entdata;
    std::string conflict;
    if (vers.ts_conflict)
        conflict = vers.ts_conflict == vers.ts_user ? "+=" : "+modified";
    std::string tagdate;
    if (e->tag)
        tagdate = "T" + *e->tag;
    else if (e->date)
        tagdate = "D" + *e->date;
    return "Entry /" + name + "/" + *vers.vn_user + "/" + conflict + "/" + e->options + "/" +
           tagdate + "\n";
}

void send_kopt(const std::string &file) {
    wrap_add_file(".jolwrappers", 1);
    std::optional<std::string> opt = wrap_rcsoption(file.c_str(), 1);
    if (!opt)
        return;
    if (supported_request("Kopt"))
        send_to_server("Kopt " + *opt + "\n");
    else
        error(0, 0, "warning: ignoring -k options due to server limitations");
}

int send_fileproc(void *callerdat, file_info *finfo) {
    send_data &args = *static_cast<send_data *>(callerdat);
    send_a_repository("", finfo->repository, finfo->update_dir.c_str());
    // Only the entry and the working file count here: the archive, which
    // a local root would let this process read, is the server's business.
    file_info local = *finfo;
    local.repository = nullptr;
    Vers_TS *vers = Version_TS(&local, nullptr, nullptr, nullptr, 0, 0);
    std::string name = vers->entdata ? vers->entdata->user : finfo->file;
    if (vers->vn_user)
        send_to_server(entry_request(name, *vers));
    else
        send_kopt(finfo->file);
    if (vers->ts_user) {
        bool modified = !vers->ts_rcs || args.force || *vers->ts_user != *vers->ts_rcs;
        bool dirty = dirty_file(finfo->file);
        if (modified && dirty && !quiet)
            error(0, 0, "Skip a modified dirty file : %s", finfo->fullname);
        if (modified && !dirty) {
            if (args.no_contents && supported_request("Is-modified"))
                send_to_server("Is-modified " + name + "\n");
            else
                send_modified(finfo->file, finfo->fullname, vers);
            if (args.backup_modified) {
                std::string bak =
                    backup_file(finfo->file.c_str(), vers->vn_user.value_or("").c_str());
                if (!really_quiet)
                    jol_output("(Locally modified " + finfo->file + " moved to " + bak + ")\n");
            }
        } else {
            send_to_server("Unchanged " + name + "\n");
        }
    }
    if (args.ignlist)
        addlist(&args.ignlist, finfo->file);
    freevers_ts(&vers);
    return 0;
}

void send_ignproc(const char *file, const char *dir) {
    if (ign_inhibit_server || !supported_request("Questionable")) {
        if (*dir)
            jol_output(std::string("? ") + dir + "/" + file + "\n");
        else
            jol_output(std::string("? ") + file + "\n");
        return;
    }
    send_to_server(std::string("Questionable ") + file + "\n");
}

int send_filesdoneproc(void *callerdat, int err, const char *, const char *update_dir,
                       List *entries) {
    send_data &args = *static_cast<send_data *>(callerdat);
    if (args.ignlist) {
        ignore_files(args.ignlist, entries, update_dir, send_ignproc);
        dellist(&args.ignlist);
    }
    return err;
}

Dtype send_dirent_proc(void *callerdat, const char *dir, const char *repository,
                       const char *update_dir, List *) {
    send_data &args = *static_cast<send_data *>(callerdat);
    if (ignore_directory(update_dir)) {
        if (!quiet)
            error(0, 0, "Ignoring %s", update_dir);
        return R_SKIP_ALL;
    }
    std::string adm = std::string(dir) + "/JOL";
    if (isdir(adm.c_str())) {
        std::string repos = Name_Repository(dir, update_dir);
        send_a_repository(dir, repos.c_str(), update_dir);
        dellist(&args.ignlist);
        args.ignlist = getlist();
        return R_PROCESS;
    }
    if (args.build_dirs && noexec && repository)
        send_a_repository(dir, repository, update_dir);
    return R_SKIP_ALL;
}

int send_dirleave_proc(void *callerdat, const char *, int err, const char *, List *) {
    dellist(&static_cast<send_data *>(callerdat)->ignlist);
    return err;
}

}  // namespace

void send_files(int argc, char **argv, int local, int aflag, unsigned int flags) {
    send_data args{(flags & SEND_BUILD_DIRS) != 0, (flags & SEND_FORCE) != 0,
                   (flags & SEND_NO_CONTENTS) != 0, (flags & BACKUP_MODIFIED_FILES) != 0};
    int err = start_recursion({.fileproc = send_fileproc,
                               .filesdoneproc = send_filesdoneproc,
                               .direntproc = send_dirent_proc,
                               .dirleaveproc = send_dirleave_proc,
                               .callerdat = &args,
                               .argc = argc,
                               .argv = argv,
                               .local = local,
                               .which = WHICH_LOCAL,
                               .aflag = aflag,
                               .dosrcs = 0});
    dellist(&args.ignlist);
    if (err)
        error_exit();
    std::string top = toplevel_repos ? *toplevel_repos : JOLroot_directory;
    send_repository("", top.c_str(), ".");
}

namespace {

std::vector<std::string> module_args;

}  // namespace

void client_expand_modules(int argc, char **argv, int local) {
    (void)local;
    module_args.assign(argv, argv + argc);
    for (const std::string &a : module_args)
        send_arg(a);
    send_a_repository("", JOLroot_directory.c_str(), "");
    send_to_server("expand-modules\n");
    // Without the expansion the rest of the request would name modules the
    // server has already refused.
    if (get_server_responses() != 0)
        error(1, 0, "cannot expand modules");
    last_repos.reset();
    last_update_dir.reset();
}

void client_send_expansions(int local, const char *where, int build_dirs) {
    std::vector<char *> argv;
    for (std::string &a : module_args)
        argv.push_back(a.data());
    send_file_names(static_cast<int>(argv.size()), argv.data(), 0);
    for (std::string &m : modules_vector) {
        std::string dir = where ? where : m;
        if (isfile(dir.c_str()) || isdir(dir.c_str())) {
            char *one[] = {dir.data(), nullptr};
            send_files(1, one, local, 0, build_dirs ? SEND_BUILD_DIRS : 0);
        }
    }
    send_a_repository("", JOLroot_directory.c_str(), "");
}

void client_nonexpanded_setup() { send_a_repository("", JOLroot_directory.c_str(), ""); }
