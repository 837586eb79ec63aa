// The one check for every pathname and file name a server sends: nothing
// it names may lead outside the working tree or into its administrative
// directories.
#pragma once

#include <string_view>

// A bare file name: not empty, ".", ".." or "JOL", and without "/", NUL
// or newline.
bool safe_file_name(std::string_view name);

// A directory relative to the top of the working tree: an optional leading
// "./", then components that are each a safe file name. "." alone is the
// top. With `trailing_slash` the protocol's pathname form is required
// ("./", "sub/dir/"); without it one trailing "/" is allowed.
bool safe_directory(std::string_view path, bool trailing_slash);

// Fatal "protocol error: server sent an unsafe pathname `%s'" unless
// safe_directory(path, trailing_slash).
void check_server_directory(std::string_view path, bool trailing_slash);
// Fatal "protocol error: server sent an unsafe file name `%s'" unless
// safe_file_name(name).
void check_server_file_name(std::string_view name);
