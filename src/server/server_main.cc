// The server command: the network buffers, the private temporary tree, the
// signals, and the request loop; and the cleanup at its end.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/globals.h"
#include "src/base/sighandle.h"
#include "src/base/usage.h"
#include "src/commands/commands.h"
#include "src/protocol/fd_channel.h"
#include "src/protocol/sys_io.h"
#include "src/server/output_routes.h"
#include "src/server/pending.h"
#include "src/server/requests.h"
#include "src/server/server.h"
#include "src/server/server_results.h"
#include "src/server/server_signals.h"
#include "src/server/server_state.h"
#include "src/wc/entries.h"

namespace {

const char *const server_usage[] = {"Usage: %s %s\n", nullptr};

constexpr char fatal_memory_text[] =
    "E Fatal server error, aborting.\nerror ENOMEM Virtual memory exhausted.\n";

// The client's side is gone or out of memory: the fixed text straight to
// the client, then the fatal path.
[[noreturn]] void outbuf_memory_error(buffer &) {
    static const char text[] = "E Fatal server error\nerror ENOMEM Virtual memory exhausted.\n";
    if (command_pid > 0)
        kill(command_pid, SIGTERM);
    size_t wrote;
    sys_write(STDOUT_FILENO, false, true, text, sizeof text - 1, wrote);
    error_exit();
}

// The temporary tree: "<TMPDIR>/jol-serv<pid>", then with "a" to "z"
// appended while a name is taken. Made by this process alone (mkdir with
// mode 0700, never through existing directories), checked, and entered.
void make_temp_dir() {
    std::string tmp = Tmpdir;
    if (tmp.empty() || tmp[0] != '/') {
        set_pending("E Value of " + tmp + " for TMPDIR is not absolute");
        return;
    }
    while (tmp.size() > 1 && tmp.back() == '/')
        tmp.pop_back();
    std::string base = tmp + "/jol-serv" + std::to_string(getpid());
    mode_t old_mask = umask(077);
    std::string name = base;
    int err = 0;
    for (char suffix = 'a' - 1; suffix <= 'z'; ++suffix) {
        name = suffix < 'a' ? base : base + suffix;
        if (mkdir(name.c_str(), 0700) == 0) {
            err = 0;
            break;
        }
        err = errno;
        if (err != EEXIST)
            break;
    }
    umask(old_mask);
    if (err != 0) {
        set_pending("E can't create temporary directory " + name, err);
        return;
    }
    struct stat sb;
    if (lstat(name.c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode) || sb.st_uid != geteuid() ||
        (sb.st_mode & 077) != 0) {
        set_pending("E cannot change permissions on temporary directory " + name,
                    errno ? errno : EPERM);
        return;
    }
    server_temp_dir = orig_server_temp_dir = name;
    // The working copies rebuilt in here need no syncing.
    sync_admin_files = false;
    if (chdir(name.c_str()) != 0)
        set_pending("E cannot change to " + name, errno);
}

void make_buffers() {
    buf_to_net = fd_buffer_initialize(unique_fd(STDOUT_FILENO), false, outbuf_memory_error);
    buf_from_net = server_input_buffer(unique_fd(STDIN_FILENO), outbuf_memory_error);
    saved_output = buf_nonio_initialize(outbuf_memory_error);
    saved_outerr = buf_nonio_initialize(outbuf_memory_error);
    error_use_protocol = 1;
    install_net_output_route();
    install_child_output_route();
}

// Reads and dispatches requests until the client is done.
void request_loop() {
    std::string line;
    for (;;) {
        int status = buf_read_line(*buf_from_net, line, request_line_max);
        if (server_signal_received())
            server_signal_exit();
        if (status == buf_nomem) {
            buf_output0(*buf_to_net, fatal_memory_text);
            return;
        }
        if (status == buf_line_too_long) {
            // The rest of that line cannot be told from the next request.
            buf_output0(*buf_to_net, "E Protocol error: request line too long\nerror  \n");
            return;
        }
        if (status != 0)
            return;
        dispatch_request(line);
    }
}

}  // namespace

int server(int argc, char **) {
    if (argc == -1)
        usage(server_usage);
    make_buffers();
    server_install_results();
    make_temp_dir();
    register_cleanup(CleanupStage::server, server_cleanup);
    server_catch_signals();
    request_loop();
    server_cleanup();
    deregister_cleanup(CleanupStage::server, server_cleanup);
    return 0;
}

void (*server_exit_hook)() = nullptr;

void server_exit() {
    server_cleanup();
    if (server_exit_hook)
        server_exit_hook();
    std::exit(1);
}

void server_cleanup() {
    // The command child shares the tree with its parent, which removes it.
    if (command_pid == 0)
        return;
    if (buf_to_net) {
        set_block(*buf_to_net);
        buf_flush(*buf_to_net, true);
        if (buf_from_net && buf_shutdown(*buf_from_net) != 0) {
            error(0, 0, "shutting down buffer from client");
            buf_flush(*buf_to_net, true);
        }
    }
    if (!dont_delete_temp && !orig_server_temp_dir.empty()) {
        if (chdir(Tmpdir.c_str()) != 0)
            chdir("/");
        deep_remove_dir(orig_server_temp_dir.c_str());
        orig_server_temp_dir.clear();
    }
    if (buf_to_net)
        buf_shutdown(*buf_to_net);
}
