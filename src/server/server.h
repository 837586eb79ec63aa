// The server process: start-up, the request loop, the command child with
// its relay and flow control, access checks and cleanup.
#pragma once

using ServerCommand = int (*)(int argc, char **argv);

// Runs `command` on the queued arguments in a child, relaying its output
// and responses to the client; ends with "ok" or "error". `cmd_name` is the
// name the access check uses.
void do_jol_command(const char *cmd_name, ServerCommand command);
// True when the authenticated user may run `cmd_name`.
bool check_command_legal_p(const char *cmd_name);
// Flushes the client stream and removes the temporary tree.
void server_cleanup();
// The command table's attribute lookup (its CMD_WRITES_REPOSITORY bit, 4,
// decides the access check); the frame installs it at start-up.
void set_command_attribute_lookup(int (*lookup)(const char *name));
