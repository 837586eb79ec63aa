// AppleSingle version 2: a Macintosh file as one stream of typed entries.
//
// Layout: a 26-byte header (magic 0x00051600, version 0x00020000, 16 zero
// bytes, 16-bit entry count), 12-byte descriptors (id, offset, length, each
// 32-bit big-endian), then the entries' data. Entry ids used here: 1 data
// fork, 2 resource fork, 4 comment, 9 Finder information (32 bytes).
#pragma once

#include <cstdint>

namespace applesingle {
inline constexpr uint32_t magic = 0x00051600;
inline constexpr uint32_t version = 0x00020000;
// The entries the converter selects: ids 1, 2, 4, 9 and 10 (bit id-1).
inline constexpr uint32_t converter_entries = 0x30B;
}  // namespace applesingle

// Writes `file` to `outfile` with the entries selected in `entries`.
// Returns 0, or 1 after reporting the failure (no output is left behind).
int encodeAppleSingle(const char *file, const char *outfile, uint32_t entries);

// Restores the Macintosh file `outfile` from `infile`, applying the selected
// entries. Returns 0, or 1 after reporting the failure; an existing
// `outfile` is then left as it was.
int decodeAppleSingle(const char *infile, const char *outfile, uint32_t entries);
