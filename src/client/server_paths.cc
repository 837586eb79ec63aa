// The checks on names that come from the server.
#include "src/client/server_paths.h"

#include <string>

#include "src/base/error.h"

bool safe_file_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name != "JOL" &&
           name.find_first_of(std::string_view("/\0\n", 3)) == std::string_view::npos;
}

bool safe_directory(std::string_view path, bool trailing_slash) {
    if (path.empty() || path[0] == '/')
        return false;
    if (path.back() == '/')
        path.remove_suffix(1);
    else if (trailing_slash)
        return false;
    if (path == ".")
        return true;
    if (path.starts_with("./"))
        path.remove_prefix(2);
    // Every component, the last included, must be a plain name: an empty
    // one ("a//", "a/") fails here too.
    for (;;) {
        size_t slash = path.find('/');
        if (!safe_file_name(path.substr(0, slash)))
            return false;
        if (slash == std::string_view::npos)
            return true;
        path.remove_prefix(slash + 1);
    }
}

void check_server_directory(std::string_view path, bool trailing_slash) {
    if (!safe_directory(path, trailing_slash))
        error(1, 0, "protocol error: server sent an unsafe pathname `%s'", std::string(path));
}

void check_server_file_name(std::string_view name) {
    if (!safe_file_name(name))
        error(1, 0, "protocol error: server sent an unsafe file name `%s'", std::string(name));
}
