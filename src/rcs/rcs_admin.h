// Changes to an archive's administrative data in memory: tags, the default
// branch, locks, the access list, outdated revisions. The caller rewrites
// the archive afterwards (RCS_rewrite) or drops the changes (RCS_abandon).
#pragma once

#include "src/rcs/rcs.h"

int RCS_settag(RCSNode *rcs, const char *tag, const char *rev);
int RCS_deltag(RCSNode *rcs, const char *tag);
int RCS_setbranch(RCSNode *rcs, const char *rev);
int RCS_lock(RCSNode *rcs, const char *rev, int lock_quiet);
int RCS_unlock(RCSNode *rcs, const char *rev, int unlock_quiet);
void RCS_addaccess(RCSNode *rcs, const char *user);
void RCS_delaccess(RCSNode *rcs, const char *user);
const std::string &RCS_getaccess(RCSNode *rcs);
int RCS_delete_revs(RCSNode *rcs, const char *tag1, const char *tag2, int inclusive);
