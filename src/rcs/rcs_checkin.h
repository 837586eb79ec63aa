// Checking new revisions into archives.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "src/rcs/rcs.h"

constexpr int CHECKIN_DEAD = 2;
constexpr int CHECKIN_QUIET = 4;
constexpr int CHECKIN_MODTIME = 8;
constexpr int CHECKIN_KEEPFILE = 16;

// Checks `workfile` in as a new revision (on the trunk, or on the branch of
// `rev`); 0 on success, 1 after a message. A non-zero `when` dates the
// revision, overriding both now and CHECKIN_MODTIME.
int RCS_checkin(RCSNode *rcs, const char *workfile, const char *message, const char *rev,
                int flags, time_t when = 0);
// Adds a branch at `branch` (a revision: a new number; a branch number:
// that branch); the number of its first revision.
std::optional<std::string> RCS_addbranch(RCSNode *rcs, const char *branch);
std::optional<std::string> RCS_findlock_or_tip(RCSNode *rcs);
