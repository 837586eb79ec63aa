// The rdiff command: a patch between two releases of repository modules,
// made from the archives without a working copy; or one summary line per
// changed file, or each file's last change.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <getopt.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/date_option.h"
#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/commands/module_target.h"
#include "src/rcs/diff_invoke.h"
#include "src/rcs/rcs.h"
#include "src/repo/modules.h"
#include "src/repo/tag_valid.h"
#include "src/wc/recurse.h"

namespace {

const char *const patch_usage[] = {
    "Usage: %s %s [-flR] [-c|-u] [-s|-t] [-V %%d]\n",
    "    -r rev|-D date [-r rev2 | -D date2] modules...\n",
    "\t-f\tForce a head revision match if tag/date not found.\n",
    "\t-l\tLocal directory only, not recursive\n",
    "\t-R\tProcess directories recursively.\n",
    "\t-c\tContext diffs (default)\n",
    "\t-u\tUnidiff format.\n",
    "\t-s\tShort patch - one liner per file.\n",
    "\t-t\tTop two diffs - last change made to the file.\n",
    "\t-D date\tDate.\n",
    "\t-r rev\tRevision - symbolic or numeric.\n",
    "\t-V vers\tUse RCS Version \"vers\" for keyword expansion.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

// The options of one rdiff command.
struct PatchOptions {
    std::optional<std::string> rev1, date1, rev2, date2;
    bool force_tag_match = true;
    bool local = false;
    bool unidiff = false;
    bool patch_short = false;
    bool toptwo_diffs = false;
    std::string options;  // the -k mode as "-kX", or empty
};

struct PatchRun {
    PatchOptions opts;
    bool revs_validated = false;  // the tags are checked in the first module only
};

const char *opt_c(const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; }

// A revision that is dead does not exist for a release.
std::optional<std::string> live(RCSNode *rcs, std::optional<std::string> rev) {
    if (rev && RCS_isdead(rcs, rev->c_str()))
        return std::nullopt;
    return rev;
}

// The revision before `rev` on its own line of development: the next older
// trunk revision, the previous revision on a branch, or for a branch's
// first revision the revision it branches from.
std::optional<std::string> previous_on_line(RCSNode *rcs, const std::string &rev) {
    if (numdots(rev) == 1) {
        RCSVers *v = RCS_findvers(rcs, rev);
        if (!v || v->next.empty())
            return std::nullopt;
        return v->next;
    }
    size_t dot = rev.rfind('.');
    long n = std::strtol(rev.c_str() + dot + 1, nullptr, 10);
    if (n > 1)
        return rev.substr(0, dot + 1) + std::to_string(n - 1);
    return rev.substr(0, rev.rfind('.', dot - 1));
}

struct Revisions {
    std::optional<std::string> first, second;
};

Revisions find_revisions(const PatchOptions &opts, RCSNode *rcs) {
    Revisions r;
    if (opts.toptwo_diffs) {
        std::optional<std::string> head = RCS_head(rcs);
        if (!head)
            return r;
        std::optional<std::string> prev = previous_on_line(rcs, *head);
        if (!prev)
            return r;  // a single revision has no last change to show
        r.second = live(rcs, head);
        r.first = live(rcs, prev);
        return r;
    }
    r.first = live(rcs, RCS_getversion(rcs, opt_c(opts.rev1), opt_c(opts.date1),
                                       opts.force_tag_match, nullptr));
    if (opts.rev2 || opts.date2)
        r.second = live(rcs, RCS_getversion(rcs, opt_c(opts.rev2), opt_c(opts.date2),
                                            opts.force_tag_match, nullptr));
    else
        r.second = live(rcs, RCS_head(rcs));
    return r;
}

void print_summary(const PatchOptions &opts, const std::string &name, const Revisions &r) {
    std::string line = "File " + name;
    if (!r.first) {
        line += " is new; current revision " + *r.second;
    } else if (!r.second) {
        line += " is removed; not included in ";
        if (opts.rev2)
            line += "release tag " + *opts.rev2;
        else if (opts.date2)
            line += "release date " + *opts.date2;
        else
            line += "current release";
    } else {
        line += " changed from revision " + *r.first + " to " + *r.second;
    }
    jol_output(line + "\n");
}

// The time stamp a diff header carries for a file modified at `t`.
std::string header_time(time_t t) {
    struct tm tm;
    char buf[64];
    if (!localtime_r(&t, &tm) || !asctime_r(&tm, buf))
        return "?";
    std::string s = buf;
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

// A revision's text with the -k mode; false (reported) when it cannot be
// rebuilt.
bool revision_text(const PatchOptions &opts, file_info *finfo, const std::string &rev,
                   std::string &text) {
    if (RCS_checkout(finfo->rcs, nullptr, rev.c_str(), nullptr, opts.options.c_str(), nullptr,
                     append_text, &text) != 0) {
        error(0, 0, "cannot check out revision %s of %s", rev, finfo->rcs->path);
        return false;
    }
    return true;
}

// The time stamp of one side: the revision's date, or that of "/dev/null".
std::optional<std::string> side_time(file_info *finfo, const std::optional<std::string> &rev) {
    if (!rev) {
        struct stat sb;
        return header_time(stat("/dev/null", &sb) == 0 ? sb.st_mtime : 0);
    }
    int64_t t = RCS_getrevtime(finfo->rcs, rev->c_str(), nullptr, 0);
    if (t == -1) {
        error(0, 0, "cannot find date in rcs file %s revision %s", finfo->rcs->path, *rev);
        return std::nullopt;
    }
    return header_time(static_cast<time_t>(t));
}

// A binary file that differs cannot be carried by the patch: name it where
// the patch would have held it, and count the omission as an error.
int binary_differs(const std::string &name, const std::string &label1,
                   const std::string &label2) {
    jol_output("Index: " + name + "\n");
    jol_output("Binary files " + label1 + " and " + label2 + " differ\n");
    error(0, 0, "warning: binary file %s differs; its change is not in the patch", name);
    return 1;
}

// The diff of the two revisions under the headers a patch needs: the first
// names the file and its first revision (or /dev/null), the second the
// file itself.
int print_patch(const PatchOptions &opts, file_info *finfo, const Revisions &r) {
    const std::string &name = finfo->fullname;
    std::string label1 = r.first ? name + ":" + *r.first : std::string("/dev/null");
    std::string label2 = name + ":" + (r.second ? *r.second : std::string("removed"));
    std::string text1, text2;
    if ((r.first && !revision_text(opts, finfo, *r.first, text1)) ||
        (r.second && !revision_text(opts, finfo, *r.second, text2)))
        return 1;
    if (text1 == text2 && r.first && r.second)
        return 0;
    if (RCS_getexpand(finfo->rcs) == "b")
        return text1 == text2 ? 0 : binary_differs(name, label1, label2);

    std::optional<std::string> time1 = side_time(finfo, r.first);
    std::optional<std::string> time2 = side_time(finfo, r.second);
    if (!time1 || !time2)
        return 1;
    std::string head1 = label1 + "\t" + *time1, head2 = name + "\t" + *time2;
    std::string out;
    int status = diff_texts_labeled(std::move(text1), std::move(text2), head1.c_str(),
                                    head2.c_str(), opts.unidiff ? "-u" : "-c", out);
    if (status == 0)
        return 0;
    if (status != 1) {
        error(0, 0, "diff failed for %s", name);
        return 1;
    }
    if (out.compare(0, 13, "Binary files ") == 0)
        return binary_differs(name, label1, label2);
    const char *mark1 = opts.unidiff ? "--- " : "*** ";
    const char *mark2 = opts.unidiff ? "+++ " : "--- ";
    size_t eol = out.find('\n');
    if (out.compare(0, 4, mark1) != 0 || eol == std::string::npos ||
        out.compare(eol + 1, 4, mark2) != 0) {
        error(0, 0, opts.unidiff ? "invalid unidiff header for %s" : "invalid diff header for %s",
              name);
        return 1;
    }
    jol_output("Index: " + name + "\n");
    jol_output(std::string(opts.unidiff ? "diff -u " : "diff -c ") + label1 + " " + label2 + "\n");
    jol_output(out);
    return 0;
}

int patch_fileproc(void *callerdat, file_info *finfo) {
    const PatchOptions &opts = static_cast<PatchRun *>(callerdat)->opts;
    if (!finfo->rcs)
        return 0;
    Revisions r = find_revisions(opts, finfo->rcs);
    if (!r.first && !r.second)
        return 0;
    if (r.first && r.second && *r.first == *r.second)
        return 0;
    if (opts.patch_short) {
        print_summary(opts, finfo->fullname, r);
        return 0;
    }
    return print_patch(opts, finfo, r);
}

Dtype patch_dirproc(void *, const char *, const char *, const char *update_dir, List *) {
    if (!quiet)
        error(0, 0, "Diffing %s", update_dir);
    return R_PROCESS;
}

int patch_proc(PatchRun &run, int argc, char **argv, const char *, const char *,
               const char *mfile, int, int local_specified, const char *mname, const char *) {
    const PatchOptions &opts = run.opts;
    std::optional<ModuleTarget> target = enter_module_target(argc, argv, mfile, mname);
    if (!target)
        return 1;
    const std::string &repository = target->repository;
    const std::string &update_dir = target->update_dir;

    std::vector<char *> args = target->file_args();
    int nargs = static_cast<int>(args.size()) - 1;
    int local = opts.local || local_specified;
    if (!run.revs_validated) {
        tag_check_valid(opt_c(opts.rev1), nargs, args.data(), local, 0, repository.c_str());
        tag_check_valid(opt_c(opts.rev2), nargs, args.data(), local, 0, repository.c_str());
        run.revs_validated = true;
    }
    return start_recursion({.fileproc = patch_fileproc,
                            .direntproc = patch_dirproc,
                            .callerdat = &run,
                            .argc = nargs,
                            .argv = args.data(),
                            .local = local,
                            .which = WHICH_REPOSITORY | WHICH_ATTIC,
                            .readlock = 1,
                            .update_preload = update_dir.empty() ? nullptr : update_dir.c_str(),
                            .dosrcs = 1});
}

void check_options(const PatchOptions &opts) {
    bool any_rev = opts.rev1 || opts.date1 || opts.rev2 || opts.date2;
    if (opts.toptwo_diffs && opts.patch_short)
        error(1, 0, "-t and -s options are mutually exclusive");
    if (opts.toptwo_diffs && any_rev)
        error(1, 0, "must not specify revisions/dates with -t option!");
    if (!opts.toptwo_diffs && !any_rev)
        error(1, 0, "must specify at least one revision/date!");
    if (opts.date1 && opts.date2 && RCS_datecmp(*opts.date1, *opts.date2) >= 0)
        error(1, 0, "second date must come after first date!");
}

void send_options(const PatchOptions &opts) {
    const std::pair<bool, const char *> flags[] = {
        {!opts.force_tag_match, "-f"}, {opts.local, "-l"},        {opts.patch_short, "-s"},
        {opts.toptwo_diffs, "-t"},     {opts.unidiff, "-u"},
    };
    for (auto [on, flag] : flags)
        if (on)
            send_arg(flag);
    option_with_arg("-r", opt_c(opts.rev1));
    client_senddate(opt_c(opts.date1));
    option_with_arg("-r", opt_c(opts.rev2));
    client_senddate(opt_c(opts.date2));
    if (!opts.options.empty())
        send_arg(opts.options);
}

// A -r or -D value goes to the first end until it is taken, then the second.
void add_end(PatchOptions &opts, bool is_date, std::string value) {
    if (opts.rev2 || opts.date2)
        error(1, 0, "no more than two revisions/dates can be specified");
    bool second = opts.rev1 || opts.date1;
    std::optional<std::string> &slot =
        is_date ? (second ? opts.date2 : opts.date1) : (second ? opts.rev2 : opts.rev1);
    slot = std::move(value);
}

}  // namespace

int patch(int argc, char **argv) {
    if (argc == -1)
        usage(patch_usage);
    PatchRun run;
    PatchOptions &opts = run.opts;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+V:k:cuftsQqlRD:r:")) != -1) {
        switch (c) {
        case 'Q':
        case 'q':
            if (!server_active)
                error(1, 0, "-q or -Q must be specified before \"%s\"", command_name);
            break;
        case 'f': opts.force_tag_match = false; break;
        case 'l': opts.local = true; break;
        case 'R': opts.local = false; break;
        case 't': opts.toptwo_diffs = true; break;
        case 's': opts.patch_short = true; break;
        case 'D': add_end(opts, true, date_option(optarg)); break;
        case 'r': add_end(opts, false, optarg); break;
        case 'k': opts.options = RCS_check_kflag(optarg); break;
        case 'V': error(1, 0, "the -V option is obsolete and should not be used"); break;
        case 'u': opts.unidiff = true; break;
        case 'c': opts.unidiff = false; break;
        default: usage(patch_usage);
        }
    }
    argc -= optind;
    argv += optind;
    check_options(opts);
    if (argc < 1)
        usage(patch_usage);

    if (client_active) {
        start_server();
        send_options(opts);
        for (int i = 0; i < argc; ++i)
            send_arg(argv[i]);
        send_to_server("rdiff\n");
        return get_responses_and_close();
    }

    DBM *db = open_module();
    CALLBACKPROC proc = std::bind_front(patch_proc, std::ref(run));
    int err = 0;
    for (int i = 0; i < argc; ++i) {
        if (unsafe_module_name(argv[i])) {
            err += ignored_module(argv[i]);
            continue;
        }
        err += do_module(db, argv[i], PATCH, "Patching", proc, nullptr, 0, 0, 0, nullptr);
    }
    close_module(db);
    return err;
}
