// The client's connection state, and what the response handlers leave for
// the end of the connection: the open entries, the module programs to
// write, and the directories to prune.
#include "src/client/client_state.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/client/client.h"
#include "src/client/response_state.h"
#include "src/wc/entries.h"

buffer_ptr to_server;
buffer_ptr from_server;
pid_t rsh_pid = -1;
bool server_started = false;
time_t client_last_register_time = 0;

std::optional<std::string> toplevel_repos;
std::optional<std::string> last_repos;
std::optional<std::string> last_update_dir;
std::vector<std::string> dirs_sent_to_server;

std::optional<std::string> last_dir_name;
List *last_entries = nullptr;
std::optional<std::string> toplevel_wd;
std::vector<std::string> modules_vector;

int client_prune_dirs = 0;
int failure_exit = 0;
std::vector<std::string> failed_patches;

ResponseState client_response_state;

namespace {

std::vector<std::string> prune_candidates;

}  // namespace

void client_reset_state() {
    toplevel_repos.reset();
    last_repos.reset();
    last_update_dir.reset();
    dirs_sent_to_server.clear();
    client_close_entries();
    last_dir_name.reset();
    client_response_state = ResponseState{};
}

void client_close_entries() {
    if (last_entries) {
        Entries_Close(last_entries);
        last_entries = nullptr;
    }
}

void add_prune_candidate(const std::string &dir) {
    if (dir == "." || (!prune_candidates.empty() && prune_candidates.back() == dir))
        return;
    prune_candidates.push_back(dir);
}

void process_prune_candidates() {
    if (toplevel_wd && chdir(toplevel_wd->c_str()) != 0)
        error(1, errno, "could not chdir to %s", *toplevel_wd);
    for (const std::string &dir : prune_candidates) {
        if (!isemptydir(dir.c_str(), 1))
            continue;
        std::string adm = dir + "/JOL";
        if (deep_remove_dir(adm.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "cannot remove %s", adm);
        if (rmdir(dir.c_str()) != 0 && errno != ENOENT) {
            error(0, errno, "cannot remove %s", dir);
            continue;
        }
        size_t slash = dir.rfind('/');
        std::string parent = slash == std::string::npos ? "." : dir.substr(0, slash);
        std::string last = slash == std::string::npos ? dir : dir.substr(slash + 1);
        Subdir_Deregister(nullptr, parent.c_str(), last);
    }
    prune_candidates.clear();
}

void do_deferred_progs() {
    auto &rs = client_response_state;
    if (rs.checkin_progs.empty() && rs.update_progs.empty())
        return;
    if (toplevel_wd && chdir(toplevel_wd->c_str()) != 0)
        error(1, errno, "could not chdir to %s", *toplevel_wd);
    for (auto [progs, file] : {std::pair{&rs.checkin_progs, "JOL/Checkin.prog"},
                               {&rs.update_progs, "JOL/Update.prog"}}) {
        for (const SavedProg &p : *progs) {
            std::string path = p.dir + "/" + file;
            FILE *fp = std::fopen(path.c_str(), "w");
            if (!fp || std::fprintf(fp, "%s\n", p.name.c_str()) < 0)
                error(1, errno, "writing %s", path);
            if (std::fclose(fp) == EOF)
                error(1, errno, "closing %s", path);
        }
        progs->clear();
    }
}

const char *client_toplevel_wd() { return toplevel_wd ? toplevel_wd->c_str() : nullptr; }
