// Log messages and the repository's hook files: the editor run on a
// template, message verification, and the loginfo filters.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "src/hash/hash.h"
#include "src/wc/vers_ts.h"

struct logfile_info {
    Ctype type;
    std::optional<std::string> tag;
    std::optional<std::string> rev_old;
    std::optional<std::string> rev_new;
};

// Adds a change to a list keyed by file name (a title has type T_TITLE).
void add_change(List *changes, const std::string &name, Ctype type,
                const std::optional<std::string> &tag, const std::optional<std::string> &rev_old);

void do_editor(const char *dir, std::optional<std::string> *messagep, const char *repository,
               List *changes);
void do_verify(const std::optional<std::string> &message, const char *repository);
void Update_Logfile(const char *repository, const std::string &message, FILE *logfp,
                    List *changes);
void setup_tmpfile(FILE *fp, const char *prefix, List *changes);
// The message made legal for an archive: no trailing blanks on any line,
// no trailing white space; empty becomes "*** empty log message ***".
std::string make_message_rcslegal(const std::optional<std::string> &message);
