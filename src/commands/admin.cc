// The admin command: changes the properties of the archives behind the
// named working files (default branch, comment leader, locking, access
// list, tags, locks, states, log messages, description, keyword mode) and
// outdates ranges of revisions, rewriting each archive once or not at all.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/identity.h"
#include "src/base/output.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/rcs/rcs.h"
#include "src/rcs/rcs_admin.h"
#include "src/rcs/rcs_write.h"
#include "src/repo/logmsg.h"
#include "src/wc/ignore.h"
#include "src/wc/lock.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

namespace {

const char *const admin_usage[] = {
    "Usage: %s %s [options] files...\n",
    "\t-a users   Append (comma-separated) user names to access list.\n",
    "\t-A file    Append another file's access list.\n",
    "\t-b[rev]    Set default branch (highest branch on trunk if omitted).\n",
    "\t-c string  Set comment leader.\n",
    "\t-e[users]  Remove (comma-separated) user names from access list\n",
    "\t           (all names if omitted).\n",
    "\t-I         Run interactively.\n",
    "\t-k subst   Set keyword substitution mode:\n",
    "\t   kv   (Default) Substitue keyword and value.\n",
    "\t   kvl  Substitue keyword, value, and locker (if any).\n",
    "\t   k    Substitue keyword only.\n",
    "\t   o    Preserve original string.\n",
    "\t   b    Like o, but mark file as binary.\n",
    "\t   v    Substitue value only.\n",
    "\t-l[rev]    Lock revision (latest revision on branch,\n",
    "\t           latest revision on trunk if omitted).\n",
    "\t-L         Set strict locking.\n",
    "\t-m rev:msg  Replace revision's log message.\n",
    "\t-n tag[:[rev]]  Tag branch or revision.  If :rev is omitted,\n",
    "\t                delete the tag; if rev is omitted, tag the latest\n",
    "\t                revision on the default branch.\n",
    "\t-N tag[:[rev]]  Same as -n except override existing tag.\n",
    "\t-o range   Delete (outdate) specified range of revisions:\n",
    "\t   rev1::rev2  Between rev1 and rev2, excluding rev1 and rev2.\n",
    "\t   rev::       After rev on the same branch.\n",
    "\t   ::rev       Before rev on the same branch.\n",
    "\t   rev         Just rev.\n",
    "\t   rev1:rev2   Between rev1 and rev2, including rev1 and rev2.\n",
    "\t   rev:        rev and following revisions on the same branch.\n",
    "\t   :rev        rev and previous revisions on the same branch.\n",
    "\t-q         Run quietly.\n",
    "\t-s state[:rev]  Set revision state (latest revision on branch,\n",
    "\t                latest revision on trunk if omitted).\n",
    "\t-t[file]   Get descriptive text from file (stdin if omitted).\n",
    "\t-t-string  Set descriptive text.\n",
    "\t-u[rev]    Unlock the revision (latest revision on branch,\n",
    "\t           latest revision on trunk if omitted).\n",
    "\t-U         Unset strict locking.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

const char *const admin_group = "joladmin";

// What one admin command asks for; each option text keeps its letter.
struct admin_data {
    std::optional<std::string> branch;       // "-b" and the revision
    std::optional<std::string> comment;      // "-c" and the leader
    bool set_strict = false;
    bool set_nonstrict = false;
    std::optional<std::string> delete_revs;  // "-o" and the range
    std::optional<std::string> kflag;        // "-k" and the mode
    std::optional<std::string> desc;
    bool interactive = false;
    bool quiet = false;
    std::vector<std::string> av;             // "-a", "-A", "-e", ... in order
    bool only_k = true;                      // no option but -k (and -q)
};

[[noreturn]] void usage_hint() {
    error(1, 0, "specify %s -H admin for usage information", program_name);
    std::abort();
}

// Values written into the archive header as words: no blanks, control
// characters or the format's special characters, and not a number.
bool is_archive_id(std::string_view s) {
    bool has_idchar = false;
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c <= ' ' || c == 0x7f || std::strchr("$,:;@", c))
            return false;
        if (c != '.' && !(c >= '0' && c <= '9'))
            has_idchar = true;
    }
    return has_idchar;
}

