// File-system helpers shared by every subsystem: file tests, fatal-on-failure
// openers, path utilities and the home directory.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

int isdir(const char *file);
int islink(const char *file);
int isdevice(const char *file);
int isfile(const char *file);
int isreadable(const char *file);
int iswritable(const char *file);
int isaccessible(const char *file, int mode);
int isabsolute(const char *path);

// fopen; a failure is fatal ("cannot open %s").
FILE *open_file(const char *name, const char *mode);

// Text after the last "/" (the whole path when there is none, or when the
// only "/" is the first character).
const char *last_component(const char *path);

// How far a relative path climbs above its start.
int pathname_levels(const char *path);

// The home directory ("HOME", else the password database); none when
// neither is known.
std::optional<std::string> get_homedir();

// Creates a new empty file in the temporary directory: its name, or none
// with errno set (`tried`, when given, gets the name attempted).
std::optional<std::string> create_temp_file(std::string *tried = nullptr);
// A new, already created, empty file in the temporary directory whose
// name starts with "jol"; failure is fatal.
std::string jol_temp_name();

// The whole content of a file; false with `err` set to the system error
// when it cannot be opened or read.
bool read_whole_file(const char *path, std::string &out, int &err);
