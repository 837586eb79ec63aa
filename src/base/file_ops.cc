// File and directory helpers with tracing (-t) and the no-change rule (-n).
#include "src/base/file_ops.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/base/output.h"

namespace {

// Closes a descriptor on every way out.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd >= 0)
            close(fd);
    }
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

bool write_all(int fd, const char *buf, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, buf, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

void copy_times(const char *to, const struct stat &sb) {
    struct utimbuf t;
    t.actime = sb.st_atime;
    t.modtime = sb.st_mtime;
    utime(to, &t);
}

}  // namespace

void trace_op(const std::string &operation) {
    if (trace)
        jol_outerr(std::string(server_active ? "S" : " ") + "-> " + operation + "\n");
}

void copy_file(const char *from, const char *to) {
    trace_op(std::string("copy(") + from + "," + to + ")");
    if (noexec)
        return;
    struct stat sb;
    if (lstat(from, &sb) != 0)
        fatal(errno, "cannot stat %s", from);
    if (S_ISLNK(sb.st_mode)) {
        std::optional<std::string> target = xreadlink(from);
        if (!target || symlink(target->c_str(), to) != 0)
            fatal(errno, "cannot create %s for copying", to);
        return;
    }
    if (S_ISBLK(sb.st_mode) || S_ISCHR(sb.st_mode)) {
        if (mknod(to, sb.st_mode, sb.st_rdev) != 0)
            fatal(errno, "cannot create %s for copying", to);
        copy_times(to, sb);
        return;
    }
    Fd in(open(from, O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        fatal(errno, "cannot open %s for copying", from);
    if (fstat(in.fd, &sb) != 0)
        fatal(errno, "cannot fstat %s", from);
    Fd out(open(to, O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, sb.st_mode & 07777));
    if (out.fd < 0)
        fatal(errno, "cannot create %s for copying", to);
    char buf[65536];
    for (;;) {
        ssize_t n = read(in.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fatal(errno, "cannot read file %s for copying", from);
        if (n == 0)
            break;
        if (!write_all(out.fd, buf, static_cast<size_t>(n)))
            fatal(errno, "cannot write file %s for copying", to);
    }
    if (fsync(out.fd) != 0)
        fatal(errno, "cannot fsync file %s after copying", to);
    if (close(in.release()) != 0)
        error(0, errno, "cannot close %s", from);
    if (close(out.release()) != 0)
        fatal(errno, "cannot close %s", to);
    copy_times(to, sb);
}

int xcmp(const char *file1, const char *file2) {
    struct stat sb1, sb2;
    if (lstat(file1, &sb1) != 0)
        fatal(errno, "cannot lstat %s", file1);
    if (lstat(file2, &sb2) != 0)
        fatal(errno, "cannot lstat %s", file2);
    if ((sb1.st_mode & S_IFMT) != (sb2.st_mode & S_IFMT))
        return 1;
    if (S_ISLNK(sb1.st_mode))
        return xreadlink(file1) == xreadlink(file2) ? 0 : 1;
    if (S_ISBLK(sb1.st_mode) || S_ISCHR(sb1.st_mode))
        return sb1.st_rdev == sb2.st_rdev ? 0 : 1;
    Fd fd1(open(file1, O_RDONLY | O_CLOEXEC));
    if (fd1.fd < 0)
        fatal(errno, "cannot open file %s for comparing", file1);
    Fd fd2(open(file2, O_RDONLY | O_CLOEXEC));
    if (fd2.fd < 0)
        fatal(errno, "cannot open file %s for comparing", file2);
    if (sb1.st_size != sb2.st_size)
        return 1;
    if (sb1.st_size == 0)
        return 0;
    switch (compare_contents(fd1.fd, fd2.fd)) {
    case 0: return 0;
    case -1: fatal(errno, "cannot read file %s for comparing", file1);
    case -2: fatal(errno, "cannot read file %s for comparing", file2);
    default: return 1;
    }
}

int compare_contents(int fd1, int fd2) {
    std::vector<char> buf1(8192), buf2(8192);
    for (;;) {
        ssize_t n1 = block_read(fd1, buf1.data(), buf1.size());
        if (n1 < 0)
            return -1;
        ssize_t n2 = block_read(fd2, buf2.data(), buf2.size());
        if (n2 < 0)
            return -2;
        if (n1 != n2)
            return 1;
        if (std::memcmp(buf1.data(), buf2.data(), static_cast<size_t>(n1)) != 0)
            return 1;
        if (static_cast<size_t>(n1) < buf1.size())
            return 0;
    }
}

bool files_equal(const char *file1, const char *file2) {
    Fd fd1(open(file1, O_RDONLY | O_CLOEXEC));
    Fd fd2(open(file2, O_RDONLY | O_CLOEXEC));
    return fd1.fd >= 0 && fd2.fd >= 0 && compare_contents(fd1.fd, fd2.fd) == 0;
}

int rename_file(const char *from, const char *to, rename_how how) {
    if (how.traced)
        trace_op(std::string("rename(") + from + "," + to + ")");
    if (noexec && how.honour_noexec)
        return 0;
    if (rename(from, to) == 0)
        return 0;
    if (how.fatal)
        fatal(errno, "cannot rename file %s to %s", from, to);
    return -1;
}

int unlink_file(const char *name) {
    trace_op(std::string("unlink(") + name + ")");
    if (noexec)
        return 0;
    return unlink(name);
}

int unlink_file_dir(const char *name) {
    if (!server_active)
        trace_op(std::string("unlink_file_dir(") + name + ")");
    if (noexec)
        return 0;
    struct stat sb;
    if (lstat(name, &sb) != 0)
        return -1;
    if (S_ISDIR(sb.st_mode))
        return deep_remove_dir(name);
    return unlink(name);
}

int deep_remove_dir(const char *path) {
    if (rmdir(path) == 0)
        return 0;
    if (errno != ENOTEMPTY && errno != EEXIST)
        return -1;
    DIR *dirp = opendir(path);
    if (!dirp)
        return -1;
    std::vector<std::string> names;
    errno = 0;
    while (struct dirent *dp = readdir(dirp)) {
        if (std::strcmp(dp->d_name, ".") != 0 && std::strcmp(dp->d_name, "..") != 0)
            names.emplace_back(dp->d_name);
        errno = 0;
    }
    int read_errno = errno;
    closedir(dirp);
    if (read_errno != 0) {
        errno = read_errno;
        return -1;
    }
    for (const std::string &name : names) {
        std::string entry = std::string(path) + "/" + name;
        struct stat sb;
        // lstat, so that a link to a directory is removed, not followed.
        if (lstat(entry.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode)) {
            if (deep_remove_dir(entry.c_str()) != 0)
                return -1;
        } else if (unlink(entry.c_str()) != 0) {
            return -1;
        }
    }
    return rmdir(path);
}

void make_directory(const char *name) {
    struct stat sb;
    if (stat(name, &sb) == 0 && !S_ISDIR(sb.st_mode))
        error(0, 0, "%s already exists but is not a directory", name);
    if (!noexec && mkdir(name, 0777) != 0)
        fatal(errno, "cannot make directory %s", name);
}

void make_directories(const char *name) {
    if (noexec)
        return;
    if (mkdir(name, 0777) == 0 || errno == EEXIST)
        return;
    if (errno != ENOENT) {
        error(0, errno, "cannot make path to %s", name);
        return;
    }
    std::string parent(name);
    size_t slash = parent.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return;
    parent.erase(slash);
    make_directories(parent.c_str());
    (void)mkdir(name, 0777);
}

int mkdir_if_needed(const char *name) {
    if (mkdir(name, 0777) == 0)
        return 0;
    int e = errno;
    struct stat sb;
    if (e == EEXIST || (e == EACCES && stat(name, &sb) == 0 && S_ISDIR(sb.st_mode)))
        return 1;
    fatal(e, "cannot make directory %s", name);
}

namespace {

// The process's file creation mask. The code that changes it (to create
// repository files with JOLUMASK) puts it back at once, so one reading
// serves the whole run.
mode_t process_umask() {
    static const mode_t mask = [] {
        mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return mask;
}

}  // namespace

void xchmod(const char *file, int writable) {
    if (preserve_perms)
        return;
    struct stat sb;
    if (stat(file, &sb) != 0) {
        if (!noexec)
            error(0, errno, "cannot stat %s", file);
        return;
    }
    mode_t mask = process_umask();
    mode_t mode;
    if (writable) {
        mode = sb.st_mode;
        if (sb.st_mode & S_IRUSR)
            mode |= S_IWUSR & ~mask;
        if (sb.st_mode & S_IRGRP)
            mode |= S_IWGRP & ~mask;
        if (sb.st_mode & S_IROTH)
            mode |= S_IWOTH & ~mask;
    } else {
        mode = sb.st_mode & ~mask & 0177555;
    }
    char octal[16];
    std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(mode));
    trace_op(std::string("chmod(") + file + "," + octal + ")");
    if (noexec)
        return;
    if (chmod(file, mode) != 0)
        error(0, errno, "cannot change mode of file %s", file);
}

ssize_t block_read(int fd, char *buf, size_t nchars) {
    size_t done = 0;
    while (done < nchars) {
        ssize_t n = read(fd, buf + done, nchars - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

std::optional<std::string> xreadlink(const char *link) {
    struct stat sb;
    if (lstat(link, &sb) != 0 || !S_ISLNK(sb.st_mode))
        return std::nullopt;
    std::vector<char> buf(128);
    for (;;) {
        ssize_t n = readlink(link, buf.data(), buf.size());
        if (n < 0 && errno != ENAMETOOLONG)
            fatal(errno, "cannot readlink %s", link);
        // A result that fills the buffer may have been cut short.
        if (n >= 0 && static_cast<size_t>(n) < buf.size())
            return std::string(buf.data(), static_cast<size_t>(n));
        if (buf.size() > (1u << 20))
            fatal(ENAMETOOLONG, "cannot readlink %s", link);
        buf.resize(buf.size() * 2);
    }
}

void resolve_symlink(std::string &filename) {
    for (int hops = 0;; ++hops) {
        std::optional<std::string> target = xreadlink(filename.c_str());
        if (!target)
            return;
        if (hops >= symlink_hop_limit)
            fatal(ELOOP, "cannot resolve %s", filename);
        if (!target->empty() && (*target)[0] == '/') {
            filename = *target;
        } else {
            size_t slash = filename.rfind('/');
            filename = slash == std::string::npos ? *target
                                                  : filename.substr(0, slash + 1) + *target;
        }
    }
}

// Format: doc/formats.md#working-temporary-files
std::string backup_file(const char *file, const char *suffix) {
    std::string name = std::string(".#") + file;
    if (suffix)
        name += std::string(".") + suffix;
    if (access(file, F_OK) == 0)
        copy_file(file, name.c_str());
    return name;
}

std::string get_file(const char *name, const char *fullname) {
    const char *shown = fullname ? fullname : name ? name : "standard input";
    Fd fd(name ? open(name, O_RDONLY | O_CLOEXEC) : dup(0));
    if (fd.fd < 0)
        fatal(errno, "cannot open %s", shown);
    struct stat sb;
    if (fstat(fd.fd, &sb) != 0)
        fatal(errno, "can't stat %s", shown);
    std::string out;
    if (S_ISREG(sb.st_mode) && sb.st_size > 0)
        out.reserve(static_cast<size_t>(sb.st_size) + 100);
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fatal(errno, "can't read %s", shown);
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    if (close(fd.release()) != 0)
        error(0, errno, "cannot close %s", shown);
    return out;
}

namespace {

// A line that opens, separates or closes the two sides of a conflict;
// `ended` tells whether a line end follows `line`.
bool is_conflict_marker(std::string_view line, bool ended) {
    return line.starts_with("<<<<<<< ") || line.starts_with(">>>>>>> ") ||
           (ended && line == "=======");
}

}  // namespace

int file_has_markers(const char *file, const char *fullname) {
    FILE *fp = std::fopen(file, "r");
    if (!fp)
        fatal(errno, "cannot open %s", fullname ? fullname : file);
    LineReader lines(fp);
    int found = 0;
    while (!found) {
        std::optional<std::string_view> line = lines.next();
        if (!line)
            break;
        for (std::string_view rest = *line;;) {
            size_t cr = rest.find('\r');
            if (is_conflict_marker(rest.substr(0, cr), cr != rest.npos || lines.newline())) {
                found = 1;
                break;
            }
            if (cr == rest.npos)
                break;
            rest.remove_prefix(cr + 1);
        }
    }
    if (std::ferror(fp))
        error(0, errno, "cannot read %s", fullname ? fullname : file);
    std::fclose(fp);
    return found;
}

int fopen_case(const char *name, const char *mode, FILE **fp, std::string *pathp) {
    const char *slash = std::strrchr(name, '/');
    if (!slash)
        fatal(0, "internal error: relative pathname in fopen_case");
    const std::string dir =
        slash == name ? std::string(1, '/') : std::string(name, static_cast<size_t>(slash - name));
    std::string want(slash + 1);
    for (char &c : want)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    *fp = nullptr;
    DIR *dirp = opendir(dir.c_str());
    if (!dirp) {
        if (errno == ENOENT)
            return ENOENT;
        fatal(errno, "cannot read directory %s", dir);
    }
    std::optional<std::string> found;
    while (struct dirent *dp = readdir(dirp)) {
        std::string entry(dp->d_name);
        std::string lower = entry;
        for (char &c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower != want)
            continue;
        if (found) {
            closedir(dirp);
            fatal(0, "%s is ambiguous; could mean %s or %s", name, *found, entry);
        }
        found = entry;
    }
    closedir(dirp);
    if (!found)
        return ENOENT;
    std::string path = (dir == "/" ? std::string() : dir) + "/" + *found;
    *fp = std::fopen(path.c_str(), mode);
    if (!*fp)
        return errno;
    if (pathp)
        *pathp = path;
    return 0;
}

void strip_trailing_slashes(std::string &path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
}

std::optional<std::string> xgetwd() {
    std::vector<char> buf(1026);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE)
            return std::nullopt;
        buf.resize(buf.size() + 32);
    }
    return std::string(buf.data());
}

int save_cwd(saved_cwd &cwd) {
    cwd.name.reset();
    cwd.desc = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (cwd.desc >= 0)
        return 0;
    cwd.name = xgetwd();
    if (cwd.name)
        return 0;
    error(0, errno, "cannot open current directory");
    return 1;
}

int restore_cwd(const saved_cwd &cwd, const char *name) {
    if (cwd.desc >= 0) {
        if (fchdir(cwd.desc) == 0)
            return 0;
        error(0, errno, "cannot return to %s", name ? name : "saved working directory");
        return 1;
    }
    if (cwd.name && chdir(cwd.name->c_str()) != 0) {
        error(0, errno, "%s", *cwd.name);
        return 1;
    }
    return 0;
}

saved_cwd::~saved_cwd() {
    if (desc >= 0)
        close(desc);
}

void free_cwd(saved_cwd &cwd) {
    if (cwd.desc >= 0)
        close(cwd.desc);
    cwd.desc = -1;
    cwd.name.reset();
}

SavedCwd::SavedCwd() : fd_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0)
        error(1, errno, "cannot open current directory");
}

SavedCwd::~SavedCwd() {
    if (fchdir(fd_) != 0)
        error(1, errno, "cannot return to saved directory");
    close(fd_);
}
