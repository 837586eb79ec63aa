// The import command: brings a tree of outside files (a supplier's release)
// into the repository on a vendor branch, reports each file, counts the
// files whose trunk has moved away from the vendor branch, and tells the
// loginfo filters.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <string>
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
#include "src/commands/module_target.h"
#include "src/rcs/rcs.h"
#include "src/rcs/rcs_admin.h"
#include "src/rcs/rcs_checkin.h"
#include "src/rcs/rcs_write.h"
#include "src/repo/logmsg.h"
#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/wrapper.h"

namespace {

const char *const import_usage[] = {
    "Usage: %s %s [-d] [-k subst] [-I ign] [-m msg] [-b branch]\n",
    "    [-W wrap] repository vendor-tag release-tags...\n",
    "\t-d\tUse the file's modification time as the time of import.\n",
    "\t-k sub\tSet default RCS keyword substitution mode.\n",
    "\t-I ign\tMore files to ignore (! to reset).\n",
    "\t-b bra\tVendor branch id.\n",
    "\t-m msg\tLog message.\n",
    "\t-W wrap\tWrapper line: a pattern and its options, as in .jolwrappers.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

struct ImportRun {
    std::string message;
    std::string vbranch = "1.1.1";
    std::string vhead = "1.1";
    std::string vtag;
    std::vector<std::string> release_tags;
    std::string keyword_opt;  // without "-k"; empty for none
    bool use_file_modtime = false;
    std::string repository;  // the repository directory being filled
    size_t repos_len = 0;    // length of the root directory prefix
    FILE *logfp = nullptr;   // the report for the loginfo filters
    int conflicts = 0;
    List *entries = nullptr;  // server mode: the client's entries of this directory
};

// Names as they may be shown on one line.
std::string shown_name(const std::string &name) {
    std::string out;
    for (char c : name)
        out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return out;
}

// The repository path below the root ("" at the root itself).
std::string below_root(const ImportRun &run) {
    return run.repository.size() > run.repos_len ? run.repository.substr(run.repos_len + 1)
                                                 : std::string();
}

void add_log(const ImportRun &run, char ch, const std::string &fname) {
    std::string below = below_root(run);
    if (!really_quiet)
        jol_output(std::string(1, ch) + " " + (below.empty() ? "" : below + "/") + fname + "\n");
    if (!run.logfp)
        return;
    if (below.empty())
        std::fprintf(run.logfp, "%c %s\n", ch, fname.c_str());
    else
        std::fprintf(run.logfp, "%c %s/%s\n", ch, below.c_str(), fname.c_str());
}

// A failure both reported and written into the loginfo report.
void log_error(const ImportRun &run, int errnum, const std::string &text) {
    if (run.logfp)
        std::fprintf(run.logfp, "%s\n", text.c_str());
    error(0, errnum, "%s", text);
}

std::optional<std::string> symbol_value(RCSNode *rcs, const std::string &tag) {
    List *symbols = RCS_symbols(rcs);
    Node *n = symbols ? findnode(symbols, tag) : nullptr;
    if (!n || !n->data)
        return std::nullopt;
    return std::string(static_cast<const char *>(n->data));
}

// The tag of a developer's branch that already owns the vendor branch
// number (its magic form "x.y.0.z"), if any.
std::optional<std::string> branch_owner(RCSNode *rcs, const ImportRun &run) {
    std::string magic =
        run.vhead + ".0." + run.vbranch.substr(run.vbranch.rfind('.') + 1);
    List *symbols = RCS_symbols(rcs);
    if (!symbols)
        return std::nullopt;
    JOL_FOR_EACH_NODE(symbols, n) {
        if (n->data && magic == static_cast<const char *>(n->data))
            return *n->key;
    }
    return std::nullopt;
}

// Sets the vendor tag and the release tags, never moving one that already
// names something else. Returns the errors; `trouble` is set when a tag
// could not be placed (the file then counts as a conflict).
int add_tags(const ImportRun &run, RCSNode *rcs, bool &trouble) {
    if (noexec)
        return 0;
    bool changed = false;
    std::optional<std::string> vendor = symbol_value(rcs, run.vtag);
    if ((vendor && *vendor != run.vbranch) ||
        (!vendor && RCS_settag(rcs, run.vtag.c_str(), run.vbranch.c_str()) != 0)) {
        log_error(run, 0, "ERROR: Failed to set tag " + run.vtag + " in " + rcs->path);
        trouble = true;
        return 1;
    }
    changed = !vendor;
    std::optional<std::string> rev = RCS_getversion(rcs, run.vtag.c_str(), nullptr, 1, nullptr);
    for (const std::string &tag : run.release_tags) {
        std::optional<std::string> old = symbol_value(rcs, tag);
        if (old && rev && *old == *rev)
            continue;
        if (old || !rev || RCS_settag(rcs, tag.c_str(), rev->c_str()) != 0) {
            std::string text = "WARNING: Couldn't add tag " + tag + " to " + rcs->path;
            if (run.logfp)
                std::fprintf(run.logfp, "%s\n", text.c_str());
            error(0, 0, "%s", text);
            trouble = true;
            continue;
        }
        changed = true;
    }
    if (changed)
        RCS_rewrite(rcs, nullptr, nullptr);
    return 0;
}

// The date a new vendor revision gets under -d: the file's time, but never
// before the revision it follows.
time_t vendor_date(const ImportRun &run, RCSNode *rcs, const std::optional<std::string> &prev,
                   const std::string &name) {
    if (!run.use_file_modtime)
        return 0;
    struct stat sb;
    if (lstat(name.c_str(), &sb) != 0)
        return 0;
    if (!prev)
        return sb.st_mtime;
    int64_t before = RCS_getrevtime(rcs, prev->c_str(), nullptr, 0);
    if (before >= 0 && sb.st_mtime < before) {
        error(0, 0,
              "warning: %s is older than revision %s; dating the new revision one second after "
              "it",
              shown_name(name), *prev);
        return static_cast<time_t>(before + 1);
    }
    return sb.st_mtime;
}

// Checks the file in as the next revision of the vendor branch.
int add_rev(const ImportRun &run, RCSNode *rcs, const std::string &name,
            const std::optional<std::string> &prev) {
    if (noexec)
        return 0;
    bool locked = prev && RCS_lock(rcs, run.vbranch.c_str(), 1) == 0;
    time_t when = vendor_date(run, rcs, prev, name);
    int flags = CHECKIN_QUIET | CHECKIN_KEEPFILE | (run.use_file_modtime ? CHECKIN_MODTIME : 0);
    if (RCS_checkin(rcs, name.c_str(), run.message.c_str(), run.vbranch.c_str(), flags, when) !=
        0) {
        if (run.logfp)
            std::fprintf(run.logfp, "ERROR: Check-in of %s failed\n", rcs->path.c_str());
        error(0, 0, "ERROR: Check-in of %s failed", rcs->path);
        if (locked) {
            RCS_unlock(rcs, run.vbranch.c_str(), 1);
            RCS_rewrite(rcs, nullptr, nullptr);
        }
        return 1;
    }
    return 0;
}

struct RcsHolder {
    RCSNode *rcs;
    ~RcsHolder() { freercsnode(&rcs); }
};

int update_rcs_file(ImportRun &run, const std::string &name, bool inattic) {
    RcsHolder held{RCS_parse(name.c_str(), run.repository.c_str())};
    RCSNode *rcs = held.rcs;
    if (!rcs) {
        log_error(run, 0, "ERROR: cannot read the archive of " + shown_name(name));
        return 1;
    }
    if (auto owner = branch_owner(rcs, run)) {
        log_error(run, 0,
                  "ERROR: branch " + run.vbranch + " of " + rcs->path +
                      " is the developer branch " + *owner + "; not imported");
        return 1;
    }
    // A vendor tag that names another branch is never moved, and nothing
    // is checked in under it.
    if (auto vendor = symbol_value(rcs, run.vtag); vendor && *vendor != run.vbranch) {
        log_error(run, 0, "ERROR: Failed to set tag " + run.vtag + " in " + rcs->path);
        ++run.conflicts;
        add_log(run, 'C', name);
        return 1;
    }
    std::optional<std::string> prev =
        RCS_getversion(rcs, run.vbranch.c_str(), nullptr, 1, nullptr);
    bool different = true;
    if (prev && !RCS_isdead(rcs, prev->c_str()))
        different = RCS_cmp_file(rcs, prev->c_str(), "-ko", name.c_str()) != 0;
    int err = 0;
    if (different)
        err += add_rev(run, rcs, name, prev);
    bool trouble = false;
    if (err == 0)
        err += add_tags(run, rcs, trouble);
    if (!trouble && (!different || (rcs->branch == run.vbranch && !inattic))) {
        add_log(run, 'U', name);
    } else {
        ++run.conflicts;
        add_log(run, 'C', name);
    }
    return err;
}

// The keyword mode a new archive gets: in server mode the one the client
// sent for the file, else -k, else a wrapper's.
std::string new_file_mode(const ImportRun &run, const std::string &name) {
    if (server_active && run.entries)
        if (Entnode *e = entries_find(run.entries, name))
            if (e->options.size() > 2)
                return e->options.substr(2);
    if (!run.keyword_opt.empty())
        return run.keyword_opt;
    return wrap_rcsoption(name.c_str(), 0).value_or("");
}

// Whether `name` is still a regular file when opened without following a
// symbolic link (the walk's lstat may be stale).
bool regular_source(const ImportRun &run, const std::string &name) {
    int fd = open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat sb;
    bool ok = fd >= 0 && fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode);
    int e = fd < 0 ? errno : 0;
    if (fd >= 0)
        close(fd);
    if (!ok)
        log_error(run, e, "ERROR: cannot read file " + shown_name(name));
    return ok;
}

int process_import_file(ImportRun &run, const std::string &name) {
    std::string rcs = run.repository + "/" + name + ",v";
    if (!regular_source(run, name))
        return 1;
    if (isfile(rcs.c_str()))
        return update_rcs_file(run, name, false);
    std::string attic = run.repository + "/Attic/" + name + ",v";
    if (isfile(attic.c_str()))
        return update_rcs_file(run, name, true);
    add_log(run, 'N', name);
    NewArchive a;
    a.message = run.message;
    a.rcs = rcs;
    a.user = name;
    a.vhead = run.vhead;
    a.key_opt = new_file_mode(run, name);
    a.vbranch = run.vbranch;
    a.vtag = run.vtag;
    a.tags = run.release_tags;
    a.use_file_modtime = run.use_file_modtime;
    return add_rcs_file(a, run.logfp) != 0;
}

int import_descend(ImportRun &run);

bool exists_not_dir(const std::string &path) {
    struct stat sb;
    return lstat(path.c_str(), &sb) == 0 && !S_ISDIR(sb.st_mode);
}

int import_descend_dir(ImportRun &run, const std::string &dir) {
    int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (here < 0) {
        log_error(run, errno, "ERROR: cannot get working directory");
        return 1;
    }
    std::string saved = run.repository;
    run.repository += "/" + dir;
    if (!quiet && !client_active)
        error(0, 0, "Importing %s", run.repository);
    int err = 0;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || fchdir(fd) != 0) {
        log_error(run, errno, "ERROR: cannot chdir to " + run.repository);
        err = 1;
    } else if (!client_active && (exists_not_dir(run.repository) ||
                                  exists_not_dir(run.repository + ",v"))) {
        log_error(run, 0, "ERROR: " + run.repository + " is a file, should be a directory!");
        err = 1;
    } else if (!client_active && !noexec && !isdir(run.repository.c_str()) &&
               mkdir(run.repository.c_str(), 0777) != 0) {
        log_error(run, errno, "ERROR: cannot mkdir " + run.repository + " -- not added");
        err = 1;
    } else {
        err = import_descend(run);
    }
    if (fd >= 0)
        close(fd);
    run.repository = saved;
    if (fchdir(here) != 0)
        error(1, errno, "cannot return to %s", run.repository);
    close(here);
    return err;
}

