// The recursion engine: argument placement, the depth-first walk, and the
// scanners of working and repository directories.
#include "src/wc/recurse.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/rcs/rcs.h"
#include "src/wc/entries.h"
#include "src/wc/fileattr.h"
#include "src/wc/lock.h"
#include "src/wc/server_hooks.h"
#include "src/wc/wrapper.h"

namespace {

struct DirName {
    std::string name;
    unsigned char type;
};

// The names in `dir`; false with errno set when it cannot be read. While a
// SharedListing is open, the scans of one repository directory for files
// and for subdirectories share a single reading of it.
class SharedListing {
  public:
    SharedListing() : outer_(open_) { open_ = this; }
    ~SharedListing() { open_ = outer_; }
    SharedListing(const SharedListing &) = delete;
    SharedListing &operator=(const SharedListing &) = delete;

    static bool read(const char *dir, std::vector<DirName> &names) {
        if (open_)
            for (const auto &[path, seen] : open_->read_)
                if (path == dir) {
                    names = seen;
                    return true;
                }
        if (!read_directory(dir, names))
            return false;
        if (open_)
            open_->read_.emplace_back(dir, names);
        return true;
    }

  private:
    static bool read_directory(const char *dir, std::vector<DirName> &names) {
        names.clear();
        DIR *d = opendir(dir);
        if (!d)
            return false;
        errno = 0;
        while (struct dirent *de = readdir(d))
            names.push_back({de->d_name, de->d_type});
        int saved = errno;
        closedir(d);
        errno = saved;
        return saved == 0;
    }

