// wrap_send: the wrappers with keyword modes, as -W arguments.
#include "src/base/error.h"
#include "src/client/client.h"
#include "src/wc/wrapper.h"

void wrap_send() {
    for (const WrapperEntry *e : wrap_entries()) {
        if (e->tojolFilter || e->fromjolFilter)
            error(0, 0, "-t and -f wrapper options are not supported remotely; ignored");
        if (e->mergeMethod == WRAP_COPY)
            error(0, 0, "-m wrapper option is not supported remotely; ignored");
        if (e->rcsOption)
            send_to_server("Argument -W\nArgument " + e->wildCard + " -k '" + *e->rcsOption +
                           "'\n");
    }
}
