// The version facts of one file side by side (its entry, the archive
// revision in effect, the file on disk), and the classification of the file
// that drives update, commit and status.
#pragma once

#include <optional>
#include <string>

#include "src/wc/entries.h"

struct RCSNode;
struct file_info;

struct Vers_TS {
    opt_str vn_user;
    opt_str vn_rcs;
    opt_str vn_tag;
    opt_str ts_user;
    opt_str ts_rcs;
    std::string options;
    opt_str ts_conflict;
    opt_str tag;
    opt_str date;
    int nonbranch = 0;
    Entnode *entdata = nullptr;  // not owned
    RCSNode *srcfile = nullptr;  // one counted reference
    ~Vers_TS();
};

enum Ctype {
    T_UNKNOWN = 1,
    T_CONFLICT,
    T_NEEDS_MERGE,
    T_MODIFIED,
    T_CHECKOUT,
    T_ADDED,
    T_REMOVED,
    T_REMOVE_ENTRY,
    T_UPTODATE,
    T_PATCH,
    T_TITLE,
};

Vers_TS *Version_TS(const file_info *finfo, const char *options, const char *tag,
                    const char *date, int force_tag_match, int set_time);
void freevers_ts(Vers_TS **versp);

// The 24-character UTC time stamp of a file's modification time (its own,
// for a symbolic link), or none when it does not exist.
opt_str time_stamp(const char *file);

Ctype Classify_File(const file_info *finfo, const char *tag, const char *date,
                    const char *options, int force_tag_match, int aflag, Vers_TS **versp,
                    int pipeout);
int No_Difference(const file_info *finfo, Vers_TS *vers);
void sticky_ck(const file_info *finfo, int aflag, Vers_TS *vers);