std::string read_description(const char *file) {
    std::string text;
    int err = 0;
    if (!read_whole_file(file ? file : "/dev/stdin", text, err))
        error(1, err, "cannot read %s", file ? file : "standard input");
    return text;
}

void once(std::optional<std::string> &slot, const char *name, std::string value) {
    if (slot) {
        error(0, 0, "duplicate %s option", name);
        usage_hint();
    }
    slot = std::move(value);
}

std::string with_arg(const char *opt, const char *arg) { return std::string(opt) + (arg ? arg : ""); }

// The tag of an -n or -N argument, checked before any archive is touched.
void check_tag_option(const std::string &arg) {
    std::string tag = arg.substr(2, arg.find(':') == std::string::npos ? std::string::npos
                                                                         : arg.find(':') - 2);
    if (!tag.empty())
        RCS_check_tag(tag.c_str());
}

void parse_options(int argc, char **argv, admin_data &ad) {
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+ib::c:a:A:e::l::u::LUn:N:m:o:s:t::IqxV:k:")) != -1) {
        if (c != 'k' && c != 'q')
            ad.only_k = false;
        switch (c) {
        case 'i':
            error(0, 0, "the -i option to admin is not supported");
            error(0, 0, "run add or import to create an RCS file");
            usage_hint();
        case 'x':
            error(0, 0, "the -x option has never done anything useful");
            error(0, 0, "RCS files in JOL always end in ,v");
            usage_hint();
        case 'V': error(0, 0, "the `-V' option is obsolete"); break;
        case 'b': once(ad.branch, "'b'", with_arg("-b", optarg)); break;
        case 'c': once(ad.comment, "'c'", with_arg("-c", optarg)); break;
        case 'o': once(ad.delete_revs, "'-o'", with_arg("-o", optarg)); break;
        case 'k': once(ad.kflag, "'-k'", RCS_check_kflag(optarg)); break;
        case 't':
            if (ad.desc) {
                error(0, 0, "duplicate 't' option");
                usage_hint();
            }
            ad.desc = optarg && optarg[0] == '-' ? std::string(optarg + 1)
                                                 : read_description(optarg);
            break;
        case 'L': ad.set_strict = true; break;
        case 'U': ad.set_nonstrict = true; break;
        case 'I': ad.interactive = true; break;
        case 'q': ad.quiet = true; break;
        case 'a':
        case 'A':
        case 'e':
        case 'l':
        case 'u':
        case 'm':
        case 's': ad.av.push_back(std::string("-") + static_cast<char>(c) + (optarg ? optarg : "")); break;
        case 'n':
        case 'N':
            ad.av.push_back(std::string("-") + static_cast<char>(c) + optarg);
            check_tag_option(ad.av.back());
            break;
        default: usage_hint();
        }
    }
    if (ad.set_strict && ad.set_nonstrict) {
        error(0, 0, "-U and -L are incompatible");
        usage_hint();
    }
}

// The revisions given as numbers, which name one file's revisions only.
void check_numeric_revisions(const admin_data &ad, int argc, char **argv) {
    if (argc == 1 && wrap_name_has(argv[0], WRAP_TOJOL))
        return;
    auto check = [&](std::string_view rev) { check_numeric(std::string(rev).c_str(), argc, argv); };
    if (ad.branch)
        check(std::string_view(*ad.branch).substr(2));
    if (ad.delete_revs) {
        std::string_view r = std::string_view(*ad.delete_revs).substr(2);
        size_t colon = r.find(':');
        check(r.substr(0, colon));
        if (colon != std::string_view::npos)
            check(r.substr(r.find_first_not_of(':', colon) == std::string_view::npos
                               ? r.size()
                               : r.find_first_not_of(':', colon)));
    }
    for (const std::string &a : ad.av) {
        char letter = a[1];
        if (letter == 'l' || letter == 'u')
            check(std::string_view(a).substr(2));
        else if (letter == 'm')
            check(std::string_view(a).substr(2, a.find(':') == std::string::npos
                                                    ? std::string::npos
                                                    : a.find(':') - 2));
    }
}

