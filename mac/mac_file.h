// Pieces the BinHex and AppleSingle decoders share: restoring a decoded
// file's resource fork and Finder information (with the warnings when the
// file system cannot keep them) and reading a file at given offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mac/platform.h"

namespace mac_io {

// Gives `path` (a decoder's temporary file that will become `shown_name`)
// its resource fork and Finder information. A fork the file system cannot
// keep is warned about; Finder information is silently dropped where the
// file system keeps no attributes.
void restore_mac_attributes(const char *path, const char *shown_name, std::string_view rsrc,
                            const mac_platform::FinderInfo &info);

// Reads exactly `n` bytes at `offset` of `fd`; false on error or end of file.
bool read_exact_at(int fd, void *buf, size_t n, uint64_t offset);

}  // namespace mac_io
