// Flow control between the server parent and its command child: the parent
// sends "S" when too much network output waits and "G" when it has drained;
// the child pauses in server_pause_check while stopped.
#pragma once

#include <string>
#include <utility>

#include "src/protocol/sys_io.h"

// The parent's end.
class FlowControl {
  public:
    explicit FlowControl(unique_fd write_end) : fd_(std::move(write_end)) {}
    // Sends "S" above `high` bytes held, "G" below `low` (once each); a byte
    // the full pipe does not take is sent again on the next call. With -t
    // each byte sent is traced, as soon as `may_trace` allows.
    void check(size_t held, size_t high, size_t low, bool may_trace);
    void close() { fd_.reset(); }

  private:
    unique_fd fd_;
    bool stopped_ = false;
    std::string untraced_;  // trace lines waiting for may_trace
};

// The child's end, kept for server_pause_check.
void flow_control_child(unique_fd read_end);
// Blocks while the parent has asked the child to stop.
void server_pause_check_impl();
