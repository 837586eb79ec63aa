// The repository's administrative files in JOLROOT: the config switches,
// the regular-expression "info" files that select hook programs, and the
// expansion of variables inside them.
#pragma once

#include <optional>
#include <string>

#include "src/base/globals.h"  // preserve_perms, set from the config

extern int system_auth;
extern int top_level_admin;
extern std::string logHistory;

int parse_config(const char *root);

using CALLPROC = int (*)(const char *repository, const char *value, void *closure);
// Runs callproc for the lines of JOLROOT/<infofile> that apply to
// `repository`; the sum of the results.
int Parse_Info(const char *infofile, const char *repository, CALLPROC callproc, int all,
               void *closure = nullptr);

// `name` with variables and a leading tilde expanded, or none after an
// error naming `file` (and `line` when non-zero). With `quote_values`,
// values of user variables are inserted as single quoted shell words.
std::optional<std::string> expand_path(const char *name, const char *file, int line,
                                       bool quote_values = false);

// One POSIX shell word that stands for `text` exactly.
std::string shell_word(std::string_view text);
