// What the tag and rtag commands share: their option state, the first pass
// that collects the changes and asks the taginfo filters for permission,
// and the archive operations of the second pass.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "src/hash/hash.h"
#include "src/wc/recurse.h"

struct RCSNode;

namespace tagging {

// The options of one tag or rtag command.
struct Options {
    bool is_rtag = false;
    std::string symtag;
    std::optional<std::string> numtag;  // -r
    std::optional<std::string> date;    // -D
    bool delete_flag = false;           // -d
    bool branch_mode = false;           // -b
    bool force_tag_move = false;        // -F
    bool force_tag_match = true;        // cleared by -f
    bool check_uptodate = false;        // -c (tag)
    bool attic_too = false;             // -a (rtag)
    bool local = false;                 // -l / -R
    bool run_module_prog = true;        // cleared by -n (rtag)
};

// One file of a directory: its name and the revision to report to the
// taginfo filters (none: not reported).
using Collected = std::vector<std::pair<std::string, std::optional<std::string>>>;

// One tag or rtag command: its options and what its passes share. The
// walks get it as their callerdat.
struct Run {
    Options opts;
    // What the first pass collected, keyed by update directory ("." for
    // the top).
    std::map<std::string, Collected> collected;
    // The repository directory whose write lock could not be taken.
    std::string unlocked_dir;
};

inline Run &run_of(void *callerdat) { return *static_cast<Run *>(callerdat); }

// Option checks both commands make once their options are parsed; the
// option letters themselves are parsed by each command.
void check_options(const Options &opts);
// Handles -q/-Q after the command name (fatal outside server mode).
void quiet_option();
// Client: the options as arguments, in the order both commands send them,
// up to and including the tag name.
void send_options(const Options &opts);

// The walk callbacks take the Run as their callerdat.

// First pass: collects every file's revision to report, per directory.
int check_fileproc(void *callerdat, file_info *finfo);
// First pass, end of a directory: runs the taginfo filters.
int check_filesdoneproc(void *callerdat, int err, const char *repository,
                        const char *update_dir, List *entries);
// Second pass, end of a directory: releases its write lock.
int tag_filesdoneproc(void *callerdat, int err, const char *repository, const char *update_dir,
                      List *entries);
// Drops what the first pass collected.
void clear_collected(Run &run);

// Second pass, start of a file: takes the directory's write lock and then
// reads the archive, so that nothing read before the lock is written
// back. False when the directory could not be locked (the file is skipped;
// `err` gets one error per directory).
bool lock_and_parse(Run &run, file_info *finfo, int &err);

// The revision `rev` refers to: `numtag`/`date` resolved in the archive.
std::optional<std::string> resolve(const Options &opts, RCSNode *rcs);

// Sets symtag to `target` and rewrites the archive, unless the tag already
// has that value (unchanged) or exists and may not move without -F
// (refused, after the "W" warning). `new_is_branch` words the warning.
enum class SetResult { unchanged, refused, set };
SetResult set_tag(const Options &opts, RCSNode *rcs, const std::string &file,
                  const std::string &target, bool new_is_branch, const char *fail_format);

}  // namespace tagging
