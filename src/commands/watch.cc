// watch on|off|add|remove, watchers and editors: the per-file attributes
// `_watched`, `_watchers` and `_editors` of the repository.
#include "src/commands/watch.h"

#include <cstring>
#include <functional>
#include <getopt.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/identity.h"
#include "src/base/output.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/wc/fileattr.h"
#include "src/wc/lock.h"
#include "src/wc/recurse.h"

namespace {

const char *const watch_usage[] = {
    "Usage: %s %s [on|off|add|remove] [-lR] [-a action] [files...]\n",
    "on/off: turn on/off read-only checkouts of files\n",
    "add/remove: add or remove notification on actions\n",
    "-l (on/off/add/remove): Local directory only, not recursive\n",
    "-R (on/off/add/remove): Process directories recursively\n",
    "-a (add/remove): Specify what actions, one of\n",
    "    edit,unedit,commit,all,none\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

const char *const listing_usage[] = {
    "Usage: %s %s [-lR] [files...]\n",
    "\t-l\tProcess this directory only (not recursive).\n",
    "\t-R\tProcess directories recursively.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i <= s.size()) {
        size_t end = s.find(sep, i);
        if (end == std::string::npos)
            end = s.size();
        out.push_back(s.substr(i, end - i));
        i = end + 1;
    }
    return out;
}

struct WatchRun {
    bool turning_on = false;  // watch on/off
    addremove_args what;      // watch add/remove
};

int onoff_fileproc(void *callerdat, file_info *finfo) {
    auto *run = static_cast<WatchRun *>(callerdat);
    if (!watch_file_ok(finfo->file))
        return 1;
    fileattr_set(finfo->file.c_str(), "_watched", run->turning_on ? "" : nullptr);
    return 0;
}

int onoff_filesdoneproc(void *callerdat, int err, const char *repository, const char *,
                        List *) {
    auto *run = static_cast<WatchRun *>(callerdat);
    if (repository && run->what.setting_default)
        fileattr_set(nullptr, "_watched", run->turning_on ? "" : nullptr);
    return err;
}

int addremove_fileproc(void *callerdat, file_info *finfo) {
    auto *run = static_cast<WatchRun *>(callerdat);
    if (!watch_file_ok(finfo->file))
        return 1;
    watch_modify_watchers(finfo->file.c_str(), getcaller(), run->what);
    return 0;
}

int addremove_filesdoneproc(void *callerdat, int err, const char *repository, const char *,
                            List *) {
    auto *run = static_cast<WatchRun *>(callerdat);
    if (repository && run->what.setting_default)
        watch_modify_watchers(nullptr, getcaller(), run->what);
    return err;
}

// Under the tree's write lock from before the first read of an attribute
// database to after its last write: the recursion loads each directory's
// database afresh and stores it before it moves on.
int change_attributes(WatchRun &run, FILEPROC fileproc, FILESDONEPROC doneproc, int argc,
                      char **argv, int local) {
    if (!watch_user_ok(getcaller()))
        return 1;
    run.what.setting_default = argc <= 0;
    lock_tree_for_write(argc, argv, local, 0);
    int err = start_recursion({.fileproc = fileproc,
                               .filesdoneproc = doneproc,
                               .callerdat = &run,
                               .argc = argc,
                               .argv = argv,
                               .local = local,
                               .which = WHICH_LOCAL,
                               .dosrcs = 0});
    Lock_Cleanup();
    return err;
}

// Reads the options: -l and -R here, any other of `optstring` through
// `other` (false: not one of its options); a stranger prints the usage.
// argc and argv are left at the operands.
int read_options(int &argc, char **&argv, const char *optstring, const char *const *usage_text,
                 const std::function<bool(int)> &other = {}) {
    int local = 0;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, optstring)) != -1) {
        if (c == 'l')
            local = 1;
        else if (c == 'R')
            local = 0;
        else if (!other || !other(c))
            usage(usage_text);
    }
    argc -= optind;
    argv += optind;
    return local;
}

// The client's half, once the command's own arguments are sent: -l, the
// files' state and names, the request; the server's answer.
int send_request(int argc, char **argv, int local, const char *request) {
    if (local)
        send_arg("-l");
    send_files(argc, argv, local, 0, SEND_NO_CONTENTS);
    send_file_names(argc, argv, SEND_EXPAND_WILD);
    send_to_server(request);
    return get_responses_and_close();
}

int watch_onoff(int argc, char **argv, bool on) {
    int local = read_options(argc, argv, "+lR", watch_usage);
    if (client_active) {
        start_server();
        return send_request(argc, argv, local, on ? "watch-on\n" : "watch-off\n");
    }
    WatchRun run;
    run.turning_on = on;
    return change_attributes(run, onoff_fileproc, onoff_filesdoneproc, argc, argv, local);
}