int admin_through_server(const admin_data &ad, int argc, char **argv) {
    if (ad.interactive)
        error(1, 0, "-I option not useful with client/server");
    start_server();
    ign_setup();
    if (ad.branch)
        send_arg(*ad.branch);
    if (ad.comment)
        send_arg(*ad.comment);
    if (ad.set_strict)
        send_arg("-L");
    if (ad.set_nonstrict)
        send_arg("-U");
    if (ad.delete_revs)
        send_arg(*ad.delete_revs);
    if (ad.desc)
        send_arg("-t-" + *ad.desc);  // each newline becomes an "Argumentx" line
    if (ad.quiet)
        send_arg("-q");
    if (ad.kflag)
        send_arg(*ad.kflag);
    for (const std::string &a : ad.av)
        send_arg(a);
    send_files(argc, argv, 0, 0, SEND_NO_CONTENTS);
    send_file_names(argc, argv, SEND_EXPAND_WILD);
    send_to_server("admin\n");
    return get_responses_and_close();
}

// One archive's changes; `failed` once anything was refused.
struct FileRun {
    const admin_data &ad;
    RCSNode *rcs;
    bool failed = false;

    void fail() { failed = true; }
    const char *path() const { return rcs->path.c_str(); }

    void set_branch();
    void delete_revs();
    void apply(const std::string &a);
    void access(const std::string &a);
    void tag(const std::string &a);
    void lock(const std::string &a);
    void message(const std::string &a);
    void state(const std::string &a);
};

void FileRun::set_branch() {
    std::string rev = ad.branch->substr(2);
    if (rev.empty() || std::isdigit(static_cast<unsigned char>(rev[0]))) {
        if (!rev.empty() && (!RCS_valid_rev(rev) || numdots(rev) % 2 != 0)) {
            error(0, 0, "%s: invalid branch number %s", path(), rev);
            return fail();
        }
    } else {
        auto branch = RCS_whatbranch(rcs, rev.c_str());
        if (!branch) {
            error(0, 0, "%s: Symbolic name %s is undefined.", path(), rev);
            return fail();
        }
        rev = *branch;
    }
    RCS_setbranch(rcs, rev.c_str());
}

void FileRun::delete_revs() {
    const std::string &opt = *ad.delete_revs;
    std::string range = opt.substr(2);
    std::string first, last;
    bool inclusive = true;
    size_t colon = range.find(':');
    if (colon == std::string::npos) {
        first = last = range;
    } else {
        first = range.substr(0, colon);
        if (range.compare(colon, 2, "::") == 0) {
            inclusive = false;
            last = range.substr(colon + 2);
        } else {
            last = range.substr(colon + 1);
        }
    }
    if (first.empty() && last.empty()) {
        error(0, 0, "no valid revisions specified in `%s' option", opt);
        return fail();
    }
    if (RCS_delete_revs(rcs, first.empty() ? nullptr : first.c_str(),
                        last.empty() ? nullptr : last.c_str(), inclusive ? 1 : 0) != 0)
        fail();
}

void FileRun::access(const std::string &a) {
    const std::string names = a.substr(2);
    std::vector<std::string> list;
    size_t i = 0;
    while (i < names.size()) {
        size_t j = names.find_first_of(", \t\n", i);
        if (j == std::string::npos)
            j = names.size();
        if (j > i)
            list.push_back(names.substr(i, j - i));
        i = j + 1;
    }
    if (a[1] == 'e') {
        if (list.empty())
            RCS_delaccess(rcs, nullptr);
        for (const std::string &n : list)
            RCS_delaccess(rcs, n.c_str());
        return;
    }
    for (const std::string &n : list) {
        if (!is_archive_id(n)) {
            error(0, 0, "%s: invalid user name `%s'", path(), n);
            return fail();
        }
    }
    for (const std::string &n : list)
        RCS_addaccess(rcs, n.c_str());
}

