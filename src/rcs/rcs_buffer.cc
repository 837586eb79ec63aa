// Loading archive bytes and splitting them into phrases.
#include "src/rcs/rcs_buffer.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

#include "src/base/error.h"

namespace {

// The administrative phrases and the revision tree of a typical archive
// fit in the first load; commands that need only them (status, update of
// an unchanged file, the check pass of commit) never read the texts. The
// second load takes the rest at once.
constexpr size_t first_load = 8 * 1024;

}  // namespace

RcsBuffer::RcsBuffer(int fd, std::string filename) : fd_(fd), filename_(std::move(filename)) {
    if (fstat(fd_, &st_) != 0)
        error(1, errno, "cannot fstat %s", filename_);
    capacity_ = st_.st_size > 0 ? static_cast<size_t>(st_.st_size) : 0;
    // One extra byte so that an empty file still has a valid block.
    bytes_.reset(new (std::nothrow) char[capacity_ + 1]);
    if (!bytes_)
        error(1, 0, "out of memory; can not allocate %lu bytes",
              static_cast<unsigned long>(capacity_ + 1));
}

RcsBuffer::~RcsBuffer() {
    if (fd_ >= 0 && close(fd_) != 0)
        error(0, errno, "cannot close %s", filename_);
}

bool RcsBuffer::load_more() {
    if (complete_)
        return false;
    if (loaded_ >= capacity_) {
        // Bytes appended after the file was opened are not part of it.
        complete_ = true;
        return false;
    }
    size_t want = loaded_ < first_load ? first_load : capacity_ - loaded_;
    if (want > capacity_ - loaded_)
        want = capacity_ - loaded_;
    size_t got = 0;
    while (got < want) {
        ssize_t n = pread(fd_, bytes_.get() + loaded_ + got, want - got,
                          static_cast<off_t>(loaded_ + got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error(1, errno, "cannot read %s", filename_);
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    loaded_ += got;
    if (got < want || loaded_ >= capacity_)
        complete_ = true;
    return got > 0;
}

size_t RcsBuffer::ensure(size_t n) {
    while (loaded_ < n && load_more()) {
    }
    return loaded_;
}

bool rcs_is_whitespace(char c) { return (c >= '\b' && c <= '\r') || c == ' '; }

std::string rcs_unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const void *at = std::memchr(s.data() + i, '@', s.size() - i);
        size_t j = at ? static_cast<size_t>(static_cast<const char *>(at) - s.data()) : s.size();
        out.append(s, i, j - i);
        if (j >= s.size())
            break;
        out += '@';
        i = j + 1;
        if (i < s.size() && s[i] == '@')
            ++i;
    }
    return out;
}

std::string rcs_escape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 16);
    for (char c : s) {
        out += c;
        if (c == '@')
            out += '@';
    }
    return out;
}

std::string Phrase::copy(bool polish) const {
    switch (kind) {
    case Kind::none: return std::string();
    case Kind::string:
        return embedded_at > 0 ? rcs_unescape(value) : std::string(value);
    case Kind::mixed: return std::string(value);
    case Kind::plain:
        if (!polish)
            return std::string(value);
        {
            std::string out;
            out.reserve(value.size());
            bool in_ws = false;
            for (char c : value) {
                if (rcs_is_whitespace(c)) {
                    if (!in_ws)
                        out += ' ';
                    in_ws = true;
                } else {
                    out += c;
                    in_ws = false;
                }
            }
            return out;
        }
    }
    return std::string();
}

bool RcsLexer::byte_at(size_t i, char &c) {
    if (i >= buf_.loaded() && buf_.ensure(i + 1) <= i)
        return false;
    c = buf_.data()[i];
    return true;
}

size_t RcsLexer::skip_ws(size_t from) {
    for (;;) {
        const char *d = buf_.data();
        size_t end = buf_.loaded();
        while (from < end && rcs_is_whitespace(d[from]))
            ++from;
        if (from < end)
            return from;
        if (!buf_.load_more())
            return std::string_view::npos;
    }
}

size_t RcsLexer::find(char c, size_t from) {
    for (;;) {
        size_t end = buf_.loaded();
        if (from < end) {
            const void *hit = std::memchr(buf_.data() + from, c, end - from);
            if (hit)
                return static_cast<size_t>(static_cast<const char *>(hit) - buf_.data());
            from = end;
        }
        if (!buf_.load_more())
            return std::string_view::npos;
    }
}

