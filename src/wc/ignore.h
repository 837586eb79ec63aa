// Ignore patterns (files silently skipped instead of reported as unknown)
// and directories excluded by module definitions.
#pragma once

#include <string>

#include "src/hash/hash.h"

extern int ign_inhibit_server;
extern int ign_case;

void ign_setup();
void ign_add(const char *text, int hold);
void ign_add_file(const char *file, int hold);
int ign_name(const char *name);
void ign_dir_add(const char *dir);
int ignore_directory(const char *dir);

using Ignore_proc = void (*)(const char *name, const char *update_dir);
void ignore_files(List *ilist, List *entries, const char *update_dir, Ignore_proc proc);
