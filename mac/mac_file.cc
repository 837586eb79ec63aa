// Restoring decoded forks and reading file pieces at given offsets.
#include "mac/mac_file.h"

#include <cerrno>
#include <unistd.h>

#include "src/base/error.h"

namespace mac_io {

void restore_mac_attributes(const char *path, const char *shown_name, std::string_view rsrc,
                            const mac_platform::FinderInfo &info) {
    if (int err = mac_platform::set_resource_fork(path, rsrc))
        error(0, err, "warning: cannot keep the resource fork of %s", shown_name);
    int err = mac_platform::set_finder_info(path, info);
    if (err && err != ENOTSUP)
        error(0, err, "warning: cannot set the Finder information of %s", shown_name);
}

bool read_exact_at(int fd, void *buf, size_t n, uint64_t offset) {
    char *p = static_cast<char *>(buf);
    while (n > 0) {
        ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

}  // namespace mac_io
