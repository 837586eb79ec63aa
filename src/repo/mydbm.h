// The key/value database files of JOLROOT (modules, val-tags): one entry
// per logical line, key then value, backslash-newline continues a line.
#pragma once

#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>

#include "src/hash/hash.h"

struct DBM {
    List *dbm_list = nullptr;
    Node *dbm_next = nullptr;
    std::string name;
    bool modified = false;
};

// Null when the file does not exist and `flags` lacks O_CREAT.
DBM *mydbm_open(const char *file, int flags, int mode);
std::optional<std::string> mydbm_fetch(DBM *db, std::string_view key);
std::optional<std::string> mydbm_firstkey(DBM *db);
std::optional<std::string> mydbm_nextkey(DBM *db);
// 0, or 1 when the key exists (the entry is left as it was).
int mydbm_store(DBM *db, std::string_view key, std::string_view value);
// Writes a modified database back (atomically); a failure to write is a
// warning. Frees the database.
void mydbm_close(DBM *db);
