// The diff command: compares working files with revisions, or two revisions
// with each other, through the in-process diff engine, one "Index:" block
// per file.
#include <cerrno>
#include <cstring>
#include <getopt.h>
#include <optional>
#include <string>
#include <unistd.h>

#include "src/base/date_option.h"
#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/rcs/diff_invoke.h"
#include "src/rcs/rcs.h"
#include "src/repo/tag_valid.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"

namespace {

const char *const diff_usage[] = {
    "Usage: %s %s [-lNR] [rcsdiff-options]\n",
    "    [[-r rev1 | -D date1] [-r rev2 | -D date2]] [files...] \n",
    "\t-l\tLocal directory only, not recursive\n",
    "\t-R\tProcess directories recursively.\n",
    "\t-D d1\tDiff revision for date against working file.\n",
    "\t-D d2\tDiff rev1/date1 against date2.\n",
    "\t-N\tinclude diffs for added and removed files.\n",
    "\t-r rev1\tDiff revision for rev1 against working file.\n",
    "\t-r rev2\tDiff rev1/date1 against rev2.\n",
    "\t--ifdef=arg\tOutput diffs in ifdef format.\n",
    "(consult the documentation for your diff program for rcsdiff-options.\n",
    "The most popular is -c for context diffs but there are many more).\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

// Long options without a short equivalent are numbered from here; their
// index in the table is the value minus this base.
constexpr int LONG_BASE = 256;

const struct option longopts[] = {
    {"ignore-blank-lines", no_argument, nullptr, 'B'},
    {"context", optional_argument, nullptr, LONG_BASE + 1},
    {"ifdef", required_argument, nullptr, LONG_BASE + 2},
    {"show-function-line", required_argument, nullptr, 'F'},
    {"speed-large-files", no_argument, nullptr, 'H'},
    {"ignore-matching-lines", required_argument, nullptr, 'I'},
    {"label", required_argument, nullptr, 'L'},
    {"new-file", no_argument, nullptr, 'N'},
    {"initial-tab", no_argument, nullptr, LONG_BASE + 8},
    {"width", required_argument, nullptr, 'W'},
    {"text", no_argument, nullptr, 'a'},
    {"ignore-space-change", no_argument, nullptr, 'b'},
    {"minimal", no_argument, nullptr, 'd'},
    {"ed", no_argument, nullptr, 'e'},
    {"forward-ed", no_argument, nullptr, 'f'},
    {"ignore-case", no_argument, nullptr, 'i'},
    {"paginate", no_argument, nullptr, LONG_BASE + 16},
    {"rcs", no_argument, nullptr, 'n'},
    {"show-c-function", no_argument, nullptr, 'p'},
    {"brief", no_argument, nullptr, LONG_BASE + 19},
    {"report-identical-files", no_argument, nullptr, 's'},
    {"expand-tabs", no_argument, nullptr, 't'},
    {"ignore-all-space", no_argument, nullptr, 'w'},
    {"side-by-side", no_argument, nullptr, LONG_BASE + 23},
    {"unified", optional_argument, nullptr, LONG_BASE + 24},
    {"left-column", no_argument, nullptr, LONG_BASE + 25},
    {"suppress-common-lines", no_argument, nullptr, LONG_BASE + 26},
    {"old-line-format", required_argument, nullptr, LONG_BASE + 27},
    {"new-line-format", required_argument, nullptr, LONG_BASE + 28},
    {"unchanged-line-format", required_argument, nullptr, LONG_BASE + 29},
    {"line-format", required_argument, nullptr, LONG_BASE + 30},
    {"old-group-format", required_argument, nullptr, LONG_BASE + 31},
    {"new-group-format", required_argument, nullptr, LONG_BASE + 32},
    {"unchanged-group-format", required_argument, nullptr, LONG_BASE + 33},
    {"changed-group-format", required_argument, nullptr, LONG_BASE + 34},
    {"horizon-lines", required_argument, nullptr, LONG_BASE + 35},
    {"binary", no_argument, nullptr, LONG_BASE + 36},
    {nullptr, 0, nullptr, 0},
};

enum diff_file { DIFF_ERROR = 0, DIFF_ADDED, DIFF_REMOVED, DIFF_DIFFERENT, DIFF_SAME };

struct diff_request {
    std::string opts;
    std::optional<std::string> rev1, rev2, date1, date2;
    int have_rev1_label = 0, have_rev2_label = 0;
    int empty_files = 0;
    std::string kmode;
    int diff_errors = 0;
};

// What one file compares: null revisions stand for the working file.
struct comparison {
    std::optional<std::string> use_rev1, use_rev2, user_file_rev;
};

const char *opt_c(const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; }

// Resolves one -r/-D request for a file: "HEAD" is the head of the branch
// of the working revision; anything else goes through Version_TS.
std::optional<std::string> resolve(const file_info *finfo, const Vers_TS *vers,
                                   const std::optional<std::string> &rev,
                                   const std::optional<std::string> &date) {
    if (rev && *rev == "HEAD") {
        if (!vers->srcfile || !vers->vn_user)
            return std::nullopt;
        std::string working = *vers->vn_user;
        if (!working.empty() && working[0] == '-')
            working.erase(0, 1);
        if (working == "0")
            return RCS_head(vers->srcfile);
        return RCS_branch_head(vers->srcfile, working.c_str());
    }
    Vers_TS *xvers = Version_TS(finfo, nullptr, opt_c(rev), opt_c(date), 1, 0);
    std::optional<std::string> found = xvers->vn_rcs;
    freevers_ts(&xvers);
    return found;
}

void report_unresolved(const file_info *finfo, const std::optional<std::string> &rev,
                       const std::optional<std::string> &date) {
    if (rev)
        error(0, 0, "tag %s is not in file %s", *rev, finfo->fullname);
    else
        error(0, 0, "no revision for date %s in file %s", date.value_or(""), finfo->fullname);
}

// The keyword mode for checkouts: -k when given, else the file's own.
std::string checkout_options(const diff_request &req, const Vers_TS *vers) {
    return req.kmode.empty() ? vers->options : req.kmode;
}

diff_file diff_file_nodiff(const file_info *finfo, const diff_request &req, Vers_TS *vers,
                           diff_file empty_file, comparison &cmp) {
    bool first_requested = req.rev1 || req.date1;
    if (first_requested)
        cmp.use_rev1 = resolve(finfo, vers, req.rev1, req.date1);

    if (req.rev2 || req.date2) {
        cmp.use_rev2 = resolve(finfo, vers, req.rev2, req.date2);
        if (!cmp.use_rev1 && !cmp.use_rev2)
            return DIFF_SAME;
        if (!cmp.use_rev1) {
            if (req.empty_files)
                return DIFF_ADDED;
            report_unresolved(finfo, req.rev1, req.date1);
            return DIFF_ERROR;
        }
        if (!cmp.use_rev2) {
            if (req.empty_files)
                return DIFF_REMOVED;
            report_unresolved(finfo, req.rev2, req.date2);
            return DIFF_ERROR;
        }
        return *cmp.use_rev1 == *cmp.use_rev2 ? DIFF_SAME : DIFF_DIFFERENT;
    }

    if (first_requested && !cmp.use_rev1) {
        if (!req.empty_files) {
            report_unresolved(finfo, req.rev1, req.date1);
            return DIFF_ERROR;
        }
        if (empty_file == DIFF_REMOVED)
            return DIFF_SAME;
        if (cmp.user_file_rev && !cmp.use_rev2)
            cmp.use_rev2 = cmp.user_file_rev;
        return DIFF_ADDED;
    }

    if (cmp.user_file_rev) {
        if (!cmp.use_rev1)
            cmp.use_rev1 = cmp.user_file_rev;
        else if (!cmp.use_rev2)
            cmp.use_rev2 = cmp.user_file_rev;
    }
    if (cmp.use_rev1 && cmp.use_rev2)
        return *cmp.use_rev1 == *cmp.use_rev2 ? DIFF_SAME : DIFF_DIFFERENT;

    std::string entry_options = vers->entdata ? vers->entdata->options : std::string();
    if ((!cmp.use_rev1 || (vers->vn_user && *cmp.use_rev1 == *vers->vn_user)) &&
        empty_file == DIFF_DIFFERENT && vers->ts_user && vers->ts_rcs &&
        *vers->ts_user == *vers->ts_rcs && (req.kmode.empty() || req.kmode == entry_options))
        return DIFF_SAME;
    if (!cmp.use_rev1 && vers->vn_user) {
        std::string working = *vers->vn_user;
        if (!working.empty() && working[0] == '-')
            working.erase(0, 1);
        if (working != "0")
            cmp.use_rev1 = working;
    }
    if (empty_file == DIFF_ADDED || empty_file == DIFF_REMOVED)
        return empty_file;
    if (!cmp.use_rev1 || !vers->srcfile) {
        // Nothing in the archive to compare the working file with.
        error(0, 0, "cannot find revision control file for %s", finfo->fullname);
        return DIFF_ERROR;
    }
    std::string options = checkout_options(req, vers);
    return RCS_cmp_file(vers->srcfile, cmp.use_rev1->c_str(), options.c_str(),
                        finfo->file.c_str()) == 0
               ? DIFF_SAME
               : DIFF_DIFFERENT;
}

// Checks out `rev` to a new temporary file; empty on failure.
std::string checkout_temp(RCSNode *rcs, const std::string &rev, const std::string &options) {
    std::string tmp = jol_temp_name();
    if (RCS_checkout(rcs, nullptr, rev.c_str(), nullptr, options.c_str(), tmp.c_str(), nullptr,
                     nullptr) != 0) {
        unlink(tmp.c_str());
        return std::string();
    }
    return tmp;
}

// The added or removed case: the whole file against /dev/null.
int diff_against_nothing(const file_info *finfo, const diff_request &req, Vers_TS *vers,
                         diff_file empty_file, const comparison &cmp) {
    jol_output("===================================================================\nRCS file: " +
               finfo->file + "\ndiff -N " + finfo->file + "\n");
    std::string options = checkout_options(req, vers);
    std::string tmp;
    const char *left = "/dev/null";
    const char *right = "/dev/null";
    if (empty_file == DIFF_ADDED) {
        if (cmp.use_rev2) {
            tmp = checkout_temp(vers->srcfile, *cmp.use_rev2, options);
            if (tmp.empty())
                return 2;
            right = tmp.c_str();
        } else {
            right = finfo->file.c_str();
        }
    } else {
        if (!cmp.use_rev1 || !vers->srcfile)
            return 2;
        tmp = checkout_temp(vers->srcfile, *cmp.use_rev1, options);
        if (tmp.empty())
            return 2;
        left = tmp.c_str();
    }
    int status = diff_exec(left, right, req.opts.c_str(), nullptr);
    if (!tmp.empty() && unlink(tmp.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "cannot remove %s", tmp);
    return status;
}

int diff_fileproc(void *callerdat, file_info *finfo) {
    auto &req = *static_cast<diff_request *>(callerdat);
    int status = 0;
    diff_file empty_file = DIFF_DIFFERENT;
    comparison cmp;
    Vers_TS *vers = Version_TS(finfo, nullptr, nullptr, nullptr, 1, 0);
    bool first_requested = req.rev1 || req.date1;

    auto done = [&](int result) {
        freevers_ts(&vers);
        if (result > req.diff_errors)
            req.diff_errors = result;
        return 0;
    };

    if (!req.rev2 && !req.date2) {
        if (!vers->vn_user) {
            if (!first_requested || !vers->srcfile) {
                error(0, 0, "I know nothing about %s", finfo->fullname);
                return done(2);
            }
            empty_file = DIFF_REMOVED;
            if (!req.empty_files) {
                if (resolve(finfo, vers, req.rev1, req.date1)) {
                    error(0, 0, "%s no longer exists, no comparison available",
                          finfo->fullname);
                    return done(2);
                }
                return done(0);
            }
        } else if (*vers->vn_user == "0") {
            empty_file = DIFF_ADDED;
            if (!req.empty_files) {
                error(0, 0, "%s is a new entry, no comparison available", finfo->fullname);
                return done(2);
            }
        } else if ((*vers->vn_user)[0] == '-') {
            empty_file = DIFF_REMOVED;
            if (!req.empty_files) {
                error(0, 0, "%s was removed, no comparison available", finfo->fullname);
                return done(2);
            }
        } else if (!vers->vn_rcs && !vers->srcfile) {
            error(0, 0, "cannot find revision control file for %s", finfo->fullname);
            return done(2);
        } else if (!vers->ts_user) {
            error(0, 0, "cannot find %s", finfo->fullname);
            return done(2);
        } else if (vers->ts_rcs && *vers->ts_user == *vers->ts_rcs) {
            cmp.user_file_rev = vers->vn_user;
        }
    }

    empty_file = diff_file_nodiff(finfo, req, vers, empty_file, cmp);
    if (empty_file == DIFF_ERROR)
        return done(2);
    if (empty_file == DIFF_SAME)
        return done(0);
    if (empty_file == DIFF_DIFFERENT && cmp.use_rev1 && cmp.use_rev2 && vers->srcfile) {
        bool dead1 = RCS_isdead(vers->srcfile, cmp.use_rev1->c_str());
        bool dead2 = RCS_isdead(vers->srcfile, cmp.use_rev2->c_str());
        if (dead1 && dead2)
            return done(0);
        if (dead1 || dead2) {
            empty_file = dead1 ? DIFF_ADDED : DIFF_REMOVED;
            if (dead1)
                cmp.use_rev1.reset();
            if (!req.empty_files) {
                if (dead1)
                    error(0, 0, "%s is a new entry, no comparison available", finfo->fullname);
                else
                    error(0, 0, "%s was removed, no comparison available", finfo->fullname);
                return done(2);
            }
        }
    }

    jol_output("Index: " + finfo->fullname + "\n");
    if (empty_file == DIFF_ADDED || empty_file == DIFF_REMOVED) {
        status = diff_against_nothing(finfo, req, vers, empty_file, cmp);
    } else {
        std::string label1, label2;
        if (!req.have_rev1_label)
            label1 = make_file_label(finfo->fullname.c_str(), opt_c(cmp.use_rev1), vers->srcfile);
        if (!req.have_rev2_label)
            label2 = make_file_label(finfo->fullname.c_str(), opt_c(cmp.use_rev2), vers->srcfile);
        std::string options = checkout_options(req, vers);
        status = RCS_exec_rcsdiff(vers->srcfile, req.opts.c_str(), options.c_str(),
                                  opt_c(cmp.use_rev1), opt_c(cmp.use_rev2), label1.c_str(),
                                  label2.c_str(), finfo->file.c_str());
        if (status == -1)
            fatal(0, "fork failed while diffing %s", vers->srcfile->path);
    }
    return done(status);
}

Dtype diff_dirproc(void *, const char *dir, const char *, const char *update_dir, List *) {
    if (!isdir(dir))
        return R_SKIP_ALL;
    if (!quiet)
        error(0, 0, "Diffing %s", update_dir);
    return R_PROCESS;
}

// Fills the first free of rev1/date1, then rev2/date2.
void add_revision_request(diff_request &req, bool is_date, const char *value) {
    if (!req.rev1 && !req.date1)
        (is_date ? req.date1 : req.rev1) = is_date ? date_option(value) : std::string(value);
    else if (!req.rev2 && !req.date2)
        (is_date ? req.date2 : req.rev2) = is_date ? date_option(value) : std::string(value);
    else
        fatal(0, "no more than two revisions/dates can be specified");
}

}  // namespace

int diff(int argc, char **argv) {
    if (argc == -1)
        usage(diff_usage);
    diff_request req;
    int local = 0;
    optind = 0;
    int c, option_index;
    while ((c = getopt_long(argc, argv, "+abcdefhilnpstuw0123456789BHNRC:D:F:I:L:U:V:W:k:r:",
                            longopts, &option_index)) != -1) {
        switch (c) {
        case 'a': case 'b': case 'c': case 'd': case 'e': case 'f': case 'h': case 'i':
        case 'n': case 'p': case 's': case 't': case 'u': case 'w': case '0': case '1':
        case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
        case 'B': case 'H':
            req.opts += " -";
            req.opts += static_cast<char>(c);
            break;
        case 'C': case 'F': case 'I': case 'U': case 'V': case 'W':
            req.opts += " -";
            req.opts += static_cast<char>(c);
            req.opts += optarg;
            break;
        case 'L':
            if (req.have_rev2_label) {
                error(0, 0, "extra -L arguments ignored");
                break;
            }
            (req.have_rev1_label ? req.have_rev2_label : req.have_rev1_label) = 1;
            req.opts += " -L";
            req.opts += optarg;
            break;
        case LONG_BASE + 2:
            req.opts += " --ifdef=";
            req.opts += optarg;
            break;
        case 'l': local = 1; break;
        case 'R': local = 0; break;
        case 'N': req.empty_files = 1; break;
        case 'k': req.kmode = RCS_check_kflag(optarg); break;
        case 'r': add_revision_request(req, false, optarg); break;
        case 'D': add_revision_request(req, true, optarg); break;
        default:
            if (c > LONG_BASE && c < LONG_BASE + static_cast<int>(std::size(longopts))) {
                req.opts += " --";
                req.opts += longopts[c - LONG_BASE].name;
                if (optarg) {
                    req.opts += "=";
                    req.opts += optarg;
                }
                break;
            }
            usage(diff_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (client_active) {
        start_server();
        ign_setup();
        if (local)
            send_arg("-l");
        if (req.empty_files)
            send_arg("-N");
        send_option_string(req.opts.c_str());
        if (!req.kmode.empty())
            send_arg(req.kmode);
        if (req.rev1)
            option_with_arg("-r", req.rev1->c_str());
        else
            client_senddate(opt_c(req.date1));
        if (req.rev2)
            option_with_arg("-r", req.rev2->c_str());
        else
            client_senddate(opt_c(req.date2));
        // Two revisions need no working contents.
        bool two = (req.rev1 || req.date1) && (req.rev2 || req.date2);
        send_files(argc, argv, local, 0, two ? SEND_NO_CONTENTS : 0);
        send_file_names(argc, argv, SEND_EXPAND_WILD);
        send_to_server("diff\n");
        return get_responses_and_close();
    }
    if (req.rev1)
        tag_check_valid(req.rev1->c_str(), argc, argv, local, 0, nullptr);
    if (req.rev2)
        tag_check_valid(req.rev2->c_str(), argc, argv, local, 0, nullptr);
    int which = WHICH_LOCAL;
    if (req.rev1 || req.date1)
        which |= WHICH_REPOSITORY | WHICH_ATTIC;
    start_recursion({.fileproc = diff_fileproc,
                     .direntproc = diff_dirproc,
                     .callerdat = &req,
                     .argc = argc,
                     .argv = argv,
                     .local = local,
                     .which = which,
                     .readlock = 1,
                     .dosrcs = 1});
    return req.diff_errors;
}
