// The update command's shared state and per-file operations, also used by
// checkout and export.
#pragma once

#include <optional>
#include <string>

#include "src/hash/hash.h"

struct file_info;
struct Vers_TS;

namespace update_state {
extern std::optional<std::string> options;
extern std::optional<std::string> tag;
extern std::optional<std::string> date;
extern int aflag;
extern int toss_local_changes;
extern int force_tag_match;
extern int update_build_dirs;
extern int update_prune_dirs;
extern int pipeout;
extern std::optional<std::string> join_rev1, join_rev2, date_rev1, date_rev2;
extern time_t last_register_time;
}  // namespace update_state

int do_update(int argc, char **argv, const char *xoptions, const char *xtag, const char *xdate,
              int xforce, int local, int xbuild, int xaflag, int xprune, int xpipeout, int which,
              const char *xjoin_rev1, const char *xjoin_rev2, const char *preload_update_dir);

void write_letter(const file_info *finfo, char letter);
int isemptydir(const char *dir, int might_not_exist);
int joining();

// Per-file operations.
int checkout_file(file_info *finfo, Vers_TS *vers_ts, int adding, int merging,
                  int update_server);
int merge_file(file_info *finfo, Vers_TS *vers);
int join_file(file_info *finfo, Vers_TS *vers);
int scratch_file(file_info *finfo);

