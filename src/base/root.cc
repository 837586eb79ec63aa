// Root strings, JOL/Root, JOL/Repository and the allowed-roots list.
#include "src/base/root.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"

const char *const method_names[] = {"local", "server (rsh)", "pserver", "kserver",
                                    "gserver", "ext",          "fork",    nullptr};

std::string JOLroot_original;
JOLmethod JOLroot_method = local_method;
std::string JOLroot_username;
std::string JOLroot_hostname;
std::string JOLroot_directory;
int JOLroot_port = 0;
std::string JOLroot_proxy;
int JOLroot_proxy_port = 0;

namespace {

std::vector<std::string> root_allow_vector;

const char *const method_words[] = {"local", "server", "pserver", "kserver",
                                    "gserver", "ext",   "fork"};

}  // namespace

int parse_jolroot(const std::string &root) {
    JOLroot_original = root;
    JOLroot_directory.clear();
    JOLroot_username.clear();
    JOLroot_hostname.clear();
    std::string_view rest = root;

    if (!rest.empty() && rest[0] == ':') {
        rest.remove_prefix(1);
        if (rest.find(':') == std::string_view::npos) {
            error(0, 0, "bad JOLroot: %s", root);
            return 1;
        }
        size_t end = rest.find_first_of(":;#");
        std::string_view word = rest.substr(0, end);
        int m = -1;
        for (int i = 0; i < 7; ++i)
            if (word == method_words[i])
                m = i;
        if (m < 0) {
            error(0, 0, "unknown method in JOLroot: %s", root);
            return 1;
        }
        JOLroot_method = static_cast<JOLmethod>(m);
        char sep = rest[end];
        rest.remove_prefix(end + 1);
        while (sep == ';' || sep == '#') {
            size_t gend = rest.find_first_of(":;#");
            if (gend == std::string_view::npos)
                error(1, 0, "[semi]colon missing in %s", root);
            std::string group(rest.substr(0, gend));
            sep = rest[gend];
            rest.remove_prefix(gend + 1);
            if (group.rfind("port=", 0) == 0) {
                if (group.size() == 5)
                    error(1, 0, "no port specified in JOLROOT: %s", group);
                JOLroot_port = std::atoi(group.c_str() + 5);
            } else if (group.rfind("proxy=", 0) == 0) {
                if (group.size() == 6)
                    error(1, 0, "no proxy specified in JOLROOT: %s", group);
                JOLroot_proxy = group.substr(6);
            } else if (group.rfind("proxyport=", 0) == 0) {
                if (group.size() == 10)
                    error(1, 0, "no proxy port specified in JOLROOT: %s", group);
                JOLroot_proxy_port = std::atoi(group.c_str() + 10);
            } else {
                error(1, 0, "invalid semicolon expression in JOLROOT: %s", group);
            }
        }
    } else {
        JOLroot_method = rest.find(':') != std::string_view::npos ? ext_method : local_method;
    }

    client_active = JOLroot_method != local_method;

    if (JOLroot_method != local_method && JOLroot_method != fork_method) {
        size_t at = rest.find('@');
        if (at != std::string_view::npos) {
            JOLroot_username = std::string(rest.substr(0, at));
            rest.remove_prefix(at + 1);
        }
        size_t colon = rest.find(':');
        if (colon != std::string_view::npos) {
            JOLroot_hostname = std::string(rest.substr(0, colon));
            rest.remove_prefix(colon + 1);
        }
    }
    JOLroot_directory = std::string(rest);

    if (!JOLroot_username.empty() && JOLroot_hostname.empty()) {
        error(0, 0, "missing hostname in JOLROOT: %s", root);
        return 1;
    }
    bool user_or_host = !JOLroot_username.empty() || !JOLroot_hostname.empty();
    switch (JOLroot_method) {
    case local_method:
        if (user_or_host) {
            error(0, 0, "can't specify hostname and username in JOLROOT");
            error(0, 0, "when using local access method");
            error(0, 0, "(%s)", root);
            return 1;
        }
        if (!JOLroot_directory.empty() && !isabsolute(JOLroot_directory.c_str()))
            error(1, 0, "JOLROOT %s must be an absolute pathname", JOLroot_directory);
        break;
    case kserver_method:
        error(0, 0, "Your JOLROOT is set for a kerberos access method");
        error(0, 0, "but your JOL executable doesn't support it");
        error(0, 0, "(%s)", root);
        return 1;
    case fork_method:
        if (user_or_host) {
            error(0, 0, "can't specify hostname and username in JOLROOT");
            error(0, 0, "when using fork access method");
            error(0, 0, "(%s)", root);
            return 1;
        }
        break;
    default:
        if (JOLroot_hostname.empty()) {
            error(0, 0, "didn't specify hostname in JOLROOT: %s", root);
            return 1;
        }
        // The remote shell would take such a host name for an option.
        if (JOLroot_hostname[0] == '-') {
            error(0, 0, "bad hostname in JOLROOT: %s", root);
            return 1;
        }
        break;
    }
    if (JOLroot_directory.empty()) {
        error(0, 0, "missing directory in JOLROOT: %s", root);
        return 1;
    }
    return 0;
}

void set_local_jolroot(const std::string &dir) {
    JOLroot_original = dir;
    JOLroot_directory = dir;
    JOLroot_method = local_method;
    JOLroot_username.clear();
    JOLroot_hostname.clear();
    client_active = 0;
}

