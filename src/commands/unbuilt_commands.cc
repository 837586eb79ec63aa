// Commands whose implementation is not built yet. Each answers plainly that
// it is not available, with result 1, so nothing pretends to work.
#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/commands/commands.h"

int command_not_available(int, char **) {
    error(0, 0, "the %s command is not available yet", command_name);
    return 1;
}

#define JOL_UNBUILT(name) \
    int name(int argc, char **argv) { return command_not_available(argc, argv); }

JOL_UNBUILT(history)
JOL_UNBUILT(patch)
