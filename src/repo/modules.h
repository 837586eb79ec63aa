// The modules database (JOLROOT/modules) and the expansion of module names
// into repository directories and files.
#pragma once

#include <string>
#include <vector>

#include "src/repo/mydbm.h"

enum mtype { CHECKOUT = 0, TAG = 1, PATCH = 2, EXPORT = 3 };

using CALLBACKPROC = int (*)(int argc, char **argv, const char *where, const char *mwhere,
                             const char *mfile, int shorten, int local_specified,
                             const char *mname, const char *msg);

DBM *open_module();
void close_module(DBM *db);
void cat_module(int status);
int do_module(DBM *db, const char *mname, mtype m_type, const char *msg,
              CALLBACKPROC callback_proc, const char *where, int shorten, int local_specified,
              int run_module_prog, const char *extra_arg);
