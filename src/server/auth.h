// Authentication of a password-server connection before the ordinary
// server runs on it: the password exchange with the repository's and the
// system's user databases, the GSSAPI exchange, and the switch to the
// authenticated system user.
#pragma once

#include <optional>
#include <string>

// Seconds a peer has to complete the authentication exchange.
constexpr unsigned auth_time_limit = 60;

// The password method, or the GSSAPI method when the peer asks for it, on
// descriptors 0 and 1. Returns once the user is accepted and switched to;
// a refusal or a finished verification ends the process.
void pserver_authenticate_connection();
void gserver_authenticate_connection();

// The system user to run as for an accepted login, none for a refused
// one; a user unknown to both databases ends the process.
std::optional<std::string> check_password(const std::string &username,
                                          const std::string &password,
                                          const std::string &repository);
// JOLROOT/passwd alone: 0 user not listed (or no file), 1 accepted with
// `host_user` set, 2 refused.
int check_repository_password(const std::string &username, const std::string &password,
                              const std::string &repository, std::string &host_user);
// Whether `password` hashes to `hash` with crypt; a failed or disabled hash
// ("*" first) never matches, and the comparison takes the same time
// wherever the hashes differ.
bool crypt_matches(const std::string &password, const std::string &hash);

// Becomes `username` for good (groups, group and user ids, checked), with
// umask 0 and LOGNAME, USER and HOME set. Failures end the process.
void switch_to_user(const std::string &username);
// Whether `username` is a system user with user id 0.
bool is_superuser_account(const std::string &username);

// Whether the network buffers are wrapped with the connection's GSSAPI
// context.
extern bool jol_gssapi_wrapping;

// Writes `text` straight to the client (descriptor 1), before any buffer
// exists.
void auth_write(const std::string &text);
