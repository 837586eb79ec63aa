// The lock file ",name," that holds a rewritten archive until it is
// complete; created exclusively, so two writers of one archive never mix.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/globals.h"
#include "src/base/sighandle.h"
#include "src/rcs/rcs_write.h"

namespace {

std::string rcs_lockfile;
int rcs_lockfd = -1;

void cleanup_on_signal(int) { rcs_cleanup(); }

}  // namespace

// Format: doc/formats.md#archive-lock-file
std::string rcs_lockfilename(const std::string &path) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.size() >= 2)
        base.resize(base.size() - 2);
    return dir + "," + base + ",";
}

void rcs_cleanup() {
    if (rcs_lockfile.empty())
        return;
    std::string name = rcs_lockfile;
    rcs_lockfile.clear();
    if (rcs_lockfd >= 0 && close(rcs_lockfd) != 0)
        error(0, errno, "error closing lock file %s", name);
    rcs_lockfd = -1;
    if (unlink(name.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "cannot remove %s", name);
}

// Format: doc/formats.md#archive-lock-file
FILE *rcs_internal_lockfile(const std::string &path) {
    static bool registered = false;
    if (!registered) {
        for (int sig : {SIGABRT, SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM})
            SIG_register(sig, cleanup_on_signal);
        register_cleanup(CleanupStage::archive_locks, rcs_cleanup);
        registered = true;
    }
    jol_assert(rcs_lockfile.empty());
    struct stat sb;
    mode_t mode = 0444;
    if (stat(path.c_str(), &sb) == 0)
        mode = sb.st_mode & 07777;
    else if (errno != ENOENT)
        error(1, errno, "cannot stat %s", path);
    std::string lockname = rcs_lockfilename(path);
    int fd;
    {
        CriticalSection cs;
        fd = open(lockname.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, 0444);
        if (fd >= 0) {
            rcs_lockfile = lockname;
            rcs_lockfd = fd;
        }
    }
    if (fd < 0)
        error(1, errno, "could not open lock file `%s'", lockname);
    if (fchmod(fd, mode) != 0)
        error(1, errno, "cannot change mode for %s", lockname);
    FILE *fp = fdopen(fd, "wb");
    if (!fp)
        error(1, errno, "cannot fdopen %s", lockname);
    return fp;
}

// Format: doc/formats.md#archive-lock-file
bool rcs_internal_unlockfile(FILE *fp, const std::string &path, bool must_be_new) {
    jol_assert(!rcs_lockfile.empty());
    if (std::ferror(fp) || std::fflush(fp) != 0)
        error(1, errno, "error writing to lock file %s", rcs_lockfile);
    // The new archive reaches the disk before it replaces the old one, so a
    // power loss cannot leave an empty archive behind.
    if (fsync(fileno(fp)) != 0)
        error(1, errno, "error writing to lock file %s", rcs_lockfile);
    int r;
    {
        CriticalSection cs;
        r = std::fclose(fp);
        rcs_lockfd = -1;
    }
    if (r != 0)
        error(1, errno, "error closing lock file %s", rcs_lockfile);
    if (must_be_new) {
        // link() never replaces an existing name; it is traced as the rename it stands for.
        trace_op("rename(" + rcs_lockfile + "," + path + ")");
        CriticalSection cs;
        if (link(rcs_lockfile.c_str(), path.c_str()) != 0) {
            int e = errno;
            std::string name = rcs_lockfile;
            unlink(name.c_str());
            rcs_lockfile.clear();
            if (e == EEXIST)
                return false;
            error(1, e, "cannot rename file %s to %s", name, path);
        }
        unlink(rcs_lockfile.c_str());
        rcs_lockfile.clear();
        return true;
    }
    {
        CriticalSection cs;
        // The lock file was written whatever -n says (callers settle -n).
        rename_file(rcs_lockfile.c_str(), path.c_str(), {.honour_noexec = false});
        rcs_lockfile.clear();
    }
    return true;
}