// The revision an -n/-N names: a revision or branch number the archive
// has, or a symbol's value.
std::optional<std::string> tag_target(RCSNode *rcs, const std::string &rev) {
    if (std::isdigit(static_cast<unsigned char>(rev[0]))) {
        if (!RCS_valid_rev(rev))
            return std::nullopt;
        if (numdots(rev) % 2 == 1)
            return RCS_findvers(rcs, rev) ? std::optional<std::string>(rev) : std::nullopt;
        return RCS_getbranch(rcs, rev, 1) ? std::optional<std::string>(rev) : std::nullopt;
    }
    if (rev == "HEAD")
        return RCS_head(rcs);
    return translate_symtag(rcs, rev.c_str());
}

void FileRun::tag(const std::string &a) {
    size_t colon = a.find(':');
    std::string tag = a.substr(2, colon == std::string::npos ? std::string::npos : colon - 2);
    if (tag.empty()) {
        jol_outerr("missing symbolic name after " + a.substr(0, 2) + "\n");
        return fail();
    }
    if (colon == std::string::npos) {
        if (RCS_deltag(rcs, tag.c_str()) != 0) {
            error(0, 0, "%s: Symbolic name %s is undefined.", path(), tag);
            fail();
        }
        return;
    }
    if (a[1] == 'n') {
        if (auto bound = translate_symtag(rcs, tag.c_str())) {
            error(0, 0, "%s: symbolic name %s already bound to %s", path(), tag, *bound);
            return fail();
        }
    }
    std::string rev = a.substr(colon + 1);
    std::optional<std::string> target = rev.empty() ? RCS_head(rcs) : tag_target(rcs, rev);
    if (!target) {
        error(0, 0, "%s: Symbolic name or revision %s is undefined", path(), rev);
        return fail();
    }
    if (RCS_settag(rcs, tag.c_str(), target->c_str()) != 0)
        fail();
}

void FileRun::lock(const std::string &a) {
    std::string rev = a.substr(2);
    const char *r = rev.empty() ? nullptr : rev.c_str();
    if (r && std::isdigit(static_cast<unsigned char>(*r)) && !RCS_valid_rev(rev)) {
        error(0, 0, "%s: invalid revision number %s", path(), rev);
        return fail();
    }
    const int lock_quiet = ad.quiet || really_quiet;
    if (a[1] == 'u') {
        if (RCS_unlock(rcs, r, lock_quiet) != 0)
            fail();
        return;
    }
    auto target = RCS_lock_target(rcs, r, 0);
    if (!target)
        return fail();
    auto holder = RCS_lock_holder(rcs, *target);
    if (holder && *holder != getcaller()) {
        error(0, 0, "Revision %s of %s is already locked by %s", *target, path(), *holder);
        return fail();
    }
    if (RCS_lock(rcs, r, lock_quiet) != 0)
        fail();
}

void FileRun::message(const std::string &a) {
    size_t colon = a.find(':');
    if (colon == std::string::npos) {
        error(0, 0, "%s: -m option lacks revision number", path());
        return fail();
    }
    std::string rev = a.substr(2, colon - 2);
    auto resolved = rev.empty() ? std::nullopt : RCS_gettag(rcs, rev.c_str(), 1, nullptr);
    RCSVers *v = resolved ? RCS_findvers(rcs, *resolved) : nullptr;
    if (!v) {
        error(0, 0, "%s: no such revision %s", path(), rev);
        return fail();
    }
    v->pending_log = make_message_rcslegal(a.substr(colon + 1));
}

void FileRun::state(const std::string &a) {
    size_t colon = a.find(':');
    std::string state = a.substr(2, colon == std::string::npos ? std::string::npos : colon - 2);
    if (!is_archive_id(state)) {
        error(0, 0, "%s: invalid state `%s'", path(), state);
        return fail();
    }
    std::string rev = colon == std::string::npos ? std::string() : a.substr(colon + 1);
    auto resolved = rev.empty() ? RCS_head(rcs) : RCS_gettag(rcs, rev.c_str(), 1, nullptr);
    RCSVers *v = resolved ? RCS_findvers(rcs, *resolved) : nullptr;
    if (!v) {
        error(0, 0, "%s: can't set state of nonexisting revision %s", path(),
                 rev.empty() ? rcs->head : rev);
        return fail();
    }
    v->state = state;
    v->dead = state == "dead";
}