// One name of the directory being walked: skipped, remembered as a
// subdirectory, or imported.
int import_entry(ImportRun &run, const std::string &name, std::vector<std::string> &dirs) {
    std::string where = below_root(run);
    std::string full = where.empty() ? name : where + "/" + name;
    if (name.find_first_of("\n\r") != std::string::npos) {
        log_error(run, 0,
                  "ERROR: cannot import " + shown_name(full) +
                      ": its name holds a newline or carriage return");
        return 1;
    }
    struct stat sb;
    if (lstat(name.c_str(), &sb) != 0) {
        log_error(run, errno, "ERROR: cannot lstat file " + full);
        return 1;
    }
    if (S_ISDIR(sb.st_mode) && (name == "Attic" || name == "JOL")) {
        log_error(run, 0, "ERROR: cannot import directory " + full + ": the name " + name +
                              " is reserved");
        return 1;
    }
    if (ign_name(name.c_str())) {
        add_log(run, 'I', name);
        return 0;
    }
    if (S_ISDIR(sb.st_mode)) {
        dirs.push_back(name);
        return 0;
    }
    if (S_ISLNK(sb.st_mode)) {
        add_log(run, 'L', name);
        return 1;
    }
    if (!S_ISREG(sb.st_mode)) {
        log_error(run, 0, "ERROR: " + full + " is not a regular file; not imported");
        return 1;
    }
    if (client_active)
        return client_process_import_file(name, run.repository, run.keyword_opt == "b",
                                          run.use_file_modtime);
    return process_import_file(run, name);
}

