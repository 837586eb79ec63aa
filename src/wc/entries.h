// The administrative files of a working directory: JOL/Entries with its
// journal JOL/Entries.Log, JOL/Tag, JOL/Baserev, and the creation of a new
// JOL directory. Paths are relative to the current directory.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "src/hash/hash.h"

struct file_info;

enum ent_type { ENT_FILE = 0, ENT_SUBDIR = 1 };

struct Entnode {
    ent_type type = ENT_FILE;
    std::string user;
    std::string version;
    std::string timestamp;
    std::string options;
    std::optional<std::string> tag;
    std::optional<std::string> date;
    std::optional<std::string> conflict;
};

using opt_str = std::optional<std::string>;

Entnode *Entnode_Create(ent_type type, const std::string &user, const std::string &vn,
                        const std::string &ts, const std::string &options, const opt_str &tag,
                        const opt_str &date, const opt_str &ts_conflict);
void Entnode_Destroy(Entnode *ent);

// Directory-wide sticky facts, carried on the header node of an entries list.
struct stickydirtag {
    int aflag = 0;
    opt_str tag;
    opt_str date;
    int nonbranch = 0;
    int subdirs = 0;
};

// The header's sticky record, or null.
stickydirtag *entries_sticky(List *entries);
// The entry of `name`, or null.
Entnode *entries_find(List *entries, const std::string &name);

List *Entries_Open(int aflag, const char *update_dir);
void Entries_Close(List *list);
void Register(List *list, const std::string &fname, const std::string &vn,
              const std::string &ts, const std::string &options, const opt_str &tag,
              const opt_str &date, const opt_str &ts_conflict);
void Scratch_Entry(List *list, const std::string &fname);
void write_entries(List *list);

// One entries line in its file form (with the newline).
std::string entry_line(const Entnode &ent);
// Parses one line of JOL/Entries (journal lines when `journal`): the entry,
// its journal command, and whether it was a directory line. None for a
// line to skip; `saw_dir` is set by any "D" line.
std::optional<Entnode> parse_entries_line(std::string_view line, bool journal, char *cmd,
                                          bool *saw_dir);

void WriteTag(const char *dir, const opt_str &tag, const opt_str &date, int nonbranch,
              const char *update_dir, const char *repository);
void ParseTag(opt_str *tagp, opt_str *datep, int *nonbranchp);

void Subdirs_Known(List *entries);
void Subdir_Register(List *entries, const char *parent, const std::string &dir);
void Subdir_Deregister(List *entries, const char *parent, const std::string &dir);

enum base_op { BASE_REGISTER = 0, BASE_GET = 1, BASE_DEREGISTER = 2 };
opt_str base_get(const file_info *finfo);
void base_register(const file_info *finfo, const std::string &rev);
void base_deregister(const file_info *finfo);
// The file is the revision its entry names again: drops the copy an edit
// kept in JOL/Base.
void mark_up_to_date(const char *file);

int Create_Admin(const char *dir, const char *update_dir, const char *repository,
                 const opt_str &tag, const opt_str &date, int nonbranch, int warn,
                 int dotemplate);
int create_adm_p(const char *base_dir, const char *dir);
int mkdir_p(const char *path);
// True when `dir` holds nothing but a JOL directory whose entries name no
// file scheduled for removal; a directory that cannot be read is not empty
// (reported unless it is missing and `might_not_exist`).
int isemptydir(const char *dir, int might_not_exist);

// Administrative files that could not be written count as failures of the
// command: the exit status becomes 1 even when the command itself succeeded.
extern int admin_write_failures;

// Replaces `path` with `contents` through a temporary file in the same
// directory (fsync unless `durable` is false, then rename). False, with
// errno set, on failure.
bool write_file_atomically(const std::string &path, std::string_view contents,
                           bool durable = true);

// Whether the administrative files of a working copy (Entries, Tag,
// Baserev) are synced to disk before they replace the old ones. The
// server turns it off: its working copies are a scratch tree rebuilt for
// every command, which a crash loses anyway.
extern bool sync_admin_files;
