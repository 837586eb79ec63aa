// The version command and the -v banner.
#include "src/commands/version.h"

#include "src/base/console.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"

const char version_string[] = "Jointly Owned Lines (JOL) 1.11";
const char config_string[] = " (client/server)\n";

void print_version_banner_and_exit() {
    jol_output("\n");
    jol_output(version_string);
    jol_output(config_string);
    jol_output("\n");
    jol_output("Copyright (c) 2026 the JOL developers\n");
    jol_output("\n");
    jol_output("JOL may be copied only under the terms of its licence, which is\n");
    jol_output("found in the source distribution.\n");
    jol_output("\n");
    jol_output("Specify the --help option for further information about JOL\n");
    jolguiglue_exit(0);
}

int version(int argc, char **) {
    static const char *const version_usage[] = {"Usage: %s %s\n", nullptr};
    if (argc == -1)
        usage(version_usage);
    if (client_active) {
        jol_output("Client: ");
        jol_output(version_string);
        jol_output(config_string);
        jol_output("Server: ");
        start_server();
        if (supported_request("version")) {
            send_to_server("version\n");
        } else {
            send_to_server("noop\n");
            jol_output("(unknown)\n");
        }
        return get_responses_and_close();
    }
    jol_output(version_string);
    jol_output(config_string);
    return 0;
}
