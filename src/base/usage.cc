// usage(): the usage text of a command on the error stream, then exit 1.
#include "src/base/usage.h"

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/output.h"

void usage(const char *const *lines) {
    ErrArg first[] = {ErrArg(program_name), ErrArg(command_name)};
    jol_outerr(error_format(lines[0], first));
    for (const char *const *p = lines + 1; *p; ++p)
        jol_outerr(error_format(*p, {}));
    error_exit();
}
