// The 512-byte staging writer and its flusher.
#include "gui/staging.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "gui/wire.h"

WriteStage process_write_buffer;
WriteStage *current_write_buffer = &process_write_buffer;

int jol_process_write(int fd, const uint8_t *buf, size_t count) {
    while (count > 0) {
        WriteStage &st = *current_write_buffer;
        size_t room = kWriteStageSize - st.used;
        if (count < room) {
            std::memcpy(st.bytes + st.used, buf, count);
            st.used += count;
            return 1;
        }
        std::memcpy(st.bytes + st.used, buf, room);
        st.used = kWriteStageSize;
        buf += room;
        count -= room;
        if (!wire_flush(fd))
            return 0;
    }
    return 1;
}

int jol_process_flush(int fd) {
    WriteStage &st = *current_write_buffer;
    size_t done = 0;
    int ok = 1;
    while (done < st.used) {
        ssize_t n = ::write(fd, st.bytes + done, st.used - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            struct pollfd p {fd, POLLOUT, 0};
            poll(&p, 1, -1);
        } else {
            ok = 0;
            break;
        }
    }
    // A half-sent stage is of no use once the link has failed; the wire's
    // sticky error stops everything after it anyway.
    st.used = 0;
    return ok;
}
