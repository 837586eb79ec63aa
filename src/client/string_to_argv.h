// The words of JOL_RSA_OPTIONS for the remote shell's argument vector.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits at spaces; a single or double quote starts a stretch that ends at
// the same quote (quotes dropped, spaces kept); a backslash makes the next
// character literal. At most 40 words; further ones are ignored.
std::vector<std::string> string_to_argv(std::string_view text);
