// The front-end's side of the GUI link: start a child in GUI mode and serve
// its messages. A front-end program links this; the child never calls it.
//
//   JolProcess *p = jol_process_run("jol", argc, argv, callbacks, nullptr);
//   while (p && jol_process_give_time() > 0) {}
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "gui/staging.h"

struct JolProcessCallbacks {
    std::function<void(const char *text, size_t length)> consoleout;
    std::function<void(const char *text, size_t length)> consoleerr;
    // The answer to an environment lookup of the child; null: not set.
    std::function<std::optional<std::string>(const char *name)> getenv;
    // The child's QUIT message; the process is closed right after.
    std::function<void(int code)> exit;
    // Optional: one line describing each message received.
    std::function<void(std::string_view line)> trace;
};

struct JolProcessStartupInfo {
    bool hasTty = false;           // run the child inside "xterm -e"
    std::string currentDirectory;  // the child's working directory, if set
};

struct _JolProcess {
    bool open = false;
    pid_t pid = -1;
    std::vector<std::string> args;
    int argc = 0;
    int my_read = -1, my_write = -1;    // the front-end's ends
    int his_read = -1, his_write = -1;  // the child's ends (closed after fork)
    WriteStage write_buffer;
    JolProcessCallbacks callbacks;
    bool quit_received = false;
    int wait_status = 0;  // waitpid status once closed
};
using JolProcess = _JolProcess;

// Makes two pipes and starts `name -jolgui R W argv...` (R and W the child's
// descriptors). Null when the pipes or the fork fail; a failed exec makes the
// child exit with status 1. The process stays owned by this module.
JolProcess *jol_process_run(const char *name, int argc, const char *const *argv,
                            const JolProcessCallbacks &callbacks,
                            const JolProcessStartupInfo *startupInfo);

// Waits up to 10 ms for any open child to send, and serves one message of
// each ready child. Returns the number of children still open.
int jol_process_give_time();

// Forgets a closed process (its record is freed).
void jol_process_forget(JolProcess *p);
