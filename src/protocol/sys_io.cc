// Interrupted calls are retried here so that no caller above sees EINTR;
// EAGAIN is the only early stop, and only for nonblocking descriptors.
#include "sys_io.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

unique_fd &unique_fd::operator=(unique_fd &&other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

int unique_fd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

int unique_fd::reset(int fd) {
    int err = 0;
    if (fd_ >= 0 && close(fd_) != 0)
        err = errno;
    fd_ = fd;
    return err;
}

ssize_t sys_read(int fd, void *data, size_t size) {
    ssize_t n;
    do {
        n = read(fd, data, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

int sys_write(int fd, bool socket, bool blocking, const char *data, size_t size, size_t &wrote) {
    wrote = 0;
    while (wrote < size) {
        ssize_t n = socket ? send(fd, data + wrote, size - wrote, MSG_NOSIGNAL)
                           : write(fd, data + wrote, size - wrote);
        if (n < 0 && errno == EINTR)
            continue;
        if (!blocking && (n == 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))))
            return 0;
        if (n < 0)
            return errno ? errno : EIO;
        if (n == 0)
            return EIO;
        wrote += static_cast<size_t>(n);
    }
    return 0;
}

int sys_writev(int fd, bool socket, bool blocking, struct iovec *iov, int count, size_t &wrote) {
    wrote = 0;
    while (count > 0) {
        ssize_t n;
        if (socket) {
            struct msghdr msg {};
            msg.msg_iov = iov;
            msg.msg_iovlen = static_cast<size_t>(count);
            n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        } else {
            n = writev(fd, iov, count);
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (!blocking && (n == 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))))
            return 0;
        if (n < 0)
            return errno ? errno : EIO;
        if (n == 0)
            return EIO;
        wrote += static_cast<size_t>(n);
        // Skip what went out; a partial piece is resumed where it stopped.
        size_t done = static_cast<size_t>(n);
        while (count > 0 && done >= iov->iov_len) {
            done -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<char *>(iov->iov_base) + done;
            iov->iov_len -= done;
        }
    }
    return 0;
}

bool sys_is_socket(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

int sys_set_blocking(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return errno;
    int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
    if (wanted != flags && fcntl(fd, F_SETFL, wanted) < 0)
        return errno;
    return 0;
}

void sys_ignore_sigpipe() {
    struct sigaction ign {};
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    sigaction(SIGPIPE, &ign, nullptr);
}

size_t sys_fread(void *data, size_t size, FILE *fp) {
    size_t got = 0;
    while (got < size) {
        size_t n = fread(static_cast<char *>(data) + got, 1, size - got, fp);
        got += n;
        if (got == size || !ferror(fp) || errno != EINTR)
            break;
        clearerr(fp);
    }
    return got;
}

size_t sys_fwrite(const void *data, size_t size, FILE *fp) {
    size_t put = 0;
    while (put < size) {
        size_t n = fwrite(static_cast<const char *>(data) + put, 1, size - put, fp);
        put += n;
        if (put == size || !ferror(fp) || errno != EINTR)
            break;
        clearerr(fp);
    }
    return put;
}

int sys_getc(FILE *fp) {
    for (;;) {
        int c = getc(fp);
        if (c != EOF || !ferror(fp) || errno != EINTR)
            return c;
        clearerr(fp);
    }
}

int sys_fflush(FILE *fp) {
    for (;;) {
        errno = 0;
        if (fflush(fp) == 0)
            return 0;
        if (errno != EINTR)
            return errno ? errno : EIO;
        clearerr(fp);
    }
}
