// The add command: schedules files for addition, re-adds removed files,
// resurrects files scheduled for removal, and adds directories.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/commands/update.h"
#include "src/rcs/rcs.h"
#include "src/repo/logmsg.h"
#include "src/wc/entries.h"
#include "src/wc/fileattr.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"
#include "src/wc/server_hooks.h"
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

namespace {

const char *const add_usage[] = {
    "Usage: %s %s [-k rcs-kflag] [-m message] files...\n",
    "\t-k\tUse \"rcs-kflag\" to add the file with the specified kflag.\n",
    "\t-m\tUse \"message\" for the creation log.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

class ChangeDir {
  public:
    explicit ChangeDir(const std::string &dir) {
        if (dir == ".")
            return;
        fd_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (chdir(dir.c_str()) != 0)
            error(1, errno, "could not chdir to %s", dir);
    }
    ~ChangeDir() {
        if (fd_ >= 0) {
            if (fchdir(fd_) != 0)
                error(1, errno, "could not return to the starting directory");
            close(fd_);
        }
    }

  private:
    int fd_ = -1;
};

// Format: doc/formats.md#added-file-description
void build_entry(const std::string &user, const std::string &options, const std::string &message,
                 List *entries, const opt_str &tag) {
    if (noexec)
        return;
    std::string desc = "JOL/" + user + ",t";
    FILE *fp = std::fopen(desc.c_str(), "w+");
    if (!fp || std::fputs(message.c_str(), fp) == EOF)
        error(1, errno, "cannot write to %s", desc);
    if (std::fclose(fp) == EOF)
        error(1, errno, "cannot close %s", desc);
    Register(entries, user, "0", "Initial " + user, options, tag, std::nullopt, std::nullopt);
}

int add_directory(const file_info *finfo, const char *parent_repos) {
    const std::string &dir = finfo->file;
    if (dir.find('/') != std::string::npos) {
        error(0, 0, "directory %s not added; must be a direct sub-directory", finfo->fullname);
        return 1;
    }
    if (dir == "JOL") {
        error(0, 0, "cannot add a `%s' directory", "JOL");
        return 1;
    }
    opt_str tag, date;
    int nonbranch = 0;
    ParseTag(&tag, &date, &nonbranch);
    auto attrs = fileattr_getall(nullptr);

    int cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (chdir(dir.c_str()) != 0) {
        error(0, errno, "cannot chdir to %s", finfo->fullname);
        close(cwd);
        return 1;
    }
    struct Back {
        int fd;
        ~Back() {
            if (fchdir(fd) != 0)
                error(1, errno, "could not return to the parent directory");
            close(fd);
        }
    } back{cwd};

    if (!server_active && isfile("JOL")) {
        error(0, 0, "%s/%s already exists", finfo->fullname, "JOL");
        return 0;
    }
    std::string repos = std::string(parent_repos) + "/" + dir;
    if (isfile(repos.c_str()) && !isdir(repos.c_str())) {
        error(0, 0, "%s is not a directory; %s not added", repos, finfo->fullname);
        return 0;
    }
    std::string message = "Directory " + repos + " added to the repository\n";
    if (tag)
        message += "--> Using per-directory sticky tag `" + *tag + "'\n";
    if (date)
        message += "--> Using per-directory sticky date `" + *date + "'\n";
    if (!isdir(repos.c_str())) {
        if (!noexec) {
            mode_t old = umask(jolumask);
            int r = mkdir(repos.c_str(), 0777);
            int e = errno;
            umask(old);
            // A concurrent add of the same directory is fine; anything else
            // is a failure of this add.
            if (r != 0 && e != EEXIST) {
                error(0, e, "cannot mkdir %s", repos);
                return 1;
            }
            if (r == 0 && attrs) {
                fileattr_startdir(repos.c_str());
                fileattr_setall(nullptr, attrs->c_str());
                fileattr_write();
                fileattr_free();
            }
        }
        List *changes = getlist();
        add_change(changes, "- New directory", T_TITLE, tag, std::nullopt);
        Update_Logfile(repos.c_str(), message, nullptr, changes);
        dellist(&changes);
    }
    if (!server_active)
        Create_Admin(".", finfo->fullname.c_str(), repos.c_str(), tag, date, nonbranch, 0, 1);
    if (fchdir(cwd) != 0)
        error(1, errno, "could not return to the parent directory");
    Subdir_Register(finfo->entries, nullptr, dir);
    jol_output(message);
    return 0;
}

// The command's options.
struct AddOptions {
    std::optional<std::string> options;  // -k, as RCS_check_kflag gives it
    std::string message;                 // -m: the description of new files
};

// The arguments that can be added, trailing slashes dropped; each special
// name is reported and counted in `err`.
std::vector<std::string> addable_arguments(int argc, char **argv, int &err) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        while (a.size() > 1 && a.back() == '/')
            a.pop_back();
        std::string base = a.substr(a.rfind('/') == std::string::npos ? 0 : a.rfind('/') + 1);
        // A name with a newline would corrupt JOL/Entries for every reader.
        if (base == "." || base == ".." || base == "JOL" || a.find('\n') != std::string::npos ||
            base.empty()) {
            error(0, 0, "cannot add special file `%s'; skipping", a);
            ++err;
            continue;
        }
        args.push_back(a);
    }
    return args;
}

