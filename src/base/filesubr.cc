// File tests and small path helpers.
#include "src/base/filesubr.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/globals.h"

int isdir(const char *file) {
    struct stat sb;
    return stat(file, &sb) == 0 && S_ISDIR(sb.st_mode);
}

int islink(const char *file) {
    struct stat sb;
    return lstat(file, &sb) == 0 && S_ISLNK(sb.st_mode);
}

int isdevice(const char *file) {
    struct stat sb;
    return lstat(file, &sb) == 0 && (S_ISBLK(sb.st_mode) || S_ISCHR(sb.st_mode));
}

int isfile(const char *file) { return isaccessible(file, F_OK); }
int isreadable(const char *file) { return isaccessible(file, R_OK); }
int iswritable(const char *file) { return isaccessible(file, W_OK); }
int isaccessible(const char *file, int mode) { return access(file, mode) == 0; }
int isabsolute(const char *path) { return path[0] == '/'; }

FILE *open_file(const char *name, const char *mode) {
    FILE *fp = std::fopen(name, mode);
    if (!fp)
        error(1, errno, "cannot open %s", name);
    return fp;
}

const char *last_component(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash && slash != path ? slash + 1 : path;
}

int pathname_levels(const char *path) {
    int level = 0, max_level = 0;
    const char *p = path;
    while (*p) {
        const char *q = std::strchr(p, '/');
        size_t len = q ? static_cast<size_t>(q - p) : std::strlen(p);
        if (len == 2 && p[0] == '.' && p[1] == '.')
            --level;
        else if (!(len == 0 || (len == 1 && p[0] == '.')))
            ++level;
        if (-level > max_level)
            max_level = -level;
        if (!q)
            break;
        p = q + 1;
    }
    return max_level;
}

std::optional<std::string> get_homedir() {
    if (auto env = jolguiglue_getenv("HOME"))
        return env;
    static std::optional<std::string> from_passwd;
    if (!from_passwd)
        if (struct passwd *pw = getpwuid(getuid()))
            from_passwd = pw->pw_dir;
    return from_passwd;
}

std::optional<std::string> create_temp_file(std::string *tried) {
    std::string templ = Tmpdir + "/jolXXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (tried)
        *tried = buf.data();
    if (fd < 0)
        return std::nullopt;
    close(fd);
    return std::string(buf.data());
}

std::string jol_temp_name() {
    auto name = create_temp_file();
    if (!name)
        error(1, errno, "cannot generate temporary filename");
    return *name;
}

bool read_whole_file(const char *path, std::string &out, int &err) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        return false;
    }
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            err = errno;
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}
