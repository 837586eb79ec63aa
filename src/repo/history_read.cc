// Reading the history journal back. The journal is world-writable, so
// every line is checked before any field of it is used.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/hex.h"
#include "src/repo/history.h"

namespace {

// The hexadecimal number at `p` up to `stop`; false when there is none or
// it does not fit.
bool parse_hex(const char *p, const char *stop, unsigned long long &value) {
    if (p == stop)
        return false;
    value = 0;
    for (; p < stop; ++p) {
        int d = hex_value(*p);
        if (d < 0 || value > (~0ULL >> 4))
            return false;
        value = value << 4 | static_cast<unsigned>(d);
    }
    return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

// Format: doc/formats.md#history
bool fill_hrec(char *base, char *line, size_t len, hrec &hr) {
    char *p = line;
    char *stop = line + len;
    if (std::memchr(line, '\0', len))
        return false;
    while (p < stop && is_blank(*p))
        ++p;
    if (p == stop)
        return false;
    hr.type = *p++;
    char *bar = static_cast<char *>(std::memchr(p, '|', static_cast<size_t>(stop - p)));
    unsigned long long when;
    if (!bar || !parse_hex(p, bar, when) || when > 0x7fffffffffffULL)
        return false;
    hr.date = static_cast<time_t>(when);

    // user | dir | repos | rev | file: exactly five fields after the time.
    char *fields[5];
    p = bar + 1;
    for (int i = 0; i < 5; ++i) {
        while (p < stop && is_blank(*p))
            ++p;
        fields[i] = p;
        char *next = static_cast<char *>(std::memchr(p, '|', static_cast<size_t>(stop - p)));
        if (i < 4) {
            if (!next)
                return false;
            *next = '\0';
            p = next + 1;
        } else if (next) {
            return false;
        }
    }
    *stop = '\0';
    auto offset = [base](const char *p) { return static_cast<uint32_t>(p - base); };
    hr.user = offset(fields[0]);
    hr.dir = offset(fields[1]);
    hr.repos = offset(fields[2]);
    hr.rev = offset(fields[3]);
    hr.file = offset(fields[4]);
    hr.end = offset(stop);  // the empty string at the line's end
    if (char *star = std::strchr(fields[1], '*')) {
        unsigned long long off;
        if (!parse_hex(star + 1, star + std::strlen(star), off) || off > std::strlen(fields[2]))
            return false;
        *star = '\0';
        hr.end = offset(fields[2] + off);
    }
    hr.has_mod = std::strchr("FOET", hr.type) != nullptr;
    return true;
}

void read_hrecs(const std::string &path, std::string &buffer,
                const std::function<void(size_t)> &lines,
                const std::function<void(hrec &)> &take) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        error(1, errno, "cannot open history file: %s", path);
    struct stat sb;
    if (fstat(fd, &sb) != 0)
        error(1, errno, "can't stat history file");
    // Records address the buffer with 32-bit offsets.
    if (static_cast<unsigned long long>(sb.st_size) >= 0xffffffffULL)
        error(1, 0, "history file %s is too large", path);
    if (sb.st_size == 0) {
        close(fd);
        error(0, 0, "history file is empty");
        return;
    }
    // One byte more than the file, so that a growing file shows up as a
    // full buffer and the last line always has room for its terminator.
    buffer.resize(static_cast<size_t>(sb.st_size) + 1);
    size_t got = 0;
    while (got < buffer.size() - 1) {
        ssize_t n = read(fd, buffer.data() + got, buffer.size() - 1 - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error(1, errno, "error reading history file");
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    buffer.resize(got + 1);

    char *data = buffer.data();
    size_t count = 0;
    for (const char *p = data; (p = static_cast<const char *>(
                                    std::memchr(p, '\n', got - static_cast<size_t>(p - data))));
         ++p)
        ++count;
    lines(count);
    size_t pos = 0;
    uint32_t idx = 0;
    bool warned = false;
    while (pos < got) {
        char *nl = static_cast<char *>(std::memchr(data + pos, '\n', got - pos));
        if (!nl)
            break;  // a last line without newline is an unfinished record
        size_t len = static_cast<size_t>(nl - (data + pos));
        hrec hr;
        if (len > kMaxHistoryLine) {
            if (!warned)
                error(0, 0, "history line too long (> %d)", kMaxHistoryLine);
            warned = true;
        } else if (fill_hrec(data, data + pos, len, hr)) {
            hr.idx = idx++;
            take(hr);
        }
        pos += len + 1;
    }
}
