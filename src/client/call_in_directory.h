// Entering the directory a file response names.
#pragma once

#include <functional>
#include <string>

#include "src/hash/hash.h"

// What a response does in the file's directory: its entries (null for
// export), the pathname of the file as the server named it, its name.
using DirectoryAction =
    std::function<void(List *entries, const std::string &short_pathname, const std::string &file)>;

// Whether a response names a file in the directory, or only the directory
// (its repository line then ends in "/").
enum class ResponseTarget { file, directory };

// Reads the repository line that follows `pathname`, checks both (nothing
// may lead outside the working tree; a violation is fatal before anything
// is written), enters the directory (making it and its administrative
// files when missing) and runs `action` there.
void call_in_directory(const std::string &pathname, const DirectoryAction &action,
                       ResponseTarget target = ResponseTarget::file);
