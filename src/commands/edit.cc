// edit and unedit, the JOL/Notify queue of a working directory, and the
// delivery of its notifications to the repository (notify_do and the
// "notify" filters).
#include <cerrno>
#include <cstring>
#include <ctime>
#include <getopt.h>
#include <unistd.h>
#include <vector>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/identity.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/subprocess.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/client/client_state.h"
#include "src/commands/commands.h"
#include "src/commands/watch.h"
#include "src/rcs/rcs_admin.h"
#include "src/repo/parseinfo.h"
#include "src/wc/entries.h"
#include "src/wc/fileattr.h"
#include "src/wc/lock.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"

namespace {

const char *const edit_usage[] = {
    "Usage: %s %s [-lR] [files...]\n",
    "-l: Local directory only, not recursive\n",
    "-R: Process directories recursively\n",
    "-a: Specify what actions for temporary watch, one of\n",
    "    edit,unedit,commit,all,none\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

const char *const unedit_usage[] = {
    "Usage: %s %s [-lR] [files...]\n",
    "\t-l\tProcess this directory only (not recursive).\n",
    "\t-R\tProcess directories recursively.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

constexpr char bad_chars[] = "+,>;=\t\n";

std::string current_dir() {
    char *cwd = getcwd(nullptr, 0);
    if (!cwd)
        error(1, errno, "cannot get working directory");
    std::string out = cwd;
    std::free(cwd);
    return out;
}

// The host and the directory go into the editors' values, whose parts are
// separated by these characters.
std::string checked_dir() {
    std::string dir = current_dir();
    if (dir.find_first_of(bad_chars) != std::string::npos)
        error(1, 0, "current directory (%s) contains an invalid character (+,>;=\\t\\n)", dir);
    return dir;
}

void check_host() {
    if (std::strpbrk(hostname, bad_chars))
        error(1, 0, "host name (%s) contains an invalid character (+,>;=\\t\\n)", hostname);
}

// The UTC time as the C library writes it, without the newline.
std::string now_text() {
    std::time_t now = std::time(nullptr);
    std::string t = std::asctime(std::gmtime(&now));
    if (!t.empty() && t.back() == '\n')
        t.pop_back();
    if (t.size() > 8 && t[8] == '0')
        t[8] = ' ';
    return t;
}

// Appends one line to this directory's JOL/Notify; false after a failure.
bool queue_notification(const file_info *finfo, char type, const std::string &letters) {
    std::string line = std::string(1, type) + finfo->file + "\t" + now_text() + " GMT\t" +
                       hostname + "\t" + checked_dir() + "\t" + letters + "\n";
    FILE *fp = std::fopen("JOL/Notify", "a");
    if (!fp) {
        error(0, errno, "cannot open %s", "JOL/Notify");
        return false;
    }
    std::fputs(line.c_str(), fp);
    if (std::fclose(fp) != 0) {
        if (finfo->update_dir.empty())
            error(0, errno, "cannot close %s", "JOL/Notify");
        else
            error(0, errno, "cannot close %s/%s", finfo->update_dir, "JOL/Notify");
        return false;
    }
    return true;
}

Entnode *entry_of(const file_info *finfo) {
    Node *n = finfo->entries ? findnode_fn(finfo->entries, finfo->file) : nullptr;
    return n ? static_cast<Entnode *>(n->data) : nullptr;
}

int edit_fileproc(void *callerdat, file_info *finfo) {
    if (noexec)
        return 0;
    const std::string &letters = *static_cast<std::string *>(callerdat);
    if (!isfile(finfo->file.c_str())) {
        error(0, 0, "no such file %s; ignored", finfo->fullname);
        return 0;
    }
    if (!watch_file_ok(finfo->file))
        return 1;
    if (!queue_notification(finfo, 'E', letters))
        return 1;
    xchmod(finfo->file.c_str(), 1);
    mkdir_if_needed("JOL/Base");
    // A second edit keeps the copy of the revision the first one started
    // from, so that unedit can still return to it.
    std::string base = "JOL/Base/" + finfo->file;
    if (!isfile(base.c_str())) {
        copy_file(finfo->file.c_str(), base.c_str());
        Entnode *e = entry_of(finfo);
        if (e && !e->version.empty())
            base_register(finfo, e->version);
    }
    return 0;
}

int unedit_fileproc(void *, file_info *finfo) {
    if (noexec)
        return 0;
    std::string base = "JOL/Base/" + finfo->file;
    if (!isfile(base.c_str()))
        return 0;
    if (xcmp(finfo->file.c_str(), base.c_str()) != 0) {
        jol_output(finfo->fullname + " has been modified; revert changes? ");
        if (!yesno())
            return 0;
    }
    rename_file(base.c_str(), finfo->file.c_str());
    if (!queue_notification(finfo, 'U', ""))
        return 1;
    opt_str baserev = base_get(finfo);
    if (!baserev) {
        error(0, 0, "%s not mentioned in %s", finfo->fullname, "JOL/Baserev");
        if (unlink(finfo->file.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "cannot remove %s", finfo->fullname);
        error(0, 0, "run update to complete the unedit");
        return 0;
    }
    if (Entnode *e = entry_of(finfo)) {
        Entnode old = *e;
        Register(finfo->entries, finfo->file, *baserev,
                 time_stamp(finfo->file.c_str()).value_or(""), old.options, old.tag, old.date,
                 std::nullopt);
    }
    base_deregister(finfo);
    xchmod(finfo->file.c_str(), 0);
    return 0;
}

// One JOL/Notify line: type, file, tab, time, tab, host, tab, directory,
// tab, temporary watch letters.
struct QueuedNote {
    char type;
    std::string file, value, watches;
    std::string rest;  // everything after the file's tab, newline included
};

std::vector<QueuedNote> read_queue(const char *update_dir, int &err) {
    std::vector<QueuedNote> out;
    std::string text;
    int e = 0;
    if (!read_whole_file("JOL/Notify", text, e)) {
        if (e != ENOENT) {
            error(0, e, "cannot read %s/%s", update_dir, "JOL/Notify");
            ++err;
        }
        return out;
    }
    size_t i = 0;
    while (i < text.size()) {
        size_t nl = text.find('\n', i);
        if (nl == std::string::npos)
            nl = text.size();
        std::string line = text.substr(i, nl - i);
        i = nl + 1;
        std::vector<std::string> f;
        size_t k = 0;
        while (true) {
            size_t tab = line.find('\t', k);
            f.push_back(line.substr(k, tab == std::string::npos ? std::string::npos : tab - k));
            if (tab == std::string::npos)
                break;
            k = tab + 1;
        }
        if (f.size() < 5 || f[0].size() < 2) {
            error(0, 0, "malformed %s file", "JOL/Notify");
            ++err;
            continue;
        }
        QueuedNote n{f[0][0], f[0].substr(1), f[1] + "+" + f[2] + "+" + f[3], f[4],
                     line.substr(f[0].size() + 1) + "\n"};
        out.push_back(std::move(n));
    }
    return out;
}

int notify_dummy_fileproc(void *, file_info *) { return 0; }

int local_notify_filesdone(void *, int err, const char *repository, const char *update_dir,
                           List *) {
    if (!repository)
        return err;
    std::vector<QueuedNote> notes = read_queue(update_dir, err);
    if (notes.empty() && !isfile("JOL/Notify"))
        return err;
    for (const QueuedNote &n : notes)
        err += notify_do(n.type, n.file, getcaller(), n.value, n.watches, repository);
    if (unlink("JOL/Notify") != 0 && errno != ENOENT) {
        error(0, errno, "cannot remove %s", "JOL/Notify");
        ++err;
    }
    return err;
}

int client_notify_filesdone(void *, int err, const char *repository, const char *update_dir,
                            List *) {
    if (!repository)
        return err;
    for (const QueuedNote &n : read_queue(update_dir, err))
        client_notify(repository, std::strcmp(update_dir, ".") == 0 ? "" : update_dir,
                      n.file.c_str(), n.type, n.rest.c_str());
    return err;
}

struct NotifyTarget {
    std::string destination, file, who, action;
};

int notify_proc(const char *repository, const char *filter, void *closure) {
    auto *t = static_cast<NotifyTarget *>(closure);
    std::string command;
    for (const char *p = filter; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            command += shell_word(t->destination);
            ++p;
        } else {
            command += *p;
        }
    }
    // The server's standard output is the protocol stream.
    if (server_active)
        command = "exec >&2; " + command;
    FILE *pipe = run_popen_write(command);
    if (!pipe) {
        error(0, errno, "cannot write entry to notify filter: %s", command);
        return 1;
    }
    std::fprintf(pipe, "%s %s\n---\n", Short_Repository(repository).c_str(), t->file.c_str());
    std::fprintf(pipe, "Triggered %s watch on %s\n", t->action.c_str(), repository);
    std::fprintf(pipe, "By %s\n", t->who.c_str());
    int status = run_pclose(pipe);
    return status != 0 ? 1 : 0;
}

// The address the "users" file gives `user`, else the name itself.
std::string destination_of(const std::string &user) {
    std::string text;
    int e = 0;
    if (read_whole_file((JOLroot_directory + "/JOLROOT/users").c_str(), text, e)) {
        size_t i = 0;
        while (i < text.size()) {
            size_t nl = text.find('\n', i);
            if (nl == std::string::npos)
                nl = text.size();
            std::string line = text.substr(i, nl - i);
            i = nl + 1;
            size_t colon = line.find(':');
            if (colon != std::string::npos && line.compare(0, colon, user) == 0 &&
                colon == user.size()) {
                size_t end = line.find(':', colon + 1);
                return line.substr(colon + 1, end == std::string::npos ? std::string::npos
                                                                       : end - colon - 1);
            }
        }
    }
    return user;
}

int parse_edit_actions(int argc, char **argv, int &local, std::string &letters,
                       const char *opts, const char *const *use) {
    bool e = false, u = false, c = false, a_given = false;
    optind = 0;
    int ch;
    while ((ch = getopt(argc, argv, opts)) != -1) {
        switch (ch) {
        case 'l': local = 1; break;
        case 'R': local = 0; break;
        case 'a': {
            a_given = true;
            std::string a = optarg;
            if (a == "edit") e = true;
            else if (a == "unedit") u = true;
            else if (a == "commit") c = true;
            else if (a == "all") e = u = c = true;
            else if (a != "none") usage(use);
            break;
        }
        default: usage(use);
        }
    }
    if (!a_given)
        e = u = c = true;
    letters = std::string(e ? "E" : "") + (u ? "U" : "") + (c ? "C" : "");
    return optind;
}

}  // namespace

int send_notifications(int argc, char **argv, int local) {
    if (noexec)
        return 0;
    if (client_active) {
        // release keeps its connection open across its directories.
        const bool own_connection = !server_started;
        if (own_connection)
            start_server();
        if (!supported_request("Notify"))
            return own_connection ? get_responses_and_close() : 0;
        int err = start_recursion({.fileproc = notify_dummy_fileproc,
                                   .filesdoneproc = client_notify_filesdone,
                                   .argc = argc,
                                   .argv = argv,
                                   .local = local,
                                   .which = WHICH_LOCAL,
                                   .dosrcs = 0});
        send_to_server("noop\n");
        return err + (own_connection ? get_responses_and_close() : get_server_responses());
    }
    lock_tree_for_write(argc, argv, local, 0);
    int err = start_recursion({.fileproc = notify_dummy_fileproc,
                               .filesdoneproc = local_notify_filesdone,
                               .argc = argc,
                               .argv = argv,
                               .local = local,
                               .which = WHICH_LOCAL,
                               .dosrcs = 0});
    Lock_Cleanup();
    return err;
}

int notify_do(char type, const std::string &file, const std::string &who,
              const std::string &value, const std::string &watches, const char *repository) {
    // A commit's notice records nothing, so it never fails a commit: a
    // file whose name the attribute file cannot hold has no watchers to
    // tell, and the user's name is only passed on.
    if (type == 'C') {
        if (file.find_first_of("\t\n") != std::string::npos)
            return 0;
    } else if (!watch_user_ok(who) || !watch_file_ok(file)) {
        return 1;
    }
    auto editors = fileattr_get0(file.c_str(), "_editors");
    if (type == 'E') {
        if (value.find_first_of(",>;=\n") != std::string::npos) {
            error(0, 0, "invalid character in editor value");
            return 1;
        }
        auto updated = fileattr_modify(editors, who, value.c_str(), '>', ',');
        fileattr_set(file.c_str(), "_editors", updated ? updated->c_str() : nullptr);
    } else if (type == 'U' || type == 'C') {
        auto updated = fileattr_modify(editors, who, nullptr, '>', ',');
        if (updated != editors)
            fileattr_set(file.c_str(), "_editors", updated ? updated->c_str() : nullptr);
    }

    int err = 0;
    const char *word = type == 'E' ? "edit" : type == 'U' ? "unedit" : type == 'C' ? "commit"
                                                                                   : nullptr;
    auto watchers = fileattr_get0(file.c_str(), "_watchers");
    if (word && watchers) {
        size_t i = 0;
        const std::string &w = *watchers;
        while (i <= w.size()) {
            size_t end = w.find(',', i);
            if (end == std::string::npos)
                end = w.size();
            std::string entry = w.substr(i, end - i);
            i = end + 1;
            size_t gt = entry.find('>');
            if (gt == std::string::npos || entry.substr(0, gt) == who)
                continue;
            bool permanent = false, temporary = false;
            std::string acts = entry.substr(gt + 1);
            size_t k = 0;
            while (k <= acts.size()) {
                size_t plus = acts.find('+', k);
                if (plus == std::string::npos)
                    plus = acts.size();
                std::string a = acts.substr(k, plus - k);
                permanent |= a == word;
                temporary |= a == std::string("t") + word;
                k = plus + 1;
            }
            if (!permanent && !temporary)
                continue;
            NotifyTarget t{destination_of(entry.substr(0, gt)), file, who,
                           permanent ? word : std::string("temporary ") + word};
            err += Parse_Info("notify", repository, notify_proc, 1, &t);
        }
    }

    if (type == 'E' && !watches.empty()) {
        addremove_args what;
        what.add_tedit = watches.find('E') != std::string::npos;
        what.add_tunedit = watches.find('U') != std::string::npos;
        what.add_tcommit = watches.find('C') != std::string::npos;
        watch_modify_watchers(file.c_str(), who.c_str(), what);
    } else if (type == 'U' || type == 'C') {
        addremove_args what;
        what.remove_temp = true;
        watch_modify_watchers(file.c_str(), who.c_str(), what);
    }
    return err;
}

namespace {

void notify_broken_lock(const std::string &file, const std::string &repository) {
    const std::string current = fileattr_dir();
    if (current == repository) {
        notify_do('C', file, getcaller(), "", "", repository.c_str());
        return;
    }
    // Another directory's database: keep what the current one holds, tell
    // the watchers from the archive's own, then go back.
    fileattr_write();
    fileattr_startdir(repository.c_str());
    notify_do('C', file, getcaller(), "", "", repository.c_str());
    fileattr_write();
    fileattr_free();
    if (!current.empty())
        fileattr_startdir(current.c_str());
}

// edit and unedit: their options, then the walk over the named files and
// the delivery of the notifications it queued.
int run_edit_command(int argc, char **argv, const char *options, const char *const *usage_text,
                     FILEPROC fileproc, bool pass_letters) {
    if (argc == -1)
        usage(usage_text);
    int local = 0;
    std::string letters;
    int skip = parse_edit_actions(argc, argv, local, letters, options, usage_text);
    argc -= skip;
    argv += skip;
    check_host();
    checked_dir();
    if (!watch_user_ok(getcaller()))
        return 1;
    int err = start_recursion({.fileproc = fileproc,
                               .callerdat = pass_letters ? &letters : nullptr,
                               .argc = argc,
                               .argv = argv,
                               .local = local,
                               .which = WHICH_LOCAL,
                               .dosrcs = 0});
    return err + send_notifications(argc, argv, local);
}

}  // namespace

void install_broken_lock_notices() { set_broken_lock_hook(notify_broken_lock); }

int edit(int argc, char **argv) {
    return run_edit_command(argc, argv, "+lRa:", edit_usage, edit_fileproc, true);
}

int unedit(int argc, char **argv) {
    return run_edit_command(argc, argv, "+lR", unedit_usage, unedit_fileproc, false);
}
