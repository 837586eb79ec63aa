// The modules database (JOLROOT/modules) and the expansion of module names
// into repository directories and files.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "src/repo/mydbm.h"

enum mtype { CHECKOUT = 0, TAG = 1, PATCH = 2, EXPORT = 3 };

// Called for each repository directory a name expands to: argv[0] is the
// directory below the root, argv[1..] the files named in it (none: all of
// them). mwhere is where the definition puts the module (its -d target,
// else the module's name; null for a plain directory name), mfile the file
// or directory asked for inside the module (null: the whole module).
// Returns an error count. A caller's state travels in what the function
// object captures.
using CALLBACKPROC = std::function<int(int argc, char **argv, const char *where, const char *mwhere,
                                       const char *mfile, int shorten, int local_specified,
                                       const char *mname, const char *msg)>;

DBM *open_module();
void close_module(DBM *db);
void cat_module(int status);
// Expands `mname` (a module, an alias, a directory or file below the root)
// and calls `callback_proc` for what it stands for, then runs the module's
// program of this kind of command when `run_module_prog`. Returns an error
// count.
int do_module(DBM *db, const char *mname, mtype m_type, const char *msg,
              const CALLBACKPROC &callback_proc, const char *where, int shorten,
              int local_specified, int run_module_prog, const char *extra_arg);

// Whether some module of the database names `prog` as its program of
// `option`: 'i' (run after commit) or 'u' (run after update).
bool module_program_listed(DBM *db, char option, const std::string &prog);

// JOLROOT/Emptydir, created when missing: the repository of directories
// that only exist to hold deeper ones.
std::string emptydir_name();
