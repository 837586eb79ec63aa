// Who runs this process: the authenticated client user of a server, else
// the login name of the real user.
#include "src/base/identity.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstring>

#include "src/base/console.h"

std::string jol_authenticated_user;

const char *getcaller() {
    static std::string cache;
    if (!jol_authenticated_user.empty())
        return jol_authenticated_user.c_str();
    if (!cache.empty())
        return cache.c_str();
    uid_t uid = getuid();
    if (uid == 0) {
        const char *name = getlogin();
        if (name && *name) {
            cache = name;
            return cache.c_str();
        }
        for (const char *var : {"LOGNAME", "USER"}) {
            auto v = jolguiglue_getenv(var);
            if (v && !v->empty()) {
                cache = *v;
                return cache.c_str();
            }
        }
    }
    if (struct passwd *pw = getpwuid(uid)) {
        cache = pw->pw_name;
    } else {
        cache = "uid" + std::to_string(static_cast<unsigned long>(uid));
    }
    return cache.c_str();
}

bool group_exists(const char *group_name) { return getgrnam(group_name) != nullptr; }

bool user_in_group(const char *group_name, const char *user) {
    const struct group *grp = getgrnam(group_name);
    if (!grp)
        return false;
    // getgrnam's result is overwritten by the next lookup: keep the gid.
    const gid_t gid = grp->gr_gid;
    for (char **m = grp->gr_mem; m && *m; ++m)
        if (std::strcmp(*m, user) == 0)
            return true;
    const struct passwd *pw = getpwnam(user);
    return pw && pw->pw_gid == gid;
}
