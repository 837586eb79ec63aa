// Reader and writer locks of repository directories.
#include "src/wc/lock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <functional>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/sighandle.h"
#include "src/wc/recurse.h"

std::string lock_dir;

namespace {

struct lock {
    std::string repository;
    int have_lckdir = 0;
};

lock global_readlock;
bool readlock_held = false;
List *locklist = nullptr;
List *lock_tree_list = nullptr;
std::string locked_dir;
List *locked_list = nullptr;
std::string lockers_name = "unknown";
std::string readlock_name, writelock_name;
bool in_lock_cleanup = false;

void lock_delproc(Node *p) { delete static_cast<lock *>(p->data); }

void ensure_cleanup_registered() {
    static bool done = false;
    if (!done) {
        register_cleanup(CleanupStage::repository_locks, Lock_Cleanup);
        done = true;
    }
}

std::string lock_file_name(const char *prefix) {
    return std::string(prefix) + "." + hostname + "." + std::to_string(static_cast<long>(getpid()));
}

void set_lockers_name(const struct stat &sb) {
    if (struct passwd *pw = getpwuid(sb.st_uid))
        lockers_name = pw->pw_name;
    else
        lockers_name = "uid" + std::to_string(static_cast<unsigned long>(sb.st_uid));
}

std::string time_of_day() {
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    char buf[16];
    strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

// The last "waiting" message: the process reports a wait when it begins
// and then every 30 seconds, however often it tries in between.
struct WaitReport {
    std::string repos;
    std::chrono::steady_clock::time_point at;
};
std::optional<WaitReport> last_report;

// Waits up to 30 seconds for the lock to be given up, looking again after a
// short while (growing to a second) so that it is taken at once; the caller
// tries again either way. `first`: this wait begins a new waiting spell.
void lock_wait(const std::string &repos, const std::function<bool()> &busy, bool first) {
    using clock = std::chrono::steady_clock;
    const auto now = clock::now();
    if (first || !last_report || last_report->repos != repos ||
        now - last_report->at >= std::chrono::seconds(30)) {
        error(0, 0, "%s",
              "[" + time_of_day() + "] waiting for " + lockers_name + "'s lock in " + repos);
        jol_flusherr();
        last_report = WaitReport{repos, now};
    }
    const auto until = now + std::chrono::seconds(30);
    auto step = std::chrono::milliseconds(20);
    while (clock::now() < until) {
        std::this_thread::sleep_for(std::min<clock::duration>(step, until - clock::now()));
        if (!busy())
            return;
        step = std::min(step * 2, std::chrono::milliseconds(1000));
    }
}

bool exists(const std::string &path) {
    struct stat sb;
    return stat(path.c_str(), &sb) == 0;
}

void lock_obtained(const std::string &repos) {
    error(0, 0, "%s", "[" + time_of_day() + "] obtained lock in " + repos);
    jol_flusherr();
}

// Takes the master lock of lk's directory: 0 obtained, 1 error, 2 busy.
int set_lock(lock *lk, bool will_wait) {
    std::string masterlock = lock_name(lk->repository, "#jol.lock");
    lk->have_lckdir = 0;
    bool waited = false;
    for (;;) {
        mode_t old = umask(jolumask);
        int r, e;
        {
            CriticalSection cs;
            r = mkdir(masterlock.c_str(), 0777);
            e = errno;
            if (r == 0)
                lk->have_lckdir = 1;
        }
        umask(old);
        if (r == 0) {
            if (waited)
                lock_obtained(lk->repository);
            return 0;
        }
        if (e != EEXIST) {
            error(0, e, "failed to create lock directory for `%s' (%s)", lk->repository,
                  masterlock);
            return 1;
        }
        struct stat sb;
        if (stat(masterlock.c_str(), &sb) != 0) {
            if (errno == ENOENT)
                continue;
            error(0, errno, "couldn't stat lock directory `%s'", masterlock);
            return 1;
        }
        set_lockers_name(sb);
        if (!will_wait)
            return 2;
        lock_wait(lk->repository, [&] { return exists(masterlock); }, !waited);
        waited = true;
    }
}

// Releases the master lock of this lock only (never one that another
// process created).
void clear_lock(lock *lk) {
    if (!lk->have_lckdir)
        return;
    std::string masterlock = lock_name(lk->repository, "#jol.lock");
    CriticalSection cs;
    if (rmdir(masterlock.c_str()) != 0)
        error(0, errno, "failed to remove lock dir `%s'", masterlock);
    lk->have_lckdir = 0;
}

void lock_simple_remove(lock *lk) {
    if (!readlock_name.empty()) {
        std::string f = lock_name(lk->repository, readlock_name);
        if (unlink(f.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "failed to remove lock %s", f);
    }
    if (!writelock_name.empty()) {
        std::string f = lock_name(lk->repository, writelock_name);
        if (unlink(f.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "failed to remove lock %s", f);
    }
    if (lk->have_lckdir) {
        std::string masterlock = lock_name(lk->repository, "#jol.lock");
        CriticalSection cs;
        if (rmdir(masterlock.c_str()) != 0)
            error(0, errno, "failed to remove lock dir %s", masterlock);
        lk->have_lckdir = 0;
    }
}

void remove_locks() {
    if (readlock_held) {
        lock_simple_remove(&global_readlock);
        readlock_held = false;
        global_readlock.repository.clear();
    }
    if (locklist) {
        JOL_FOR_EACH_NODE(locklist, p) lock_simple_remove(static_cast<lock *>(p->data));
        locklist = nullptr;
    }
}

bool create_empty_file(const std::string &path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    return close(fd) == 0;
}

int readers_exist(const std::string &repository) {
    std::string dir = lock_name(repository, ".");
    DIR *d = opendir(dir.c_str());
    if (!d)
        error(1, errno, "cannot open directory %s", dir);
    int found = 0;
    errno = 0;
    while (struct dirent *de = readdir(d)) {
        if (fnmatch("#jol.rfl.*", de->d_name, 0) != 0)
            continue;
        std::string path = dir + "/" + de->d_name;
        struct stat sb;
        if (stat(path.c_str(), &sb) == 0)
            set_lockers_name(sb);
        else if (errno != ENOENT)
            error(0, errno, "cannot stat %s", path);
        found = 1;
        break;
    }
    if (!found && errno != 0)
        error(0, errno, "error reading directory %s", repository);
    closedir(d);
    return found;
}

int write_lock(lock *lk) {
    if (writelock_name.empty())
        writelock_name = lock_file_name("#jol.wfl");
    int status = set_lock(lk, false);
    if (status != 0)
        return status;
    if (readers_exist(lk->repository)) {
        clear_lock(lk);
        return 2;
    }
    std::string f = lock_name(lk->repository, writelock_name);
    if (!create_empty_file(f)) {
        int e = errno;
        if (unlink(f.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "failed to remove lock %s", f);
        clear_lock(lk);
        error(0, e, "cannot create write lock in repository `%s'", lk->repository);
        return 1;
    }
    return 0;
}

int lock_filesdoneproc(void *, int err, const char *repository, const char *, List *) {
    if (!repository)
        return err;
    Node *p = getnode();
    p->type = LOCK;
    p->key = repository;
    auto *lk = new lock;
    lk->repository = repository;
    p->data = lk;
    p->delproc = lock_delproc;
    if (addnode(lock_tree_list, p) != 0)
        freenode(p);
    return err;
}

}  // namespace

// Format: doc/formats.md#repository-locks
std::string lock_name(const std::string &repository, const std::string &name) {
    if (lock_dir.empty())
        return repository + "/" + name;
    const std::string &root = JOLroot_directory;
    std::string rel;
    if (repository == root) {
        rel = ".";
    } else if (repository.size() > root.size() && repository.compare(0, root.size(), root) == 0 &&
               repository[root.size()] == '/') {
        rel = repository.substr(root.size() + 1);
    } else {
        error(1, 0, "internal error: repository directory %s lies outside the root %s",
              repository, root);
    }
    std::string dir = lock_dir + "/" + rel;
    struct stat sb;
    if (stat(dir.c_str(), &sb) == 0) {
        if (!S_ISDIR(sb.st_mode))
            error(1, 0, "%s is not a directory", dir);
    } else if (errno != ENOENT) {
        error(1, errno, "cannot stat directory %s", dir);
    } else {
        struct stat top;
        if (stat(lock_dir.c_str(), &top) != 0)
            error(1, errno, "cannot stat %s", lock_dir);
        mode_t mode = top.st_mode & 07777;
        mode_t old = umask(0);
        std::string cur = lock_dir;
        size_t i = 0;
        while (i <= rel.size()) {
            size_t slash = rel.find('/', i);
            if (slash == std::string::npos)
                slash = rel.size();
            cur += "/" + rel.substr(i, slash - i);
            struct stat lvl;
            if (stat(cur.c_str(), &lvl) == 0) {
                mode = lvl.st_mode & 07777;
            } else if (mkdir(cur.c_str(), mode) != 0 && errno != EEXIST) {
                umask(old);
                error(1, errno, "cannot make directory %s", cur);
            }
            i = slash + 1;
        }
        umask(old);
    }
    return dir + "/" + name;
}

// Format: doc/formats.md#repository-locks
int Reader_Lock(const char *repository) {
    if (noexec)
        return 0;
    ensure_cleanup_registered();
    if (readlock_held) {
        error(0, 0, "Reader_Lock called while read locks set - Help!");
        return 1;
    }
    if (readlock_name.empty())
        readlock_name = lock_file_name("#jol.rfl");
    global_readlock.repository = repository;
    if (set_lock(&global_readlock, true) != 0) {
        error(0, 0, "failed to obtain dir lock in repository `%s'", repository);
        readlock_name.clear();
        return 1;
    }
    std::string f = lock_name(repository, readlock_name);
    bool ok;
    {
        CriticalSection cs;
        ok = create_empty_file(f);
        if (ok)
            readlock_held = true;
    }
    if (!ok) {
        error(0, errno, "cannot create read lock in repository `%s'", repository);
        readlock_name.clear();
        clear_lock(&global_readlock);
        return 1;
    }
    clear_lock(&global_readlock);
    return 0;
}

// Format: doc/formats.md#repository-locks
int Writer_Lock(List *list) {
    if (noexec)
        return 0;
    ensure_cleanup_registered();
    if (locklist) {
        error(0, 0, "Writer_Lock called while write locks set - Help!");
        return 1;
    }
    std::string waited_on;
    for (;;) {
        int lock_error = 0;
        std::string lock_error_repos;
        locklist = list;
        lockers_name = "unknown";
        JOL_FOR_EACH_NODE(list, p) {
            if (lock_error != 0)
                break;
            lock_error_repos = *p->key;
            lock_error = write_lock(static_cast<lock *>(p->data));
        }
        if (lock_error == 1) {
            Lock_Cleanup();
            error(0, 0, "lock failed - giving up");
            return 1;
        }
        if (lock_error == 2) {
            remove_locks();
            const std::string master = lock_name(lock_error_repos, "#jol.lock");
            lock_wait(
                lock_error_repos,
                [&] { return exists(master) || readers_exist(lock_error_repos); },
                waited_on.empty());
            waited_on = lock_error_repos;
            continue;
        }
        if (lock_error == 0) {
            if (!waited_on.empty())
                lock_obtained(waited_on);
            return 0;
        }
        error(0, 0, "unknown lock status %d in Writer_Lock", lock_error);
        return 1;
    }
}

void lock_tree_for_write(int argc, char **argv, int local, int aflag) {
    lock_tree_list = getlist();
    start_recursion({.filesdoneproc = lock_filesdoneproc,
                     .argc = argc,
                     .argv = argv,
                     .local = local,
                     .which = WHICH_LOCAL,
                     .aflag = aflag,
                     .dosrcs = 0});
    sortlist(lock_tree_list, fsortcmp);
    if (Writer_Lock(lock_tree_list) != 0)
        error(1, 0, "lock failed - giving up");
}

int lock_dir_for_write(const char *repository) {
    if (!repository)
        return 0;
    if (!locked_dir.empty()) {
        if (locked_dir == repository)
            return 0;
        Lock_Cleanup();
    }
    locked_dir = repository;
    locked_list = getlist();
    Node *p = getnode();
    p->type = LOCK;
    p->key = locked_dir;
    auto *lk = new lock;
    lk->repository = locked_dir;
    p->data = lk;
    p->delproc = lock_delproc;
    addnode(locked_list, p);
    int r = Writer_Lock(locked_list);
    if (r != 0) {
        dellist(&locked_list);
        locked_dir.clear();
    }
    return r;
}

void Lock_Cleanup() {
    if (in_lock_cleanup)
        return;
    in_lock_cleanup = true;
    remove_locks();
    dellist(&lock_tree_list);
    if (!locked_dir.empty()) {
        dellist(&locked_list);
        locked_dir.clear();
    }
    in_lock_cleanup = false;
}
