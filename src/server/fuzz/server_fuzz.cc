// Fuzz target for the server's request loop: the input is what a client
// sends on the connection. The whole loop runs in this process (request
// parsing, path checks, pending errors, file reception, compression,
// entries) with the command child replaced by a stub that only records the
// command. Fatal errors and protocol exits are expected outcomes; crashes,
// sanitizer reports and any change outside the server's temporary tree
// are not.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <utility>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/protocol/protocol_tables.h"
#include "src/server/pending.h"
#include "src/server/server.h"
#include "src/server/server_state.h"

int server(int argc, char **argv);

namespace {

struct Ended {};

[[noreturn]] void throw_ended() { throw Ended{}; }

// The repository every "Root" of the seeds and the dictionary names.
constexpr char repo_root[] = "/tmp/jol-server-fuzz-root";

std::string scratch;    // TMPDIR of the server: only its tree may change
std::string outside;    // a sibling the server must never touch
std::string start_dir;  // where libFuzzer reads its inputs, by relative names

std::string make_dir(const char *tmpl) {
    std::string t = tmpl;
    if (!mkdtemp(t.data()))
        std::abort();
    return t;
}

void put_file(const std::string &path, const char *text) {
    FILE *fp = std::fopen(path.c_str(), "w");
    if (!fp)
        std::abort();
    std::fputs(text, fp);
    std::fclose(fp);
}

void setup() {
    char *cwd = getcwd(nullptr, 0);
    start_dir = cwd ? cwd : "/";
    std::free(cwd);
    set_error_exit_handler(throw_ended);
    server_exit_hook = throw_ended;
    command_child_stub = [](const char *, ServerCommand) {
        buf_output0(*buf_to_net, "ok\n");
    };
    set_command_attribute_lookup([](const char *name) {
        for (const char *w : {"commit", "add", "remove", "import", "joltag", "rtag", "admin",
                              "init", "watch_on", "watch_off", "watch_add", "watch_remove"})
            if (std::strcmp(name, w) == 0)
                return 4;
        return 0;
    });
    program_name = "jol";
    command_name = "server";
    server_active = 1;
    mkdir(repo_root, 0755);
    mkdir((std::string(repo_root) + "/JOLROOT").c_str(), 0755);
    mkdir((std::string(repo_root) + "/mod").c_str(), 0755);
    put_file(std::string(repo_root) + "/JOLROOT/config", "SystemAuth=no\n");
    put_file(std::string(repo_root) + "/JOLROOT/modules", "m mod\n");
    scratch = make_dir("/tmp/jol-server-fuzz-XXXXXX");
    outside = scratch + "/outside";
    mkdir(outside.c_str(), 0700);
    put_file(outside + "/canary", "canary\n");
    scratch += "/tmp";
    mkdir(scratch.c_str(), 0700);
    Tmpdir = scratch;
}

// Everything a connection builds up, as at the start of a fresh process.
void reset_state() {
    buf_to_net.reset();
    buf_from_net.reset();
    saved_output.reset();
    saved_outerr.reset();
    protocol.reset();
    server_temp_dir.clear();
    orig_server_temp_dir.clear();
    dir_name.reset();
    max_dotdot_limit = 0;
    dotdot_levels = 0;
    gzip_stream_on = false;
    queued_entries.clear();
    kopt.reset();
    checkin_time.reset();
    argument_vector.assign(1, "jol server");
    notify_list.clear();
    Pserver_Repos.reset();
    command_pid = -1;
    dont_delete_temp = false;
    request_memory_used = 0;
    pending_error = 0;
    pending_error_text.clear();
    current_root.reset();
    really_quiet = quiet = noexec = trace = logoff = 0;
    jolwrite = 1;
    gzip_level = 0;
    error_use_protocol = 0;
    for (int i = 0; i < response_count(); ++i)
        set_response_state(i, response_names[i].initial);
}

std::set<std::string> listing(const std::string &dir) {
    std::set<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// A Notify request records its edit in the attribute database of the
// repository directory it names (JOL/fileattr): allowed, and removed so that
// every input starts from the same repository. Anything else there is not.
void drop_attribute_databases() {
    for (std::string dir : {std::string(repo_root), std::string(repo_root) + "/mod"}) {
        std::string adm = dir + "/JOL";
        for (const std::string &name : listing(adm)) {
            if (name != "." && name != ".." && name != "fileattr") {
                std::fprintf(stderr, "server fuzz: %s/%s appeared\n", adm.c_str(), name.c_str());
                std::abort();
            }
        }
        unlink((adm + "/fileattr").c_str());
        rmdir(adm.c_str());
    }
}

// The session's tree is gone and nothing else changed.
void check_bounds() {
    drop_attribute_databases();
    std::set<std::string> left = listing(scratch);
    if (left.size() != 2) {
        std::fprintf(stderr, "server fuzz: %s not emptied\n", scratch.c_str());
        std::abort();
    }
    std::set<std::string> out = listing(outside);
    if (out.size() != 3 || !out.count("canary")) {
        std::fprintf(stderr, "server fuzz: %s changed\n", outside.c_str());
        std::abort();
    }
    std::set<std::string> repo = listing(repo_root);
    if (repo.size() != 4) {
        std::fprintf(stderr, "server fuzz: %s changed\n", repo_root);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool init = (setup(), true);
    (void)init;
    int in = memfd_create("requests", 0);
    int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0)
        std::abort();
    if (size > 0 && write(in, data, size) != static_cast<ssize_t>(size))
        std::abort();
    lseek(in, 0, SEEK_SET);
    // The server's buffers take descriptors 0 and 1 and close them.
    for (auto [fd, to] : {std::pair{in, STDIN_FILENO}, {out, STDOUT_FILENO}}) {
        if (fd != to) {
            dup2(fd, to);
            close(fd);
        }
    }
    reset_state();
    char name[] = "server";
    char *argv[] = {name, nullptr};
    try {
        server(1, argv);
    } catch (const Ended &) {
        // Cleanup ran before the exit; the tree must still go.
        server_cleanup();
    }
    reset_state();
    check_bounds();
    if (chdir(start_dir.c_str()) != 0)
        std::abort();
    return 0;
}
