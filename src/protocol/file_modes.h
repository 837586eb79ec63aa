// Permission strings of the protocol ("u=rw,g=r,o=r"), as the client sends
// a file's mode and as both sides apply a received one.
// Format: doc/protocol.md#permission-strings
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

// The permission string of `mode`: "u=", ",g=", ",o=", each followed by the
// letters r, w, x present, in that order.
std::string mode_to_string(mode_t mode);
// The permission bits a string gives (other letters and items ignored,
// classes not named get none).
mode_t mode_from_string(std::string_view text);
// Gives `file` exactly the bits of `text`, less the process umask when
// `honour_umask`; 0 or the errno of the failed chmod.
int change_mode(const char *file, std::string_view text, bool honour_umask);

// The compression level of single files sent while the stream itself is
// not compressed (0: off); set by the handshake or "gzip-file-contents".
extern int file_gzip_level;
