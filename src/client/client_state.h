// The client's connection state, shared by the connection, the request
// composition and the response handlers (one connection per process at a
// time).
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "src/hash/hash.h"
#include "src/protocol/buffer.h"

extern buffer_ptr to_server;
extern buffer_ptr from_server;
extern pid_t rsh_pid;            // the remote-shell or forked server, -1 none
extern bool server_started;
extern time_t client_last_register_time;  // second of the newest entry registered

// Request state (request composition).
extern std::optional<std::string> toplevel_repos;
extern std::optional<std::string> last_repos;
extern std::optional<std::string> last_update_dir;
extern std::vector<std::string> dirs_sent_to_server;

// Response state (response handling).
extern std::optional<std::string> last_dir_name;
extern List *last_entries;
extern std::optional<std::string> toplevel_wd;
extern std::vector<std::string> modules_vector;

// Forgets the directory memory of the requests and the handlers, and the
// values stored for the next file (a new connection starts clean).
void client_reset_state();
// Closes the entries the handlers keep open.
void client_close_entries();
// The deferred module programs and the prune candidates, at close.
void do_deferred_progs();
void process_prune_candidates();
void add_prune_candidate(const std::string &dir);

// The server's "Valid-requests": marks a request it offers (an enable-me
// request is sent at once instead).
void mark_request_supported(const std::string &name);
// The first essential request the server did not offer, or null.
const char *missing_essential_request();
