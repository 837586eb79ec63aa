// The server process: start-up, the request loop, the command child with
// its relay and flow control, access checks and cleanup.
#pragma once

using ServerCommand = int (*)(int argc, char **argv);

// Runs `command` on the queued arguments in a child, relaying its output
// and responses to the client; ends with "ok" or "error". `cmd_name` is the
// name the access check uses.
void do_jol_command(const char *cmd_name, ServerCommand command);
// When set, do_jol_command calls this in place of starting the command
// child and relaying it; it must send the "ok" or "error" line itself. A
// harness that runs the request loop in one process records commands so.
extern void (*command_child_stub)(const char *cmd_name, ServerCommand command);
// Ends the server process after a fatal protocol error: server_cleanup,
// then exit status 1 (or `server_exit_hook`, which must not return, when
// a harness has set one).
[[noreturn]] void server_exit();
extern void (*server_exit_hook)();
// True when the authenticated user may run `cmd_name`.
bool check_command_legal_p(const char *cmd_name);
// Flushes the client stream and removes the temporary tree.
void server_cleanup();
// The command table's attribute lookup (its CMD_WRITES_REPOSITORY bit, 4,
// decides the access check); the frame installs it at start-up.
void set_command_attribute_lookup(int (*lookup)(const char *name));
