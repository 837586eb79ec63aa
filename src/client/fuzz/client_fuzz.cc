// Fuzz target for the client's response loop: the input is what a server
// sends after the client's requests, read into a working copy of module
// "mod" checked out from a fixed root (pathname checks, entries, patches,
// checksums, modes, times). Fatal errors are expected outcomes; crashes,
// sanitizer reports and any change outside the working copy are not.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/client/client.h"
#include "src/client/client_state.h"
#include "src/protocol/fd_channel.h"

namespace {

struct Ended {};

[[noreturn]] void throw_ended() { throw Ended{}; }
[[noreturn]] void memory_error(buffer &) { throw Ended{}; }

constexpr char repo_root[] = "/tmp/jol-server-fuzz-root";

std::string scratch;  // holds the working copy and a sibling never touched
std::string wc;
std::string outside;
std::string start_dir;  // where libFuzzer reads its inputs, by relative names

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
    program_name = "jol";
    command_name = "update";
    client_active = 1;
    char tmpl[] = "/tmp/jol-client-fuzz-XXXXXX";
    if (!mkdtemp(tmpl))
        std::abort();
    scratch = tmpl;
    wc = scratch + "/wc";
    outside = scratch + "/outside";
    mkdir(outside.c_str(), 0700);
    put_file(outside + "/canary", "canary\n");
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    close(devnull);
    parse_jolroot(repo_root);
    current_root = repo_root;
}

// A fresh checkout of "mod" with one file and one subdirectory.
void make_working_copy() {
    deep_remove_dir(wc.c_str());
    mkdir(wc.c_str(), 0700);
    mkdir((wc + "/JOL").c_str(), 0700);
    mkdir((wc + "/sub").c_str(), 0700);
    mkdir((wc + "/sub/JOL").c_str(), 0700);
    put_file(wc + "/JOL/Root", (std::string(repo_root) + "\n").c_str());
    put_file(wc + "/JOL/Repository", "mod\n");
    put_file(wc + "/JOL/Entries", "/f/1.1/Thu Jan  1 00:00:00 2009//\nD/sub////\n");
    put_file(wc + "/sub/JOL/Root", (std::string(repo_root) + "\n").c_str());
    put_file(wc + "/sub/JOL/Repository", "mod/sub\n");
    put_file(wc + "/sub/JOL/Entries", "D\n");
    put_file(wc + "/f", "a\nb\nc\n");
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

void check_bounds() {
    std::set<std::string> top = listing(scratch);
    std::set<std::string> out = listing(outside);
    if (top.size() != 4 || !top.count("wc") || out.size() != 3 || !out.count("canary")) {
        std::fprintf(stderr, "client fuzz: something outside the working copy changed\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool init = (setup(), true);
    (void)init;
    make_working_copy();
    if (chdir(wc.c_str()) != 0)
        std::abort();
    int in = memfd_create("responses", 0);
    int out = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (in < 0 || out < 0)
        std::abort();
    if (size > 0 && write(in, data, size) != static_cast<ssize_t>(size))
        std::abort();
    lseek(in, 0, SEEK_SET);
    client_reset_state();
    toplevel_wd.reset();
    toplevel_repos = std::string(repo_root) + "/mod";
    failure_exit = 0;
    failed_patches.clear();
    from_server = fd_buffer_initialize(unique_fd(in), true, memory_error);
    to_server = fd_buffer_initialize(unique_fd(out), false, memory_error);
    try {
        // A logged connection holds several commands' answers; the loop
        // ends with the fatal end of file.
        for (int i = 0; i < 64; ++i)
            get_server_responses();
        client_close_entries();
        do_deferred_progs();
    } catch (const Ended &) {
    }
    try {
        client_reset_state();
    } catch (const Ended &) {
    }
    from_server.reset();
    to_server.reset();
    check_bounds();
    if (chdir(start_dir.c_str()) != 0)
        std::abort();
    return 0;
}
