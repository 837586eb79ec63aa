// Conversion of working files on their way to and from the repository: text
// line ends and character sets, and packing of Macintosh files with a
// resource fork into BinHex or AppleSingle streams.
#pragma once

#include <string>

#include "mac/applesingle.h"
#include "mac/binhex.h"
#include "mac/char_tables.h"
#include "mac/policy.h"

// Open-flag bit that marks the side in repository (wire) form: input with it
// is decoded into a working file, input without it is encoded.
inline constexpr int mac_repository_form = 0x8000;

// Converts `infile` into `outfile` (written under a temporary name and
// renamed into place). `binary` is set for files with keyword mode "-kb".
// Failures are fatal.
void convert_file(const char *infile, int inflags, const char *outfile, int outflags, int binary);

// Whether convert_file would copy `infile` byte for byte and do nothing
// else (no fork to pack or unpack, no character or line-end mapping, no
// type to give), so that a caller may use or move the file itself.
bool conversion_is_plain_copy(const char *infile, int inflags, int binary);

// The resource-aware part of convert_file: returns 1 when it produced
// `outfile` itself, 0 when the caller must copy; may set `binary`.
int convert_hqx_file(const char *infile, int inflags, const char *outfile, int outflags,
                     int &binary);

// Gives `file` the Finder type and creator that the file-name mapping
// service assigns to its name; `warn` reports names it does not know.
void set_file_type(const char *file, int warn);

// The name of the temporary file a working file `file` is converted into
// before it is sent: its first nine characters and ".JOLBFCTMP".
std::string conversion_temp_name(const char *file);
