// Comparing a working file with a stored revision.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "src/base/error.h"
#include "src/rcs/rcs.h"

namespace {

struct CmpState {
    int fd;
    const char *filename;
    bool differ = false;
};

void cmp_file_buffer(void *data, const char *text, size_t len) {
    auto *st = static_cast<CmpState *>(data);
    char buf[8192];
    while (len > 0 && !st->differ) {
        size_t want = std::min(len, sizeof buf);
        size_t got = 0;
        while (got < want) {
            ssize_t n = read(st->fd, buf + got, want - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                error(1, errno, "cannot read file %s for comparing", st->filename);
            if (n == 0)
                break;
            got += static_cast<size_t>(n);
        }
        if (got < want || std::memcmp(buf, text, want) != 0) {
            st->differ = true;
            return;
        }
        text += want;
        len -= want;
    }
}

}  // namespace

int RCS_cmp_file(RCSNode *rcs, const char *rev, const char *options, const char *filename) {
    int fd = open(filename, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        error(1, errno, "cannot open file %s for comparing", filename);
    CmpState st{fd, filename};
    int r = RCS_checkout(rcs, nullptr, rev, nullptr, options, nullptr, cmp_file_buffer, &st);
    bool differ = r != 0 || st.differ;
    if (!differ) {
        char extra;
        ssize_t n;
        while ((n = read(fd, &extra, 1)) < 0 && errno == EINTR) {
        }
        differ = n > 0;
    }
    close(fd);
    return differ ? 1 : 0;
}
