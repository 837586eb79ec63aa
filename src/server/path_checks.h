// The path checks of the server: what a client names must stay inside the
// repository root, the temporary tree and the current directory.
#pragma once

#include <string>
#include <string_view>

// A "Directory" repository line outside the root: the pending-error text,
// or empty when it is inside. The root itself, or below it through plain
// components only ("." and ".." and empty components are refused).
std::string outside_root(const std::string &repository);
// A file name of a file request that is not one plain name of the current
// directory (a "/", a NUL, "", ".", "..", the administrative directory):
// the pending-error text, or empty.
std::string outside_dir(const std::string &name);
// Whether `name` is the administrative directory's name (regardless of
// case once the client asked for that).
bool is_admin_name(std::string_view name);
// Command arguments: absolute paths, paths climbing out further than
// Max-dotdot allows, and names with a newline are fatal.
void server_pathname_check_impl(const char *path);
