// The logout command: removes the stored password of a password-server
// root from the password file.
#include <string>

#include "src/base/error.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/usage.h"
#include "src/client/jolpass.h"
#include "src/commands/commands.h"

namespace {
const char *const logout_usage[] = {"Usage: %s %s\n", nullptr};
}  // namespace

int logout(int argc, char **) {
    if (argc == -1)
        usage(logout_usage);
    require_pserver_root("can only use pserver method with `logout' command");
    jol_output("(Logging out of " + JOLroot_username + "@" + JOLroot_hostname + ")\n");
    jol_flushout();
    if (!jolpass_remove(construct_jolpass_filename(), JOLroot_original))
        jol_output("Entry not found for " + JOLroot_original + "\n");
    return 0;
}
