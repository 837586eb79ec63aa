// Reporting zlib failures the same way everywhere.
#pragma once

#include <zlib.h>

// Reports "TEXT: MESSAGE", the message being zlib's (or "error N" when zlib
// gave none), with the system error when `zstatus` is Z_ERRNO; a nonzero
// `status` makes it fatal.
void compress_error(int status, int zstatus, const z_stream *stream, const char *text);