// Walks the current directory: its files first, then its subdirectories
// in name order. The directory's own ignore and wrapper files apply here.
int import_descend(ImportRun &run) {
    ign_add_file(".jolignore", 1);
    wrap_add_file(".jolwrappers", 1);
    DIR *dirp = opendir(".");
    if (!dirp) {
        log_error(run, errno, "cannot open directory");
        return 1;
    }
    std::vector<std::string> names;
    int err = 0;
    errno = 0;
    while (struct dirent *dp = readdir(dirp)) {
        std::string name = dp->d_name;
        if (name == "." || name == ".." || (server_active && name == "JOL"))
            continue;
        names.push_back(std::move(name));
        errno = 0;
    }
    if (errno != 0) {
        error(0, errno, "cannot read directory");
        ++err;
    }
    closedir(dirp);
    std::sort(names.begin(), names.end());

    List *saved_entries = run.entries;
    run.entries = server_active ? Entries_Open(0, nullptr) : nullptr;
    std::vector<std::string> dirs;
    for (const std::string &name : names)
        err += import_entry(run, name, dirs);
    if (run.entries)
        Entries_Close(run.entries);
    run.entries = saved_entries;
    for (const std::string &dir : dirs)
        err += import_descend_dir(run, dir);
    return err;
}

// The walk must never enter the repository, nor run inside it.
void refuse_repository_in_tree() {
    char *cwd = getcwd(nullptr, 0);
    if (!cwd)
        error(1, errno, "could not get working directory");
    std::string here = canonical_path(cwd);
    std::free(cwd);
    std::string root = canonical_path(JOLroot_directory);
    if (path_inside(here, root) || path_inside(root, here))
        error(1, 0, "attempt to import the repository");
}

