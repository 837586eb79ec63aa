// commit as a client: a find pass over the working copy says what would be
// committed; the message is obtained here; then the files, the names and
// "ci" go to the server, which runs the check and commit passes.
#include "src/commands/commit_client.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/client/client.h"
#include "src/repo/logmsg.h"
#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"

namespace {

const char *opt_c(const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; }

struct FindRun {
    const CommitClientRequest &req;
    List *ulist = nullptr;     // the changes found, by full name
    List *ignlist = nullptr;   // names seen in the current directory
    std::vector<std::pair<std::string, std::string>> questionable{};  // (directory, file)
};

FindRun *current_find = nullptr;

void find_ignproc(const char *file, const char *dir) {
    current_find->questionable.emplace_back(dir, file);
}

Dtype find_dirent_proc(void *callerdat, const char *dir, const char *, const char *update_dir,
                       List *) {
    FindRun &run = *static_cast<FindRun *>(callerdat);
    if (!isdir(dir))
        return R_SKIP_ALL;
    dellist(&run.ignlist);
    run.ignlist = getlist();
    if (!quiet)
        error(0, 0, "Examining %s", update_dir);
    return R_PROCESS;
}

int find_fileproc(void *callerdat, file_info *finfo) {
    FindRun &run = *static_cast<FindRun *>(callerdat);
    if (run.ignlist)
        addlist(&run.ignlist, finfo->file);
    // The working copy alone decides here: an archive that a local root
    // would let this process read must not make a :fork: client differ
    // from a remote one.
    file_info local = *finfo;
    local.repository = nullptr;
    Vers_TS *vers = Version_TS(&local, nullptr, opt_c(run.req.saved_tag), nullptr, 0, 0);
    int err = 0;
    std::optional<Ctype> status;
    if (vers->vn_user) {
        const std::string &v = *vers->vn_user;
        if (!v.empty() && v[0] == '-' && !vers->ts_user)
            status = T_REMOVED;
        else if (v == "0" && vers->ts_user)
            status = T_ADDED;
        else if (vers->ts_user && (run.req.force || vers->ts_user != vers->ts_rcs))
            status = T_MODIFIED;
    } else if (vers->ts_user) {
        error(0, 0, "use `%s add' to create an entry for %s", program_name, finfo->fullname);
        err = 1;
    } else {
        error(0, 0, "nothing known about `%s'", finfo->fullname);
        err = 1;
    }
    if (status)
        add_change(run.ulist, finfo->fullname, *status, vers->tag, vers->vn_rcs);
    freevers_ts(&vers);
    return err;
}

int find_filesdoneproc(void *callerdat, int err, const char *, const char *update_dir,
                       List *entries) {
    FindRun &run = *static_cast<FindRun *>(callerdat);
    if (run.ignlist) {
        current_find = &run;
        ignore_files(run.ignlist, entries, update_dir, find_ignproc);
        current_find = nullptr;
        dellist(&run.ignlist);
    }
    return err;
}

// The unknown files the find pass met: reported through the server when
// it takes them, else here.
void report_questionable(const FindRun &run) {
    for (const auto &[dir, file] : run.questionable) {
        if (supported_request("Questionable") && !ign_inhibit_server) {
            std::string d = dir.empty() ? "." : dir;
            std::string repos = Name_Repository(dir.empty() ? nullptr : dir.c_str(), d.c_str());
            send_to_server("Directory " + d + "\n" + repos + "\nQuestionable " + file + "\n");
        } else {
            jol_output("? " + (dir.empty() ? file : dir + "/" + file) + "\n");
        }
    }
}

// A message the editor produced survives a failed commit in a file.
void save_message(const std::string &message) {
    std::string name = jol_temp_name();
    FILE *fp = std::fopen(name.c_str(), "w");
    if (!fp)
        error(1, errno, "cannot create temporary file %s", name);
    if (std::fputs(message.c_str(), fp) == EOF)
        error(1, errno, "cannot write temporary file %s", name);
    if (std::fclose(fp) == EOF)
        error(0, errno, "cannot close temporary file %s", name);
    error(0, 0, "saving log message in %s", name);
}

}  // namespace

int commit_through_server(CommitClientRequest &req, int argc, char **argv) {
    ign_setup();
    FindRun run{req};
    run.ulist = getlist();
    int err = start_recursion({.fileproc = find_fileproc,
                               .filesdoneproc = find_filesdoneproc,
                               .direntproc = find_dirent_proc,
                               .callerdat = &run,
                               .argc = argc,
                               .argv = argv,
                               .local = req.local,
                               .which = WHICH_LOCAL,
                               .dosrcs = 0});
    dellist(&run.ignlist);
    if (err)
        error(1, 0, "correct above errors first!");
    if (list_isempty(run.ulist)) {
        dellist(&run.ulist);
        return 0;
    }
    start_server();
    if (req.use_editor)
        do_editor(".", &req.saved_message, nullptr, run.ulist);
    do_verify(req.saved_message, nullptr);
    dellist(&run.ulist);
    option_with_arg("-m", req.saved_message ? req.saved_message->c_str() : "");
    report_questionable(run);
    if (req.local)
        send_arg("-l");
    if (req.force)
        send_arg("-f");
    if (!req.run_module_prog)
        send_arg("-n");
    option_with_arg("-r", opt_c(req.saved_tag));
    send_files(argc, argv, req.local, 0, req.force || req.saved_tag ? SEND_FORCE : 0);
    send_file_names(argc, argv, 0);
    send_to_server("ci\n");
    int status = get_responses_and_close();
    if (status != 0 && req.use_editor && req.saved_message)
        save_message(*req.saved_message);
    return status;
}
