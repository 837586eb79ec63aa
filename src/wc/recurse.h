// The recursion engine: turns command-line arguments into directories and
// files, walks the working copy (or the repository) depth first, and calls
// a command's callbacks for each file and on entering and leaving each
// directory.
#pragma once

#include <string>

#include "src/hash/hash.h"

struct RCSNode;

struct file_info {
    std::string file;
    std::string update_dir;
    std::string fullname;
    const char *repository = nullptr;
    List *entries = nullptr;
    RCSNode *rcs = nullptr;
};

enum Dtype { R_PROCESS = 1, R_SKIP_FILES, R_SKIP_DIRS, R_SKIP_ALL };

constexpr int WHICH_LOCAL = 1;
constexpr int WHICH_REPOSITORY = 2;
constexpr int WHICH_ATTIC = 4;

using FILEPROC = int (*)(void *callerdat, file_info *finfo);
using FILESDONEPROC = int (*)(void *callerdat, int err, const char *repository,
                              const char *update_dir, List *entries);
using DIRENTPROC = Dtype (*)(void *callerdat, const char *dir, const char *repos,
                             const char *update_dir, List *entries);
using DIRLEAVEPROC = int (*)(void *callerdat, const char *dir, int err, const char *update_dir,
                             List *entries);

// One walk: the callbacks (each may be null), what they share, the
// arguments to turn into files and directories, and how to walk.
struct RecursionRequest {
    FILEPROC fileproc = nullptr;
    FILESDONEPROC filesdoneproc = nullptr;
    DIRENTPROC direntproc = nullptr;
    DIRLEAVEPROC dirleaveproc = nullptr;
    void *callerdat = nullptr;  // handed to every callback
    int argc = 0;
    char **argv = nullptr;
    int local = 0;               // no descent into subdirectories
    int which = WHICH_LOCAL;     // WHICH_* bits: where files are looked for
    int aflag = 0;               // entries opened ignoring sticky tags (-A)
    int readlock = 0;            // read-lock each repository directory
    const char *update_preload = nullptr;  // update_dir to start from
    int dosrcs = 1;              // parse each file's archive for the callback
};

int start_recursion(const RecursionRequest &req);

List *Find_Names(const char *repository, int which, int aflag, List **optentries);
List *Find_Directories(const char *repository, int which, List *entries);
int find_rcs(const char *dir, List *list);
int find_dirs(const char *dir, List *list, int checkadm, List *entries);
void addlist(List **listp, const std::string &name);

// The repository directory of the directory being walked (null when none);
// valid only during a callback.
const char *recursion_repository();
