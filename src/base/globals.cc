// Definitions of the process-wide settings, with their defaults.
#include "src/base/globals.h"

std::string program_path;
std::string program_name = "jol";
std::string command_name;
int really_quiet = 0;
int quiet = 0;
int jolwrite = 1;
int trace = 0;
int noexec = 0;
int logoff = 0;
mode_t jolumask = 002;
std::string Tmpdir = "/tmp";
std::string Editor = "vi";
int use_jolrc = 1;
int gzip_level = 0;
int jolencrypt = 0;
int jolauthenticate = 0;
int server_active = 0;
int client_active = 0;
int error_use_protocol = 0;
std::optional<std::string> JOLroot_cmdline;
std::string CurDir;
char hostname[256];
List *root_directories = nullptr;
std::optional<std::string> current_root;
int preserve_perms = 0;