void check_arguments(ImportRun &run, int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        RCS_check_tag(argv[i]);
        if (std::strcmp(argv[i], "HEAD") == 0 || std::strcmp(argv[i], "BASE") == 0)
            error(1, 0, "tag `%s' is reserved and cannot be used for import", argv[i]);
        for (int j = 1; j < i; ++j)
            if (std::strcmp(argv[i], argv[j]) == 0)
                error(1, 0, "tag `%s' was specified more than once", argv[i]);
    }
    std::string repos = argv[0];
    if (isabsolute(repos.c_str()) || pathname_levels(repos.c_str()) > 0)
        error(1, 0, "directory %s not relative within the repository", repos);
    std::string first = repos.substr(0, repos.find('/'));
    if (first.empty() || first == "." || first == "JOLROOT" ||
        repos.find_first_of("\n\r") != std::string::npos)
        error(1, 0, "cannot import into `%s': not a module directory", shown_name(repos));
    if (JOLroot_directory.empty()) {
        error(0, 0, "missing JOLROOT environment variable\n");
        error(1, 0, "Set it or specify the '-d' option to %s.", program_name);
    }
    const std::string &b = run.vbranch;
    bool numeric = !b.empty() && b.find_first_not_of("0123456789.") == std::string::npos &&
                   b.front() != '.' && b.back() != '.' && b.find("..") == std::string::npos;
    if (!numeric)
        error(1, 0, "%s is not a numeric branch", b);
    if (std::count(b.begin(), b.end(), '.') != 2)
        error(1, 0, "Only branches with two dots are supported: %s", b);
    run.vhead = b.substr(0, b.rfind('.'));
    run.vtag = argv[1];
    run.release_tags.assign(argv + 2, argv + argc);
}

