// The state of a server process: one client per process, so what a
// connection builds up (the network buffers, the temporary tree, the queued
// entries, arguments and notifications, the first error) is process-wide.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "src/protocol/buffer.h"
#include "src/protocol/file_modes.h"  // file_gzip_level

extern buffer_ptr buf_to_net;    // to the client (descriptor 1)
extern buffer_ptr buf_from_net;  // from the client (descriptor 0)
// Incomplete lines of ordinary and error output, in the parent (sent to
// buf_to_net) and in the command child (sent to `protocol`).
extern buffer_ptr saved_output;
extern buffer_ptr saved_outerr;
// In the command child: counted records to the parent.
extern buffer_ptr protocol;

extern std::string server_temp_dir;       // root of the temporary tree (with Max-dotdot)
extern std::string orig_server_temp_dir;  // its first value, removed at the end
// The current directory of the temporary tree (absolute); none before the
// first "Directory".
extern std::optional<std::string> dir_name;
extern int max_dotdot_limit;
// Max-dotdot levels added to server_temp_dir in all.
extern int dotdot_levels;
// "Gzip-stream" has wrapped both network buffers.
extern bool gzip_stream_on;

// Entries lines queued for the current directory, oldest first (written
// newest first, as the client's requests are a stack).
extern std::vector<std::string> queued_entries;
extern std::optional<std::string> kopt;          // for the next file without entry
extern std::optional<time_t> checkin_time;       // for the next file received
// The command's arguments; [0] is always "jol server".
extern std::vector<std::string> argument_vector;

struct notify_note {
    std::string dir;       // directory of the temporary tree
    std::string filename;
    char type;
    std::string val;       // time "+" host "+" working directory
    std::string watches;
};
extern std::vector<notify_note> notify_list;

// The repository named in the password exchange, when there was one.
extern std::optional<std::string> Pserver_Repos;

extern pid_t command_pid;        // the running command child; -1 none; 0 in the child
extern bool dont_delete_temp;    // keep the temporary tree (a core dump is in it)

// Bytes a peer has made this process hold in queued entries, arguments
// and notifications; charge_request_memory refuses past the limit.
constexpr size_t request_memory_limit = size_t{256} << 20;
extern size_t request_memory_used;
// Counts `bytes` against the limit; false (nothing counted) when it would
// pass it.
bool charge_request_memory(size_t bytes);
// Gives back what was counted for data no longer held.
void release_request_memory(size_t bytes);
// Drops the arguments after slot 0 and gives back what they were charged.
void clear_arguments();