// A file the repository has never known: scheduled for addition with its
// options (the wrappers' unless -k) and the description; 1 after a
// message. A directory is left to add_directory.
int add_new_file(const file_info &finfo, Vers_TS *vers, const AddOptions &opts, List *entries,
                 bool present, bool is_dir, int &added) {
    const char *full = finfo.fullname.c_str();
    const std::string &file = finfo.file;
    if (!present) {
        error(0, 0, "nothing known about %s", full);
        return 1;
    }
    if (is_dir)
        return 0;
    if (isdir((std::string(finfo.repository) + "/" + file).c_str())) {
        error(0, 0, "cannot add file `%s' since the directory", full);
        error(0, 0, "`%s' already exists in the repository", full);
        error(1, 0, "illegal filename overlap");
    }
    std::string options = vers->options;
    if (!opts.options) {
        if (auto w = wrap_rcsoption(file.c_str(), 1))
            options = *w;
    }
    if (vers->nonbranch && vers->tag) {
        error(0, 0, "cannot add file on non-branch tag %s", *vers->tag);
        return 1;
    }
    build_entry(file, options, opts.message, entries, vers->tag);
    if (!quiet) {
        const char *kind = wrap_name_has(file.c_str(), WRAP_TOJOL) ? "wrapper" : "file";
        if (vers->tag)
            error(0, 0, "scheduling %s `%s' for addition on branch `%s'", kind, full, *vers->tag);
        else
            error(0, 0, "scheduling %s `%s' for addition", kind, full);
    }
    ++added;
    return 0;
}

// A file whose revision in the repository is dead: added again in its
// place; 1 after a message.
int readd_dead_file(const file_info &finfo, Vers_TS *vers, List *entries, bool is_dir, int &added) {
    const char *full = finfo.fullname.c_str();
    if (is_dir) {
        error(0, 0, "the directory `%s' cannot be added because a file of the", full);
        error(1, 0, "same name already exists in the repository.");
    }
    if (vers->nonbranch && vers->tag) {
        error(0, 0, "cannot add file on non-branch tag %s", *vers->tag);
        return 1;
    }
    if (vers->tag)
        error(0, 0, "file `%s' will be added on branch `%s' from version %s", full, *vers->tag,
              *vers->vn_rcs);
    else
        error(0, 0, "re-adding file %s (in place of dead revision %s)", full, *vers->vn_rcs);
    Register(entries, finfo.file, "0", vers->ts_user.value_or(""), vers->options, vers->tag,
             std::nullopt, std::nullopt);
    ++added;
    return 0;
}

// A file scheduled for removal and gone from the disk: its entry is
// restored and the file brought back. The entries are written out (and
// `entries` becomes null) for the update that fetches it; 1 after a message.
int resurrect_file(const file_info &finfo, Vers_TS *vers, List *&entries, bool present) {
    const char *full = finfo.fullname.c_str();
    const std::string &file = finfo.file;
    if (present) {
        error(0, 0, "%s should be removed and is still there (or is back again)", full);
        return 1;
    }
    if (!vers->vn_rcs) {
        error(0, 0, "cannot resurrect %s; RCS file removed by second party", full);
        return 1;
    }
    std::string rev = vers->vn_user->substr(1);
    Entnode *e = vers->entdata;
    Register(entries, file, rev, "Resurrected " + file, e ? e->options : vers->options,
             e ? e->tag : vers->tag, e ? e->date : vers->date, e ? e->conflict : std::nullopt);
    // Bring the file back with the entry's own tag, date and options, on
    // this one file only.
    std::vector<std::string> names{file};
    std::vector<char *> av{names[0].data(), nullptr};
    Entries_Close(entries);
    entries = nullptr;
    int r = do_update(
        {.argc = 1,
         .argv = av.data(),
         .local = 1,
         .which = WHICH_LOCAL | WHICH_REPOSITORY | WHICH_ATTIC,
         .preload_update_dir = finfo.update_dir.empty() ? nullptr : finfo.update_dir.c_str()});
    if (r != 0) {
        error(0, 0, "could not resurrect %s", full);
        return 1;
    }
    error(0, 0, "%s, version %s, resurrected", full, rev);
    return 0;
}

