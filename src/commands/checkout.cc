// The checkout and export commands: module names become working
// directories, filled by the update machinery.
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <getopt.h>
#include <sys/stat.h>
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
#include "src/commands/update.h"
#include "src/rcs/rcs.h"
#include "src/repo/history.h"
#include "src/repo/modules.h"
#include "src/repo/parseinfo.h"
#include "src/repo/tag_valid.h"
#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"
#include "src/wc/server_hooks.h"
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

namespace {

// One checkout or export command: its options, and what it learns while it
// goes through the modules.
struct CheckoutState {
    mtype m_type = CHECKOUT;
    opt_str options, tag, date;    // -k, -r, -D
    opt_str join_rev1, join_rev2;  // -j, -j
    int force_tag_match = 1;       // cleared by -f
    int aflag = 0;                 // -A
    int pipeout = 0;               // -p
    int prune_dirs = 0;            // -P, implied by -r and -D
    opt_str where;                 // -d
    int shorten = -1;              // 1 with -d, 0 with -N; -1: neither
    int local = 0;                 // -l / -R
    int run_module_prog = 1;       // cleared by -n and -p
    int cat = 0, status = 0;       // -c, -s
    std::string history_name;      // the tag and date the history records
    // The tags are checked once, in the archives of the first module.
    bool tag_validated = false, join_tags_validated = false;
};

const char *opt_c(const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; }

const char *const checkout_usage[] = {
    "Usage:\n  %s %s [-ANPRcflnps] [-r rev | -D date] [-d dir]\n",
    "    [-j rev1] [-j rev2] [-k kopt] modules...\n",
    "\t-A\tReset any sticky tags/date/kopts.\n",
    "\t-N\tDon't shorten module paths if -d specified.\n",
    "\t-P\tPrune empty directories.\n",
    "\t-R\tProcess directories recursively.\n",
    "\t-c\t\"cat\" the module database.\n",
    "\t-f\tForce a head revision match if tag/date not found.\n",
    "\t-l\tLocal directory only, not recursive\n",
    "\t-n\tDo not run module program (if any).\n",
    "\t-p\tCheck out files to standard output (avoids stickiness).\n",
    "\t-s\tLike -c, but include module status.\n",
    "\t-r rev\tCheck out revision or tag. (implies -P) (is sticky)\n",
    "\t-D date\tCheck out revisions as of date. (implies -P) (is sticky)\n",
    "\t-d dir\tCheck out into dir instead of module name.\n",
    "\t-k kopt\tUse RCS kopt -k option on checkout.\n",
    "\t-j rev\tMerge in changes made between current revision and rev.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

const char *const export_usage[] = {
    "Usage: %s %s [-NRfln] [-r rev | -D date] [-d dir] [-k kopt] module...\n",
    "\t-N\tDon't shorten module paths if -d specified.\n",
    "\t-f\tForce a head revision match if tag/date not found.\n",
    "\t-l\tLocal directory only, not recursive\n",
    "\t-R\tProcess directories recursively (default).\n",
    "\t-n\tDo not run module program (if any).\n",
    "\t-r rev\tExport revision or tag.\n",
    "\t-D date\tExport revisions as of date.\n",
    "\t-d dir\tExport into dir instead of module name.\n",
    "\t-k kopt\tUse RCS kopt -k option on checkout.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

std::string canonical(const std::string &p) {
    char buf[PATH_MAX];
    return realpath(p.c_str(), buf) ? std::string(buf) : p;
}

bool inside(const std::string &path, const std::string &dir) {
    return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           path[dir.size()] == '/');
}

// Refuses to work inside the repository itself (symbolic links resolved).
void safe_location() {
    char *cwd = getcwd(nullptr, 0);
    if (!cwd)
        error(1, errno, "could not get working directory");
    std::string here = canonical(cwd);
    std::free(cwd);
    if (inside(here, canonical(JOLroot_directory)))
        error(1, 0, "Cannot check out files into the repository itself");
}

// Format: doc/formats.md#entries-static
void make_entries_static(const std::string &update_dir, const std::string &repository) {
    if (noexec)
        return;
    FILE *fp = std::fopen("JOL/Entries.Static", "w+");
    if (!fp || std::fclose(fp) == EOF)
        error(1, errno, "cannot close %s", "JOL/Entries.Static");
    if (server_active)
        server_set_entstat(update_dir.c_str(), repository.c_str());
}

// Gives the current directory (dirpath) administrative files, unless it
// has them already.
void build_one_dir(const CheckoutState &st, const std::string &repository,
                   const std::string &dirpath, int sticky) {
    if (isdir("JOL")) {
        if (st.m_type == EXPORT)
            error(1, 0, "cannot export into a working directory");
        return;
    }
    if (st.m_type == EXPORT)
        return;
    if (!isdir(repository.c_str()))
        error(1, 0, "there is no repository %s", repository);
    if (Create_Admin(".", dirpath.c_str(), repository.c_str(), sticky ? std::nullopt : st.tag,
                     sticky ? std::nullopt : st.date, 0, 1, 1) != 0)
        return;
    make_entries_static(dirpath, repository);
}

// Where one directory of a module goes, the repository directory that
// fills it, and the files asked for in it (none: all of them).
struct ModuleTarget {
    std::string repository;
    std::string where;
    std::vector<std::string> files;
};

ModuleTarget module_target(int argc, char **argv, const char *where_orig, const char *mwhere,
                           const char *mfile, int shorten) {
    ModuleTarget t;
    t.repository = JOLroot_directory + "/" + argv[0];
    Sanitize_Repository_Name(t.repository);
    t.files.assign(argv + 1, argv + argc);

    if (shorten)
        t.where = where_orig ? where_orig : (mwhere ? mwhere : argv[0]);
    else {
        if (where_orig)
            t.where = std::string(where_orig) + "/";
        t.where += (mwhere && *mwhere && mwhere[0] != '/') ? mwhere : argv[0];
    }
    while (t.where.size() > 1 && t.where.back() == '/')
        t.where.pop_back();

    if (mfile) {
        std::string mf = mfile;
        if (!mf.empty() && mf.back() == '/')
            error(0, 0, "checkout_proc: trailing slash on mfile (%s)!", mf);
        size_t slash = mf.rfind('/');
        if (slash != std::string::npos) {
            t.repository += "/" + mf.substr(0, slash);
            t.where += "/" + mf.substr(0, slash);
            mf = mf.substr(slash + 1);
        }
        if (isdir((t.repository + "/" + mf).c_str())) {
            t.repository += "/" + mf;
            t.where += "/" + mf;
        } else {
            t.files.assign(1, mf);
        }
    }
    return t;
}

struct dir_to_build {
    std::optional<std::string> repository;
    std::string dirpath;
    bool just_chdir;
};

// The directories on the way to the target, outermost first, the target
// last.
std::vector<dir_to_build> dirs_on_the_way(const ModuleTarget &t, const char *where_orig,
                                          const char *mwhere) {
    std::string w = t.where;
    std::string repos = t.repository;
    std::vector<dir_to_build> rev;
    rev.push_back({t.repository, w, false});
    for (;;) {
        size_t slash = w.rfind('/');
        if (slash == std::string::npos)
            break;
        w = slash == 0 ? std::string("/") : w.substr(0, slash);
        dir_to_build d;
        d.dirpath = w;
        d.just_chdir = where_orig && w.size() < std::strlen(where_orig);
        if (!d.just_chdir) {
            if (repos == JOLroot_directory || (mwhere && *mwhere)) {
                d.repository = emptydir_name();
            } else if (where_orig && w == where_orig) {
                d.repository = JOLroot_directory + "/.";
            } else {
                size_t rs = repos.rfind('/');
                repos = rs == std::string::npos ? repos : repos.substr(0, rs);
                d.repository = repos == JOLroot_directory ? repos + "/." : repos;
            }
        }
        rev.push_back(d);
        if (w == "/")
            break;
    }
    return std::vector<dir_to_build>(rev.rbegin(), rev.rend());
}

// Enters every directory down to the target, creating what is missing;
// 1 when one cannot be entered.
int enter_target(const CheckoutState &st, const std::vector<dir_to_build> &dirs,
                 const std::string &where, const char *omodule, int sticky) {
    for (size_t i = 0; i + 1 < dirs.size(); ++i) {
        const dir_to_build &d = dirs[i];
        std::string component = d.dirpath == "/" ? "/" : d.dirpath.substr(d.dirpath.rfind('/') + 1);
        if (d.dirpath.find('/') == std::string::npos || d.dirpath == "/")
            component = d.dirpath;
        if (!d.just_chdir && !noexec) {
            if (mkdir(component.c_str(), 0777) != 0 && errno != EEXIST)
                error(1, errno, "cannot make directory %s", component);
            if (st.m_type == CHECKOUT)
                Subdir_Register(nullptr, nullptr, component);
        } else if (!noexec && !isdir(component.c_str())) {
            mkdir(component.c_str(), 0777);
        }
        if (chdir(component.c_str()) != 0) {
            error(0, errno, "cannot chdir to %s", d.dirpath);
            error(0, 0, "ignoring module %s", omodule);
            return 1;
        }
        if (d.repository)
            build_one_dir(st, *d.repository, d.dirpath, sticky);
    }
    const dir_to_build &last = dirs.back();
    std::string component = last.dirpath.substr(last.dirpath.rfind('/') + 1);
    if (last.dirpath.find('/') == std::string::npos)
        component = last.dirpath;
    if (!noexec && !st.pipeout) {
        if (mkdir(component.c_str(), 0777) != 0 && errno != EEXIST)
            error(1, errno, "cannot make directory %s", component);
        if (st.m_type == CHECKOUT)
            Subdir_Register(nullptr, nullptr, component);
    }
    if (!st.pipeout && chdir(component.c_str()) != 0) {
        error(0, errno, "cannot chdir to %s", where);
        error(0, 0, "ignoring module %s", omodule);
        return 1;
    }
    return 0;
}

// Gives the target its administrative files, or checks that those it has
// are for the same repository directory; with -p, enters the repository
// directory instead. 1 when the module is to be skipped.
int prepare_target(const CheckoutState &st, const std::string &repository,
                   const std::string &update_dir, int sticky, const char *omodule) {
    if (st.pipeout) {
        if (chdir(repository.c_str()) != 0) {
            error(0, errno, "cannot chdir to %s", repository);
            return 1;
        }
        return 0;
    }
    if (!isdir("JOL")) {
        if (!isdir(repository.c_str()))
            error(1, 0, "there is no repository %s", repository);
        if (st.m_type == CHECKOUT || st.m_type == EXPORT) {
            Create_Admin(".", update_dir.c_str(), repository.c_str(),
                         sticky ? st.tag : std::nullopt, sticky ? st.date : std::nullopt, 0, 0, 1);
            if (!sticky)
                make_entries_static(update_dir, repository);
        }
        return 0;
    }
    if (st.m_type == EXPORT)
        error(1, 0, "cannot export into working directory");
    std::string existing = Name_Repository(nullptr, update_dir.c_str());
    if (canonical(existing) != canonical(repository)) {
        error(0, 0, "existing repository %s does not match %s", existing, repository);
        error(0, 0, "ignoring module %s", omodule);
        return 1;
    }
    return 0;
}

// Checks -r and -j once, in the first module's archives: the new working
// directory has none of its subdirectories yet.
void validate_tags(CheckoutState &st, int argc, char **argv, const std::string &repository) {
    if (!st.tag_validated) {
        tag_check_valid(opt_c(st.tag), argc - 1, argv + 1, 0, st.aflag, repository.c_str());
        st.tag_validated = true;
    }
    if (!st.join_tags_validated) {
        tag_check_valid_join(opt_c(st.join_rev1), argc - 1, argv + 1, 0, st.aflag,
                             repository.c_str());
        tag_check_valid_join(opt_c(st.join_rev2), argc - 1, argv + 1, 0, st.aflag,
                             repository.c_str());
        st.join_tags_validated = true;
    }
}

// Registers the files asked for that are not there yet, so that the update
// brings them.
void register_files(const CheckoutState &st, const std::vector<std::string> &names,
                    const std::string &repository) {
    List *entries = Entries_Open(0, nullptr);
    for (const std::string &f : names) {
        if (isfile(f.c_str()))
            continue;
        file_info fi;
        fi.file = f;
        fi.fullname = f;
        fi.repository = repository.c_str();
        fi.entries = entries;
        Vers_TS *vers = Version_TS(&fi, opt_c(st.options), opt_c(st.tag), opt_c(st.date),
                                   st.force_tag_match, 0);
        if (!vers->entdata)
            Register(entries, f, vers->vn_rcs.value_or("0"), "Initial " + f, vers->options,
                     vers->tag, vers->date, std::nullopt);
        freevers_ts(&vers);
    }
    Entries_Close(entries);
}

// Fills the target through the update machinery: the whole module, or the
// files asked for (or a directory's files only, with -l).
int update_target(const CheckoutState &st, ModuleTarget &t, int sticky, int local_specified,
                  int which, const std::string &update_dir, const char *omodule) {
    UpdateRequest req{.options = st.options,
                      .tag = st.tag,
                      .date = st.date,
                      .force_tag_match = st.force_tag_match,
                      .build_dirs = 1,
                      .aflag = st.aflag,
                      .prune_dirs = st.prune_dirs,
                      .pipeout = st.pipeout,
                      .which = which,
                      .join_rev1 = st.join_rev1,
                      .join_rev2 = st.join_rev2,
                      .preload_update_dir = update_dir.c_str()};
    if (sticky && !local_specified) {
        if (!st.pipeout)
            history_write(st.m_type == CHECKOUT ? 'O' : 'E', update_dir.c_str(),
                          st.history_name.c_str(), omodule, t.repository.c_str());
        return do_update(req);
    }
    if (!t.files.empty() && !st.pipeout)
        register_files(st, t.files, t.repository);
    std::vector<char *> av;
    for (auto &n : t.files)
        av.push_back(n.data());
    av.push_back(nullptr);
    req.argc = static_cast<int>(t.files.size());
    req.argv = av.data();
    req.local = local_specified;
    return do_update(req);
}

// Checks out (or exports) what one module expands to: argv[0] below the
// root, into where_orig, the module's mwhere, or its own name.
int checkout_proc(CheckoutState &st, int argc, char **argv, const char *where_orig,
                  const char *mwhere, const char *mfile, int shorten, int local_specified,
                  const char *omodule, const char *) {
    ModuleTarget t = module_target(argc, argv, where_orig, mwhere, mfile, shorten);
    const int sticky = t.files.empty();
    const std::string update_dir = t.where;

    if (!inside(canonical(t.repository), canonical(JOLroot_directory)))
        error(1, 0, "internal error: %s doesn't start with %s in checkout_proc", t.repository,
              JOLroot_directory);
    std::vector<dir_to_build> dirs = dirs_on_the_way(t, where_orig, mwhere);

    if (t.where[0] != '/' && top_level_admin && st.m_type == CHECKOUT && !st.pipeout) {
        build_one_dir(st, JOLroot_directory, ".", sticky);
        if (server_active)
            server_clear_entstat(".", JOLroot_directory.c_str());
    }
    if (enter_target(st, dirs, t.where, omodule, sticky) != 0)
        return 1;
    if (prepare_target(st, t.repository, update_dir, sticky, omodule) != 0)
        return 1;

    int which = st.pipeout ? WHICH_REPOSITORY : (WHICH_LOCAL | WHICH_REPOSITORY);
    validate_tags(st, argc, argv, t.repository);
    if (st.tag || st.date || st.join_rev1)
        which |= WHICH_ATTIC;
    return update_target(st, t, sticky, local_specified, which, update_dir, omodule);
}

// Reads the options into `st`; returns the index of the first module.
int parse_options(CheckoutState &st, int argc, char **argv, const char *const *usage_text) {
    const char *valid = st.m_type == EXPORT ? "+Nnk:d:flRQqr:D:" : "+ANnk:d:flRpQqcsr:D:j:P";
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, valid)) != -1) {
        switch (c) {
        case 'A': st.aflag = 1; break;
        case 'N': st.shorten = 0; break;
        case 'k': st.options = RCS_check_kflag(optarg); break;
        case 'n': st.run_module_prog = 0; break;
        case 'Q':
        case 'q':
            if (!server_active)
                error(1, 0, "-q or -Q must be specified before \"%s\"", command_name);
            break;
        case 'l': st.local = 1; break;
        case 'R': st.local = 0; break;
        case 'P': st.prune_dirs = 1; break;
        case 'p':
            st.pipeout = 1;
            st.run_module_prog = 0;
            noexec = 1;
            break;
        case 'c': st.cat = 1; break;
        case 's':
            st.cat = 1;
            st.status = 1;
            break;
        case 'f': st.force_tag_match = 0; break;
        case 'r':
            st.tag = optarg;
            st.prune_dirs = 1;
            break;
        case 'D':
            st.date = date_option(optarg);
            st.prune_dirs = 1;
            break;
        case 'd':
            st.where = optarg;
            if (st.shorten == -1)
                st.shorten = 1;
            break;
        case 'j':
            if (st.join_rev2)
                error(1, 0, "only two -j options can be specified");
            if (st.join_rev1)
                st.join_rev2 = optarg;
            else
                st.join_rev1 = optarg;
            break;
        default: usage(usage_text);
        }
    }
    if (st.shorten == -1)
        st.shorten = 0;
    return optind;
}

