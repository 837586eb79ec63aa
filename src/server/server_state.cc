// Definitions of the server process's state.
#include "src/server/server_state.h"

buffer_ptr buf_to_net;
buffer_ptr buf_from_net;
buffer_ptr saved_output;
buffer_ptr saved_outerr;
buffer_ptr protocol;

std::string server_temp_dir;
std::string orig_server_temp_dir;
std::optional<std::string> dir_name;
int max_dotdot_limit = 0;
int dotdot_levels = 0;
bool gzip_stream_on = false;

std::vector<std::string> queued_entries;
std::optional<std::string> kopt;
std::optional<time_t> checkin_time;
std::vector<std::string> argument_vector{"jol server"};
std::vector<notify_note> notify_list;

std::optional<std::string> Pserver_Repos;

pid_t command_pid = -1;
bool dont_delete_temp = false;

size_t request_memory_used = 0;

bool charge_request_memory(size_t bytes) {
    if (bytes > request_memory_limit - request_memory_used)
        return false;
    request_memory_used += bytes;
    return true;
}

void release_request_memory(size_t bytes) {
    request_memory_used -= bytes < request_memory_used ? bytes : request_memory_used;
}

void clear_arguments() {
    for (size_t i = 1; i < argument_vector.size(); ++i)
        release_request_memory(argument_vector[i].size() + sizeof(std::string));
    argument_vector.resize(1);
}
