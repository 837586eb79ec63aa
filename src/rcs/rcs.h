// The archive store: the in-memory model of an archive file (one controlled
// file's whole history) and the operations that read it, select revisions
// and rebuild their texts.
//
// Text fields use the empty string for "no value": the archive format reads
// an empty value as no value, so the two never need to be told apart.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "src/hash/hash.h"

class RcsBuffer;

// Flag bits of RCSNode::flags.
constexpr int ARCHIVE_VALID = 1;
constexpr int ARCHIVE_IN_ATTIC = 2;
constexpr int ARCHIVE_PARTIAL = 4;

struct Deltatext {
    std::string version;
    std::string log;   // unescaped
    std::string text;  // full text for the head, an edit script otherwise
    size_t len = 0;
    List *other = nullptr;
    ~Deltatext();
};

struct RCSVers {
    std::string version;
    std::string date;
    std::string author;
    std::string state;
    std::string next;
    int dead = 0;
    int outdated = 0;
    // Replacements for the stored log and text, written by the next rewrite
    // (an empty pending text stores an empty text).
    std::optional<std::string> pending_log;
    std::optional<std::string> pending_text;
    List *branches = nullptr;
    List *other = nullptr;
    List *other_delta = nullptr;
    ~RCSVers();
};

struct RCSNode {
    int refcount = 1;
    int flags = 0;
    std::string path;
    std::string head;
    std::string branch;
    std::optional<std::string> symbols_data;
    std::string expand;
    List *symbols = nullptr;
    List *versions = nullptr;
    std::string access;
    std::optional<std::string> locks_data;
    List *locks = nullptr;
    int strict_locks = 0;
    std::string comment;
    std::string desc;
    int64_t delta_pos = 0;
    List *other = nullptr;
    // The loaded bytes of the archive file, while this archive holds the
    // one-entry open-archive cache.
    std::unique_ptr<RcsBuffer> buf;
    ~RCSNode();
};

// Opening and reading.
RCSNode *RCS_parse(const char *file, const char *repos);
RCSNode *RCS_parsercsfile(const char *rcsfile);
void RCS_reparsercsfile(RCSNode *rdata);
void RCS_fully_parse(RCSNode *rcs);
void freercsnode(RCSNode **rcs);
int RCS_setattic(RCSNode *rcs, int toattic);
List *RCS_symbols(RCSNode *rcs);
List *RCS_getlocks(RCSNode *rcs);
// Closes the open-archive cache (before renaming or rewriting archives).
void rcsbuf_cache_close();
// Completes a partially read archive.
inline void RCS_complete(RCSNode *rcs) {
    if (rcs->flags & ARCHIVE_PARTIAL)
        RCS_reparsercsfile(rcs);
}
RCSVers *RCS_findvers(RCSNode *rcs, std::string_view rev);

// Revision arithmetic.
int numdots(std::string_view s);
int compare_revnums(std::string_view r, std::string_view s);
int compare_truncated_revnums(std::string_view r, std::string_view s);
std::string truncate_revnum(std::string_view r);
std::optional<std::string> increment_revnum(std::string_view r);
std::optional<std::string> max_rev(const RCSVers *vers);
std::string gca(std::string_view rev1, std::string_view rev2);
void check_numeric(const char *rev, int argc, char **argv);
std::string printable_date(std::string_view date);
int RCS_datecmp(std::string_view date1, std::string_view date2);
int RCS_valid_rev(std::string_view rev);
bool is_magic_revnum(std::string_view rev);

// Lookups; "force" means: none rather than the head.
std::optional<std::string> RCS_getversion(RCSNode *rcs, const char *tag, const char *date,
                                          int force_tag_match, int *simple_tag);
std::optional<std::string> RCS_head(RCSNode *rcs);
std::optional<std::string> RCS_gettag(RCSNode *rcs, const char *tag, int force_tag_match,
                                      int *simple_tag);
std::string RCS_tag2rev(RCSNode *rcs, const char *tag);
std::optional<std::string> RCS_getbranch(RCSNode *rcs, std::string_view branch,
                                         int force_tag_match);
std::optional<std::string> RCS_branch_head(RCSNode *rcs, const char *rev);
std::optional<std::string> RCS_getbranchpoint(RCSNode *rcs, const char *target);
std::optional<std::string> RCS_getdate(RCSNode *rcs, const char *date, int force_tag_match);
std::optional<std::string> RCS_getdatebranch(RCSNode *rcs, const char *date,
                                             std::string_view branch);
int64_t RCS_getrevtime(RCSNode *rcs, const char *rev, std::string *date, int fudge);
std::optional<std::string> translate_symtag(RCSNode *rcs, const char *tag);
int RCS_exist_tag(RCSNode *rcs, const char *tag);
int RCS_exist_rev(RCSNode *rcs, const char *rev);
int RCS_isdead(RCSNode *rcs, const char *rev);
const std::string &RCS_getexpand(RCSNode *rcs);
void RCS_setexpand(RCSNode *rcs, const char *mode);
int RCS_isbranch(RCSNode *rcs, const char *rev);
int RCS_nodeisbranch(RCSNode *rcs, const char *rev);
std::optional<std::string> RCS_whatbranch(RCSNode *rcs, const char *tag);
std::string RCS_magicrev(RCSNode *rcs, const char *rev);
void RCS_check_tag(const char *tag);
std::string RCS_check_kflag(const char *arg);

// Keyword-substitution modes.
enum kflag { KFLAG_KV = 0, KFLAG_KVL, KFLAG_K, KFLAG_V, KFLAG_O, KFLAG_B };
extern const char *const kflags[];

// Rebuilding revisions.
enum rcs_delta_op { RCS_ANNOTATE = 0, RCS_FETCH = 1 };
// With RCS_FETCH, the text (and log, when asked) of `version`; with
// RCS_ANNOTATE the listing is written through jol_output.
void RCS_deltas(RCSNode *rcs, const char *version, rcs_delta_op op, std::string *text,
                std::string *log);
// Applies an edit script to a whole text; false (after a warning) when the
// script does not fit.
bool rcs_change_text(const char *name, std::string_view text, std::string_view diff,
                     std::string &result);

// Substitutes the keywords of `text` in place for revision `ver`; `name`
// is the tag checked out by, `log` the revision's log message.
void expand_keywords(RCSNode *rcs, const RCSVers *ver, const char *name, std::string_view log,
                     kflag expand, std::string &text);
std::string escape_keyword_value(std::string_view value);
const char *month_printname(std::string_view month);

using RCSCHECKOUTPROC = void (*)(void *callerdat, const char *text, size_t len);
int RCS_checkout(RCSNode *rcs, const char *workfile, const char *rev, const char *nametag,
                 const char *options, const char *sout, RCSCHECKOUTPROC pfn, void *callerdat);

// 0 when the file's bytes equal revision `rev` as checked out with
// `options`, 1 otherwise.
int RCS_cmp_file(RCSNode *rcs, const char *rev, const char *options, const char *filename);
