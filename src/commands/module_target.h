// What the module-walking commands (rtag, rdiff) act on for one module
// that do_module hands them: its directory in the repository, refused when
// the name would lead outside it, and the files it names.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct ModuleTarget {
    std::string repository;  // the module's directory, sanitized
    std::string update_dir;  // the same below the root, as the walk reports it ("" at the top)
    std::vector<std::string> files;

    // `files` as an argument vector ending in a null pointer; it points into
    // `files`, so it lives no longer than this target.
    std::vector<char *> file_args();
};

// The target of do_module's callback arguments (argv[0] the directory
// below the root, then file names; `mfile` a file or directory named by the
// module). Nothing, after "cannot find module `%s' - ignored" for `mname`,
// when the name would leave the repository.
std::optional<ModuleTarget> module_target(int argc, char **argv, const char *mfile,
                                          const char *mname);

// module_target, then a change into the module's directory; nothing, after
// "cannot chdir to %s", when that fails.
std::optional<ModuleTarget> enter_module_target(int argc, char **argv, const char *mfile,
                                                const char *mname);

// A module argument that is absolute or climbs with "..".
bool unsafe_module_name(const std::string &name);

// Reports a module that is not there; 1, to be added to the error count.
int ignored_module(const char *name);

// `path` with every symbolic link resolved (unchanged when it cannot be).
std::string canonical_path(const std::string &path);
// Whether `path` is `dir` or lies below it (both canonical).
bool path_inside(const std::string &path, const std::string &dir);
