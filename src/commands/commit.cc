// The commit command: a check pass that classifies every file and runs the
// pre-commit filters, then, when nothing failed, a commit pass that checks
// files in, adds and removes them, and runs the logging filters.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/identity.h"
#include "src/base/line_reader.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/sighandle.h"
#include "src/base/subprocess.h"
#include "src/base/usage.h"
#include "src/commands/checkin.h"
#include "src/commands/commit_client.h"
#include "src/commands/watch.h"
#include "src/commands/commands.h"
#include "src/commands/update.h"
#include "src/rcs/rcs_admin.h"
#include "src/rcs/rcs_checkin.h"
#include "src/rcs/rcs_write.h"
#include "src/repo/admin_files.h"
#include "src/repo/history.h"
#include "src/repo/logmsg.h"
#include "src/repo/parseinfo.h"
#include "src/repo/tag_valid.h"
#include "src/wc/entries.h"
#include "src/wc/fileattr.h"
#include "src/wc/lock.h"
#include "src/wc/recurse.h"
#include "src/wc/server_hooks.h"
#include "src/wc/register_clock.h"
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

namespace {

struct commit_info {
    Ctype status;
    std::optional<std::string> rev;
    std::optional<std::string> tag;
    std::string options;
};

struct master_lists {
    List *ulist = nullptr;
    List *cilist = nullptr;
    ~master_lists() {
        dellist(&ulist);
        dellist(&cilist);
    }
};

// One run of the command: its options, and what the check pass leaves
// for the commit pass. Every callback of both walks gets it as callerdat.
struct CommitRun {
    std::optional<std::string> saved_tag;      // -r; a number loses its trailing dots
    int aflag = 0;                             // -r names a number: sticky tags are ignored
    std::optional<std::string> saved_message;  // -m, -F, else the last message edited
    bool got_message = false;                  // the current directory's message is obtained
    std::optional<std::string> write_dirtag;   // written to each JOL/Tag (no file arguments)
    int write_dirnonbranch = 0;                // write_dirtag is not a branch tag
    List *mulist = nullptr;                    // update_dir -> master_lists, from the check pass
    int use_editor = 1;                        // neither -m nor -F
    int force_ci = 0;                          // -f
    int run_module_prog = 1;                   // not -n
    std::optional<std::string> sbranch;        // default branch lock_RCS put aside
    time_t last_register_time = 0;             // second of the newest registered entry

