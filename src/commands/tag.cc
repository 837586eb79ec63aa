// The tag command: sets, moves or deletes a tag on the revisions a working
// copy records (or on a given revision or date) of its files.
#include <getopt.h>
#include <string>

#include "src/base/date_option.h"
#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/commands/tag_common.h"
#include "src/rcs/rcs.h"
#include "src/rcs/rcs_admin.h"
#include "src/rcs/rcs_write.h"
#include "src/repo/tag_valid.h"
#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"

namespace {

const char *const tag_usage[] = {
    "Usage: %s %s [-lRF] [-b] [-d] [-c] [-r rev|-D date] tag [files...]\n",
    "\t-l\tLocal directory only, not recursive.\n",
    "\t-R\tProcess directories recursively.\n",
    "\t-d\tDelete the given tag.\n",
    "\t-r rev\tExisting revision/tag.\n",
    "\t-D\tExisting date.\n",
    "\t-f\tForce a head revision if specified tag not found.\n",
    "\t-b\tMake the tag a \"branch\" tag, allowing concurrent development.\n",
    "\t-F\tMove tag if it already exists.\n",
    "\t-c\tCheck that working files are unmodified.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

int delete_tag(const tagging::Options &opts, RCSNode *rcs, const std::string &file) {
    List *symbols = rcs ? RCS_symbols(rcs) : nullptr;
    if (!symbols || !findnode(symbols, opts.symtag))
        return 0;
    if (RCS_deltag(rcs, opts.symtag.c_str()) != 0) {
        if (!quiet)
            error(0, 0, "failed to remove tag %s from %s", opts.symtag, rcs->path);
        return 1;
    }
    RCS_rewrite(rcs, nullptr, nullptr);
    if (!really_quiet)
        jol_output("D " + file + "\n");
    return 0;
}

int tag_fileproc(void *callerdat, file_info *finfo) {
    tagging::Run &run = tagging::run_of(callerdat);
    const tagging::Options &opts = run.opts;
    int err = 0;
    if (!tagging::lock_and_parse(run, finfo, err))
        return err;
    RCSNode *rcs = finfo->rcs;

    std::optional<std::string> rev;
    if (opts.numtag || opts.date) {
        if (!rcs || !(rev = tagging::resolve(opts, rcs)))
            return 0;
    }
    if (opts.delete_flag)
        return delete_tag(opts, rcs, finfo->file);

    if (!rev) {
        Vers_TS *vers = Version_TS(finfo, nullptr, nullptr, nullptr, 0, 0);
        std::optional<std::string> working = vers->vn_user;
        freevers_ts(&vers);
        if (!working)
            return 0;
        if (*working == "0") {
            if (!quiet)
                error(0, 0, "couldn't tag added but un-commited file `%s'", finfo->file);
            return 0;
        }
        if (!working->empty() && (*working)[0] == '-') {
            if (!quiet)
                error(0, 0, "skipping removed but un-commited file `%s'", finfo->file);
            return 0;
        }
        rev = working;
    }
    if (!rcs) {
        if (!quiet)
            error(0, 0, "cannot find revision control file for `%s'", finfo->file);
        return 0;
    }
    std::string target = opts.branch_mode ? RCS_magicrev(rcs, rev->c_str()) : *rev;
    if (tagging::set_tag(opts, rcs, finfo->file, target, opts.branch_mode,
                         "failed to set tag %s to revision %s in %s") == tagging::SetResult::set &&
        !really_quiet)
        jol_output("T " + finfo->file + "\n");
    return 0;
}

Dtype tag_dirproc(void *callerdat, const char *dir, const char *, const char *update_dir, List *) {
    if (!isdir(dir))
        return R_SKIP_ALL;
    if (!quiet)
        error(0, 0, "%s %s", tagging::run_of(callerdat).opts.delete_flag ? "Untagging" : "Tagging",
              update_dir);
    return R_PROCESS;
}

}  // namespace

int joltag(int argc, char **argv) {
    if (argc == -1)
        usage(tag_usage);
    tagging::Run run;
    tagging::Options &opts = run.opts;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+FQqlRcdr:D:bf")) != -1) {
        switch (c) {
        case 'Q':
        case 'q': tagging::quiet_option(); break;
        case 'l': opts.local = true; break;
        case 'R': opts.local = false; break;
        case 'd': opts.delete_flag = true; break;
        case 'c': opts.check_uptodate = true; break;
        case 'r': opts.numtag = optarg; break;
        case 'D': opts.date = date_option(optarg); break;
        case 'f': opts.force_tag_match = false; break;
        case 'b': opts.branch_mode = true; break;
        case 'F': opts.force_tag_move = true; break;
        default: usage(tag_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (argc == 0)
        usage(tag_usage);
    opts.symtag = argv[0];
    --argc;
    ++argv;
    tagging::check_options(opts);

    if (client_active) {
        start_server();
        ign_setup();
        tagging::send_options(opts);
        send_files(argc, argv, opts.local, 0, opts.check_uptodate ? 0 : SEND_NO_CONTENTS);
        send_file_names(argc, argv, SEND_EXPAND_WILD);
        send_to_server("tag\n");
        return get_responses_and_close();
    }

    if (opts.numtag)
        tag_check_valid(opts.numtag->c_str(), argc, argv, opts.local, 0, nullptr);

    // Permission first: nothing is written unless every directory's
    // taginfo filters agree.
    int err = start_recursion({.fileproc = tagging::check_fileproc,
                               .filesdoneproc = tagging::check_filesdoneproc,
                               .callerdat = &run,
                               .argc = argc,
                               .argv = argv,
                               .local = opts.local,
                               .which = WHICH_LOCAL,
                               .readlock = 1,
                               .dosrcs = 1});
    if (err) {
        tagging::clear_collected(run);
        error(1, 0, "correct the above errors first!");
    }
    // Without read locks: the write lock of a directory waits for readers,
    // and this process must not wait for itself. Archives are read only
    // once their directory is locked.
    err = start_recursion({.fileproc = tag_fileproc,
                           .filesdoneproc = tagging::tag_filesdoneproc,
                           .direntproc = tag_dirproc,
                           .callerdat = &run,
                           .argc = argc,
                           .argv = argv,
                           .local = opts.local,
                           .which = WHICH_LOCAL,
                           .dosrcs = 0});
    tagging::clear_collected(run);
    return err;
}
