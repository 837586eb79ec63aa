// The child's side of the link to a graphical front-end. In GUI mode
// (started as "jol -jolgui R W ...") console output, environment lookups,
// password prompts and the exit code travel over two pipes as typed
// messages instead of the terminal. The link installs itself as the
// console's link (src/base/console.h), through which the rest of the
// program reaches it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Pipe descriptors given with -jolgui; 0 outside GUI mode. With a read
// descriptor of 0 lookups use the real environment; with a write descriptor
// of 0 output goes to the standard streams and no QUIT is sent.
extern int _jolgui_readfd;
extern int _jolgui_writefd;

// True when console output must go to the front-end as messages.
bool gui_link_active();

// Starts the wire layer on the two descriptors: registers the message types,
// installs the staging writer and its flusher, and installs the link as the
// console's. A descriptor that is not open is treated as 0, and both are
// kept from the programs this one runs.
void jol_process_init();
// Nothing to redirect: every output path sends console messages itself.
void reopen_consoles();

// Senders of the child's messages; each builds, sends and flushes one.
int gp_console_write(int fd, const char *text, size_t len, int isStderr);
int gp_quit_write(int fd, int code);
// Reads the front-end's answer to a GETENV; anything else is a protocol
// error.
std::optional<std::string> gp_getenv_read(int fd);

// "jolgui protocol error !" on standard error, the cleanup hooks, exit 255.
[[noreturn]] void jolgui_protocol_error();
