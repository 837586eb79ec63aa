// The rtag command: sets, moves or deletes a tag directly in the archives
// of repository modules, without a working copy.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>
#include <getopt.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "src/base/date_option.h"
#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/commands/module_target.h"
#include "src/commands/tag_common.h"
#include "src/rcs/rcs.h"
#include "src/rcs/rcs_admin.h"
#include "src/rcs/rcs_write.h"
#include "src/repo/history.h"
#include "src/repo/modules.h"
#include "src/repo/tag_valid.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"

namespace {

const char *const rtag_usage[] = {
    "Usage: %s %s [-aflRnF] [-b] [-d] [-r rev|-D date] tag modules...\n",
    "\t-a\tClear tag from removed files that would not otherwise be tagged.\n",
    "\t-f\tForce a head revision match if tag/date not found.\n",
    "\t-l\tLocal directory only, not recursive\n",
    "\t-R\tProcess directories recursively.\n",
    "\t-n\tNo execution of 'tag program'\n",
    "\t-d\tDelete the given Tag.\n",
    "\t-b\tMake the tag a \"branch\" tag, allowing concurrent development.\n",
    "\t-r rev\tExisting revision/tag.\n",
    "\t-D\tExisting date.\n",
    "\t-F\tMove tag if it already exists\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

// One rtag command: the tagging state its walks share, and what it learns
// while it goes through the modules.
struct RtagRun {
    tagging::Run tagging;
    bool numtag_validated = false;  // -r is checked in the first module only
};

// `rev` is a revision on branch `branch` (a branch number).
bool on_branch(const std::string &rev, const std::string &branch) {
    return numdots(branch) % 2 == 0 && rev.size() > branch.size() &&
           rev.compare(0, branch.size(), branch) == 0 && rev[branch.size()] == '.' &&
           numdots(rev) == numdots(branch) + 1;
}

int rtag_delete(const tagging::Options &opts, RCSNode *rcs) {
    if (opts.numtag && !RCS_getversion(rcs, opts.numtag->c_str(), nullptr, 1, nullptr))
        return 0;
    List *symbols = RCS_symbols(rcs);
    if (!symbols || !findnode(symbols, opts.symtag))
        return 0;
    if (RCS_deltag(rcs, opts.symtag.c_str()) != 0) {
        if (!quiet)
            error(0, 0, "failed to remove tag `%s' from `%s'", opts.symtag, rcs->path);
        return 1;
    }
    RCS_rewrite(rcs, nullptr, nullptr);
    return 0;
}

int rtag_fileproc(void *callerdat, file_info *finfo) {
    tagging::Run &run = tagging::run_of(callerdat);
    const tagging::Options &opts = run.opts;
    int err = 0;
    if (!tagging::lock_and_parse(run, finfo, err))
        return err;
    RCSNode *rcs = finfo->rcs;
    if (!rcs) {
        error(0, 0, "could not read RCS file for %s", finfo->fullname);
        return 1;
    }
    if (opts.delete_flag ||
        (opts.attic_too && !opts.numtag && !opts.date && (rcs->flags & ARCHIVE_IN_ATTIC)))
        return rtag_delete(opts, rcs);

    std::optional<std::string> rev = tagging::resolve(opts, rcs);
    if (!rev) {
        if (opts.attic_too)
            rtag_delete(opts, rcs);
        if (!quiet && !opts.force_tag_match) {
            error(0, 0, "cannot find tag `%s' in `%s'", opts.numtag ? *opts.numtag : "head",
                  rcs->path);
            return 1;
        }
        return 0;
    }

    std::string target;
    bool new_is_branch = opts.branch_mode;
    const std::string &numtag = opts.numtag.value_or("");
    if (!numtag.empty() && std::isdigit(static_cast<unsigned char>(numtag[0])) &&
        numtag != *rev && on_branch(*rev, numtag)) {
        // A branch number names the branch itself, not its newest revision.
        target = numtag;
        new_is_branch = true;
    } else {
        target = opts.branch_mode ? RCS_magicrev(rcs, rev->c_str()) : *rev;
    }
    tagging::set_tag(opts, rcs, finfo->file, target, new_is_branch,
                     "failed to set tag `%s' to revision `%s' in `%s'");
    return 0;
}

Dtype rtag_check_dirproc(void *, const char *, const char *, const char *update_dir, List *) {
    return ignore_directory(update_dir) ? R_SKIP_ALL : R_PROCESS;
}

Dtype rtag_dirproc(void *callerdat, const char *, const char *, const char *update_dir, List *) {
    if (ignore_directory(update_dir)) {
        if (!quiet)
            error(0, 0, "Ignoring %s", update_dir);
        return R_SKIP_ALL;
    }
    if (!quiet)
        error(0, 0, "%s %s", tagging::run_of(callerdat).opts.delete_flag ? "Untagging" : "Tagging",
              update_dir);
    return R_PROCESS;
}

int rtag_proc(RtagRun &run, int argc, char **argv, const char *, const char *, const char *mfile,
              int, int local_specified, const char *mname, const char *) {
    const tagging::Options &opts = run.tagging.opts;
    std::optional<ModuleTarget> target = enter_module_target(argc, argv, mfile, mname);
    if (!target)
        return 1;
    const std::string &repository = target->repository;
    const std::string &update_dir = target->update_dir;

    int which = WHICH_REPOSITORY;
    if (opts.delete_flag || opts.attic_too || (opts.numtag && opts.force_tag_match))
        which |= WHICH_ATTIC;

    std::vector<char *> args = target->file_args();
    int nargs = static_cast<int>(args.size()) - 1;
    int local = opts.local || local_specified;

    if (opts.numtag && !run.numtag_validated) {
        tag_check_valid(opts.numtag->c_str(), nargs, args.data(), local, 0, repository.c_str());
        run.numtag_validated = true;
    }

    const char *preload = update_dir.empty() ? nullptr : update_dir.c_str();
    int err = start_recursion({.fileproc = tagging::check_fileproc,
                               .filesdoneproc = tagging::check_filesdoneproc,
                               .direntproc = rtag_check_dirproc,
                               .callerdat = &run.tagging,
                               .argc = nargs,
                               .argv = args.data(),
                               .local = local,
                               .which = which,
                               .readlock = 1,
                               .update_preload = preload,
                               .dosrcs = 1});
    if (err) {
        tagging::clear_collected(run.tagging);
        error(1, 0, "correct the above errors first!");
    }
    // No read locks in the writing pass (see tag).
    err = start_recursion({.fileproc = rtag_fileproc,
                           .filesdoneproc = tagging::tag_filesdoneproc,
                           .direntproc = rtag_dirproc,
                           .callerdat = &run.tagging,
                           .argc = nargs,
                           .argv = args.data(),
                           .local = local,
                           .which = which,
                           .update_preload = preload,
                           .dosrcs = 0});
    tagging::clear_collected(run.tagging);
    return err;
}

}  // namespace

int rtag(int argc, char **argv) {
    if (argc == -1)
        usage(rtag_usage);
    RtagRun run;
    tagging::Options &opts = run.tagging.opts;
    opts.is_rtag = true;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+FanfQqlRdbr:D:")) != -1) {
        switch (c) {
        case 'a': opts.attic_too = true; break;
        case 'n': opts.run_module_prog = false; break;
        case 'Q':
        case 'q': tagging::quiet_option(); break;
        case 'l': opts.local = true; break;
        case 'R': opts.local = false; break;
        case 'd': opts.delete_flag = true; break;
        case 'f': opts.force_tag_match = false; break;
        case 'b': opts.branch_mode = true; break;
        case 'r': opts.numtag = optarg; break;
        case 'D': opts.date = date_option(optarg); break;
        case 'F': opts.force_tag_move = true; break;
        default: usage(rtag_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (argc < 2)
        usage(rtag_usage);
    opts.symtag = argv[0];
    --argc;
    ++argv;
    tagging::check_options(opts);

    if (client_active) {
        start_server();
        tagging::send_options(opts);
        for (int i = 0; i < argc; ++i)
            send_arg(argv[i]);
        send_to_server("rtag\n");
        return get_responses_and_close();
    }

    DBM *db = open_module();
    const char *indicator = opts.delete_flag ? "D"
                            : opts.numtag    ? opts.numtag->c_str()
                            : opts.date      ? opts.date->c_str()
                                             : "A";
    CALLBACKPROC proc = std::bind_front(rtag_proc, std::ref(run));
    int err = 0;
    for (int i = 0; i < argc; ++i) {
        if (unsafe_module_name(argv[i])) {
            err += ignored_module(argv[i]);
            continue;
        }
        history_write('T', nullptr, opts.symtag.c_str(), argv[i], indicator);
        err += do_module(db, argv[i], TAG, opts.delete_flag ? "Untagging" : "Tagging", proc,
                         nullptr, 0, 0, opts.run_module_prog, opts.symtag.c_str());
    }
    close_module(db);
    return err;
}