// One argument, in the directory that holds it: what is done depends on
// its entry and its archive; the error count.
int add_argument(const std::string &arg, const AddOptions &opts, int &added) {
    size_t slash = arg.rfind('/');
    std::string dir = slash == std::string::npos ? "." : arg.substr(0, slash);
    std::string file = slash == std::string::npos ? arg : arg.substr(slash + 1);
    ChangeDir cd(dir);
    wrap_add_file(".jolwrappers", 1);
    std::string repository = Name_Repository(nullptr, dir == "." ? nullptr : dir.c_str());
    if (repository == JOLroot_directory + "/JOLROOT/Emptydir")
        error(1, 0, "cannot add to %s", repository);
    List *entries = Entries_Open(0, nullptr);

    file_info finfo;
    finfo.file = file;
    finfo.update_dir = dir == "." ? "" : dir;
    finfo.fullname = arg;
    finfo.repository = repository.c_str();
    finfo.entries = entries;
    finfo.rcs = RCS_parse(file.c_str(), repository.c_str());
    Vers_TS *vers =
        Version_TS(&finfo, opts.options ? opts.options->c_str() : nullptr, nullptr, nullptr, 1, 0);
    const char *full = arg.c_str();
    // The server has a copy of a file only when the client sent one; a file
    // sent as modified without contents is there all the same.
    bool present = isfile(file.c_str()) || (server_active && vers->ts_user.has_value());
    bool is_dir = isdir(file.c_str()) && !wrap_name_has(file.c_str(), WRAP_TOJOL);
    bool rcs_dead = vers->vn_rcs && RCS_isdead(vers->srcfile, vers->vn_rcs->c_str());

    int err = 0;
    const int added_before = added;
    if (!vers->vn_user) {
        if (!vers->vn_rcs) {
            err = add_new_file(finfo, vers, opts, entries, present, is_dir, added);
        } else if (rcs_dead) {
            err = readd_dead_file(finfo, vers, entries, is_dir, added);
        } else {
            error(0, 0, "%s added independently by second party", full);
            err = 1;
        }
    } else if (*vers->vn_user == "0") {
        error(0, 0, "%s has already been entered", full);
        err = 1;
    } else if ((*vers->vn_user)[0] == '-') {
        err = resurrect_file(finfo, vers, entries, present);
    } else {
        error(0, 0, "%s already exists, with version number %s", full, *vers->vn_user);
        err = 1;
    }

    if (err == 0 && is_dir && !vers->vn_user && !vers->vn_rcs)
        err = add_directory(&finfo, repository.c_str());
    else if (server_active && added != added_before)
        server_checked_in(file.c_str(), finfo.update_dir.c_str(), repository.c_str());
    freevers_ts(&vers);
    freercsnode(&finfo.rcs);
    Entries_Close(entries);
    wrap_kill_temp();
    return err;
}

// Client: a new directory gets its administrative files here before the
// server hears of it; then the files, the names and "add".
void prepare_directory(const std::string &arg, bool any_slash) {
    size_t slash = arg.rfind('/');
    std::string parent = slash == std::string::npos ? "." : arg.substr(0, slash);
    std::string name = slash == std::string::npos ? arg : arg.substr(slash + 1);
    SavedCwd back;
    if (chdir(parent.c_str()) != 0)
        error(1, errno, "could not chdir to %s", parent);
    std::string repository = Name_Repository(nullptr, parent.c_str());
    if (repository == JOLroot_directory + "/JOLROOT/Emptydir")
        error(1, 0, "cannot add to %s", repository);
    opt_str tag, date;
    int nonbranch = 0;
    ParseTag(&tag, &date, &nonbranch);
    Create_Admin(name.c_str(), arg.c_str(), (repository + "/" + name).c_str(), tag, date,
                 nonbranch, 0, 1);
    if (any_slash)
        send_a_repository("", repository.c_str(), parent.c_str());
    Subdir_Register(nullptr, nullptr, name);
}

int add_through_server(std::vector<std::string> &args, const AddOptions &opts) {
    start_server();
    ign_setup();
    if (opts.options)
        send_arg(*opts.options);
    option_with_arg("-m", opts.message.c_str());
    bool any_slash = false;
    for (const std::string &a : args)
        any_slash = any_slash || a.find('/') != std::string::npos;
    if (!any_slash) {
        std::string repository = Name_Repository(nullptr, nullptr);
        send_a_repository("", repository.c_str(), "");
    }
    for (const std::string &a : args)
        if (isdir(a.c_str()))
            prepare_directory(a, any_slash);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    int argc = static_cast<int>(argv.size());
    send_files(argc, argv.data(), 0, 0, SEND_BUILD_DIRS | SEND_NO_CONTENTS);
    send_file_names(argc, argv.data(), SEND_EXPAND_WILD);
    send_to_server("add\n");
    return get_responses_and_close();
}

}  // namespace

int add(int argc, char **argv) {
    if (argc == -1)
        usage(add_usage);
    wrap_setup();
    AddOptions opts;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+k:m:")) != -1) {
        switch (c) {
        case 'k': opts.options = RCS_check_kflag(optarg); break;
        case 'm': opts.message = optarg; break;
        default: usage(add_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (argc <= 0)
        usage(add_usage);

    int err = 0, added = 0;
    std::vector<std::string> args = addable_arguments(argc, argv, err);
    if (client_active)
        return args.empty() ? err : err + add_through_server(args, opts);
    for (const std::string &arg : args)
        err += add_argument(arg, opts, added);
    if (added && !quiet)
        error(0, 0, "use '%s commit' to add %s permanently", program_name,
              added == 1 ? "this file" : "these files");
    return err;
}
