// The console: the terminal streams and the environment as the program
// sees them. Normally the standard streams and the real environment; in GUI
// mode the GUI link installs itself here and carries both as messages.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

class ConsoleLink {
  public:
    virtual ~ConsoleLink() = default;
    // False while the link has no way to the front-end: output then goes to
    // the standard streams.
    virtual bool carries_output() const = 0;
    // Console output for the front-end; `is_stderr` for the error stream.
    virtual void write(const char *str, size_t len, bool is_stderr) = 0;
    // The value of an environment variable as the front-end sees it.
    virtual std::optional<std::string> getenv(const char *name) = 0;
    // A password typed in answer to `prompt`, or none.
    virtual std::optional<std::string> getpass(const char *prompt) = 0;
    // The last message of the run, sent once before the process exits.
    virtual void quit(int status) = 0;
};

// Installs the link (null: back to the standard streams); not owned.
void set_console_link(ConsoleLink *link);
// The installed link when it carries output, else null.
ConsoleLink *console_output_link();

// Environment lookup: the link's answer when one is installed.
std::optional<std::string> jolguiglue_getenv(const char *name);
std::optional<std::string> jolguiglue_getpass(const char *prompt);
// Flushes standard output, then standard error.
void jolguiglue_flushconsole(int closeit);
// Flushes, sends the link's one QUIT and exits. A failed write of standard
// output (other than to a reader that went away) is reported and turns a
// zero status into 1, so that no truncated output passes for success.
[[noreturn]] void jolguiglue_exit(int status);

// Asks a yes/no question already printed by the caller; 1 for yes. The
// answer comes from "JOLLIB_YESNO" when it has a value (yes exactly when it
// is "yes"), else from a line of standard input.
int yesno();
