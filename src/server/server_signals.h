// Signals in the server parent: the handlers only note the signal; the
// request loop and the relay act on it outside the handler.
#pragma once

#include "src/protocol/buffer.h"
#include "src/protocol/sys_io.h"

// Replaces the fatal-signal handlers by the note, and ignores the broken
// pipe signal (a client that went away is an EPIPE to handle).
void server_catch_signals();
// In the command child: the ordinary fatal-signal handling again.
void server_restore_signals();
// The signal noted, 0 for none.
int server_signal_received();
// The fatal path for the noted signal: "received %s signal", cleanup, exit.
[[noreturn]] void server_signal_exit();

// An input buffer on `fd` (blocking) whose reads give EINTR instead of
// waiting on once a signal has been noted.
buffer_ptr server_input_buffer(unique_fd fd, buffer_memory_error memory_error);
