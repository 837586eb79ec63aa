// The switch of an authenticated server process to its system user: every
// group and user id, checked afterwards, so that nothing of the starting
// user (root under a super-server) stays with the process.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/identity.h"
#include "src/server/auth.h"

namespace {

[[noreturn]] void switch_failed(const std::string &text) {
    auth_write("error 0 " + text + "\n");
    error_exit();
}

bool ids_are(uid_t uid, gid_t gid) {
    uid_t ru, eu, su;
    gid_t rg, eg, sg;
    if (getresuid(&ru, &eu, &su) != 0 || getresgid(&rg, &eg, &sg) != 0)
        return false;
    return ru == uid && eu == uid && su == uid && rg == gid && eg == gid && sg == gid;
}

}  // namespace

bool is_superuser_account(const std::string &username) {
    struct passwd *pw = getpwnam(username.c_str());
    return pw && pw->pw_uid == 0;
}

void switch_to_user(const std::string &username) {
    struct passwd *pw = getpwnam(username.c_str());
    if (!pw) {
        auth_write("E Fatal error, aborting.\nerror 0 " + username + ": no such user\n");
        error_exit();
    }
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;
    const std::string name = pw->pw_name;
    const std::string home = pw->pw_dir ? pw->pw_dir : "";
    if (uid == 0)
        switch_failed(username + ": refusing to serve as the super-user");

    // Without root the groups cannot change; the process keeps its own,
    // which are those of the user it already is.
    if (initgroups(name.c_str(), gid) != 0 && !(errno == EPERM && geteuid() != 0))
        switch_failed(std::string("initgroups failed: ") + std::strerror(errno));
    if (setresgid(gid, gid, gid) != 0)
        switch_failed(std::string("setgid failed: ") + std::strerror(errno));
    if (setresuid(uid, uid, uid) != 0)
        switch_failed(std::string("setuid failed: ") + std::strerror(errno));
    if (!ids_are(uid, gid) || setuid(0) == 0 || seteuid(0) == 0)
        switch_failed("setuid failed: the switch to " + name + " did not hold");

    umask(0);
    if (jol_authenticated_user.empty())
        jol_authenticated_user = name;
    setenv("LOGNAME", name.c_str(), 1);
    setenv("USER", name.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
}
