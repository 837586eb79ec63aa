// Process-wide settings, written during start-up and read by the commands.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

struct List;

extern std::string program_path;
extern std::string program_name;
extern std::string command_name;  // empty until the command is looked up
extern int really_quiet;
extern int quiet;
extern int jolwrite;
extern int trace;
extern int noexec;
extern int logoff;
extern mode_t jolumask;
extern std::string Tmpdir;
extern std::string Editor;
extern int use_jolrc;
extern int gzip_level;
extern int jolencrypt;
extern int jolauthenticate;
extern int server_active;
extern int client_active;
extern int error_use_protocol;
extern std::optional<std::string> JOLroot_cmdline;
extern std::string CurDir;
extern char hostname[256];
extern List *root_directories;
extern std::optional<std::string> current_root;
// "PreservePermissions" of JOLROOT/config: file modes are left alone.
extern int preserve_perms;
