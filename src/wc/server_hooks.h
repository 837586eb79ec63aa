// Calls from the working-copy layer and the commands into the server, which
// turn local changes into responses for the client. Each is called only
// while server_active is set.
#pragma once

#include <optional>
#include <string>

struct file_info;
struct Vers_TS;

using opt_str = std::optional<std::string>;

void server_register(const std::string &name, const std::string &version,
                     const std::string &timestamp, const std::string &options, const opt_str &tag,
                     const opt_str &date, const opt_str &conflict);
void server_scratch(const std::string &name);
void server_set_sticky(const char *update_dir, const char *repository, const opt_str &tag,
                       const opt_str &date, int nonbranch);
void server_template(const char *update_dir, const char *repository);
void server_update_entries(const char *file, const char *update_dir, const char *repository,
                           int updated);
void server_modtime(const file_info *finfo, const Vers_TS *vers);
void server_pathname_check(const char *path);
void server_pause_check();

// Values of server_update_entries' `updated` argument.
constexpr int SERVER_UPDATED = 0;
constexpr int SERVER_MERGED = 1;
