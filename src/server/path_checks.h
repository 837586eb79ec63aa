// The path checks of the server: what a client names must stay inside the
// repository root, the temporary tree and the current directory.
#pragma once

#include <string>

// A "Directory" repository line outside the root: the pending-error text,
// or empty when it is inside.
std::string outside_root(const std::string &repository);
// A file name of a file request that is not one plain name: the
// pending-error text, or empty.
std::string outside_dir(const std::string &name);
// Command arguments: absolute paths and paths climbing out are fatal.
void server_pathname_check_impl(const char *path);