void RcsLexer::eof_error(const char *message) { fatal(0, message, buf_.filename()); }

size_t RcsLexer::string_end(size_t start, int &pairs) {
    size_t i = start;
    for (;;) {
        size_t at = find('@', i);
        if (at == std::string_view::npos)
            eof_error("EOF while looking for end of string in RCS file %s");
        char next;
        if (byte_at(at + 1, next) && next == '@') {
            ++pairs;
            i = at + 2;
            continue;
        }
        return at;
    }
}

// Format: doc/formats.md#rcs-archive-as-accepted
bool RcsLexer::getkey(Phrase &ph) {
    ph = Phrase{};
    size_t p = skip_ws(pos_);
    if (p == std::string_view::npos) {
        pos_ = buf_.loaded();
        return false;
    }
    // The key runs to whitespace or ";".
    size_t k = p;
    char c;
    for (;;) {
        if (!byte_at(k, c))
            eof_error("EOF in key in RCS file %s");
        if (c == ';' || rcs_is_whitespace(c))
            break;
        ++k;
    }
    const char *d = buf_.data();
    ph.key = std::string_view(d + p, k - p);
    if (c == ';') {
        pos_ = k + 1;
        return true;
    }
    size_t v = skip_ws(k);
    if (v == std::string_view::npos)
        eof_error("EOF while looking for value in RCS file %s");
    d = buf_.data();
    if (d[v] == ';') {
        pos_ = v + 1;
        return true;
    }
    bool text_key = ph.key == "desc" || ph.key == "text" || ph.key == "log";
    if (d[v] == '@') {
        int pairs = 0;
        size_t close = string_end(v + 1, pairs);
        d = buf_.data();
        if (text_key) {
            if (close > v + 1) {
                ph.kind = Phrase::Kind::string;
                ph.value = std::string_view(d + v + 1, close - v - 1);
                ph.embedded_at = pairs;
            }
            pos_ = close + 1;
            return true;
        }
        size_t after = skip_ws(close + 1);
        if (after == std::string_view::npos)
            eof_error("EOF in value in RCS file %s");
        d = buf_.data();
        if (d[after] == ';') {
            if (close > v + 1) {
                ph.kind = Phrase::Kind::string;
                ph.value = std::string_view(d + v + 1, close - v - 1);
                ph.embedded_at = pairs;
            }
            pos_ = after + 1;
            return true;
        }
        // Something other than ";" after the string: a mixed value, read
        // again from its opening "@".
    } else if (text_key) {
        // Not a string: no value; the bytes after the key are read next.
        pos_ = k;
        return true;
    }

    // A plain or mixed value runs to the next ";" outside "@" strings.
    bool mixed = false;
    size_t i = v;
    size_t semi;
    for (;;) {
        semi = find(';', i);
        if (semi == std::string_view::npos)
            eof_error("EOF in value in RCS file %s");
        const void *hit = std::memchr(buf_.data() + i, '@', semi - i);
        if (!hit)
            break;
        size_t at = static_cast<size_t>(static_cast<const char *>(hit) - buf_.data());
        mixed = true;
        int pairs = 0;
        i = string_end(at + 1, pairs) + 1;
    }
    d = buf_.data();
    size_t end = semi;
    while (end > v && rcs_is_whitespace(d[end - 1]))
        --end;
    if (end > v) {
        ph.value = std::string_view(d + v, end - v);
        ph.kind = mixed ? Phrase::Kind::mixed : Phrase::Kind::plain;
        if (mixed)
            ph.embedded_at = -1;
    }
    pos_ = semi + 1;
    return true;
}

// Format: doc/formats.md#rcs-archive-as-accepted
bool RcsLexer::getrevnum(std::string_view &rev) {
    size_t p = skip_ws(pos_);
    if (p == std::string_view::npos) {
        pos_ = buf_.loaded();
        return false;
    }
    size_t i = p;
    char c;
    for (;;) {
        if (!byte_at(i, c))
            eof_error("unexpected EOF reading revision number in RCS file %s");
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.'))
            break;
        ++i;
    }
    if (i == p || !rcs_is_whitespace(c))
        error(1, 0, "unexpected '\\x%x' reading revision number in RCS file %s",
              static_cast<unsigned>(static_cast<unsigned char>(c)), buf_.filename());
    rev = std::string_view(buf_.data() + p, i - p);
    pos_ = i + 1;
    return true;
}