void check_arguments(const CheckoutState &st, int argc) {
    if (st.cat && argc != 0)
        error(1, 0, "-c and -s must not get any arguments");
    if (!st.cat && argc == 0)
        error(1, 0, "must specify at least one module or directory");
    if (st.where && st.pipeout)
        error(1, 0, "-d and -p are mutually exclusive");
    if (st.where && server_active)
        server_pathname_check(st.where->c_str());
    if (st.m_type == EXPORT) {
        if (!st.tag && !st.date)
            error(1, 0, "must specify a tag or date");
        if (st.tag && std::isdigit(static_cast<unsigned char>((*st.tag)[0])))
            error(1, 0, "tag `%s' must be a symbolic tag", *st.tag);
    }
}

// Client: the options, the module names (expanded by the server first
// when it can), and "co" or "export".
int checkout_through_server(const CheckoutState &st, int argc, char **argv) {
    start_server();
    ign_setup();
    const bool expand = !st.cat && !st.pipeout && supported_request("expand-modules");
    if (expand)
        client_expand_modules(argc, argv, st.local);
    const bool is_export = st.m_type == EXPORT;
    const std::pair<bool, const char *> flags[] = {
        {!st.run_module_prog, "-n"}, {st.local != 0, "-l"},       {st.pipeout != 0, "-p"},
        {!st.force_tag_match, "-f"}, {st.aflag != 0, "-A"},       {st.shorten == 0, "-N"},
        {st.prune_dirs && !is_export, "-P"}, {st.cat && !st.status, "-c"}};
    for (auto [on, flag] : flags)
        if (on)
            send_arg(flag);
    client_prune_dirs = st.prune_dirs;
    option_with_arg("-d", opt_c(st.where));
    if (st.status)
        send_arg("-s");
    if (st.options)
        send_arg(*st.options);
    option_with_arg("-r", opt_c(st.tag));
    client_senddate(opt_c(st.date));
    option_with_arg("-j", opt_c(st.join_rev1));
    option_with_arg("-j", opt_c(st.join_rev2));
    if (expand) {
        client_send_expansions(st.local, opt_c(st.where), 1);
    } else {
        for (int i = 0; i < argc; ++i)
            send_arg(argv[i]);
        client_nonexpanded_setup();
    }
    send_to_server(is_export ? "export\n" : "co\n");
    return get_responses_and_close();
}

}  // namespace

