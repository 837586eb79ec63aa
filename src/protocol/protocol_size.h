// Sizes announced by a peer, parsed before anything is allocated or read
// for them.
#pragma once

#include <optional>
#include <string_view>
#include <sys/types.h>

// A size as the protocol writes it: one or more decimal digits, nothing
// else (no sign, no blanks), at most the largest file offset. None when
// the text is not such a size.
std::optional<off_t> parse_protocol_size(std::string_view text);
