// Repository locks: read-lock and write-lock files in each repository
// directory, serialised by a master lock directory created with mkdir.
#pragma once

#include <string>

#include "src/hash/hash.h"

// The configured parallel lock tree (config key LockDir), empty for none.
extern std::string lock_dir;

int Reader_Lock(const char *repository);
// Write-locks every directory of `list` (LOCK nodes keyed by directory).
int Writer_Lock(List *list);
void lock_tree_for_write(int argc, char **argv, int local, int aflag);
// Write-locks one directory; 0 on success, 1 when locking failed.
int lock_dir_for_write(const char *repository);
void Lock_Cleanup();
std::string lock_name(const std::string &repository, const std::string &name);
