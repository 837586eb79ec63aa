// The checkout and export commands: module names become working
// directories, filled by the update machinery.
#include <cerrno>
#include <climits>
#include <cstring>
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
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

namespace {

mtype m_type = CHECKOUT;
std::optional<std::string> options, tag, date, join_rev1, join_rev2;
int force_tag_match = 1;
int aflag = 0;
int pipeout = 0;
int checkout_prune_dirs = 0;
std::string preload_update_dir;
bool preload_set = false;
std::string history_name;
bool tag_validated = false, join_tags_validated = false;

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

std::string emptydir_name() {
    std::string d = JOLroot_directory + "/JOLROOT/Emptydir";
    if (!isdir(d.c_str())) {
        mode_t old = umask(jolumask);
        if (mkdir(d.c_str(), 0777) != 0 && errno != EEXIST)
            error(1, errno, "cannot create %s", d);
        umask(old);
    }
    return d;
}

void make_entries_static() {
    if (noexec)
        return;
    FILE *fp = std::fopen("JOL/Entries.Static", "w+");
    if (!fp || std::fclose(fp) == EOF)
        error(1, errno, "cannot close %s", "JOL/Entries.Static");
}

// Gives the current directory (dirpath) administrative files, unless it
// has them already.
void build_one_dir(const std::string &repository, const std::string &dirpath, int sticky) {
    if (isdir("JOL")) {
        if (m_type == EXPORT)
            error(1, 0, "cannot export into a working directory");
        return;
    }
    if (m_type == EXPORT)
        return;
    if (!isdir(repository.c_str()))
        error(1, 0, "there is no repository %s", repository);
    if (Create_Admin(".", dirpath.c_str(), repository.c_str(), sticky ? std::nullopt : tag,
                     sticky ? std::nullopt : date, 0, 1, 1) != 0)
        return;
    make_entries_static();
}

struct dir_to_build {
    std::optional<std::string> repository;
    std::string dirpath;
    bool just_chdir;
};

int checkout_proc(int argc, char **argv, const char *where_orig, const char *mwhere,
                  const char *mfile, int shorten, int local_specified, const char *omodule,
                  const char *) {
    std::string repository = JOLroot_directory + "/" + argv[0];
    Sanitize_Repository_Name(repository);
    std::vector<std::string> files(argv + 1, argv + argc);

    std::string where;
    if (shorten)
        where = where_orig ? where_orig : (mwhere ? mwhere : argv[0]);
    else {
        if (where_orig)
            where = std::string(where_orig) + "/";
        where += (mwhere && *mwhere && mwhere[0] != '/') ? mwhere : argv[0];
    }
    while (where.size() > 1 && where.back() == '/')
        where.pop_back();

    if (mfile) {
        std::string mf = mfile;
        if (!mf.empty() && mf.back() == '/')
            error(0, 0, "checkout_proc: trailing slash on mfile (%s)!", mf);
        size_t slash = mf.rfind('/');
        if (slash != std::string::npos) {
            repository += "/" + mf.substr(0, slash);
            where += "/" + mf.substr(0, slash);
            mf = mf.substr(slash + 1);
        }
        if (isdir((repository + "/" + mf).c_str())) {
            repository += "/" + mf;
            where += "/" + mf;
        } else {
            files.assign(1, mf);
        }
    }
    const int sticky = files.empty();

    std::string saved_preload = preload_update_dir;
    bool saved_set = preload_set;
    preload_update_dir = preload_set ? preload_update_dir + "/" + where : where;
    preload_set = true;
    struct Restore {
        std::string &p;
        bool &s;
        std::string v;
        bool vs;
        ~Restore() {
            p = v;
            s = vs;
        }
    } restore{preload_update_dir, preload_set, saved_preload, saved_set};

    if (!inside(canonical(repository), canonical(JOLroot_directory)))
        error(1, 0, "internal error: %s doesn't start with %s in checkout_proc", repository,
              JOLroot_directory);

    // The directories on the way to `where`, outermost first.
    std::vector<dir_to_build> dirs;
    {
        std::string w = where;
        std::string repos = repository;
        std::vector<dir_to_build> rev;
        rev.push_back({repository, w, false});
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
        dirs.assign(rev.rbegin(), rev.rend());
    }

    if (where[0] != '/' && top_level_admin && m_type == CHECKOUT && !pipeout)
        build_one_dir(JOLroot_directory, ".", sticky);

    // Enter every directory down to the target, creating what is missing.
    std::string dirname;
    for (size_t i = 0; i + 1 < dirs.size(); ++i) {
        const dir_to_build &d = dirs[i];
        std::string component = d.dirpath == "/" ? "/" : d.dirpath.substr(d.dirpath.rfind('/') + 1);
        if (d.dirpath.find('/') == std::string::npos || d.dirpath == "/")
            component = d.dirpath;
        if (!d.just_chdir && !noexec) {
            if (mkdir(component.c_str(), 0777) != 0 && errno != EEXIST)
                error(1, errno, "cannot make directory %s", component);
            if (m_type == CHECKOUT)
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
            build_one_dir(*d.repository, d.dirpath, sticky);
    }
    {
        const dir_to_build &last = dirs.back();
        std::string component = last.dirpath.substr(last.dirpath.rfind('/') + 1);
        if (last.dirpath.find('/') == std::string::npos)
            component = last.dirpath;
        if (!noexec && !pipeout) {
            if (mkdir(component.c_str(), 0777) != 0 && errno != EEXIST)
                error(1, errno, "cannot make directory %s", component);
            if (m_type == CHECKOUT)
                Subdir_Register(nullptr, nullptr, component);
        }
        if (!pipeout) {
            if (chdir(component.c_str()) != 0) {
                error(0, errno, "cannot chdir to %s", where);
                error(0, 0, "ignoring module %s", omodule);
                return 1;
            }
        }
        dirname = component;
    }

    if (!pipeout) {
        if (!isdir("JOL")) {
            if (!isdir(repository.c_str()))
                error(1, 0, "there is no repository %s", repository);
            if (m_type == CHECKOUT || m_type == EXPORT) {
                Create_Admin(".", preload_update_dir.c_str(), repository.c_str(),
                             sticky ? tag : std::nullopt, sticky ? date : std::nullopt, 0, 0, 1);
                if (!sticky)
                    make_entries_static();
            }
        } else {
            if (m_type == EXPORT)
                error(1, 0, "cannot export into working directory");
            std::string existing = Name_Repository(nullptr, preload_update_dir.c_str());
            if (canonical(existing) != canonical(repository)) {
                error(0, 0, "existing repository %s does not match %s", existing, repository);
                error(0, 0, "ignoring module %s", omodule);
                return 1;
            }
        }
    } else if (chdir(repository.c_str()) != 0) {
        error(0, errno, "cannot chdir to %s", repository);
        return 1;
    }

    int which = pipeout ? WHICH_REPOSITORY : (WHICH_LOCAL | WHICH_REPOSITORY);
    if (!tag_validated) {
        // Validated in the module's archives: the new working directory
        // has none of its subdirectories yet.
        tag_check_valid(opt_c(tag), argc - 1, argv + 1, 0, aflag, repository.c_str());
        tag_validated = true;
    }
    if (!join_tags_validated) {
        tag_check_valid_join(opt_c(join_rev1), argc - 1, argv + 1, 0, aflag, repository.c_str());
        tag_check_valid_join(opt_c(join_rev2), argc - 1, argv + 1, 0, aflag, repository.c_str());
        join_tags_validated = true;
    }
    if (tag || date || join_rev1)
        which |= WHICH_ATTIC;

    int err;
    if (sticky && !local_specified) {
        if (!pipeout)
            history_write(m_type == CHECKOUT ? 'O' : 'E', preload_update_dir.c_str(),
                          history_name.c_str(), omodule, repository.c_str());
        err = do_update({.options = options,
                         .tag = tag,
                         .date = date,
                         .force_tag_match = force_tag_match,
                         .build_dirs = 1,
                         .aflag = aflag,
                         .prune_dirs = checkout_prune_dirs,
                         .pipeout = pipeout,
                         .which = which,
                         .join_rev1 = join_rev1,
                         .join_rev2 = join_rev2,
                         .preload_update_dir = preload_update_dir.c_str()});
    } else {
        std::vector<std::string> names = files;
        if (names.empty()) {
            // A whole directory with -l: its files.
        } else if (!pipeout) {
            List *entries = Entries_Open(0, nullptr);
            for (const std::string &f : names) {
                if (isfile(f.c_str()))
                    continue;
                file_info fi;
                fi.file = f;
                fi.fullname = f;
                fi.repository = repository.c_str();
                fi.entries = entries;
                Vers_TS *vers = Version_TS(&fi, opt_c(options), opt_c(tag), opt_c(date),
                                           force_tag_match, 0);
                if (!vers->entdata)
                    Register(entries, f, vers->vn_rcs.value_or("0"), "Initial " + f, vers->options,
                             vers->tag, vers->date, std::nullopt);
                freevers_ts(&vers);
            }
            Entries_Close(entries);
        }
        std::vector<char *> av;
        for (auto &n : names)
            av.push_back(n.data());
        av.push_back(nullptr);
        err = do_update({.argc = static_cast<int>(names.size()),
                         .argv = av.data(),
                         .options = options,
                         .tag = tag,
                         .date = date,
                         .force_tag_match = force_tag_match,
                         .local = local_specified,
                         .build_dirs = 1,
                         .aflag = aflag,
                         .prune_dirs = checkout_prune_dirs,
                         .pipeout = pipeout,
                         .which = which,
                         .join_rev1 = join_rev1,
                         .join_rev2 = join_rev2,
                         .preload_update_dir = preload_update_dir.c_str()});
    }
    (void)dirname;
    return err;
}

}  // namespace

int checkout(int argc, char **argv) {
    m_type = command_name == "export" ? EXPORT : CHECKOUT;
    const char *const *usage_text = m_type == EXPORT ? export_usage : checkout_usage;
    if (argc == -1)
        usage(usage_text);
    ign_setup();
    wrap_setup();
    const char *valid = m_type == EXPORT ? "+Nnk:d:flRQqr:D:" : "+ANnk:d:flRpQqcsr:D:j:P";
    int shorten = -1, local = 0, run_module_prog = 1, cat = 0, status = 0;
    std::optional<std::string> where;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, valid)) != -1) {
        switch (c) {
        case 'A': aflag = 1; break;
        case 'N': shorten = 0; break;
        case 'k': options = RCS_check_kflag(optarg); break;
        case 'n': run_module_prog = 0; break;
        case 'Q':
        case 'q':
            if (!server_active)
                error(1, 0, "-q or -Q must be specified before \"%s\"", command_name);
            break;
        case 'l': local = 1; break;
        case 'R': local = 0; break;
        case 'P': checkout_prune_dirs = 1; break;
        case 'p':
            pipeout = 1;
            run_module_prog = 0;
            noexec = 1;
            break;
        case 'c': cat = 1; break;
        case 's':
            cat = 1;
            status = 1;
            break;
        case 'f': force_tag_match = 0; break;
        case 'r':
            tag = optarg;
            checkout_prune_dirs = 1;
            break;
        case 'D':
            date = date_option(optarg);
            checkout_prune_dirs = 1;
            break;
        case 'd':
            where = optarg;
            if (shorten == -1)
                shorten = 1;
            break;
        case 'j':
            if (join_rev2)
                error(1, 0, "only two -j options can be specified");
            if (join_rev1)
                join_rev2 = optarg;
            else
                join_rev1 = optarg;
            break;
        default: usage(usage_text);
        }
    }
    argc -= optind;
    argv += optind;
    if (shorten == -1)
        shorten = 0;

    if (cat && argc != 0)
        error(1, 0, "-c and -s must not get any arguments");
    if (!cat && argc == 0)
        error(1, 0, "must specify at least one module or directory");
    if (where && pipeout)
        error(1, 0, "-d and -p are mutually exclusive");
    if (m_type == EXPORT) {
        if (!tag && !date)
            error(1, 0, "must specify a tag or date");
        if (tag && std::isdigit(static_cast<unsigned char>((*tag)[0])))
            error(1, 0, "tag `%s' must be a symbolic tag", *tag);
    }
    safe_location();
    if (client_active) {
        error(0, 0, "checking out from a remote repository is not available yet");
        return 1;
    }
    if (cat) {
        cat_module(status);
        return 0;
    }
    DBM *db = open_module();
    if (argc > 1)
        shorten = 0;
    if (!pipeout) {
        if (tag && date)
            history_name = *tag + ":" + *date;
        else
            history_name = tag ? *tag : date.value_or("");
    }
    int err = 0;
    for (int i = 0; i < argc; ++i)
        err += do_module(db, argv[i], m_type, "Updating", checkout_proc,
                         where ? where->c_str() : nullptr, shorten, local, run_module_prog,
                         nullptr);
    close_module(db);
    return err;
}
