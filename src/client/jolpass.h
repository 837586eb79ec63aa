// The client's stored passwords for password-server roots: the file's name,
// the lookup the connection makes, and the edits of login and logout.
// Format: doc/formats.md#password-file
#pragma once

#include <optional>
#include <string>

// During login: the scrambled password being verified, which the
// connection sends instead of a stored one.
extern std::optional<std::string> jol_password;

// JOL_PASSFILE, else ".jolpass" in the home directory (fatal "could not
// find out home directory" without one).
std::string construct_jolpass_filename();
// The scrambled password to send for the current root: the one being
// verified during login, else the stored one; none when nothing is stored.
// A root that is not a password root naming a user is fatal.
std::optional<std::string> get_jol_password();

// Fatal unless the current root uses the password method and names a user;
// `method_message` is the first line of the method refusal.
void require_pserver_root(const char *method_message);

// Whether `line` (without its newline) is the line of `root`: the root
// string followed by a space.
bool jolpass_line_of(std::string_view line, std::string_view root);

// Stores `scrambled` for `root`: every line of the root is replaced in
// place, or one line is appended when there is none; the file is left
// alone when the stored password is already that one. The file is
// rewritten through a new 0600 file beside it.
void jolpass_store(const std::string &file, const std::string &root,
                   const std::string &scrambled);
// Drops the lines of `root`; false (file unchanged) when there was none.
bool jolpass_remove(const std::string &file, const std::string &root);
