// BinHex 4.0 files: a Macintosh file with both forks, its type, creator and
// Finder flags as one text stream.
//
// Stream, before run-length and six-bit coding: name length (always 0
// here) and name, version 0, type (4), creator (4), flags (2, masked with
// 0xEEFF), data fork length (4), resource fork length (4), header CRC (2);
// data fork and its CRC; resource fork and its CRC. Numbers are big-endian.
#pragma once

#include <cstdint>

namespace binhex {
// Finder flags travel without the bits 0x0100 and 0x1000.
inline constexpr uint16_t flags_mask = 0xEEFF;
}  // namespace binhex

// Encodes the Macintosh file `file` into `outfile`. Returns 0, or 1 on
// failure (nothing is left under `outfile`'s name then).
int HQXEncode(const char *file, const char *outfile);

// Decodes the BinHex text in `source` into the Macintosh file `outfile`,
// restoring its resource fork and Finder information. Returns 0, or 1 when
// the input is malformed, truncated or fails a CRC; an existing `outfile`
// is then left as it was, and a missing one is not created.
int HQXDecode(const char *source, const char *outfile);
