// Repository roots: parsing root strings, JOL/Root and JOL/Repository, and
// the password server's list of allowed roots.
#pragma once

#include <optional>
#include <string>

enum JOLmethod {
    local_method = 0,
    server_method,
    pserver_method,
    kserver_method,
    gserver_method,
    ext_method,
    fork_method,
};

extern const char *const method_names[];

// The current root; empty strings stand for "absent".
extern std::string JOLroot_original;
extern JOLmethod JOLroot_method;
extern std::string JOLroot_username;
extern std::string JOLroot_hostname;
extern std::string JOLroot_directory;
extern int JOLroot_port;
extern std::string JOLroot_proxy;
extern int JOLroot_proxy_port;

int parse_jolroot(const std::string &root);
void set_local_jolroot(const std::string &dir);

// Contents of JOL/Root in `dir` (the current directory when null), or none.
std::optional<std::string> Name_Root(const char *dir, const char *update_dir);
void Create_Root(const char *dir, const char *rootdir);
std::string Name_Repository(const char *dir, const char *update_dir);
std::string Short_Repository(const std::string &repository);
void Sanitize_Repository_Name(std::string &repository);

void root_allow_add(const char *dir);
void root_allow_free();
int root_allow_ok(const char *dir);