    static SharedListing *open_;
    SharedListing *outer_;
    std::vector<std::pair<std::string, std::vector<DirName>>> read_;
};

SharedListing *SharedListing::open_ = nullptr;

struct recursion_frame {
    FILEPROC fileproc;
    FILESDONEPROC filesdoneproc;
    DIRENTPROC direntproc;
    DIRLEAVEPROC dirleaveproc;
    void *callerdat;
    Dtype flags;
    int which;
    int aflag;
    int readlock;
    int dosrcs;
};

// Engine state of the directory being walked.
std::string update_dir;
std::optional<std::string> repository;
List *filelist = nullptr;
List *dirlist = nullptr;
// (device, inode) of the directories on the current walk path, and of
// their repository directories when a working-copy walk also reads the
// repository (a link in the repository must not make it endless either).
std::vector<std::pair<dev_t, ino_t>> walk_path;
std::vector<std::pair<dev_t, ino_t>> repository_path;

bool reads_both(const recursion_frame *frame) {
    return (frame->which & WHICH_LOCAL) && (frame->which & WHICH_REPOSITORY);
}

bool on_path(const std::vector<std::pair<dev_t, ino_t>> &path, const struct stat &sb) {
    for (const auto &[dev, ino] : path)
        if (dev == sb.st_dev && ino == sb.st_ino)
            return true;
    return false;
}

void warn_loop(const std::string &dir) {
    error(0, 0, "warning: skipping %s: it leads back into a directory being processed", dir);
}

int do_recursion(recursion_frame *frame);


bool names_root_of_other_repository(const std::string &where) {
    // A directory whose JOL/Root names another root is walked for its
    // subdirectories only; the root is recorded for another pass.
    if (JOLroot_cmdline || server_active)
        return false;
    auto this_root = Name_Root(nullptr, where.c_str());
    if (!this_root)
        return false;
    if (!findnode(root_directories, *this_root)) {
        Node *n = getnode();
        n->type = NT_UNKNOWN;
        n->key = *this_root;
        if (addnode(root_directories, n) != 0)
            error(1, 0, "cannot add new JOLROOT %s", *this_root);
    }
    return !current_root || *this_root != *current_root;
}

// What the per-file and per-directory walks of one directory share.
struct FileWalk {
    recursion_frame *frame;
    List *entries;
};
using DirWalk = FileWalk;

int file_proc_with_entries(Node *p, void *closure) {
    auto *walk = static_cast<FileWalk *>(closure);
    recursion_frame *frame = walk->frame;
    file_info finfo;
    finfo.file = *p->key;
    finfo.update_dir = update_dir;
    finfo.fullname = update_dir.empty() ? finfo.file : update_dir + "/" + finfo.file;
    finfo.repository = repository ? repository->c_str() : nullptr;
    finfo.entries = walk->entries;
    if (frame->dosrcs && repository) {
        finfo.rcs = RCS_parse(finfo.file.c_str(), repository->c_str());
        if (!finfo.rcs && !(frame->which & WHICH_LOCAL)) {
            error(0, 0, "could not read RCS file for %s", finfo.fullname);
            jol_flushout();
            return 0;
        }
    }
    int err = frame->fileproc(frame->callerdat, &finfo);
    freercsnode(&finfo.rcs);
    jol_flushout();
    return err;
}

int do_dir_proc(Node *p, void *closure);

int do_recursion(recursion_frame *frame) {
    if (frame->flags == R_SKIP_ALL)
        return 0;
    int locktype = noexec ? 0 : frame->readlock;
    if (server_active && (noexec || locktype))
        server_pause_check();

    bool process_this_directory = !names_root_of_other_repository(update_dir);

    std::optional<std::string> srepository = repository;
    if (frame->which & WHICH_LOCAL) {
        if (isdir("JOL"))
            repository = Name_Repository(nullptr, update_dir.c_str());
        else
            repository.reset();
    } else {
        char *cwd = getcwd(nullptr, 0);
        if (!cwd)
            error(1, errno, "could not get working directory");
        repository = cwd;
        std::free(cwd);
    }
    if (repository)
        fileattr_startdir(repository->c_str());
    bool pushed_repository = false;
    if (reads_both(frame) && repository) {
        struct stat rsb;
        if (stat(repository->c_str(), &rsb) == 0) {
            repository_path.emplace_back(rsb.st_dev, rsb.st_ino);
            pushed_repository = true;
        }
    }

    int err = 0;
    bool dodoneproc = !(filelist == nullptr && dirlist != nullptr);
    List *entries = nullptr;
    bool skip_to_attrs = false;
    // The repository directory is read once for its files and its
    // subdirectories.
    std::optional<SharedListing> listing;
    if (!filelist && !dirlist) {
        if (frame->fileproc && frame->flags != R_SKIP_FILES) {
            int which = frame->which;
            if (!(which & WHICH_ATTIC) && isreadable("JOL/Tag"))
                which |= WHICH_ATTIC;
            if (!repository && (frame->which & WHICH_LOCAL) && isdir("JOL"))
                repository = Name_Repository(nullptr, update_dir.c_str());
            if (process_this_directory) {
                listing.emplace();
                filelist = Find_Names(repository ? repository->c_str() : nullptr, which,
                                      frame->aflag, &entries);
                if (!filelist) {
                    error(0, 0, "skipping directory %s", update_dir);
                    skip_to_attrs = true;
                }
            }
        }
        if (!skip_to_attrs && frame->flags != R_SKIP_DIRS)
            dirlist = Find_Directories(
                process_this_directory && repository ? repository->c_str() : nullptr,
                frame->which, entries);
        listing.reset();
    } else if (filelist && frame->fileproc && (frame->which & WHICH_LOCAL)) {
        entries = Entries_Open(frame->aflag, nullptr);
    }

    if (!skip_to_attrs) {
        if (process_this_directory && filelist && frame->fileproc) {
            if (locktype && repository && Reader_Lock(repository->c_str()) != 0)
                error(1, 0, "read lock failed - giving up");
            FileWalk walk{frame, entries};
            err += walklist(filelist, file_proc_with_entries, &walk);
            if (locktype)
                Lock_Cleanup();
        }
        dellist(&filelist);
        if (process_this_directory && dodoneproc && frame->filesdoneproc)
            err = frame->filesdoneproc(frame->callerdat, err,
                                       repository ? repository->c_str() : nullptr,
                                       update_dir.empty() ? "." : update_dir.c_str(), entries);
    }
    dellist(&filelist);
    fileattr_write();
    fileattr_free();

    if (dirlist) {
        List *dirs = dirlist;
        dirlist = nullptr;
        DirWalk walk{frame, entries};
        err += walklist(dirs, do_dir_proc, &walk);
        dellist(&dirs);
    }
    Entries_Close(entries);
    if (pushed_repository)
        repository_path.pop_back();
    repository = srepository;
    return err;
}

int do_dir_proc(Node *p, void *closure) {
    auto *walk = static_cast<DirWalk *>(closure);
    recursion_frame *frame = walk->frame;
    const std::string dir = *p->key;

    if (dir == "JOL") {
        static bool warned = false;
        if (!warned) {
            error(0, 0, "warning: directory %s specified in argument", dir);
            error(0, 0, "but JOL uses %s for its own purposes; skipping %s directory", "JOL", dir);
            warned = true;
        }
        return 0;
    }

    std::string saved_update_dir = update_dir;
    if (dir == ".")
        update_dir = update_dir.empty() ? "." : update_dir;
    else
        update_dir = update_dir.empty() ? dir : update_dir + "/" + dir;
    std::string newrepos;
    if (dir == ".")
        newrepos = repository.value_or("");
    else
        newrepos = repository ? *repository + "/" + dir : std::string();

    int err = 0;
    bool skip = false;
    std::string adm = dir + "/JOL";
    if ((frame->which & WHICH_LOCAL) && isdir(adm.c_str())) {
        if (!isfile((dir + "/JOL/Repository").c_str())) {
            error(0, 0, "ignoring %s (%s missing)", update_dir, "JOL/Repository");
            skip = true;
        } else if (!isfile((dir + "/JOL/Entries").c_str())) {
            error(0, 0, "ignoring %s (%s missing)", update_dir, "JOL/Entries");
            skip = true;
        }
    }

    bool other_root = false;
    if (!skip && !JOLroot_cmdline && !server_active) {
        auto sub_root = Name_Root(dir.c_str(), update_dir.c_str());
        if (sub_root) {
            if (!findnode(root_directories, *sub_root)) {
                Node *n = getnode();
                n->key = *sub_root;
                if (addnode(root_directories, n) != 0)
                    error(1, 0, "cannot add new JOLROOT %s", *sub_root);
            }
            other_root = !current_root || *sub_root != *current_root;
        }
    }

    if (!skip && dir != "." && reads_both(frame) && !newrepos.empty()) {
        struct stat rsb;
        if (stat(newrepos.c_str(), &rsb) == 0 && on_path(repository_path, rsb)) {
            warn_loop(update_dir);
            skip = true;
        }
    }

    Dtype dir_return = R_PROCESS;
    if (!skip) {
        if (frame->direntproc) {
            if (!other_root)
                dir_return = frame->direntproc(frame->callerdat, dir.c_str(), newrepos.c_str(),
                                               update_dir.c_str(), walk->entries);
        } else if ((frame->which & WHICH_LOCAL) && !isdir(dir.c_str())) {
            dir_return = R_SKIP_ALL;
        }
    }

    if (!skip && dir_return != R_SKIP_ALL) {
        struct stat sb;
        bool loop = stat(dir.c_str(), &sb) == 0 && on_path(walk_path, sb);
        if (loop) {
            warn_loop(update_dir);
        } else {
            SavedCwd cwd;
            std::optional<std::string> srepository = repository;
            List *sdirlist = dirlist;
            dirlist = nullptr;
            if (chdir(dir.c_str()) != 0)
                error(1, errno, "could not chdir to %s", dir);
            walk_path.emplace_back(sb.st_dev, sb.st_ino);
            if (frame->flags == R_SKIP_DIRS)
                dir_return = R_SKIP_DIRS;
            bool emptied = update_dir == ".";
            if (emptied)
                update_dir.clear();
            recursion_frame sub = *frame;
            sub.flags = dir_return;
            err = do_recursion(&sub);
            if (emptied)
                update_dir = ".";
            walk_path.pop_back();
            if (!other_root && frame->dirleaveproc)
                err = frame->dirleaveproc(frame->callerdat, dir.c_str(), err, update_dir.c_str(),
                                          walk->entries);
            repository = srepository;
            dirlist = sdirlist;
        }
    }
    update_dir = saved_update_dir;
    return err;
}

bool wrapped_as_file(const char *name) { return wrap_name_has(name, WRAP_TOJOL) != 0; }

}  // namespace

