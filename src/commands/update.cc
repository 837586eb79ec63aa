// The update command: brings a working copy up to date, one directory and
// file at a time through the recursion engine.
#include "src/client/client.h"
#include "src/commands/update.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/date_option.h"
#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/subprocess.h"
#include "src/base/usage.h"
#include "src/commands/commands.h"
#include "src/rcs/rcs.h"
#include "src/repo/tag_valid.h"
#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"
#include "src/wc/register_clock.h"
#include "src/wc/server_hooks.h"
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

namespace {

const char *opt_c(const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; }

const char *const update_usage[] = {
    "Usage: %s %s [-APCdflRp] [-k kopt] [-r rev|-D date] [-j rev]\n",
    "    [-I ign] [-W wrap] [files...]\n",
    "\t-A\tReset any sticky tags/date/kopts.\n",
    "\t-P\tPrune empty directories.\n",
    "\t-C\tOverwrite locally modified files with clean repository copies.\n",
    "\t-d\tBuild directories, like checkout does.\n",
    "\t-f\tForce a head revision match if tag/date not found.\n",
    "\t-l\tLocal directory only, no recursion.\n",
    "\t-R\tProcess directories recursively.\n",
    "\t-p\tSend updates to standard output (avoids stickiness).\n",
    "\t-k kopt\tUse RCS kopt -k option on checkout.\n",
    "\t-r rev\tUpdate using specified revision/tag (is sticky).\n",
    "\t-D date\tSet date to update from (is sticky).\n",
    "\t-j rev\tMerge in changes made between current revision and rev.\n",
    "\t-I ign\tMore files to ignore (! to reset).\n",
    "\t-W wrap\tWrapper line: a pattern and its options, as in .jolwrappers.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

void update_ignproc(const char *file, const char *dir) {
    if (really_quiet)
        return;
    std::string line = *dir ? std::string("? ") + dir + "/" + file + "\n" : std::string("? ") + file + "\n";
    jol_output(line);
}

// A conflict mark is resolved once the file changed after the merge and no
// conflict markers are left in it.
bool conflict_resolved(const file_info *finfo, const Vers_TS *vers) {
    bool changed = server_active ? (vers->ts_conflict && (*vers->ts_conflict)[0] != '=')
                                 : vers->ts_user != vers->ts_conflict;
    return changed && !file_has_markers(finfo->file.c_str(), finfo->fullname.c_str());
}

// -C: the modified file is moved to a backup and the revision fetched.
int replace_modified(UpdateRun &run, file_info *finfo, Vers_TS *vers) {
    std::string backup = backup_file(finfo->file.c_str(), vers->vn_user.value_or("").c_str());
    if (!really_quiet && !server_active)
        jol_output("(Locally modified " + finfo->file + " moved to " + backup + ")\n");
    return checkout_file(run, finfo, vers, 0, 0, 1);
}

// A file the client has unchanged gets the difference to the new
// revision, or the whole file when no usable patch can be made.
int send_patch(UpdateRun &run, file_info *finfo, Vers_TS *vers) {
    int docheckout = 0;
    struct stat patch_stat;
    unsigned char checksum[16];
    int retval = patch_file(run, finfo, vers, &docheckout, &patch_stat, checksum);
    if (docheckout)
        return checkout_file(run, finfo, vers, 0, 0, 1);
    if (server_active && retval == 0)
        server_updated(finfo, vers, run.rcs_diff_patches ? SERVER_RCS_DIFF : SERVER_PATCHED,
                       patch_stat.st_mode, checksum, nullptr);
    return retval;
}

int update_fileproc(void *callerdat, file_info *finfo) {
    UpdateRun &run = *static_cast<UpdateRun *>(callerdat);
    const UpdateRequest &req = run.req;
    Vers_TS *vers = nullptr;
    Ctype status = Classify_File(finfo, opt_c(req.tag), opt_c(req.date), opt_c(req.options),
                                 req.force_tag_match, req.aflag, &vers, req.pipeout);
    if (run.rewrite_tag && req.tag && finfo->rcs && vers->vn_rcs &&
        !RCS_nodeisbranch(finfo->rcs, req.tag->c_str()))
        run.nonbranch = 1;

    int retval = 0;
    if (req.pipeout) {
        switch (status) {
        case T_UNKNOWN:
        case T_ADDED:
        case T_REMOVE_ENTRY: break;
        case T_CONFLICT: retval = 1; break;
        default:
            if (vers->vn_rcs && vers->srcfile && !RCS_isdead(vers->srcfile, vers->vn_rcs->c_str()))
                retval = checkout_file(run, finfo, vers, 0, 0, 0);
            break;
        }
    } else {
        switch (status) {
        case T_UNKNOWN:
        case T_UPTODATE: break;
        case T_CONFLICT:
            write_letter(finfo, 'C');
            retval = 1;
            break;
        case T_NEEDS_MERGE:
            // -C promises clean copies: a file that is behind as well as
            // modified is replaced too, after a backup.
            if (req.toss_local_changes) {
                retval = replace_modified(run, finfo, vers);
            } else {
                retval = merge_file(run, finfo, vers);
            }
            break;
        case T_MODIFIED:
            if (req.toss_local_changes) {
                retval = replace_modified(run, finfo, vers);
            } else if (vers->ts_conflict) {
                if (conflict_resolved(finfo, vers)) {
                    Register(finfo->entries, finfo->file, vers->vn_rcs.value_or(""),
                             vers->ts_rcs.value_or(""), vers->options, vers->tag, vers->date,
                             std::nullopt);
                    write_letter(finfo, 'M');
                } else {
                    write_letter(finfo, 'C');
                    retval = 1;
                }
            } else {
                write_letter(finfo, 'M');
            }
            break;
        case T_PATCH:
            if (req.patches) {
                retval = send_patch(run, finfo, vers);
                break;
            }
            retval = checkout_file(run, finfo, vers, 0, 0, 1);
            break;
        case T_CHECKOUT: retval = checkout_file(run, finfo, vers, 0, 0, 1); break;
        case T_ADDED: write_letter(finfo, 'A'); break;
        case T_REMOVED: write_letter(finfo, 'R'); break;
        case T_REMOVE_ENTRY:
            retval = scratch_file(finfo);
            if (server_active && retval == 0) {
                if (!vers->ts_user)
                    server_scratch_entry_only();
                server_updated(finfo, vers, SERVER_UPDATED, SERVER_FILE_MODE, nullptr, nullptr);
            }
            break;
        default:
            error(0, 0, "unknown file status %d for file %s", static_cast<int>(status),
                  finfo->file);
            break;
        }
    }
    // A join that could not be done (a file in the way) is an error of
    // the update.
    if (retval == 0 && run.joining())
        retval = join_file(run, finfo, vers);
    if (run.ignlist)
        addlist(&run.ignlist, finfo->file);
    freevers_ts(&vers);
    return retval;
}

int update_filesdone_proc(void *callerdat, int err, const char *, const char *update_dir,
                          List *entries) {
    UpdateRun &run = *static_cast<UpdateRun *>(callerdat);
    if (run.rewrite_tag) {
        WriteTag(nullptr, run.req.tag, run.req.date, run.nonbranch, update_dir,
                 recursion_repository());
        run.rewrite_tag = 0;
    }
    if (run.ignlist) {
        ignore_files(run.ignlist, entries, update_dir, update_ignproc);
        dellist(&run.ignlist);
    }
    if (command_name == "export") {
        if (isdir("JOL") && !noexec) {
            std::vector<std::string> names;
            if (DIR *d = opendir("JOL")) {
                while (struct dirent *de = readdir(d))
                    if (std::strcmp(de->d_name, ".") && std::strcmp(de->d_name, ".."))
                        names.push_back(std::string("JOL/") + de->d_name);
                closedir(d);
            }
            for (const auto &n : names)
                unlink(n.c_str());
            if (rmdir("JOL") != 0 && errno != ENOENT)
                error(0, errno, "cannot remove %s directory", "JOL");
        }
    } else if (!server_active && !run.req.pipeout && isdir("JOL") && !isfile("JOL/Root")) {
        const std::string &root = current_root ? *current_root : JOLroot_original;
        Create_Root(nullptr, root.c_str());
    }
    return err;
}

Dtype update_dirent_proc(void *callerdat, const char *dir, const char *repository,
                         const char *update_dir, List *entries) {
    UpdateRun &run = *static_cast<UpdateRun *>(callerdat);
    const UpdateRequest &req = run.req;
    if (ignore_directory(update_dir)) {
        if (!quiet)
            error(0, 0, "Ignoring %s", update_dir);
        return R_SKIP_ALL;
    }
    if (!isdir(dir)) {
        if (!req.build_dirs)
            return R_SKIP_ALL;
        if (!server_active && !isdir(repository))
            return R_SKIP_ALL;
        if (noexec) {
            error(0, 0, "New directory `%s' -- ignored", update_dir);
            return R_SKIP_ALL;
        }
        opt_str dtag = req.tag, ddate = req.date;
        if (!req.tag && !req.date && !req.aflag) {
            int nb = 0;
            ParseTag(&dtag, &ddate, &nb);
            if (dtag || ddate)
                run.tag_update_dir = update_dir;
        }
        if (mkdir(dir, 0777) != 0)
            error(1, errno, "cannot make directory %s", dir);
        Create_Admin(dir, update_dir, repository, dtag, ddate, 0, 0, 1);
        run.rewrite_tag = 1;
        run.nonbranch = 0;
        Subdir_Register(entries, nullptr, dir);
    } else if (!isdir((std::string(dir) + "/JOL").c_str())) {
        if (!req.pipeout)
            return R_SKIP_ALL;
    }
    if (!req.pipeout) {
        if (req.build_dirs) {
            std::string st = std::string(dir) + "/JOL/Entries.Static";
            if (unlink(st.c_str()) != 0 && errno != ENOENT)
                error(1, errno, "cannot remove file %s", st);
            if (server_active)
                server_clear_entstat(update_dir, repository);
        }
        if (req.aflag || req.tag || req.date) {
            WriteTag(dir, req.tag, req.date, 0, update_dir, repository);
            run.rewrite_tag = 1;
            run.nonbranch = 0;
        }
        dellist(&run.ignlist);
        run.ignlist = getlist();
    }
    if (!quiet)
        error(0, 0, "Updating %s", update_dir);
    return R_PROCESS;
}

// Format: doc/formats.md#module-programs
int update_dirleave_proc(void *callerdat, const char *dir, int err, const char *update_dir,
                         List *entries) {
    UpdateRun &run = *static_cast<UpdateRun *>(callerdat);
    dellist(&run.ignlist);
    if (run.tag_update_dir && *run.tag_update_dir == update_dir) {
        run.tag_update_dir.reset();
    }
    if (err == 0 && !run.req.pipeout && !noexec && isfile("JOL/Update.prog")) {
        FILE *fp = std::fopen("JOL/Update.prog", "r");
        if (fp) {
            LineReader lines(fp);
            auto line = lines.next();
            if (!line)
                error(0, 0, "unexpected end of file on %s", "JOL/Update.prog");
            else if (!line->empty()) {
                std::vector<std::string> cmd{std::string(*line)};
                if (const char *repos = recursion_repository())
                    cmd.push_back(repos);
                jol_output(program_name + " " + command_name + ": Executing '" +
                           print_vector(cmd) + "'\n");
                jol_flushout();
                run_vector(cmd);
            }
            if (std::fclose(fp) == EOF)
                error(0, errno, "cannot close %s", "JOL/Update.prog");
        }
    }
    if (std::strchr(dir, '/'))
        return err;
    if (chdir("..") != 0)
        error(1, errno, "cannot change to the parent of %s", dir);
    if (run.req.prune_dirs && isemptydir(dir, 0)) {
        std::string jol = std::string(dir) + "/JOL";
        std::vector<std::string> names;
        if (DIR *d = opendir(jol.c_str())) {
            while (struct dirent *de = readdir(d))
                if (std::strcmp(de->d_name, ".") && std::strcmp(de->d_name, ".."))
                    names.push_back(jol + "/" + de->d_name);
            closedir(d);
        }
        for (const auto &n : names)
            unlink(n.c_str());
        rmdir(jol.c_str());
        if (rmdir(dir) != 0 && errno != ENOENT)
            error(0, errno, "cannot remove %s directory", dir);
        Subdir_Deregister(entries, nullptr, dir);
    }
    return err;
}

}  // namespace

void write_letter(const file_info *finfo, char letter) {
    if (really_quiet)
        return;
    char text[3] = {letter, ' ', '\0'};
    if (letter == 'U')
        jol_output_tagged("+updated", nullptr);
    jol_output_tagged("text", text);
    jol_output_tagged("fname", finfo->fullname.c_str());
    jol_output_tagged("newline", nullptr);
    if (letter == 'U')
        jol_output_tagged("-updated", nullptr);
}

int do_update(const UpdateRequest &req) {
    UpdateRun run{.req = req, .rewrite_tag = req.rewrite_tag};
    if (req.patches)
        run.rcs_diff_patches = server_use_rcs_diff();
    auto split_join = [](const opt_str &j, opt_str &rev, opt_str &d) {
        if (!j)
            return;
        std::string s = *j;
        size_t colon = s.find(':');
        if (colon != std::string::npos) {
            d = date_option(s.c_str() + colon + 1);
            s.resize(colon);
        }
        rev = s;
    };
    split_join(req.join_rev1, run.join_rev1, run.date_rev1);
    split_join(req.join_rev2, run.join_rev2, run.date_rev2);
    // The files sent to the client stay in the server's tree for the join.
    const bool was_joining = server_joining;
    server_joining = run.joining();

    int err = start_recursion({.fileproc = update_fileproc,
                               .filesdoneproc = update_filesdone_proc,
                               .direntproc = update_dirent_proc,
                               .dirleaveproc = update_dirleave_proc,
                               .callerdat = &run,
                               .argc = req.argc,
                               .argv = req.argv,
                               .local = req.local,
                               .which = req.which,
                               .aflag = req.aflag,
                               .readlock = 1,
                               .update_preload = req.preload_update_dir,
                               .dosrcs = 1});
    dellist(&run.ignlist);
    server_joining = was_joining;
    // A file changed again within the second of its registration would
    // keep a matching time stamp; let the clock move on first.
    wait_past_second(run.last_register_time);
    return err;
}

namespace {

// The options of one update as arguments to the server.
void send_update_options(const UpdateRequest &req) {
    const std::pair<int, const char *> flags[] = {
        {req.local, "-l"},  {req.build_dirs, "-d"},         {req.pipeout, "-p"},
        {!req.force_tag_match, "-f"}, {req.aflag, "-A"}, {req.toss_local_changes, "-C"},
        {req.prune_dirs, "-P"}};
    for (auto [on, flag] : flags)
        if (on)
            send_arg(flag);
    client_prune_dirs = req.prune_dirs;
    option_with_arg("-r", opt_c(req.tag));
    if (req.options)
        send_arg(*req.options);
    client_senddate(opt_c(req.date));
    option_with_arg("-j", opt_c(req.join_rev1));
    option_with_arg("-j", opt_c(req.join_rev2));
    wrap_send();
}

// Client: one pass over the named files, then passes that fetch whole
// what the server's patches could not make.
int update_through_server(const UpdateRequest &req) {
    int status = 0;
    for (bool first = true;; first = false) {
        std::vector<std::string> refetch = std::move(failed_patches);
        failed_patches.clear();
        if (!first) {
            jol_output(program_name + " client: refetching unpatchable files\n");
            const char *top = client_toplevel_wd();
            if (top && chdir(top) != 0)
                error(1, errno, "could not chdir to %s", top);
            for (const std::string &f : refetch)
                if (unlink(f.c_str()) != 0 && errno != ENOENT)
                    error(0, errno, "cannot remove %s", f);
        }
        start_server();
        ign_setup();
        send_update_options(req);
        if (first) {
            if (supported_request("update-patches"))
                send_arg("-u");
            unsigned int flags = req.build_dirs ? SEND_BUILD_DIRS : 0;
            if (req.toss_local_changes)
                flags |= SEND_NO_CONTENTS | BACKUP_MODIFIED_FILES;
            send_files(req.argc, req.argv, req.local, req.aflag, flags);
            send_file_names(req.argc, req.argv, SEND_EXPAND_WILD);
        } else {
            std::vector<char *> names;
            for (std::string &f : refetch)
                names.push_back(f.data());
            send_files(static_cast<int>(names.size()), names.data(), req.local, req.aflag, 0);
            send_file_names(static_cast<int>(names.size()), names.data(), 0);
        }
        send_to_server("update\n");
        status = get_responses_and_close();
        if (failed_patches.empty() || (!first && status != 0))
            break;
        if (status != 0 && !first)
            break;
    }
    return status;
}

}  // namespace

int update(int argc, char **argv) {
    if (argc == -1)
        usage(update_usage);
    ign_setup();
    wrap_setup();
    std::optional<std::string> kopt, xtag, xdate, j1, j2;
    int local = 0, xbuild = 0, xaflag = 0, xprune = 0, xpipeout = 0, xforce = 1, toss = 0;
    int patches = 0;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+ApCPflRQqduk:r:D:j:I:W:")) != -1) {
        switch (c) {
        case 'A': xaflag = 1; break;
        case 'C': toss = 1; break;
        case 'I': ign_add(optarg, 0); break;
        case 'W': wrap_add(optarg, 0); break;
        case 'k': kopt = RCS_check_kflag(optarg); break;
        case 'l': local = 1; break;
        case 'R': local = 0; break;
        case 'Q':
        case 'q':
            if (!server_active)
                error(1, 0, "-q or -Q must be specified before \"%s\"", command_name);
            break;
        case 'd': xbuild = 1; break;
        case 'f': xforce = 0; break;
        case 'r': xtag = optarg; break;
        case 'D': xdate = date_option(optarg); break;
        case 'P': xprune = 1; break;
        case 'p':
            xpipeout = 1;
            noexec = 1;
            break;
        case 'j':
            if (j2)
                error(1, 0, "only two -j options can be specified");
            if (j1)
                j2 = optarg;
            else
                j1 = optarg;
            break;
        case 'u':
            if (!server_active)
                usage(update_usage);
            patches = 1;
            break;
        default: usage(update_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (client_active)
        return update_through_server({.argc = argc,
                                      .argv = argv,
                                      .options = kopt,
                                      .tag = xtag,
                                      .date = xdate,
                                      .force_tag_match = xforce,
                                      .local = local,
                                      .build_dirs = xbuild,
                                      .aflag = xaflag,
                                      .prune_dirs = xprune,
                                      .pipeout = xpipeout,
                                      .toss_local_changes = toss,
                                      .join_rev1 = j1,
                                      .join_rev2 = j2});
    if (xtag)
        tag_check_valid(xtag->c_str(), argc, argv, local, xaflag, nullptr);
    if (j1)
        tag_check_valid_join(j1->c_str(), argc, argv, local, xaflag, nullptr);
    if (j2)
        tag_check_valid_join(j2->c_str(), argc, argv, local, xaflag, nullptr);
    int rewrite_tag = 0;
    if (argc <= 0 && !xpipeout) {
        // The client's directory responses name the top directory's
        // repository.
        std::string repository;
        if (server_active)
            repository = Name_Repository(nullptr, nullptr);
        if (xbuild) {
            if (unlink("JOL/Entries.Static") != 0 && errno != ENOENT)
                error(1, errno, "cannot remove file %s", "JOL/Entries.Static");
            if (server_active)
                server_clear_entstat(".", repository.c_str());
        }
        if (xaflag || xtag || xdate) {
            WriteTag(nullptr, xtag, xdate, 0, ".", server_active ? repository.c_str() : nullptr);
            rewrite_tag = 1;
        }
    }
    int which = WHICH_LOCAL | WHICH_REPOSITORY;
    if (xtag || xdate || j1)
        which |= WHICH_ATTIC;
    return do_update({.argc = argc,
                      .argv = argv,
                      .options = kopt,
                      .tag = xtag,
                      .date = xdate,
                      .force_tag_match = xforce,
                      .local = local,
                      .build_dirs = xbuild,
                      .aflag = xaflag,
                      .prune_dirs = xprune,
                      .pipeout = xpipeout,
                      .toss_local_changes = toss,
                      .which = which,
                      .join_rev1 = j1,
                      .join_rev2 = j2,
                      .rewrite_tag = rewrite_tag,
                      .patches = patches});
}
