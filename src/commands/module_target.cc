#include "src/commands/module_target.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/root.h"
#include "src/repo/modules.h"

std::string canonical_path(const std::string &path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

bool path_inside(const std::string &path, const std::string &dir) {
    return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           (dir == "/" || path[dir.size()] == '/'));
}

bool unsafe_module_name(const std::string &name) {
    if (!name.empty() && name[0] == '/')
        return true;
    for (size_t i = 0; i <= name.size();) {
        size_t slash = name.find('/', i);
        if (slash == std::string::npos)
            slash = name.size();
        if (slash - i == 2 && name.compare(i, 2, "..") == 0)
            return true;
        i = slash + 1;
    }
    return false;
}

int ignored_module(const char *name) {
    error(0, 0, "cannot find module `%s' - ignored", name);
    return 1;
}

std::optional<ModuleTarget> module_target(int argc, char **argv, const char *mfile,
                                          const char *mname) {
    ModuleTarget t;
    std::string below = argv[0];
    t.files.assign(argv + 1, argv + argc);
    if (mfile) {
        std::string mf = mfile;
        size_t slash = mf.rfind('/');
        if (slash != std::string::npos) {
            below += "/" + mf.substr(0, slash);
            mf = mf.substr(slash + 1);
        }
        if (isdir((JOLroot_directory + "/" + below + "/" + mf).c_str()))
            below += "/" + mf;
        else
            t.files.assign(1, mf);
    }
    if (unsafe_module_name(below)) {
        ignored_module(mname);
        return std::nullopt;
    }
    t.repository = JOLroot_directory + "/" + below;
    Sanitize_Repository_Name(t.repository);
    if (!path_inside(canonical_path(t.repository), canonical_path(JOLroot_directory))) {
        ignored_module(mname);
        return std::nullopt;
    }
    t.update_dir = below;
    while (t.update_dir.size() > 1 && t.update_dir.back() == '/')
        t.update_dir.pop_back();
    while (t.update_dir.compare(0, 2, "./") == 0)
        t.update_dir.erase(0, 2);
    if (t.update_dir == ".")
        t.update_dir.clear();
    return t;
}

std::optional<ModuleTarget> enter_module_target(int argc, char **argv, const char *mfile,
                                                const char *mname) {
    std::optional<ModuleTarget> t = module_target(argc, argv, mfile, mname);
    if (t && chdir(t->repository.c_str()) != 0) {
        error(0, errno, "cannot chdir to %s", t->repository);
        return std::nullopt;
    }
    return t;
}

std::vector<char *> ModuleTarget::file_args() {
    std::vector<char *> args;
    args.reserve(files.size() + 1);
    for (std::string &f : files)
        args.push_back(f.data());
    args.push_back(nullptr);
    return args;
}