const char *recursion_repository() { return repository ? repository->c_str() : nullptr; }

void addlist(List **listp, const std::string &name) {
    if (!*listp)
        *listp = getlist();
    Node *p = getnode();
    p->key = name;
    p->type = FILES;
    if (addnode(*listp, p) != 0)
        freenode(p);
}

int start_recursion(const RecursionRequest &req) {
    recursion_frame frame{req.fileproc,  req.filesdoneproc,
                          req.direntproc, req.dirleaveproc,
                          req.callerdat, req.local ? R_SKIP_DIRS : R_PROCESS,
                          req.which,     req.aflag,
                          req.readlock,  req.dosrcs};
    const int argc = req.argc;
    char **const argv = req.argv;
    const int which = req.which;
    const char *const update_preload = req.update_preload;
    std::string saved_update_dir = update_dir;
    std::optional<std::string> saved_repository = repository;
    List *saved_filelist = filelist, *saved_dirlist = dirlist;
    update_dir = update_preload ? update_preload : "";
    repository.reset();
    filelist = nullptr;
    dirlist = nullptr;

    // Files named in the arguments, grouped by their directory part.
    List *files_by_dir = nullptr;
    if (server_active)
        for (int i = 0; i < argc; ++i)
            server_pathname_check(argv[i]);

    if (argc == 0) {
        bool look_below = (which & WHICH_LOCAL) && !isdir("JOL");
        if (!look_below && client_active && !JOLroot_cmdline) {
            auto here = Name_Root(nullptr, update_dir.c_str());
            look_below = here && current_root && *here != *current_root;
        }
        if (look_below) {
            dirlist = Find_Directories(nullptr, WHICH_LOCAL, nullptr);
            if (list_isempty(dirlist)) {
                error(0, 0, "in directory %s:", update_dir.empty() ? "." : update_dir);
                error(1, 0, "there is no version here; run '%s checkout' first", program_name);
            }
        } else {
            addlist(&dirlist, ".");
        }
    } else {
        for (int i = 0; i < argc; ++i) {
            std::string arg = argv[i];
            if (isdir(arg.c_str()) && !wrapped_as_file(arg.c_str())) {
                addlist(&dirlist, arg);
                continue;
            }
            size_t slash = arg.rfind('/');
            std::string dir = slash == std::string::npos ? "." : arg.substr(0, slash);
            std::string file = slash == std::string::npos ? arg : arg.substr(slash + 1);
            if (dir.empty())
                dir = "/";
            std::string probe = (which & WHICH_LOCAL) ? arg : arg + ",v";
            if (!isfile(probe.c_str()) && !isdir(dir.c_str()))
                error(1, 0, "no such directory `%s'", dir);
            bool repo_dir = false;
            if ((which & WHICH_LOCAL) && isdir("JOL") && !client_active &&
                isdir((dir + "/JOL").c_str())) {
                std::string repos = Name_Repository(dir.c_str(), update_dir.c_str());
                std::string there = repos + "/" + file;
                repo_dir = isdir(there.c_str()) && !wrapped_as_file(there.c_str());
            }
            if (repo_dir) {
                addlist(&dirlist, arg);
                continue;
            }
            if (!files_by_dir)
                files_by_dir = getlist();
            Node *dn = findnode(files_by_dir, dir);
            if (!dn) {
                dn = getnode();
                dn->key = dir;
                dn->type = DIRS;
                dn->data = getlist();
                dn->delproc = [](Node *n) {
                    List *l = static_cast<List *>(n->data);
                    dellist(&l);
                };
                addnode(files_by_dir, dn);
            }
            List *files = static_cast<List *>(dn->data);
            addlist(&files, file);
        }
    }

    int err = 0;
    if (files_by_dir) {
        JOL_FOR_EACH_NODE(files_by_dir, dn) {
            const std::string &dir = *dn->key;
            if (dirlist && findnode(dirlist, dir))
                continue;
            List *sdirlist = dirlist;
            dirlist = nullptr;
            filelist = static_cast<List *>(dn->data);
            dn->data = nullptr;
            std::string supdate = update_dir;
            {
                std::unique_ptr<SavedCwd> cwd;
                if (dir != ".") {
                    cwd = std::make_unique<SavedCwd>();
                    if (chdir(dir.c_str()) != 0)
                        error(1, errno, "could not chdir to %s", dir);
                    update_dir = update_dir.empty() ? dir : update_dir + "/" + dir;
                }
                err += do_recursion(&frame);
            }
            update_dir = supdate;
            dellist(&filelist);
            dirlist = sdirlist;
        }
        dellist(&files_by_dir);
    }
    if (dirlist)
        err += do_recursion(&frame);
    dellist(&dirlist);

    update_dir = saved_update_dir;
    repository = saved_repository;
    filelist = saved_filelist;
    dirlist = saved_dirlist;
    return err;
}

