// Both ends of the flow-control pipe.
#include "src/server/flow_control.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/output.h"

namespace {

unique_fd child_end;
bool child_stopped = false;

bool send_byte(int fd, char c) { return fd >= 0 && write(fd, &c, 1) == 1; }

// Reads what the parent sent without waiting; false on end of file.
void read_flow_bytes() {
    for (;;) {
        char c;
        ssize_t n = read(child_end.get(), &c, 1);
        if (n == 1) {
            if (c == 'S')
                child_stopped = true;
            else if (c == 'G')
                child_stopped = false;
            else
                return;
            continue;
        }
        if (n == 0)
            error(1, 0, "flow control EOF");
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        error(1, errno, "flow control read failed");
    }
}

}  // namespace

void FlowControl::check(size_t held, size_t high, size_t low, bool may_trace) {
    if (!stopped_ && held > high) {
        if (send_byte(fd_.get(), 'S')) {
            stopped_ = true;
            if (trace)
                untraced_ += "S-> flow control: S (stop)\n";
        }
    } else if (stopped_ && held < low) {
        if (send_byte(fd_.get(), 'G')) {
            stopped_ = false;
            if (trace)
                untraced_ += "S-> flow control: G (go)\n";
        }
    }
    if (may_trace && !untraced_.empty()) {
        jol_outerr(untraced_);
        untraced_.clear();
    }
}

void flow_control_child(unique_fd read_end) { child_end = std::move(read_end); }

void server_pause_check_impl() {
    if (!child_end)
        return;
    read_flow_bytes();
    while (child_stopped) {
        struct pollfd p {child_end.get(), POLLIN, 0};
        if (poll(&p, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            error(0, errno, "select failed");
            return;
        }
        read_flow_bytes();
    }
}
