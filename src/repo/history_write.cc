// Writing history records.
#include "src/base/identity.h"
#include "src/repo/history.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/rcs/rcs.h"
#include "src/repo/parseinfo.h"

namespace {

// The starting directory with a leading home directory written as "~".
const std::string &working_dir_field() {
    static std::string field;
    static bool done = false;
    if (done)
        return field;
    done = true;
    field = CurDir;
    if (auto home = get_homedir()) {
        std::string h = *home;
        char real[PATH_MAX];
        std::string physical = realpath(h.c_str(), real) ? std::string(real) : h;
        for (const std::string &prefix : {h, physical}) {
            if (!prefix.empty() && field.compare(0, prefix.size(), prefix) == 0 &&
                (field.size() == prefix.size() || field[prefix.size()] == '/')) {
                field = "~" + field.substr(prefix.size());
                break;
            }
        }
    }
    return field;
}

// A field as written: control characters and the field separator become
// "?", so that no name can end a record early or shift its fields.
std::string field(const char *text) {
    std::string out = text ? text : "";
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '|')
            c = '?';
    return out;
}

}  // namespace

// Format: doc/formats.md#history
void history_write(char type, const char *update_dir, const char *revs, const char *name,
                   const char *repository) {
    // Set once the journal is missing or a write to it failed: the command
    // itself has already succeeded, so it is warned about once and the rest
    // of the process writes no records.
    static bool history_off = false;
    if (logoff || history_off || logHistory.find(type) == std::string::npos)
        return;
    std::string path = JOLroot_directory + "/JOLROOT/history";
    struct stat sb;
    if (stat(path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) {
        history_off = true;
        return;
    }
    if (trace)
        jol_outerr(std::string(server_active ? "S" : " ") + "-> fopen(" + path + ",a)\n");
    if (noexec)
        return;
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (!really_quiet)
            error(0, errno, "warning: cannot write to history file %s", path);
        history_off = true;
        return;
    }
    std::string wd = field(working_dir_field().c_str());
    if (type != 'T' && update_dir && *update_dir)
        wd += "/" + field(update_dir);
    // A "*" of its own would read back as a suffix mark.
    std::replace(wd.begin(), wd.end(), '*', '?');
    std::string repos;
    if (type == 'T')
        repos = field(repository);
    else if (repository)
        repos = field(Short_Repository(repository).c_str());

    // Suffix compression: a common tail of the directory and the
    // repository field is written as "*" and its offset in the latter.
    size_t common = 0;
    while (common < wd.size() && common < repos.size() &&
           wd[wd.size() - 1 - common] == repos[repos.size() - 1 - common])
        ++common;
    if (common > 2) {
        size_t start = repos.size() - common;
        char off[32];
        std::snprintf(off, sizeof off, "*%zx", start);
        wd = wd.substr(0, wd.size() - common) + off;
    }

    char head[64];
    std::snprintf(head, sizeof head, "%c%08lx|", type, static_cast<unsigned long>(time(nullptr)));
    std::string line = std::string(head) + field(getcaller()) + "|" + wd + "|" + repos + "|" +
                       field(revs) + "|" + field(name) + "\n";
    const char *failed = nullptr;
    int err = 0;
    if (lseek(fd, 0, SEEK_END) < 0) {
        failed = "cannot seek to end of history file: %s";
        err = errno;
    } else {
        ssize_t n = write(fd, line.data(), line.size());
        if (n != static_cast<ssize_t>(line.size())) {
            failed = "cannot write to history file: %s";
            err = n < 0 ? errno : ENOSPC;
        }
    }
    if (close(fd) != 0 && !failed) {
        failed = "cannot close history file: %s";
        err = errno;
    }
    if (failed) {
        error(0, err, failed, path);
        history_off = true;
    }
}
