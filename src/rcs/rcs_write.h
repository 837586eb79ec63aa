// Writing archives: the lock file beside an archive, the writer of the
// archive format, and the creation of new archives.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "src/rcs/rcs.h"

// ",name," beside "name,v".
std::string rcs_lockfilename(const std::string &path);
// Creates the lock file exclusively; fatal when another writer has it.
FILE *rcs_internal_lockfile(const std::string &path);
// Flushes, syncs and closes the lock file, then renames it over the archive.
// With `must_be_new` an archive that appeared meanwhile is never replaced:
// false then, and the lock file is removed.
bool rcs_internal_unlockfile(FILE *fp, const std::string &path, bool must_be_new = false);
// Removes the lock file of an interrupted rewrite (signal and exit cleanup).
void rcs_cleanup();

void RCS_putadmin(RCSNode *rcs, FILE *fp);
void RCS_putdtree(RCSNode *rcs, const std::string &rev, FILE *fp);
void RCS_putdesc(RCSNode *rcs, FILE *fp);
void putdeltatext(FILE *fp, const Deltatext *d);
// Writes the archive back; `newdtext` is a new revision's text to insert
// next to revision `insertpt`.
void RCS_rewrite(RCSNode *rcs, const Deltatext *newdtext, const char *insertpt);
void RCS_abandon(RCSNode *rcs);

// Archive creation for import and add: see add_rcs_file's arguments.
struct NewArchive {
    std::string message;
    std::string rcs;            // archive path
    std::string user;           // working file to read
    std::string vhead;          // first revision, empty for none
    std::string key_opt;        // keyword mode without "-k", empty for none (callers
                                // apply the wrappers' mode before)
    std::string vbranch;        // vendor branch, empty for none
    std::string vtag;           // vendor tag
    std::vector<std::string> tags;  // release tags
    std::string desc;
    bool use_file_modtime = false;
};
// Writes nothing under -n (but still checks the source can be read).
int add_rcs_file(const NewArchive &a, FILE *add_logfp);
// The comment leader a new archive of `name` records, by its extension.
std::string comment_leader(const std::string &name);

// The archive date format of a time: two-digit years before 2000.
std::string rcs_date_of(time_t t);