int import_through_server(ImportRun &run, int argc, char **argv) {
    option_with_arg("-b", run.vbranch.c_str());
    option_with_arg("-m", run.message.c_str());
    if (!run.keyword_opt.empty())
        option_with_arg("-k", run.keyword_opt.c_str());
    if (ign_inhibit_server) {
        send_arg("-I");
        send_arg("!");
    }
    wrap_send();
    for (int i = 0; i < argc; ++i)
        send_arg(argv[i]);
    client_import_setup(run.repository);
    int err = import_descend(run);
    client_import_done();
    send_to_server("import\n");
    return err + get_responses_and_close();
}

void report_conflicts(const ImportRun &run, const char *repos_arg) {
    if (run.conflicts == 0) {
        if (!really_quiet)
            jol_output("\nNo conflicts created by this import\n\n");
        std::fputs("\nNo conflicts created by this import\n\n", run.logfp);
        return;
    }
    if (!really_quiet) {
        std::string cmd = "\t" + program_name;
        if (JOLroot_cmdline)
            cmd += " -d " + *JOLroot_cmdline;
        cmd += " checkout -j";
        jol_output_tagged("+importmergecmd", nullptr);
        jol_output_tagged("newline", nullptr);
        jol_output_tagged("conflicts", std::to_string(run.conflicts).c_str());
        jol_output_tagged("text", " conflicts created by this import.");
        jol_output_tagged("newline", nullptr);
        jol_output_tagged("text", "Use the following command to help the merge:");
        jol_output_tagged("newline", nullptr);
        jol_output_tagged("newline", nullptr);
        jol_output_tagged("text", cmd.c_str());
        jol_output_tagged("mergetag1", (run.vtag + ":yesterday").c_str());
        jol_output_tagged("text", " -j");
        jol_output_tagged("mergetag2", run.vtag.c_str());
        jol_output_tagged("text", " ");
        jol_output_tagged("repository", repos_arg);
        jol_output_tagged("newline", nullptr);
        jol_output_tagged("newline", nullptr);
        jol_output_tagged("-importmergecmd", nullptr);
    }
    std::fprintf(run.logfp, "\n%d conflicts created by this import.\n", run.conflicts);
    std::fputs("Use the following command to help the merge:\n\n", run.logfp);
    std::fprintf(run.logfp, "\t%s checkout -j%s:yesterday -j%s %s\n\n", program_name.c_str(),
                 run.vtag.c_str(), run.vtag.c_str(), repos_arg);
}

