// The server's path checks. They look at the text a client sent, never at
// the file system: a name is refused for what it says, before any file is
// touched.
#include "src/server/path_checks.h"

#include <cstring>
#include <strings.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/root.h"
#include "src/server/server_state.h"
#include "src/server/tree_requests.h"
#include "src/wc/ignore.h"

namespace {

// Whether any "/"-separated component of `path` is empty, "." or "..".
bool has_dot_or_empty_component(std::string_view path) {
    for (;;) {
        size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        if (part.empty() || part == "." || part == "..")
            return true;
        if (slash == std::string_view::npos)
            return false;
        path.remove_prefix(slash + 1);
    }
}

}  // namespace

bool is_admin_name(std::string_view name) {
    if (ign_case)
        return name.size() == 3 && strncasecmp(name.data(), "JOL", 3) == 0;
    return name == "JOL";
}

std::string outside_root(const std::string &repository) {
    if (repository.empty() || repository[0] != '/')
        return "E protocol error: " + shown(repository) + " is not absolute";
    const std::string &root = JOLroot_directory;
    std::string not_within =
        "E protocol error: directory '" + shown(repository) + "' not within root '" + root + "'";
    // The root itself, or below it with only plain components: "/r/x/../.."
    // or "/r//x" would pass a prefix test and still name something else.
    if (repository.find('\0') != std::string::npos || repository.compare(0, root.size(), root) != 0)
        return not_within;
    if (repository.size() == root.size())
        return std::string();
    std::string_view rest(repository);
    rest.remove_prefix(root.size());
    if (root != "/") {
        if (rest[0] != '/')
            return not_within;
        rest.remove_prefix(1);
    }
    return has_dot_or_empty_component(rest) ? not_within : std::string();
}

std::string outside_dir(const std::string &name) {
    if (name.find('/') != std::string::npos)
        return "E protocol error: directory '" + shown(name) + "' not within current directory";
    if (name.find('\0') != std::string::npos)
        return "E protocol error: file name `" + shown(name) + "' contains a NUL byte";
    if (name.empty() || name == "." || name == ".." || is_admin_name(name))
        return "E protocol error: invalid file name `" + name + "'";
    return std::string();
}

void server_pathname_check_impl(const char *path) {
    // Named in a history line or a trace, a newline would start a new one.
    if (std::strchr(path, '\n'))
        error(1, 0, "protocol error: file name `%s' contains a newline", shown(path));
    if (path[0] == '/')
        error(1, 0, "absolute pathname `%s' illegal for server", path);
    // The whole path counts, not only its leading ".." components:
    // "a/../../x" climbs one level out as surely as "../x".
    if (pathname_levels(path) > max_dotdot_limit) {
        error(0, 0, "protocol error: `%s' contains more leading ..", path);
        error(1, 0, "than the %d which Max-dotdot specified", max_dotdot_limit);
    }
}