void FileRun::apply(const std::string &a) {
    switch (a[1]) {
    case 'a':
    case 'e': access(a); break;
    case 'A': {
        RCSNode *other = RCS_parsercsfile(a.c_str() + 2);
        if (!other)
            error(1, 0, "cannot continue");
        std::string names = RCS_getaccess(other);
        freercsnode(&other);
        for (char &ch : names)
            if (ch == ' ')
                ch = ',';
        access("-a" + names);
        break;
    }
    case 'n':
    case 'N': tag(a); break;
    case 'l':
    case 'u': lock(a); break;
    case 'm': message(a); break;
    case 's': state(a); break;
    }
}

// Applies every option to one archive, then writes it once or drops it.
int admin_archive(const admin_data &ad, RCSNode *rcs) {
    RCS_complete(rcs);
    const bool quiet_run = ad.quiet || really_quiet;
    if (!quiet_run)
        jol_output("RCS file: " + rcs->path + "\n");
    const std::string old_head = rcs->head, old_branch = rcs->branch;
    FileRun run{ad, rcs};
    if (ad.branch)
        run.set_branch();
    if (!run.failed && ad.comment)
        rcs->comment = ad.comment->substr(2);
    if (ad.set_strict)
        rcs->strict_locks = 1;
    if (ad.set_nonstrict)
        rcs->strict_locks = 0;
    if (!run.failed && ad.delete_revs)
        run.delete_revs();
    if (ad.desc)
        rcs->desc = *ad.desc;
    if (ad.kflag && RCS_getexpand(rcs) != ad.kflag->substr(2))
        RCS_setexpand(rcs, ad.kflag->c_str() + 2);
    for (const std::string &a : ad.av) {
        if (run.failed)
            break;
        run.apply(a);
    }
    if (run.failed) {
        error(0, 0, "cannot modify RCS file for `%s'", rcs->path);
        RCS_abandon(rcs);
        rcs->head = old_head;
        rcs->branch = old_branch;
        return 1;
    }
    RCS_rewrite(rcs, nullptr, nullptr);
    if (!quiet_run)
        jol_output("done\n");
    return 0;
}

int admin_fileproc(void *callerdat, file_info *finfo) {
    const admin_data &ad = *static_cast<const admin_data *>(callerdat);
    Vers_TS *vers = Version_TS(finfo, nullptr, nullptr, nullptr, 0, 0);
    int err = 0;
    if (!vers->vn_user) {
        // not under version control: nothing to administer
    } else if (*vers->vn_user == "0") {
        error(0, 0, "cannot admin newly added file `%s'", finfo->file);
        err = 1;
    } else if (!vers->srcfile) {
        error(0, 0, "nothing known about %s", finfo->fullname);
        err = 1;
    } else {
        err = admin_archive(ad, vers->srcfile);
    }
    freevers_ts(&vers);
    return err;
}

Dtype admin_dirproc(void *callerdat, const char *, const char *, const char *update_dir, List *) {
    const admin_data &ad = *static_cast<const admin_data *>(callerdat);
    if (!ad.quiet && !quiet)
        error(0, 0, "Administrating %s", update_dir);
    return R_PROCESS;
}

}  // namespace

int admin(int argc, char **argv) {
    if (argc == -1 || argc <= 1)
        usage(admin_usage);
    admin_data ad;
    parse_options(argc, argv, ad);
    argc -= optind;
    argv += optind;

    // The server checks the user it runs for; a client has no say.
    if (!client_active && !ad.only_k && group_exists(admin_group) &&
        !user_in_group(admin_group, getcaller()))
        error(1, 0, "usage is restricted to members of the group %s", admin_group);
    check_numeric_revisions(ad, argc, argv);

    if (client_active)
        return admin_through_server(ad, argc, argv);

    lock_tree_for_write(argc, argv, 0, 0);
    int err = start_recursion({.fileproc = admin_fileproc,
                               .direntproc = admin_dirproc,
                               .callerdat = &ad,
                               .argc = argc,
                               .argv = argv,
                               .local = 0,
                               .which = WHICH_LOCAL,
                               .dosrcs = 1});
    Lock_Cleanup();
    return err;
}