namespace {

std::string admin_path(const char *dir, const char *name) {
    return dir ? std::string(dir) + "/" + name : std::string(name);
}

const char *where_of(const char *update_dir) {
    return update_dir && *update_dir ? update_dir : ".";
}

// Opens an administrative file for reading; -1 with errno set when it
// cannot be opened.
int open_admin(const std::string &file) { return open(file.c_str(), O_RDONLY | O_CLOEXEC); }

// The first line of the open file `fd` without its newline; false on a read
// error. Closes `fd`.
bool read_first_line(int fd, std::string &line) {
    line.clear();
    char buf[4096];
    bool ok = true;
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        const char *nl = static_cast<const char *>(std::memchr(buf, '\n', static_cast<size_t>(n)));
        line.append(buf, nl ? static_cast<size_t>(nl - buf) : static_cast<size_t>(n));
        if (nl)
            break;
    }
    int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

// Whether a repository named by JOL/Root exists; each one is looked at once
// per run, since every directory of a working copy names the same one.
bool root_is_directory(const std::string &dir) {
    static std::set<std::string> seen;
    if (seen.count(dir))
        return true;
    if (!isdir(dir.c_str()))
        return false;
    seen.insert(dir);
    return true;
}

}  // namespace

// Format: doc/formats.md#root
std::optional<std::string> Name_Root(const char *dir, const char *update_dir) {
    std::string adm = admin_path(dir, "JOL");
    std::string file = admin_path(dir, "JOL/Root");
    if (!isdir(adm.c_str()))
        return std::nullopt;
    int fd = open_admin(file);
    if (fd < 0) {
        // Missing or unreadable: this directory names no root.
        if (errno == ENOENT || errno == EACCES || errno == ENOTDIR)
            return std::nullopt;
        error(1, errno, "cannot open %s", file);
    }
    std::string line;
    bool ok = read_first_line(fd, line);
    int saved = errno;
    if (!ok) {
        error(0, 0, "in directory %s:", where_of(update_dir));
        error(0, saved, "cannot read %s", "JOL/Root");
        error(0, 0, "please correct this problem");
        return std::nullopt;
    }
    if (line.find(':') == std::string::npos) {
        if (!isabsolute(line.c_str())) {
            error(0, 0, "in directory %s:", where_of(update_dir));
            error(0, 0, "ignoring %s because it does not contain an absolute pathname.",
                  "JOL/Root");
            return std::nullopt;
        }
        if (!root_is_directory(line)) {
            error(0, 0, "in directory %s:", where_of(update_dir));
            error(0, 0, "ignoring %s because it specifies a non-existent repository %s",
                  "JOL/Root", line);
            return std::nullopt;
        }
    }
    while (line.size() > 1 && line.back() == '/')
        line.pop_back();
    return line;
}

// Format: doc/formats.md#root
void Create_Root(const char *dir, const char *rootdir) {
    if (noexec || !rootdir)
        return;
    std::string file = admin_path(dir, "JOL/Root");
    FILE *fp = open_file(file.c_str(), "w+");
    if (std::fprintf(fp, "%s\n", rootdir) < 0)
        error(1, errno, "write to %s failed", file);
    if (std::fclose(fp) == EOF)
        error(1, errno, "cannot close %s", file);
}

// Format: doc/formats.md#repository
std::string Name_Repository(const char *dir, const char *update_dir) {
    const char *where = where_of(update_dir);
    std::string file = admin_path(dir, "JOL/Repository");
    int fd = open_admin(file);
    if (fd < 0) {
        int saved = errno;
        if (isdir(admin_path(dir, "JOL").c_str())) {
            if (saved == ENOENT) {
                error(0, 0, "in directory %s:", where);
                error(1, 0, "*PANIC* administration files missing");
            }
            error(1, saved, "cannot open %s", file);
        }
        error(0, 0, "in directory %s:", where);
        error(1, 0, "there is no version here; do '%s checkout' first", program_name);
    }
    std::string line;
    if (!read_first_line(fd, line)) {
        error(0, 0, "in directory %s:", where);
        error(1, errno, "cannot read %s", "JOL/Repository");
    }
    if (!isabsolute(line.c_str())) {
        if (JOLroot_original.empty()) {
            error(0, 0, "in directory %s:", where);
            error(0, 0, "must set the JOLROOT environment variable\n");
            error(0, 0, "or specify the '-d' option to %s.", program_name);
            error(1, 0, "illegal repository setting");
        }
        if (pathname_levels(line.c_str()) > 0) {
            error(0, 0, "in directory %s:", where);
            error(0, 0, "`..'-relative repositories are not supported.");
            error(1, 0, "illegal source repository");
        }
        line = JOLroot_directory + "/" + line;
    }
    Sanitize_Repository_Name(line);
    return line;
}

void Sanitize_Repository_Name(std::string &repository) {
    while (repository.size() > 1 && repository.back() == '/')
        repository.pop_back();
    if (repository.size() > 1 && repository.ends_with("/."))
        repository.resize(repository.size() - 2);
}

std::string Short_Repository(const std::string &repository) {
    if (repository.compare(0, JOLroot_directory.size(), JOLroot_directory) == 0) {
        std::string rest = repository.substr(JOLroot_directory.size());
        if (!rest.empty() && rest[0] == '/')
            rest.erase(0, 1);
        return rest;
    }
    return repository;
}

void root_allow_add(const char *dir) { root_allow_vector.emplace_back(dir); }

void root_allow_free() {
    root_allow_vector.clear();
    root_allow_vector.shrink_to_fit();
}

int root_allow_ok(const char *dir) {
    if (root_allow_vector.empty()) {
        std::printf("error 0 Server configuration missing --allow-root in inetd.conf\n");
        error_exit();
    }
    for (const std::string &r : root_allow_vector)
        if (r == dir)
            return 1;
    return 0;
}
