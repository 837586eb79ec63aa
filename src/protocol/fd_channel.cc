// Descriptor reads and writes go through sys_io, which retries interrupted
// calls and keeps the broken-pipe signal off sockets.
#include "fd_channel.h"

#include <algorithm>
#include <cerrno>
#include <sys/uio.h>

fd_channel::fd_channel(unique_fd fd, bool input)
    : fd_(std::move(fd)), input_(input), socket_(sys_is_socket(fd_.get())) {}

int fd_channel::input(char *data, size_t need, size_t size, size_t &got) {
    if (!input_)
        return channel::input(data, need, size, got);
    got = 0;
    if (!blocking_) {
        ssize_t n = sys_read(fd_.get(), data, size);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno;
        if (n == 0)
            return buf_eof;
        got = static_cast<size_t>(n);
        return 0;
    }
    // A blocking read returns what has arrived, so asking for all the room
    // costs nothing and saves a call per byte when lines are read.
    size_t at_least = std::max<size_t>(need, 1);
    while (got < at_least) {
        ssize_t n = sys_read(fd_.get(), data + got, size - got);
        if (n < 0)
            return got > 0 ? 0 : errno;
        if (n == 0)
            return got > 0 ? 0 : buf_eof;
        got += static_cast<size_t>(n);
    }
    return 0;
}

int fd_channel::output(const char *data, size_t have, size_t &wrote) {
    if (input_)
        return channel::output(data, have, wrote);
    return sys_write(fd_.get(), socket_, blocking_, data, have, wrote);
}

int fd_channel::output_chunks(const buffer_data *first, size_t &wrote) {
    if (input_)
        return channel::output_chunks(first, wrote);
    wrote = 0;
    constexpr int batch = 64;
    struct iovec iov[batch];
    for (const buffer_data *d = first; d;) {
        int count = 0;
        size_t offered = 0;
        for (; d && count < batch; d = d->next) {
            if (d->size == 0)
                continue;
            iov[count].iov_base = d->bufp;
            iov[count].iov_len = static_cast<size_t>(d->size);
            offered += iov[count++].iov_len;
        }
        if (count == 0)
            break;
        size_t n = 0;
        int status = sys_writev(fd_.get(), socket_, blocking_, iov, count, n);
        wrote += n;
        if (status != 0 || n < offered)
            return status;
    }
    return 0;
}

int fd_channel::block(bool blocking) {
    int status = sys_set_blocking(fd_.get(), blocking);
    if (status == 0)
        blocking_ = blocking;
    return status;
}

buffer_ptr fd_buffer_initialize(unique_fd fd, bool input, buffer_memory_error memory_error) {
    return buf_initialize(std::make_unique<fd_channel>(std::move(fd), input), memory_error);
}