int checkout(int argc, char **argv) {
    CheckoutState st;
    st.m_type = command_name == "export" ? EXPORT : CHECKOUT;
    const char *const *usage_text = st.m_type == EXPORT ? export_usage : checkout_usage;
    if (argc == -1)
        usage(usage_text);
    ign_setup();
    wrap_setup();
    int first = parse_options(st, argc, argv, usage_text);
    argc -= first;
    argv += first;
    check_arguments(st, argc);
    safe_location();
    if (client_active)
        return checkout_through_server(st, argc, argv);
    if (st.cat) {
        cat_module(st.status);
        return 0;
    }
    DBM *db = open_module();
    if (argc > 1)
        st.shorten = 0;
    if (!st.pipeout) {
        if (st.tag && st.date)
            st.history_name = *st.tag + ":" + *st.date;
        else
            st.history_name = st.tag ? *st.tag : st.date.value_or("");
    }
    CALLBACKPROC proc = std::bind_front(checkout_proc, std::ref(st));
    int err = 0;
    for (int i = 0; i < argc; ++i)
        err += do_module(db, argv[i], st.m_type, "Updating", proc,
                         st.where ? st.where->c_str() : nullptr, st.shorten, st.local,
                         st.run_module_prog, nullptr);
    close_module(db);
    return err;
}
