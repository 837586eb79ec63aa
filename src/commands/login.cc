// The login command: asks for the password of a password-server root,
// has the server verify it, and stores it scrambled in the password file.
#include <cstring>
#include <string>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/usage.h"
#include "src/client/auth_connect.h"
#include "src/client/jolpass.h"
#include "src/commands/commands.h"
#include "src/protocol/scramble.h"

namespace {
const char *const login_usage[] = {"Usage: %s %s\n", nullptr};
}  // namespace

int login(int argc, char **) {
    if (argc == -1)
        usage(login_usage);
    require_pserver_root("can only use pserver method with `login' command");
    jol_output("(Logging in to " + JOLroot_username + "@" + JOLroot_hostname + ")\n");
    jol_flushout();

    std::optional<std::string> typed = jolguiglue_getpass("JOL password: ");
    std::string password = typed ? *typed : std::string();
    if (typed)
        explicit_bzero(typed->data(), typed->size());
    jol_password = scramble(password);
    explicit_bzero(password.data(), password.size());

    // A refusal ends the program inside the verification.
    connect_to_pserver(true, false);
    jolpass_store(construct_jolpass_filename(), JOLroot_original, *jol_password);

    explicit_bzero(jol_password->data(), jol_password->size());
    jol_password.reset();
    return 0;
}
