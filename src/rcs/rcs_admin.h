// Changes to an archive's administrative data in memory: tags, the default
// branch, locks, the access list, outdated revisions. The caller rewrites
// the archive afterwards (RCS_rewrite) or drops the changes (RCS_abandon).
#pragma once

#include <optional>
#include <string>

#include "src/rcs/rcs.h"

int RCS_settag(RCSNode *rcs, const char *tag, const char *rev);
int RCS_deltag(RCSNode *rcs, const char *tag);
int RCS_setbranch(RCSNode *rcs, const char *rev);
int RCS_lock(RCSNode *rcs, const char *rev, int lock_quiet);
// The revision RCS_lock locks for `rev`; none after its message (unless
// quiet) when there is no such revision.
std::optional<std::string> RCS_lock_target(RCSNode *rcs, const char *rev, int quiet);
// Who holds the lock on revision `rev`, if anyone does.
std::optional<std::string> RCS_lock_holder(RCSNode *rcs, const std::string &rev);
int RCS_unlock(RCSNode *rcs, const char *rev, int unlock_quiet);
// Called when RCS_unlock removes a lock another user held, with the file's
// name and its repository directory, so that the watch code can tell them.
// This layer only calls it; the command layer installs it.
using BrokenLockHook = void (*)(const std::string &file, const std::string &repository);
void set_broken_lock_hook(BrokenLockHook hook);
void RCS_addaccess(RCSNode *rcs, const char *user);
void RCS_delaccess(RCSNode *rcs, const char *user);
const std::string &RCS_getaccess(RCSNode *rcs);
// Outdates the revisions from tag1 to tag2 (ends removed too when
// `inclusive`); 0 done or nothing to do, 1 refused with the archive unchanged.
int RCS_delete_revs(RCSNode *rcs, const char *tag1, const char *tag2, int inclusive);