// Hands the report to the loginfo filters, read back from memory.
void run_loginfo(const ImportRun &run, const char *log, size_t len) {
    List *changes = getlist();
    add_change(changes, "- Imported sources", T_TITLE, std::nullopt, run.vbranch);
    FILE *in = fmemopen(const_cast<char *>(log), len, "r");
    if (!in)
        error(1, errno, "cannot read back the import report");
    Update_Logfile(run.repository.c_str(), run.message, in, changes);
    if (std::fclose(in) == EOF)
        error(0, errno, "error closing %s", "the import report");
    dellist(&changes);
}

int import_here(ImportRun &run, const char *repos_arg) {
    refuse_repository_in_tree();
    umask(jolumask);
    if (!noexec)
        make_directories(run.repository.c_str());
    // The report lives in memory: nothing is written for it, even under -n.
    char *log = nullptr;
    size_t loglen = 0;
    run.logfp = open_memstream(&log, &loglen);
    if (!run.logfp)
        error(1, errno, "cannot create temporary file `%s'", "the import report");
    std::fprintf(run.logfp, "\nVendor Tag:\t%s\n", run.vtag.c_str());
    std::fputs("Release Tags:\t", run.logfp);
    for (const std::string &t : run.release_tags)
        std::fprintf(run.logfp, "%s\n\t\t", t.c_str());
    std::fputs("\n", run.logfp);

    int err = import_descend(run);
    report_conflicts(run, repos_arg);
    if (std::fflush(run.logfp) != 0)
        error(1, errno, "cannot write the import report");
    run_loginfo(run, log, loglen);
    std::fclose(run.logfp);
    run.logfp = nullptr;
    std::free(log);
    return err;
}

}  // namespace

int import(int argc, char **argv) {
    if (argc == -1)
        usage(import_usage);
    ImportRun run;
    bool use_editor = true;
    ign_setup();
    wrap_setup();
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+Qqdb:m:I:k:W:")) != -1) {
        switch (c) {
        case 'Q':
        case 'q':
            if (!server_active)
                error(1, 0, "-q or -Q must be specified before \"%s\"", command_name);
            if (c == 'Q')
                really_quiet = 1;
            quiet = 1;
            break;
        case 'd':
            if (server_active) {
                error(0, 0, "warning: not setting the time of import from the file");
                error(0, 0, "due to client limitations");
            }
            run.use_file_modtime = true;
            break;
        case 'b': run.vbranch = optarg; break;
        case 'm':
            run.message = optarg;
            use_editor = false;
            break;
        case 'I': ign_add(optarg, 0); break;
        case 'k': run.keyword_opt = RCS_check_kflag(optarg).substr(2); break;
        case 'W': wrap_add(optarg, 0); break;
        default: usage(import_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (argc < 3)
        usage(import_usage);
    if (server_active)
        run.use_file_modtime = true;
    check_arguments(run, argc, argv);

    run.repos_len = JOLroot_directory.size();
    run.repository = JOLroot_directory + "/" + argv[0];
    if (client_active) {
        if (JOLroot_method == local_method || JOLroot_method == fork_method)
            refuse_repository_in_tree();
        start_server();
    }
    std::optional<std::string> message;
    if (!use_editor)
        message = run.message;
    else
        do_editor(".", &message, client_active ? nullptr : run.repository.c_str(), nullptr);
    do_verify(message, client_active ? nullptr : run.repository.c_str());
    run.message = message.value_or("");
    if (run.message.empty() || run.message.back() != '\n')
        run.message += '\n';

    if (client_active)
        return import_through_server(run, argc, argv);
    return import_here(run, argv[0]);
}
