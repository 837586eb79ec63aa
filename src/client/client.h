// The client side of the protocol, as the commands use it: open the
// connection (start_server), describe the working copy and the arguments
// (the send_* requests), name the command, and let the responses change
// the working copy (get_responses_and_close).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Connection and handshake.
void start_server();
// Reads the remaining responses and closes the connection: 0 success, 1
// after an "error" response or a failure a handler met.
int get_responses_and_close();
// Whether the server listed the request; an unknown name is fatal.
bool supported_request(const char *name);
void send_to_server(const char *data, size_t len);
inline void send_to_server(std::string_view s) { send_to_server(s.data(), s.size()); }
// Exactly `len` raw bytes of file data (fatal when they do not come).
void read_from_server(char *dest, size_t len);
// Flushes the requests, then the next response line (without newline).
std::string read_line();
// Runs the response loop until "ok" or "error": 1 after "error" or a
// handler's failure, else 0.
int get_server_responses();

// Arguments and options.
void send_arg(std::string_view text);
void option_with_arg(const char *option, const char *value);
void client_senddate(const char *date);
void send_option_string(const char *text);
// Bits of send_file_names' flags.
constexpr int SEND_EXPAND_WILD = 1;
void send_file_names(int argc, char **argv, int flags);

// The working copy's state. Bits of send_files' flags.
constexpr int SEND_BUILD_DIRS = 1;
constexpr int SEND_FORCE = 2;
constexpr int SEND_NO_CONTENTS = 4;
constexpr int BACKUP_MODIFIED_FILES = 8;
void send_files(int argc, char **argv, int local, int aflag, unsigned int flags);
void send_repository(const char *dir, const char *repository, const char *update_dir);
void send_a_repository(const char *dir, const char *repository, const char *update_dir);

// Module expansion for checkout and export.
void client_expand_modules(int argc, char **argv, int local);
void client_send_expansions(int local, const char *where, int build_dirs);
void client_nonexpanded_setup();

// One edit/unedit notification.
void client_notify(const char *repository, const char *update_dir, const char *filename,
                   int notif_type, const char *val);

void send_init_command();
// import's side: the import's top repository directory once, then each
// file (its directory announced, its keyword mode and time, its contents;
// 0, or 1 when it could not be sent), then the top directory again.
void client_import_setup(const std::string &repository);
int client_process_import_file(const std::string &file, const std::string &repository,
                               bool all_files_binary, bool use_file_modtime);
void client_import_done();
// The wrappers that carry keyword modes, as -W arguments.
void wrap_send();
// The top directory of the working tree the responses were written in.
const char *client_toplevel_wd();

// Pruning of empty directories the responses leave (update -P, checkout).
extern int client_prune_dirs;
// Set by a handler that met a failure which must make the command fail.
extern int failure_exit;
// Files whose patch or diff could not be applied; update fetches them
// again whole.
extern std::vector<std::string> failed_patches;
