// User variables set with the global option -s VAR=VAL.
#pragma once

#include <optional>
#include <string>

#include "src/hash/hash.h"

extern List *variable_list;

// Parses and sets one VAR=VAL argument; bad arguments are fatal.
void variable_set(const char *nameval);
std::optional<std::string> variable_get(const std::string &name);
