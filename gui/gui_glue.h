// The link to a graphical front-end: in GUI mode, console output,
// environment lookups, password prompts and the exit code travel over two
// pipes as typed messages instead of the terminal.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Pipe descriptors given with -jolgui; both 0 outside GUI mode.
extern int _jolgui_readfd;
extern int _jolgui_writefd;

// True when console output must go to the front-end as messages.
bool gui_link_active();

// Starts the wire layer on the two descriptors (registers the message types
// and installs the pipe writer and flusher).
void jol_process_init();
void reopen_consoles();

// Environment lookup; asks the front-end in GUI mode.
std::optional<std::string> jolguiglue_getenv(const char *name);
std::optional<std::string> jolguiglue_getpass(const char *prompt);
void jolguiglue_flushconsole(int closeit);
[[noreturn]] void jolguiglue_exit(int status);

// Senders of the three message types; each builds, sends and flushes one.
int gp_console_write(int fd, const char *text, size_t len, int isStderr);
int gp_quit_write(int fd, int code);

// Asks a yes/no question already printed by the caller; 1 for yes.
int yesno();