namespace {

bool bad_scanned_name(const char *name) {
    return std::strchr(name, '\n') != nullptr || std::strcmp(name, ".,v") == 0 ||
           std::strcmp(name, "..,v") == 0;
}

}  // namespace

int find_rcs(const char *dir, List *list) {
    std::vector<DirName> names;
    if (!SharedListing::read(dir, names))
        return 1;
    for (const DirName &dn : names) {
        const char *name = dn.name.c_str();
        if (fnmatch("*,v", name, 0) != 0 || bad_scanned_name(name))
            continue;
        addlist(&list, dn.name.substr(0, dn.name.size() - 2));
    }
    errno = 0;
    return 0;
}

int find_dirs(const char *dir, List *list, int checkadm, List *entries) {
    std::string emptydir_parent = JOLroot_directory + "/JOLROOT";
    bool skip_emptydir = std::strcmp(dir, emptydir_parent.c_str()) == 0;
    std::vector<DirName> names;
    if (!SharedListing::read(dir, names))
        return 1;
    for (const DirName &dn : names) {
        const char *name = dn.name.c_str();
        if (!std::strcmp(name, ".") || !std::strcmp(name, "..") || !std::strcmp(name, "Attic") ||
            !std::strcmp(name, "#jol.lock") || !std::strcmp(name, "JOL") ||
            (skip_emptydir && !std::strcmp(name, "Emptydir")) || bad_scanned_name(name))
            continue;
        if (entries && findnode_fn(entries, name))
            continue;
        std::string path = std::string(dir) + "/" + name;
        if (dn.type != DT_DIR) {
            if (dn.type != DT_LNK && dn.type != DT_UNKNOWN)
                continue;
            if (fnmatch("*,v", name, 0) == 0)
                continue;
            if (!isdir(path.c_str()))
                continue;
        }
        if (checkadm) {
            if (islink(path.c_str()))
                continue;
            if (!isdir((path + "/JOL").c_str()))
                continue;
        }
        addlist(&list, name);
    }
    errno = 0;
    return 0;
}

