// The system calls of the protocol's byte layer, in one place: interrupted
// calls are retried, sockets are written without the broken-pipe signal,
// and descriptors are owned by a small RAII handle.
#pragma once

#include <cstddef>
#include <cstdio>
#include <sys/types.h>

// Owns a descriptor and closes it when dropped.
class unique_fd {
  public:
    unique_fd() = default;
    explicit unique_fd(int fd) : fd_(fd) {}
    unique_fd(unique_fd &&other) noexcept : fd_(other.release()) {}
    unique_fd &operator=(unique_fd &&other) noexcept;
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    ~unique_fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int release();
    // Closes the descriptor held (if any) and holds `fd` instead; the
    // close's errno, or 0.
    int reset(int fd = -1);

  private:
    int fd_ = -1;
};

// One read(2), retried while interrupted: the count, 0 at end of file, or
// -1 with errno set.
ssize_t sys_read(int fd, void *data, size_t size);

// Writes `size` bytes to `fd` and reports in `wrote` how many went out. A
// socket is written with send(MSG_NOSIGNAL), so a closed peer gives EPIPE
// instead of the signal. Blocking: loops over partial writes and returns
// 0 only when all went; a write of nothing is EIO. Nonblocking: stops
// early, with status 0, when the descriptor would block. Otherwise the
// errno of the failed call.
int sys_write(int fd, bool socket, bool blocking, const char *data, size_t size, size_t &wrote);
// sys_write of `count` pieces in one call where it can (writev, or
// sendmsg on a socket); `iov` is used up as it goes.
int sys_writev(int fd, bool socket, bool blocking, struct iovec *iov, int count, size_t &wrote);

// Whether `fd` is a socket (written with send rather than write).
bool sys_is_socket(int fd);

// Sets or clears O_NONBLOCK; 0 or the errno of the failed call.
int sys_set_blocking(int fd, bool blocking);

// Ignores the broken-pipe signal for the rest of the process, for a process
// that writes to pipes whose reader may go away: the write then fails with
// EPIPE, which the caller reports, instead of ending the process.
void sys_ignore_sigpipe();

// Stream counterparts, retried while interrupted. sys_fread stops at end of
// file or on an error (ferror tells which); sys_fwrite returns the count
// written, short only on an error; sys_getc is getc; sys_fflush returns 0
// or the errno of the failure (EIO when none was set).
size_t sys_fread(void *data, size_t size, FILE *fp);
size_t sys_fwrite(const void *data, size_t size, FILE *fp);
int sys_getc(FILE *fp);
int sys_fflush(FILE *fp);
