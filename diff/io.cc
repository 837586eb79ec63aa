// Reading the two files into lines.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "diff/diff_internal.h"

namespace jdiff {

bool Regexes::any_match(std::string_view line) const {
    if (list.empty())
        return false;
    std::string s(line);
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    for (const regex_t &r : list)
        if (regexec(&r, s.c_str(), 0, nullptr, 0) == 0)
            return true;
    return false;
}

void Output::flush() {
    if (buf_.empty())
        return;
    if (cb_ && cb_->write_output)
        cb_->write_output(buf_.data(), buf_.size());
    else
        std::fwrite(buf_.data(), 1, buf_.size(), fp_ ? fp_ : stdout);
    buf_.clear();
}

void Context::error(const char *fmt, const char *a1, const char *a2) const {
    if (cb && cb->error)
        cb->error(fmt, a1, a2);
    else {
        std::fprintf(stderr, "diff: ");
        std::fprintf(stderr, fmt, a1, a2);
        std::fputc('\n', stderr);
    }
}

void read_file(Context &cx, int i) {
    FileData &f = cx.files[i];
    if (!f.absent) {
        int fd = f.name == "-" ? 0 : open(f.name.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            cx.error("%s: %s", f.name.c_str(), std::strerror(errno));
            throw Fatal{};
        }
        if (fstat(fd, &f.st) == 0 && S_ISREG(f.st.st_mode) && f.st.st_size > 0)
            f.buf.reserve(static_cast<size_t>(f.st.st_size) + 5);
        char chunk[65536];
        for (;;) {
            ssize_t n = read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                int e = errno;
                if (fd)
                    close(fd);
                cx.error("%s: %s", f.name.c_str(), std::strerror(e));
                throw Fatal{};
            }
            if (n == 0)
                break;
            f.buf.append(chunk, static_cast<size_t>(n));
        }
        if (fd)
            close(fd);
    }
    if (!f.buf.empty() && f.buf.back() != '\n') {
        f.buf.push_back('\n');
        f.missing_newline = true;
    }
    f.line_start.clear();
    f.line_start.reserve(f.buf.size() / 32 + 2);
    f.line_start.push_back(0);
    const char *base = f.buf.data();
    size_t pos = 0, size = f.buf.size();
    while (pos < size) {
        const void *nl = std::memchr(base + pos, '\n', size - pos);
        pos = static_cast<size_t>(static_cast<const char *>(nl) - base) + 1;
        f.line_start.push_back(pos);
    }
}

}  // namespace jdiff