    CommitRun() = default;
    CommitRun(const CommitRun &) = delete;
    CommitRun &operator=(const CommitRun &) = delete;
    ~CommitRun() { dellist(&mulist); }
};

const char *opt_c(const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; }

const char *const commit_usage[] = {
    "Usage: %s %s [-nRlf] [-m msg | -F logfile] [-r rev] files...\n",
    "\t-n\tDo not run the module program (if any).\n",
    "\t-R\tProcess directories recursively.\n",
    "\t-l\tLocal directory only (not recursive).\n",
    "\t-f\tForce the file to be committed; disables recursion.\n",
    "\t-F file\tRead the log message from file.\n",
    "\t-m msg\tLog message.\n",
    "\t-r rev\tCommit to this branch or trunk revision.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

bool numeric(const std::optional<std::string> &t) {
    return t && !t->empty() && std::isdigit(static_cast<unsigned char>((*t)[0]));
}

// The lists of directory `update_dir` ("" for the top), made when `create`.
master_lists *lists_for(CommitRun &run, const std::string &update_dir, bool create) {
    if (!run.mulist) {
        if (!create)
            return nullptr;
        run.mulist = getlist();
    }
    std::string key = update_dir.empty() ? "." : update_dir;
    if (Node *n = findnode(run.mulist, key))
        return static_cast<master_lists *>(n->data);
    if (!create)
        return nullptr;
    Node *n = getnode();
    n->type = UPDATE;
    n->key = key;
    auto *ml = new master_lists;
    ml->ulist = getlist();
    ml->cilist = getlist();
    node_set_owned(n, ml);
    addnode(run.mulist, n);
    return ml;
}

// Classifies quietly; a numeric -r makes the target revision the tag.
Ctype classify_file_internal(const CommitRun &run, file_info *finfo, Vers_TS **vers) {
    const std::optional<std::string> &saved_tag = run.saved_tag;
    int save_noexec = noexec, save_quiet = quiet, save_really = really_quiet;
    noexec = quiet = really_quiet = 1;
    Ctype status;
    if (!numeric(saved_tag)) {
        status = Classify_File(finfo, opt_c(saved_tag), nullptr, nullptr, 1, 0, vers, 0);
    } else if (numdots(*saved_tag) >= 2) {
        std::string xtag = *saved_tag;
        if (numdots(xtag) % 2 == 1)
            xtag.resize(xtag.rfind('.'));
        status = Classify_File(finfo, xtag.c_str(), nullptr, nullptr, 1, 0, vers, 0);
        if (status == T_REMOVE_ENTRY || status == T_CONFLICT) {
            freevers_ts(vers);
            xtag.resize(xtag.rfind('.'));
            status = Classify_File(finfo, xtag.c_str(), nullptr, nullptr, 1, 0, vers, 0);
            if (status == T_REMOVE_ENTRY || status == T_UPTODATE)
                status = T_MODIFIED;
        }
        (*vers)->tag = saved_tag;
    } else {
        // A trunk revision such as "2" or "2.1".
        status = Classify_File(finfo, nullptr, nullptr, nullptr, 1, 0, vers, 0);
        if (status == T_UPTODATE || status == T_MODIFIED || status == T_ADDED) {
            Ctype first = status;
            freevers_ts(vers);
            status = Classify_File(finfo, saved_tag->c_str(), nullptr, nullptr, 1, 0, vers, 0);
            if (status == T_REMOVE_ENTRY || (status == T_CONFLICT && first == T_MODIFIED))
                status = T_MODIFIED;
        }
        (*vers)->tag = saved_tag;
    }
    noexec = save_noexec;
    quiet = save_quiet;
    really_quiet = save_really;
    return status;
}

// An archive without a single revision is what an add killed between
// creating the archive and checking in its first revision leaves; the
// next add takes it over instead of being refused for ever.
bool left_by_interrupted_add(const std::string &archive) {
    RCSNode *rcs = RCS_parsercsfile(archive.c_str());
    if (!rcs)
        return false;
    bool empty = rcs->head.empty() && rcs->branch.empty();
    freercsnode(&rcs);
    return empty;
}

// The refusals of a file added with a tag, or whose archive exists
// already; 1 after a message.
int refuse_addition(const file_info *finfo, const Vers_TS *vers) {
    std::string archive = std::string(finfo->repository) + "/" + finfo->file + ",v";
    if (!vers->tag && isfile(archive.c_str()) && !left_by_interrupted_add(archive)) {
        error(0, 0, "cannot add file `%s' when RCS file `%s' already exists", finfo->fullname,
              archive);
        return 1;
    }
    if (vers->tag && numeric(vers->tag) && numdots(*vers->tag) > 1) {
        error(0, 0, "cannot add file `%s' with revision `%s'; must be on trunk", finfo->fullname,
              *vers->tag);
        return 1;
    }
    return 0;
}

// Refuses a modified, added or removed file that cannot be committed as
// it stands; 1 after a message, 0 when it may go ahead.
int refuse_change(const CommitRun &run, const file_info *finfo, const Vers_TS *vers, Ctype status) {
    if (!numeric(run.saved_tag)) {
        if (vers->date) {
            error(0, 0, "cannot commit with sticky date for file `%s'", finfo->fullname);
            return 1;
        }
        if (status == T_MODIFIED && vers->tag && !RCS_isbranch(finfo->rcs, vers->tag->c_str())) {
            error(0, 0, "sticky tag `%s' for file `%s' is not a branch", *vers->tag,
                  finfo->fullname);
            return 1;
        }
    }
    if (status == T_MODIFIED && !run.force_ci && vers->ts_conflict) {
        bool unchanged =
            server_active ? (*vers->ts_conflict)[0] == '=' : vers->ts_user == vers->ts_conflict;
        if (unchanged) {
            error(0, 0, "file `%s' had a conflict and has not been modified", finfo->fullname);
            return 1;
        }
        if (file_has_markers(finfo->file.c_str(), finfo->fullname.c_str()))
            error(0, 0, "warning: file `%s' seems to still contain conflict indicators",
                  finfo->fullname);
    }
    if (status == T_REMOVED && vers->tag && numeric(vers->tag)) {
        error(0, 0, "cannot remove file `%s' which has a numeric sticky tag of `%s'",
              finfo->fullname, *vers->tag);
        return 1;
    }
    if (status == T_ADDED)
        return refuse_addition(finfo, vers);
    return 0;
}

// Puts the file in its directory's lists: the change for the hooks, and
// what the commit pass does with it.
void schedule_change(CommitRun &run, const file_info *finfo, const Vers_TS *vers, Ctype status) {
    master_lists *ml = lists_for(run, finfo->update_dir, true);
    add_change(ml->ulist, finfo->file, status, vers->tag, vers->vn_rcs);
    auto *ci = new commit_info{status, std::nullopt, vers->tag, vers->options};
    if (vers->tag) {
        if (numeric(vers->tag))
            ci->rev = vers->tag;
        else
            ci->rev = RCS_whatbranch(finfo->rcs, vers->tag->c_str());
    }
    Node *n = getnode();
    n->type = UPDATE;
    n->key = finfo->file;
    node_set_owned(n, ci);
    if (addnode(ml->cilist, n) != 0)
        freenode(n);
}

int check_fileproc(void *callerdat, file_info *finfo) {
    CommitRun &run = *static_cast<CommitRun *>(callerdat);
    if (!finfo->repository) {
        error(0, 0, "nothing known about `%s'", finfo->fullname);
        return 1;
    }
    if (std::string(finfo->repository) == JOLroot_directory + "/JOLROOT/Emptydir")
        error(1, 0, "cannot check in to %s", finfo->repository);
    Vers_TS *vers = nullptr;
    Ctype status = classify_file_internal(run, finfo, &vers);
    if (run.force_ci && status == T_UPTODATE)
        status = T_MODIFIED;
    int err = 0;
    switch (status) {
    case T_UNKNOWN:
        error(0, 0, "nothing known about `%s'", finfo->fullname);
        err = 1;
        break;
    case T_CONFLICT:
    case T_NEEDS_MERGE:
    case T_CHECKOUT:
    case T_REMOVE_ENTRY:
    case T_PATCH:
        error(0, 0, "Up-to-date check failed for `%s'", finfo->fullname);
        err = 1;
        break;
    case T_UPTODATE: break;
    case T_MODIFIED:
    case T_ADDED:
    case T_REMOVED:
        err = refuse_change(run, finfo, vers, status);
        if (!err)
            schedule_change(run, finfo, vers, status);
        break;
    default:
        error(0, 0, "JOL internal error: unknown status %d", static_cast<int>(status));
        break;
    }
    freevers_ts(&vers);
    return err;
}

Dtype check_direntproc(void *, const char *dir, const char *, const char *update_dir, List *) {
    if (!isdir(dir))
        return R_SKIP_ALL;
    if (!quiet)
        error(0, 0, "Examining %s", update_dir);
    return R_PROCESS;
}

// Format: doc/formats.md#info-files
// Runs one pre-commit filter on the directory's changes (`closure`, a
// list of logfile_info): added, then modified, then removed files.
int precommit_proc(const char *repository, const char *filter, void *closure) {
    List *changes = static_cast<List *>(closure);
    std::vector<std::string> cmd = split_command(filter);
    if (cmd.empty())
        return 0;
    if (cmd[0][0] == '/' && !isfile(cmd[0].c_str())) {
        error(0, 0, "cannot find pre-commit filter `%s'", cmd[0]);
        return 1;
    }
    cmd.push_back(repository);
    for (Ctype kind : {T_ADDED, T_MODIFIED, T_REMOVED})
        JOL_FOR_EACH_NODE(changes, p) {
            if (static_cast<const logfile_info *>(p->data)->type == kind)
                cmd.push_back(*p->key);
        }
    int r = run_vector(cmd);
    return r < 0 ? 1 : r;
}

int check_filesdoneproc(void *callerdat, int err, const char *repos, const char *update_dir,
                        List *) {
    CommitRun &run = *static_cast<CommitRun *>(callerdat);
    master_lists *ml = lists_for(run, std::strcmp(update_dir, ".") == 0 ? "" : update_dir, false);
    if (ml && !list_isempty(ml->ulist)) {
        int n = Parse_Info("commitinfo", repos, precommit_proc, 1, ml->ulist);
        if (n > 0) {
            error(0, 0, "Pre-commit check failed");
            err += n;
        }
    }
    return err;
}

int findmaxrev(List *entries) {
    int maxrev = 0;
    JOL_FOR_EACH_NODE(entries, p) {
        const Entnode *e = static_cast<const Entnode *>(p->data);
        if (e->type != ENT_FILE || e->version.empty())
            continue;
        const char *v = e->version.c_str();
        if (*v == '-')
            ++v;
        int first = std::atoi(v);
        if (first > maxrev)
            maxrev = first;
    }
    return maxrev;
}

// Where the archive of an added file goes: beside the others, or in the
// Attic when it is there already; for a file added on a branch, the Attic
// (made when missing) unless the archive exists beside the others.
std::string archive_for_add(const std::string &repos, const std::string &file, bool symbolic) {
    std::string rcsname = repos + "/" + file + ",v";
    if (symbolic) {
        if (!isfile(rcsname.c_str())) {
            std::string attic = repos + "/Attic";
            mode_t old = umask(jolumask);
            if (mkdir(attic.c_str(), 0777) != 0 && errno != EEXIST)
                error(1, errno, "cannot make directory `%s'", attic);
            umask(old);
            rcsname = attic + "/" + file + ",v";
        }
    } else if (!isfile(rcsname.c_str())) {
        std::string in_attic = repos + "/Attic/" + file + ",v";
        if (isfile(in_attic.c_str()))
            rcsname = in_attic;
    }
    return rcsname;
}

// Prepares the existing archive of a file added again after its removal:
// its keyword mode, out of the Attic for the trunk, locked; 0 on success.
int readd_to_archive(file_info *finfo, const std::optional<std::string> &tag,
                     const std::string &options, bool symbolic) {
    const std::string repos = finfo->repository;
    const std::string file = finfo->file;
    if (!finfo->rcs)
        finfo->rcs = RCS_parse(file.c_str(), repos.c_str());
    if (!finfo->rcs)
        error(1, 0, "could not find parsed rcsfile %s", file);
    RCSNode *rcs = finfo->rcs;
    if (!symbolic && rcs->head.empty() && rcs->branch.empty() && !(rcs->flags & ARCHIVE_IN_ATTIC)) {
        // Left without revisions by an interrupted add: check in as new.
        rcs->flags |= ARCHIVE_VALID;
        fileattr_newfile(file.c_str());
        return 0;
    }
    std::string want = options.size() > 2 ? options.substr(2) : std::string();
    if (!options.empty() && want != RCS_getexpand(rcs)) {
        error(0, 0, "changing keyword expansion mode to %s", options);
        RCS_setexpand(rcs, want.c_str());
    }
    if (!symbolic) {
        if (rcs->flags & ARCHIVE_IN_ATTIC) {
            CriticalSection cs;
            if (RCS_setattic(rcs, 0) != 0)
                return 1;
        } else if (!RCS_isdead(rcs, rcs->head.c_str())) {
            error(0, 0, "internal error: confused about attic for %s", rcs->path);
            return 1;
        }
        // A head that is already dead outside the Attic is what an
        // interrupted earlier removal leaves; it needs no move.
    }
    auto rev = RCS_getversion(rcs, opt_c(tag), nullptr, 1, nullptr);
    if (RCS_lock(rcs, rev ? rev->c_str() : nullptr, 1) != 0) {
        error(0, 0, "cannot lock `%s'.", rcs->path);
        return 1;
    }
    fileattr_newfile(file.c_str());
    return 0;
}

// A new archive `rcsname` for an added file, described by its `JOL/`
// file ",t", and parsed into finfo->rcs; 0 on success.
int create_archive(file_info *finfo, const std::string &rcsname, const std::string &options) {
    const std::string &file = finfo->file;
    std::string desc;
    std::string descfile = "JOL/" + file + ",t";
    if (FILE *fp = std::fopen(descfile.c_str(), "r")) {
        char buf[8192];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0)
            desc.append(buf, n);
        std::fclose(fp);
        if (!desc.empty() && desc.back() != '\n')
            desc += '\n';
    }
    jol_output("RCS file: " + rcsname + "\ndone\n");
    NewArchive a;
    a.rcs = rcsname;
    a.user = file;
    a.key_opt = options.size() > 2 ? options.substr(2) : std::string();
    if (a.key_opt.empty())
        a.key_opt = wrap_rcsoption(file.c_str(), 0).value_or("");
    a.desc = desc;
    if (add_rcs_file(a, nullptr) != 0)
        return 1;
    freercsnode(&finfo->rcs);
    finfo->rcs = RCS_parsercsfile(rcsname.c_str());
    if (!finfo->rcs)
        return 1;
    if (rcsname.find("/Attic/") != std::string::npos)
        finfo->rcs->flags |= ARCHIVE_IN_ATTIC;
    finfo->rcs->flags |= ARCHIVE_VALID;
    return 0;
}

// The new archive of a file added on branch `tag`: a dead 1.1 on the trunk
// first, checked in from an empty file of its own (the working file is
// never moved), then the branch, stubbed when the tag is new; 0 on success.
int start_added_branch(file_info *finfo, const std::string &tag) {
    const std::string &file = finfo->file;
    std::string empty = "JOL/,," + file;
    {
        FILE *fp = std::fopen(empty.c_str(), "w");
        if (!fp)
            error(1, errno, "cannot open %s for writing", empty);
        std::fclose(fp);
    }
    std::string msg = "file " + file + " was initially added on branch " + tag + ".";
    int r =
        RCS_checkin(finfo->rcs, empty.c_str(), msg.c_str(), nullptr, CHECKIN_DEAD | CHECKIN_QUIET);
    unlink(empty.c_str());
    if (r != 0) {
        error(0, 0, "could not create initial dead revision %s", finfo->rcs->path);
        return 1;
    }
    RCS_lock(finfo->rcs, nullptr, 1);
    if (RCS_nodeisbranch(finfo->rcs, tag.c_str())) {
        RCS_lock(finfo->rcs, tag.c_str(), 1);
    } else {
        std::string magic = RCS_magicrev(finfo->rcs, finfo->rcs->head.c_str());
        if (RCS_settag(finfo->rcs, tag.c_str(), magic.c_str()) != 0) {
            error(0, 0, "could not stub branch %s for %s", tag, finfo->rcs->path);
            return 1;
        }
        RCS_rewrite(finfo->rcs, nullptr, nullptr);
    }
    return 0;
}

// Format: doc/formats.md#added-file-description
// Creates (or prepares) the archive of an added file; 0 on success.
int checkaddfile(file_info *finfo, const std::optional<std::string> &tag,
                 const std::string &options) {
    bool symbolic = tag && !numeric(tag);
    std::string rcsname = archive_for_add(finfo->repository, finfo->file, symbolic);
    if (isfile(rcsname.c_str()))
        return readd_to_archive(finfo, tag, options, symbolic);
    if (create_archive(finfo, rcsname, options) != 0)
        return 1;
    if (symbolic && start_added_branch(finfo, *tag) != 0)
        return 1;
    fileattr_newfile(finfo->file.c_str());
    return 0;
}

void fixaddfile(const std::string &rcsname) {
    RCSNode *rcs = RCS_parsercsfile(rcsname.c_str());
    if (!rcs) {
        if (unlink(rcsname.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "cannot remove %s", rcsname);
        return;
    }
    freercsnode(&rcs);
}

// Locks the revision a check-in to `rev` descends from; for the trunk, the
// archive's default branch is put aside in `sbranch` meanwhile.
int lock_RCS(RCSNode *rcs, const std::optional<std::string> &rev,
             std::optional<std::string> &sbranch) {
    if (rev && numdots(*rev) >= 2) {
        RCS_lock(rcs, rev->c_str(), 1);
        sbranch.reset();
        return 0;
    }
    std::string branch = rcs->branch;
    if (RCS_setbranch(rcs, nullptr) != 0) {
        error(0, 0, "cannot change branch to default for %s", rcs->path);
        return 1;
    }
    if (RCS_lock(rcs, nullptr, 1) != 0) {
        if (!branch.empty())
            RCS_setbranch(rcs, branch.c_str());
        return 1;
    }
    sbranch = branch.empty() ? std::nullopt : std::optional<std::string>(branch);
    return 0;
}

void unlockrcs(RCSNode *rcs) {
    RCS_unlock(rcs, nullptr, 1);
    RCS_rewrite(rcs, nullptr, nullptr);
}

void fixbranch(RCSNode *rcs, const std::optional<std::string> &branch) {
    if (!branch)
        return;
    RCS_setbranch(rcs, branch->c_str());
    RCS_rewrite(rcs, nullptr, nullptr);
}

std::string temp_path() {
    std::string tried;
    auto name = create_temp_file(&tried);
    if (!name)
        error(1, errno, "cannot create temporary file %s", tried);
    return *name;
}

int remove_file(file_info *finfo, const std::optional<std::string> &tag,
                const std::string &message) {
    RCSNode *rcs = finfo->rcs;
    if (!rcs)
        error(1, 0, "internal error: no parsed RCS file");
    if (tag && !RCS_nodeisbranch(rcs, tag->c_str())) {
        if (RCS_deltag(rcs, tag->c_str()) != 0) {
            if (!quiet)
                error(0, 0, "failed to remove tag `%s' from `%s'", *tag, rcs->path);
            return 1;
        }
        RCS_rewrite(rcs, nullptr, nullptr);
        Scratch_Entry(finfo->entries, finfo->file);
        return 0;
    }
    jol_output("Removing " + finfo->fullname + ";\n");
    std::string rev, prev;
    std::optional<std::string> corev;
    bool lock = false;
    if (tag) {
        auto branch = std::isdigit(static_cast<unsigned char>((*tag)[0]))
                          ? std::optional<std::string>(*tag)
                          : RCS_whatbranch(rcs, tag->c_str());
        if (!branch) {
            error(0, 0, "cannot find branch \"%s\".", *tag);
            return 1;
        }
        auto head = RCS_getbranch(rcs, *branch, 1);
        if (head) {
            corev = head;
            prev = *head;
            lock = true;
        } else {
            corev = branch->substr(0, branch->rfind('.'));
            prev = *branch;
        }
        rev = *branch;
    } else {
        prev = rcs->head;
        corev = rcs->head;
        lock = true;
        if (!rcs->branch.empty()) {
            if (RCS_setbranch(rcs, nullptr) != 0) {
                error(0, 0, "cannot change branch to default for %s", rcs->path);
                return 1;
            }
            RCS_rewrite(rcs, nullptr, nullptr);
        }
    }
    // The dead revision is checked in from a copy of its predecessor in a
    // temporary file; the working directory is not touched, so a file
    // re-created under the same name survives.
    std::string tmp = temp_path();
    if (RCS_checkout(rcs, nullptr, corev->c_str(), nullptr, nullptr, tmp.c_str(), nullptr,
                     nullptr) != 0) {
        error(0, 0, "failed to check out `%s'", finfo->fullname);
        unlink(tmp.c_str());
        return 1;
    }
    if (lock)
        RCS_lock(rcs, corev->c_str(), 1);
    int r = RCS_checkin(rcs, tmp.c_str(), message.c_str(), rev.empty() ? nullptr : rev.c_str(),
                        CHECKIN_DEAD | CHECKIN_QUIET);
    unlink(tmp.c_str());
    if (r != 0) {
        if (!quiet)
            error(0, 0, "failed to commit dead revision for `%s'", finfo->fullname);
        return 1;
    }
    history_write('R', finfo->update_dir.c_str(), "", finfo->file.c_str(), finfo->repository);
    std::string oldpath = rcs->path;
    if (!tag) {
        CriticalSection cs;
        RCS_setattic(rcs, 1);
    }
    jol_output(oldpath + "  <--  " + finfo->file + "\nnew revision: delete; previous revision: " +
               prev + "\ndone\n");
    Scratch_Entry(finfo->entries, finfo->file);
    return 0;
}

// Notes the second that the entry just registered for the file can share
// with a later change of it: none when the file kept a stamp from an
// earlier second (it was edited before this command ran).
void note_registration(CommitRun &run, const file_info *finfo) {
    std::optional<std::string> stamp;
    if (finfo->entries)
        if (const Entnode *e = entries_find(finfo->entries, finfo->file))
            stamp = e->timestamp;
    run.last_register_time = std::max(run.last_register_time, register_second(stamp));
}

// The first file or directory of a directory with changes obtains the
// message: edited, unless -m or -F gave it, then verified.
void obtain_message(CommitRun &run, const char *update_dir, const char *repository, List *changes) {
    if (run.got_message)
        return;
    run.got_message = true;
    if (run.use_editor)
        do_editor(update_dir, &run.saved_message, repository, changes);
    do_verify(run.saved_message, repository);
}

// Checks in a modified file; 0 on success.
int commit_modified(CommitRun &run, file_info *finfo, commit_info *ci, const std::string &message) {
    if (!finfo->rcs)
        error(1, 0, "internal error: no parsed RCS file");
    if (lock_RCS(finfo->rcs, ci->rev, run.sbranch) != 0) {
        unlockrcs(finfo->rcs);
        return 1;
    }
    int err = Checkin('M', finfo, opt_c(ci->rev), opt_c(ci->tag), ci->options, message);
    note_registration(run, finfo);
    if (err) {
        unlockrcs(finfo->rcs);
        fixbranch(finfo->rcs, run.sbranch);
    }
    return err;
}

// Checks in an added file, into a new archive or one it had before its
// removal; 0 on success.
int commit_added(CommitRun &run, file_info *finfo, commit_info *ci, const std::string &message) {
    std::string rcspath = std::string(finfo->repository) + "/" + finfo->file + ",v";
    if (checkaddfile(finfo, ci->tag, ci->options) != 0) {
        fixaddfile(rcspath);
        return 1;
    }
    int err;
    if (ci->tag && !numeric(ci->tag)) {
        ci->rev = RCS_whatbranch(finfo->rcs, ci->tag->c_str());
        err = Checkin('A', finfo, opt_c(ci->rev), opt_c(ci->tag), ci->options, message);
        note_registration(run, finfo);
        if (err) {
            unlockrcs(finfo->rcs);
            fixbranch(finfo->rcs, run.sbranch);
        }
        ci->status = T_UPTODATE;
        return err;
    }
    std::optional<std::string> rev = ci->rev;
    if (!rev) {
        int maxrev = findmaxrev(finfo->entries);
        rev = std::to_string(maxrev ? maxrev : 1);
    }
    std::string path = finfo->rcs ? finfo->rcs->path : rcspath;
    err = Checkin('A', finfo, rev->c_str(), opt_c(ci->tag), ci->options, message);
    if (err) {
        fixaddfile(path);
    } else {
        std::string desc = "JOL/" + finfo->file + ",t";
        if (unlink(desc.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "cannot remove %s", desc);
    }
    note_registration(run, finfo);
    return err;
}

// The change of a committed file gets its new revision for the logging
// filters; a failed one is dropped from them.
void note_new_revision(const CommitRun &run, file_info *finfo, master_lists *ml,
                       const commit_info *ci, int err) {
    Node *un = findnode(ml->ulist, finfo->file);
    if (!un)
        return;
    if (err) {
        delnode(un);
    } else if (ci->status != T_REMOVED) {
        Vers_TS *v = nullptr;
        classify_file_internal(run, finfo, &v);
        static_cast<logfile_info *>(un->data)->rev_new = v->vn_rcs;
        freevers_ts(&v);
    }
}

int commit_fileproc(void *callerdat, file_info *finfo) {
    CommitRun &run = *static_cast<CommitRun *>(callerdat);
    if (run.write_dirtag && finfo->rcs &&
        RCS_gettag(finfo->rcs, run.write_dirtag->c_str(), 1, nullptr) &&
        !RCS_nodeisbranch(finfo->rcs, run.write_dirtag->c_str()))
        run.write_dirnonbranch = 1;
    master_lists *ml = lists_for(run, finfo->update_dir, false);
    if (!ml)
        return 0;
    obtain_message(run, finfo->update_dir.c_str(), finfo->repository, ml->ulist);
    Node *cn = findnode(ml->cilist, finfo->file);
    if (!cn)
        return 0;
    commit_info *ci = static_cast<commit_info *>(cn->data);
    const std::string message = run.saved_message.value_or("");
    int err = 0;
    if (ci->status == T_MODIFIED)
        err = commit_modified(run, finfo, ci, message);
    else if (ci->status == T_ADDED)
        err = commit_added(run, finfo, ci, message);
    else if (ci->status == T_REMOVED) {
        err = remove_file(finfo, ci->tag, message);
        if (server_active) {
            server_scratch_entry_only();
            server_updated(finfo, nullptr, SERVER_UPDATED, SERVER_FILE_MODE, nullptr, nullptr);
        }
    }
    note_new_revision(run, finfo, ml, ci, err);
    if (!err)
        err = notify_do('C', finfo->file, getcaller(), "", "", finfo->repository);
    return err;
}

Dtype commit_direntproc(void *callerdat, const char *dir, const char *repos, const char *update_dir,
                        List *) {
    CommitRun &run = *static_cast<CommitRun *>(callerdat);
    if (!isdir(dir))
        return R_SKIP_ALL;
    master_lists *ml = lists_for(run, std::strcmp(update_dir, ".") == 0 ? "" : update_dir, false);
    if (!ml || list_isempty(ml->cilist))
        return R_SKIP_FILES;
    obtain_message(run, update_dir, repos, ml->ulist);
    return R_PROCESS;
}

// Format: doc/formats.md#module-programs
int commit_filesdoneproc(void *callerdat, int err, const char *repository, const char *update_dir,
                         List *) {
    CommitRun &run = *static_cast<CommitRun *>(callerdat);
    master_lists *ml = lists_for(run, std::strcmp(update_dir, ".") == 0 ? "" : update_dir, false);
    if (ml) {
        run.got_message = false;
        Update_Logfile(repository, run.saved_message.value_or(""), nullptr, ml->ulist);
    }
    std::string repos = repository ? repository : "";
    const std::string &root = JOLroot_directory;
    if (repos.compare(0, root.size(), root) != 0)
        error(0, 0, "internal error: repository (%s) doesn't begin with root (%s)", repos, root);
    std::string adm = root + "/JOLROOT";
    if (repos == adm || repos.compare(0, adm.size() + 1, adm + "/") == 0) {
        jol_output(program_name + " " + command_name + ": Rebuilding administrative file database\n");
        mkmodules(adm.c_str());
    }
    if (err == 0 && run.run_module_prog) {
        FILE *fp = std::fopen("JOL/Checkin.prog", "r");
        if (!fp) {
            if (errno != ENOENT)
                error(0, errno, "warning: cannot open %s", "JOL/Checkin.prog");
        } else {
            LineReader lines(fp);
            std::string line(lines.next().value_or(std::string_view()));
            if (std::ferror(fp))
                error(0, errno, "warning: error reading %s", "JOL/Checkin.prog");
            if (std::fclose(fp) == EOF)
                error(0, errno, "warning: cannot close %s", "JOL/Checkin.prog");
            if (!line.empty()) {
                std::vector<std::string> cmd{line, repos};
                jol_output(program_name + " " + command_name + ": Executing '" +
                           print_vector(cmd) + "'\n");
                jol_flushout();
                run_vector(cmd);
            }
        }
    }
    return err;
}

int commit_dirleaveproc(void *callerdat, const char *, int err, const char *update_dir, List *) {
    const CommitRun &run = *static_cast<const CommitRun *>(callerdat);
    if (err == 0 && run.write_dirtag)
        WriteTag(nullptr, run.write_dirtag, std::nullopt, run.write_dirnonbranch, update_dir,
                 nullptr);
    return err;
}

// Commits are refused to the super-user, who would own the archives.
void refuse_superuser() {
    if (geteuid() == 0 && !client_active) {
        struct passwd *pw = getpwnam(getcaller());
        if (!pw)
            error(1, 0, "you are unknown to this system");
        if (pw->pw_uid == 0)
            error(1, 0, "cannot commit files as 'root'");
    }
}

// What the options leave to the command itself rather than to the run.
struct CommitOptions {
    int local = 0;                       // -l, or -f
    std::optional<std::string> logfile;  // -F
};

// Parses the options into the run, and drops them from argc and argv.
CommitOptions parse_commit_options(CommitRun &run, int &argc, char **&argv) {
    CommitOptions opts;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+nlRm:fF:r:")) != -1) {
        switch (c) {
        case 'n': run.run_module_prog = 0; break;
        case 'm':
            run.use_editor = 0;
            run.saved_message = optarg;
            break;
        case 'r': run.saved_tag = optarg; break;
        case 'l': opts.local = 1; break;
        case 'R': opts.local = 0; break;
        case 'f':
            run.force_ci = 1;
            opts.local = 1;
            break;
        case 'F':
            run.use_editor = 0;
            opts.logfile = optarg;
            break;
        default: usage(commit_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (numeric(run.saved_tag)) {
        run.aflag = 1;
        while (!run.saved_tag->empty() && run.saved_tag->back() == '.')
            run.saved_tag->pop_back();
    }
    return opts;
}

// -F: the message is the whole text of the file.
void read_logfile(CommitRun &run, const std::string &logfile) {
    if (run.saved_message)
        error(1, 0, "cannot specify both a message and a log file");
    FILE *fp = std::fopen(logfile.c_str(), "r");
    if (!fp)
        error(1, errno, "can't stat %s", logfile);
    std::string text;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0)
        text.append(buf, n);
    if (std::ferror(fp))
        error(1, errno, "can't read %s", logfile);
    std::fclose(fp);
    run.saved_message = text;
}

}  // namespace

int commit(int argc, char **argv) {
    if (argc == -1)
        usage(commit_usage);
    refuse_superuser();
    CommitRun run;
    CommitOptions opts = parse_commit_options(run, argc, argv);
    if (opts.logfile)
        read_logfile(run, *opts.logfile);
    if (client_active) {
        CommitClientRequest creq{.local = opts.local,
                                 .force = run.force_ci != 0,
                                 .run_module_prog = run.run_module_prog != 0,
                                 .saved_tag = run.saved_tag,
                                 .saved_message = run.saved_message,
                                 .use_editor = run.use_editor != 0};
        return commit_through_server(creq, argc, argv);
    }
    tag_check_valid(opt_c(run.saved_tag), argc, argv, opts.local, run.aflag, nullptr);
    if (argc == 0)
        run.write_dirtag = run.saved_tag;
    wrap_setup();
    lock_tree_for_write(argc, argv, opts.local, run.aflag);
    int err = start_recursion({.fileproc = check_fileproc,
                               .filesdoneproc = check_filesdoneproc,
                               .direntproc = check_direntproc,
                               .callerdat = &run,
                               .argc = argc,
                               .argv = argv,
                               .local = opts.local,
                               .which = WHICH_LOCAL,
                               .aflag = run.aflag,
                               .dosrcs = 1});
    if (err) {
        Lock_Cleanup();
        error(1, 0, "correct above errors first!");
    }
    if (!noexec)
        err = start_recursion({.fileproc = commit_fileproc,
                               .filesdoneproc = commit_filesdoneproc,
                               .direntproc = commit_direntproc,
                               .dirleaveproc = commit_dirleaveproc,
                               .callerdat = &run,
                               .argc = argc,
                               .argv = argv,
                               .local = opts.local,
                               .which = WHICH_LOCAL,
                               .aflag = run.aflag,
                               .dosrcs = 1});
    Lock_Cleanup();
    wait_past_second(run.last_register_time);
    return err;
}
