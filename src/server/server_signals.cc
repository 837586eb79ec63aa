// The server parent's signal note and its interruptible client input.
#include "src/server/server_signals.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/sighandle.h"

namespace {

constexpr int fatal_signals[] = {SIGABRT, SIGHUP, SIGINT, SIGQUIT, SIGTERM};

volatile sig_atomic_t noted_signal = 0;

void note_signal(int sig) {
    if (noted_signal == 0)
        noted_signal = sig;
}

// The client's requests on a blocking descriptor. A read that a noted
// signal interrupts ends with EINTR so that the loop above can act.
class ServerInputChannel final : public channel {
  public:
    explicit ServerInputChannel(unique_fd fd) : fd_(std::move(fd)) {}

    int input(char *data, size_t need, size_t size, size_t &got) override {
        got = 0;
        if (need == 0) {
            struct pollfd p {fd_.get(), POLLIN, 0};
            if (poll(&p, 1, 0) <= 0)
                return 0;
        }
        while (got < need || got == 0) {
            ssize_t n = ::read(fd_.get(), data + got, size - got);
            if (n > 0) {
                got += static_cast<size_t>(n);
                if (need == 0)
                    break;
                continue;
            }
            if (n == 0)
                return got ? 0 : buf_eof;
            if (errno == EINTR) {
                if (noted_signal)
                    return EINTR;
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            return errno;
        }
        return 0;
    }
    int block(bool blocking) override { return sys_set_blocking(fd_.get(), blocking); }

  private:
    unique_fd fd_;
};

}  // namespace

void server_catch_signals() {
    for (int sig : fatal_signals) {
        SIG_deregister(sig, main_cleanup);
        SIG_register(sig, note_signal);
    }
    SIG_deregister(SIGPIPE, main_cleanup);
    sys_ignore_sigpipe();
}

void server_restore_signals() {
    for (int sig : fatal_signals) {
        SIG_deregister(sig, note_signal);
        SIG_register(sig, main_cleanup);
    }
    signal(SIGPIPE, SIG_DFL);
    SIG_register(SIGPIPE, main_cleanup);
}

int server_signal_received() { return noted_signal; }

void server_signal_exit() {
    main_cleanup(noted_signal);
    error_exit();
}

buffer_ptr server_input_buffer(unique_fd fd, buffer_memory_error memory_error) {
    return buf_initialize(std::make_unique<ServerInputChannel>(std::move(fd)), memory_error);
}
