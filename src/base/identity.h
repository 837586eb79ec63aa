// The identity of the invoking user, as recorded in archives, locks and the
// history journal.
#pragma once

#include <string>

// The authenticated client user when set, else the login name of the real
// user (for the super-user, the login name or LOGNAME/USER first); cached.
const char *getcaller();
// Set by the authentication of a server connection.
extern std::string jol_authenticated_user;

// Whether `user` belongs to the system group `group_name`: listed as a
// member, or the group is the user's primary group. False when the group
// does not exist.
bool user_in_group(const char *group_name, const char *user);
// Whether the system group `group_name` exists.
bool group_exists(const char *group_name);
