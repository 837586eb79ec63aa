// zlib leaves a message in the stream for most failures; errno only matters
// when zlib says so.
#include "compress_error.h"

#include <cerrno>
#include <string>

#include "src/base/error.h"

void compress_error(int status, int zstatus, const z_stream *stream, const char *text) {
    int errnum = zstatus == Z_ERRNO ? errno : 0;
    if (stream && stream->msg)
        error(status, errnum, "%s: %s", text, stream->msg);
    else
        error(status, errnum, "%s: %s", text, "error " + std::to_string(zstatus));
}
