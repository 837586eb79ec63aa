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

void write_info(const Context &cx, const char *text) {
    if (cx.cb && cx.cb->write_stdout)
        cx.cb->write_stdout(text);
    else
        std::fputs(text, stdout);
}

bool OutputTarget::open(const Context &cx, const char *out) {
    if (!out)
        return true;
    if (cx.cb && cx.cb->write_output) {
        cx.error("write callback with output file");
        return false;
    }
    fp_ = std::fopen(out, "w");
    if (!fp_) {
        cx.error("could not open output file");
        return false;
    }
    return true;
}

bool OutputTarget::finish(const Context &cx) {
    const bool to_callback = !fp_ && cx.cb && cx.cb->write_output;
    if (to_callback && cx.cb->flush_output)
        cx.cb->flush_output();
    FILE *stream = fp_ ? fp_ : to_callback ? nullptr : stdout;
    bool write_failed = stream && (std::fflush(stream) != 0 || std::ferror(stream));
    if (fp_) {
        FILE *fp = fp_;
        fp_ = nullptr;
        if (std::fclose(fp) != 0) {
            cx.error("close error on output file");
            return false;
        }
    }
    if (write_failed) {
        cx.error("write error");
        return false;
    }
    return true;
}

void read_file(Context &cx, int i) {
    FileData &f = cx.files[i];
    if (!f.absent && !f.in_memory) {
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
