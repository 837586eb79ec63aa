// The update command's shared state and per-file operations, also used by
// checkout and export.
#pragma once

#include <optional>
#include <string>

#include "src/hash/hash.h"

struct file_info;
struct Vers_TS;
struct stat;

using opt_str = std::optional<std::string>;

// What one run of the update machinery is asked for: by update itself, by
// checkout and export, and by add bringing back a removed file.
struct UpdateRequest {
    int argc = 0;
    char **argv = nullptr;
    opt_str options{};              // keyword mode ("-kb"); none keeps each file's
    opt_str tag{};                  // -r: revision or tag wanted
    opt_str date{};                 // -D, in the archive date form
    int force_tag_match = 1;        // 0 (-f): the head when tag or date do not match
    int local = 0;                  // -l
    int build_dirs = 0;             // -d: create directories new in the repository
    int aflag = 0;                  // -A: drop sticky tags, dates and options
    int prune_dirs = 0;             // -P
    int pipeout = 0;                // -p: revisions to standard output
    int toss_local_changes = 0;     // -C
    int which = 0;                  // WHICH_* bits for the walk
    opt_str join_rev1{}, join_rev2{};  // -j values as typed ("rev" or "rev:date")
    const char *preload_update_dir = nullptr;
    int rewrite_tag = 0;            // the top directory's JOL/Tag was just rewritten
    int patches = 0;                // -u (server): the client takes patches
};

// The state of one run: its request (options may be dropped during the
// run) and what the walk carries from directory to directory.
struct UpdateRun {
    UpdateRequest req{};
    opt_str join_rev1{}, join_rev2{}, date_rev1{}, date_rev2{};  // -j split at ':'
    time_t last_register_time = 0;  // second of the newest registered stamp
    int rewrite_tag = 0;
    int nonbranch = 0;
    opt_str tag_update_dir{};
    List *ignlist = nullptr;
    int rcs_diff_patches = 0;       // patches in the archive's diff form

    bool joining() const { return join_rev1.has_value(); }
};

int do_update(const UpdateRequest &req);

void write_letter(const file_info *finfo, char letter);

// Per-file operations of a run.
int checkout_file(UpdateRun &run, file_info *finfo, Vers_TS *vers_ts, int adding, int merging,
                  int update_server);
// Server side: the difference to the newer revision, in the working file,
// for the client to apply; `docheckout` set when the whole file must go
// instead. `file_info` gets the patch file's status, `checksum` the digest
// of the new revision.
int patch_file(UpdateRun &run, file_info *finfo, Vers_TS *vers_ts, int *docheckout,
               struct stat *file_info, unsigned char *checksum);
int merge_file(UpdateRun &run, file_info *finfo, Vers_TS *vers);
int join_file(UpdateRun &run, file_info *finfo, Vers_TS *vers);
int scratch_file(file_info *finfo);

