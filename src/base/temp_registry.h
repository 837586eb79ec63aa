// Temporary files that a fatal error or a signal must not leave behind:
// each is listed while it exists, and the list is removed by the
// temporary-files cleanup stage.
#pragma once

#include <string>

// Lists `path` (best absolute: the cleanup may run in another directory).
void remember_temp_file(const std::string &path);
// Takes `path` off the list (it was removed or became a real file).
void forget_temp_file(const std::string &path);