int watch_addremove(int argc, char **argv, bool adding) {
    WatchRun run;
    addremove_args &what = run.what;
    what.adding = adding;
    std::vector<std::string> actions;
    int local = read_options(argc, argv, "+lRa:", watch_usage, [&](int c) {
        if (c != 'a')
            return false;
        std::string a = optarg;
        if (a == "edit") {
            what.edit = true;
        } else if (a == "unedit") {
            what.unedit = true;
        } else if (a == "commit") {
            what.commit = true;
        } else if (a == "all") {
            what.edit = what.unedit = what.commit = true;
        } else if (a != "none") {
            usage(watch_usage);
        }
        actions.push_back(a);
        return true;
    });
    if (actions.empty()) {
        what.edit = what.unedit = what.commit = true;
        actions.push_back("all");
    }
    if (client_active) {
        start_server();
        for (const std::string &a : actions)
            option_with_arg("-a", a.c_str());
        return send_request(argc, argv, local, adding ? "watch-add\n" : "watch-remove\n");
    }
    return change_attributes(run, addremove_fileproc, addremove_filesdoneproc, argc, argv,
                             local);
}

// One file's line of a listing: the file name, then per user the user and
// the '+'-separated parts of the value, tab separated, a line per user.
int list_fileproc(void *callerdat, file_info *finfo) {
    const char *attr = static_cast<const char *>(callerdat);
    auto them = fileattr_get0(finfo->file.c_str(), attr);
    if (!them || them->empty())
        return 0;
    std::string out = finfo->fullname;
    for (const std::string &entry : split(*them, ',')) {
        if (entry.empty())
            continue;
        size_t gt = entry.find('>');
        out += "\t" + entry.substr(0, gt);
        if (gt != std::string::npos)
            for (const std::string &item : split(entry.substr(gt + 1), '+'))
                out += "\t" + item;
        out += "\n";
    }
    jol_output(out);
    return 0;
}

int list_attribute(int argc, char **argv, const char *attr, const char *request) {
    if (argc == -1)
        usage(listing_usage);
    int local = read_options(argc, argv, "+lR", listing_usage);
    if (client_active) {
        start_server();
        return send_request(argc, argv, local, request);
    }
    return start_recursion({.fileproc = list_fileproc,
                            .callerdat = const_cast<char *>(attr),
                            .argc = argc,
                            .argv = argv,
                            .local = local,
                            .which = WHICH_LOCAL,
                            .readlock = 1,
                            .dosrcs = 0});
}

}  // namespace

bool watch_user_ok(const std::string &who) {
    if (who.find_first_of(",>;=+\t\n") != std::string::npos) {
        error(0, 0, "user name `%s' contains a character not allowed in watches and edits",
              who);
        return false;
    }
    return true;
}

bool watch_file_ok(const std::string &file) {
    if (file.find_first_of("\t\n") != std::string::npos) {
        error(0, 0, "file name `%s' contains a tab or newline; not watched", file);
        return false;
    }
    return true;
}

void watch_modify_watchers(const char *file, const char *who, const addremove_args &what) {
    auto curattr = fileattr_get0(file, "_watchers");
    // The user's current actions: permanent and temporary.
    bool has[6] = {};
    static const char *const words[6] = {"edit", "unedit", "commit", "tedit", "tunedit", "tcommit"};
    if (curattr)
        for (const std::string &entry : split(*curattr, ',')) {
            size_t gt = entry.find('>');
            if (gt == std::string::npos || entry.compare(0, gt, who) != 0 ||
                gt != std::strlen(who))
                continue;
            for (const std::string &w : split(entry.substr(gt + 1), '+'))
                for (int k = 0; k < 6; ++k)
                    if (w == words[k])
                        has[k] = true;
        }
    const bool perm[3] = {what.edit, what.unedit, what.commit};
    for (int k = 0; k < 3; ++k)
        if (perm[k])
            has[k] = what.adding;
    if (what.remove_temp)
        has[3] = has[4] = has[5] = false;
    if (what.add_tedit)
        has[3] = true;
    if (what.add_tunedit)
        has[4] = true;
    if (what.add_tcommit)
        has[5] = true;
    std::string value;
    for (int k = 0; k < 6; ++k)
        if (has[k])
            value += (value.empty() ? "" : "+") + std::string(words[k]);
    auto updated = fileattr_modify(curattr, who, value.empty() ? nullptr : value.c_str(), '>', ',');
    if (updated != curattr)
        fileattr_set(file, "_watchers", updated ? updated->c_str() : nullptr);
}

int watch_on(int argc, char **argv) { return watch_onoff(argc, argv, true); }
int watch_off(int argc, char **argv) { return watch_onoff(argc, argv, false); }
int watch_add(int argc, char **argv) { return watch_addremove(argc, argv, true); }
int watch_remove(int argc, char **argv) { return watch_addremove(argc, argv, false); }

int watch(int argc, char **argv) {
    if (argc <= 1)
        usage(watch_usage);
    std::string sub = argv[1];
    if (sub == "on")
        return watch_on(argc - 1, argv + 1);
    if (sub == "off")
        return watch_off(argc - 1, argv + 1);
    if (sub == "add")
        return watch_add(argc - 1, argv + 1);
    if (sub == "remove")
        return watch_remove(argc - 1, argv + 1);
    usage(watch_usage);
}

int watchers(int argc, char **argv) {
    return list_attribute(argc, argv, "_watchers", "watchers\n");
}

int editors(int argc, char **argv) { return list_attribute(argc, argv, "_editors", "editors\n"); }
