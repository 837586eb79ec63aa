// The first error met while reading requests, answered at the next command,
// "noop" or "valid-requests" with exactly one "error" response.
#pragma once

#include <string>

extern int pending_error;                 // a system error number, or 0
extern std::string pending_error_text;    // "E ..." line, empty for none

// True when no error is pending yet, so the caller may record one (the
// first error wins).
bool alloc_pending();
// Records `text` (a protocol line without its newline, "E ...") and, when
// given, a system error number, unless an error is already pending.
void set_pending(std::string text, int errnum = 0);
// Records an error number only (replacing nothing).
void set_pending_errno(int errnum);
bool error_pending();
// Sends the pending error and clears it: the text, then print_error of the
// number or the bare "error  " line. True when something was sent.
bool print_pending_error();
// "error  " + the system's text for `errnum` + newline; flushes buf_to_net.
void print_error(int errnum);
