// The per-directory file attribute database JOL/fileattr of a repository
// directory (watches, watchers, editors). With no such file every lookup is
// empty and nothing is written.
#pragma once

#include <optional>
#include <string>

void fileattr_startdir(const char *repos);
// The repository directory whose database is current (empty: none).
const std::string &fileattr_dir();
// The value of attribute `name` of `file` (null file: the defaults).
std::optional<std::string> fileattr_get(const char *file, const char *name);
std::optional<std::string> fileattr_get0(const char *file, const char *name);
void fileattr_set(const char *file, const char *name, const char *value);
std::optional<std::string> fileattr_getall(const char *file);
void fileattr_setall(const char *file, const char *attrs);
void fileattr_newfile(const char *file);
void fileattr_write();
void fileattr_free();
// Edits a list of name<namesep>value entries joined by entsep; a null value
// removes the entry; an empty result is none.
std::optional<std::string> fileattr_modify(const std::optional<std::string> &list,
                                           const std::string &name, const char *value,
                                           char namesep, char entsep);
