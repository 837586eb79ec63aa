// call_in_directory: the directory a file response names is checked,
// entered (made, with its administrative files, when missing) and handed
// to the response's action with its entries.
#include "src/client/call_in_directory.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/client/client.h"
#include "src/client/client_state.h"
#include "src/client/server_paths.h"
#include "src/wc/entries.h"

namespace {

// A directory named JOL cannot be made or entered for the server: it is
// where every working directory keeps its administrative files.
void refuse_jol_component(std::string_view dir) {
    while (!dir.empty()) {
        size_t slash = dir.find('/');
        if (dir.substr(0, slash) == "JOL") {
            error(0, 0, "cannot create a directory named %s", "JOL");
            error(0, 0, "because JOL uses \"%s\" for its own uses", "JOL");
            error(1, 0, "rename the directory and try again");
        }
        dir = slash == std::string_view::npos ? std::string_view() : dir.substr(slash + 1);
    }
}

// The repository of a directory made at `level` components of the local
// directory name, walked in step with the repository directory name.
std::string repository_at_level(const std::string &reposdirname, bool inside_top,
                                size_t level, bool last_level) {
    std::string base = inside_top ? *toplevel_repos + "/" : std::string();
    if (last_level || reposdirname == ".")
        return base + reposdirname;
    size_t pos = 0;
    for (size_t i = 0; i <= level; ++i) {
        pos = reposdirname.find('/', pos);
        if (pos == std::string::npos)
            return base + reposdirname;
        if (i < level)
            ++pos;
    }
    error(0, 0, "warning: server is not creating directories one at a time");
    return base + reposdirname.substr(0, pos);
}

// Makes the missing components of `dir`, each with administrative files.
bool make_local_directories(const std::string &dir, const std::string &reposdirname,
                            bool inside_top) {
    bool made = false;
    std::string path;
    size_t start = 0, level = 0;
    while (start < dir.size()) {
        size_t slash = dir.find('/', start);
        std::string component = dir.substr(start, slash - start);
        path = path.empty() ? component : path + "/" + component;
        start = slash == std::string::npos ? dir.size() : slash + 1;
        bool last_level = start >= dir.size();
        if (!isdir(path.c_str())) {
            if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
                error(1, errno, "could not chdir to %s", path);
            made = true;
            if (command_name != "export") {
                std::string repos =
                    repository_at_level(reposdirname, inside_top, level, last_level);
                Create_Admin(path.c_str(), path.c_str(), repos.c_str(), std::nullopt,
                             std::nullopt, 0, 0, 1);
                size_t cut = path.rfind('/');
                std::string parent = cut == std::string::npos ? "." : path.substr(0, cut);
                Subdir_Register(nullptr, parent.c_str(), component);
            }
        }
        ++level;
    }
    return made;
}

}  // namespace

void call_in_directory(const std::string &pathname, const DirectoryAction &action,
                       ResponseTarget target) {
    // Checked before anything is read or written for the response.
    refuse_jol_component(pathname);
    check_server_directory(pathname, true);
    std::string repos_line = read_line();
    bool inside_top = toplevel_repos && repos_line.size() > toplevel_repos->size() &&
                      repos_line.compare(0, toplevel_repos->size(), *toplevel_repos) == 0 &&
                      repos_line[toplevel_repos->size()] == '/';
    std::string short_repos =
        inside_top ? repos_line.substr(toplevel_repos->size() + 1) : repos_line;
    size_t rslash = short_repos.rfind('/');
    std::string reposdirname = rslash == std::string::npos ? "." : short_repos.substr(0, rslash);
    std::string filename =
        repos_line.substr(repos_line.rfind('/') == std::string::npos ? 0
                                                                     : repos_line.rfind('/') + 1);
    // Directory-level responses name no file (the line ends in "/").
    if (target == ResponseTarget::file || !filename.empty())
        check_server_file_name(filename);

    std::string dir = pathname.substr(0, pathname.size() - 1);
    if (dir.empty())
        dir = ".";
    if (dir.size() > 2 && dir.compare(0, 2, "./") == 0)
        dir = dir.substr(2);
    if (client_prune_dirs)
        add_prune_candidate(dir);
    std::string short_pathname = pathname + filename;

    if (last_dir_name && *last_dir_name == dir) {
        action(last_entries, short_pathname, filename);
        return;
    }
    if (command_name != "export")
        client_close_entries();
    last_dir_name = dir;
    if (!toplevel_wd) {
        char *cwd = getcwd(nullptr, 0);
        if (!cwd)
            error(1, errno, "could not get working directory");
        toplevel_wd = cwd;
        std::free(cwd);
    }
    if (chdir(toplevel_wd->c_str()) != 0)
        error(1, errno, "could not chdir to %s", *toplevel_wd);

    if (inside_top && dir == "." && !isdir("JOL") && command_name != "export") {
        std::string top = *toplevel_repos;
        if (top.size() < 2 || top.compare(top.size() - 2, 2, "/.") != 0)
            top += "/.";
        Create_Admin(".", ".", top.c_str(), std::nullopt, std::nullopt, 0, 0, 1);
    }
    bool made = false;
    if (dir != "." && !isdir(dir.c_str()))
        made = make_local_directories(dir, reposdirname, inside_top);
    if (chdir(dir.c_str()) != 0)
        error(1, errno, "could not chdir to %s", dir);
    if (command_name != "export") {
        last_entries = Entries_Open(0, dir.c_str());
        if (made)
            Subdirs_Known(last_entries);
    }
    action(last_entries, short_pathname, filename);
}
