// The password file: one line per root, "root scrambled-password". Read
// whole into memory that is wiped afterwards; every change writes a new
// file beside it and renames it over the old one.
#include "jolpass.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/root.h"

std::optional<std::string> jol_password;

namespace {

// Text that held passwords is overwritten before its memory is freed.
struct wiped_string {
    std::string text;
    wiped_string() = default;
    wiped_string(const wiped_string &) = delete;
    wiped_string &operator=(const wiped_string &) = delete;
    ~wiped_string() { explicit_bzero(text.data(), text.size()); }
};

// The whole file into `out` (sized up front, so no partial copy is left
// behind by growing); 0 or the system error of opening or reading.
int read_passfile(const std::string &file, wiped_string &out) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat sb;
    if (fstat(fd, &sb) != 0) {
        int err = errno;
        close(fd);
        return err;
    }
    out.text.resize(static_cast<size_t>(sb.st_size) + 4096);
    size_t have = 0;
    for (;;) {
        if (have == out.text.size()) {
            // The file grew while it was read: start again larger.
            wiped_string bigger;
            bigger.text.resize(out.text.size() * 2);
            std::memcpy(bigger.text.data(), out.text.data(), have);
            std::swap(out.text, bigger.text);
        }
        ssize_t n = read(fd, out.text.data() + have, out.text.size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            close(fd);
            return err;
        }
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    explicit_bzero(out.text.data() + have, out.text.size() - have);
    out.text.resize(have);
    if (close(fd) != 0)
        error(0, errno, "cannot close %s", file);
    return 0;
}

// The lines of `content`, each with its newline when it had one.
std::vector<std::string_view> split_lines(std::string_view content) {
    std::vector<std::string_view> lines;
    while (!content.empty()) {
        size_t nl = content.find('\n');
        size_t len = nl == std::string_view::npos ? content.size() : nl + 1;
        lines.push_back(content.substr(0, len));
        content.remove_prefix(len);
    }
    return lines;
}

std::string_view without_newline(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    return line;
}

// Replaces `file` by `content`: a new file created 0600 beside it (never an
// existing one), synced, then renamed over it. Failures before the rename
// leave the old file as it was; 0 on success.
int replace_passfile(const std::string &file, std::string_view content) {
    std::string tmp = file + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0)
        error(1, errno, "unable to open temp file %s", tmp);
    fchmod(fd, 0600);
    const char *p = content.data();
    size_t left = content.size();
    int err = 0;
    while (left > 0 && err == 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            err = errno;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (err == 0 && fsync(fd) != 0)
        err = errno;
    if (err != 0)
        error(0, err, "cannot write %s", tmp);
    if (close(fd) != 0 && err == 0) {
        err = errno;
        error(0, err, "cannot close %s", tmp);
    }
    if (err == 0 && rename_file(tmp.c_str(), file.c_str(),
                                {.honour_noexec = false, .fatal = false}) != 0) {
        err = errno;
        error(0, err, "cannot rename file %s to %s", tmp, file);
    }
    if (err != 0) {
        if (unlink(tmp.c_str()) != 0)
            error(0, errno, "cannot remove %s", tmp);
        return err;
    }
    if (chmod(file.c_str(), 0600) != 0)
        error(0, errno, "cannot change mode of file %s", file);
    return 0;
}

}  // namespace

std::string construct_jolpass_filename() {
    if (auto name = jolguiglue_getenv("JOL_PASSFILE"); name && !name->empty())
        return *name;
    std::optional<std::string> home = get_homedir();
    if (!home)
        error(1, 0, "could not find out home directory");
    return *home + "/.jolpass";
}

void require_pserver_root(const char *method_message) {
    if (JOLroot_method != pserver_method) {
        error(0, 0, "%s", method_message);
        error(1, 0, "JOLROOT: %s", JOLroot_original);
    }
    if (JOLroot_username.empty()) {
        error(0, 0, "JOLROOT \"%s\" is not fully-qualified.", JOLroot_original);
        error(1, 0, "Please make sure to specify \"user@host\"!");
    }
}

bool jolpass_line_of(std::string_view line, std::string_view root) {
    return line.size() > root.size() && line.starts_with(root) && line[root.size()] == ' ';
}

std::optional<std::string> get_jol_password() {
    if (jol_password)
        return jol_password;
    if (jolguiglue_getenv("JOL_PASSWORD"))
        error(0, 0, "JOL_PASSWORD is no longer supported; ignored");
    require_pserver_root("can only call GET_JOL_PASSWORD  with pserver method");
    std::string file = construct_jolpass_filename();
    wiped_string content;
    if (int err = read_passfile(file, content); err != 0) {
        if (err != ENOENT)
            error(0, err, "cannot read %s", file);
        return std::nullopt;
    }
    chmod(file.c_str(), 0600);
    for (std::string_view line : split_lines(content.text)) {
        line = without_newline(line);
        if (!jolpass_line_of(line, JOLroot_original))
            continue;
        std::string_view stored = line.substr(JOLroot_original.size() + 1);
        if (stored.empty())
            error(1, 0, "bad entry in %s for %s", file, JOLroot_original);
        return std::string(stored);
    }
    return std::nullopt;
}

void jolpass_store(const std::string &file, const std::string &root,
                   const std::string &scrambled) {
    wiped_string content;
    if (int err = read_passfile(file, content); err != 0 && err != ENOENT)
        error(1, err, "cannot open %s", file);
    wiped_string updated;
    // Room for every line at once: growing would free unwiped copies.
    std::vector<std::string_view> lines = split_lines(content.text);
    updated.text.reserve(content.text.size() +
                         (lines.size() + 1) * (root.size() + scrambled.size() + 3));
    auto append_entry = [&] {
        updated.text.append(root).append(" ").append(scrambled).append("\n");
    };
    bool found = false, differs = false;
    for (std::string_view line : lines) {
        if (!jolpass_line_of(without_newline(line), root)) {
            updated.text += line;
            continue;
        }
        found = true;
        differs = differs || without_newline(line).substr(root.size() + 1) != scrambled;
        append_entry();
    }
    if (!found) {
        if (!updated.text.empty() && updated.text.back() != '\n')
            updated.text += '\n';
        append_entry();
    }
    if (found && !differs) {
        chmod(file.c_str(), 0600);
        return;
    }
    if (replace_passfile(file, updated.text) != 0)
        error(1, 0, "could not store the password in %s", file);
}

bool jolpass_remove(const std::string &file, const std::string &root) {
    wiped_string content;
    if (int err = read_passfile(file, content); err != 0)
        error(1, err, "Error opening %s", file);
    wiped_string kept;
    kept.text.reserve(content.text.size());
    bool dropped = false;
    for (std::string_view line : split_lines(content.text)) {
        if (jolpass_line_of(without_newline(line), root))
            dropped = true;
        else
            kept.text += line;
    }
    if (!dropped)
        return false;
    if (replace_passfile(file, kept.text) != 0)
        error(1, 0, "could not remove the entry from %s", file);
    return true;
}