List *Find_Names(const char *repos, int which, int aflag, List **optentries) {
    List *files = getlist();
    List *entries = nullptr;
    if (which & WHICH_LOCAL) {
        entries = Entries_Open(aflag, nullptr);
        JOL_FOR_EACH_NODE(entries, p) {
            const Entnode *e = static_cast<const Entnode *>(p->data);
            if (e->type == ENT_FILE)
                addlist(&files, *p->key);
        }
    }
    if ((which & WHICH_REPOSITORY) && repos && !isreadable("JOL/Entries.Static")) {
        if (find_rcs(repos, files) != 0) {
            error(0, errno, "cannot open directory %s", repos);
            dellist(&files);
            if (optentries)
                *optentries = entries;
            else
                Entries_Close(entries);
            return nullptr;
        }
        if (which & WHICH_ATTIC) {
            std::string attic = std::string(repos) + "/Attic";
            if (find_rcs(attic.c_str(), files) != 0 && errno != ENOENT)
                error(1, errno, "cannot open directory %s", attic);
        }
    }
    sortlist(files, fsortcmp);
    if (optentries)
        *optentries = entries;
    else
        Entries_Close(entries);
    return files;
}

List *Find_Directories(const char *repos, int which, List *entries) {
    List *dirs = getlist();
    if (which & WHICH_LOCAL) {
        List *tmpentries = entries;
        if (!tmpentries && isfile("JOL/Entries"))
            tmpentries = Entries_Open(0, nullptr);
        stickydirtag *sdt = entries_sticky(tmpentries);
        if (tmpentries && (!sdt || sdt->subdirs)) {
            JOL_FOR_EACH_NODE(tmpentries, p) {
                const Entnode *e = static_cast<const Entnode *>(p->data);
                if (e->type == ENT_SUBDIR)
                    addlist(&dirs, *p->key);
            }
        } else {
            if (find_dirs(".", dirs, 1, nullptr) != 0)
                error(1, errno, "cannot open current directory");
            if (tmpentries) {
                if (list_isempty(dirs))
                    Subdirs_Known(tmpentries);
                else
                    JOL_FOR_EACH_NODE(dirs, p) Subdir_Register(tmpentries, nullptr, *p->key);
            }
        }
        if (tmpentries != entries)
            Entries_Close(tmpentries);
    }
    if ((which & WHICH_REPOSITORY) && repos) {
        if (find_dirs(repos, dirs, 0, entries) != 0)
            error(1, errno, "cannot open directory %s", repos);
    }
    sortlist(dirs, fsortcmp);
    return dirs;
}
