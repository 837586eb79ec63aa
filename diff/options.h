// A small, stateless command-line scanner shared by both entry points:
// clustered short options, attached or separate arguments, long options
// with unique-prefix abbreviation, "--", and operands anywhere.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "diff/diff_internal.h"

namespace jdiff {

enum class ArgKind { none, required, optional };

struct LongOption {
    const char *name;
    ArgKind kind;
    int code;  // a short letter, or a value above 255
};

// Calls `handle(code, argument or null)` for every option in order and
// collects the operands. Problems are reported through `cx` with the
// "--help" hint; the result is false then.
bool scan_options(Context &cx, int argc, char **argv, const char *shortopts,
                  const std::vector<LongOption> &longopts,
                  const std::function<bool(int, const char *)> &handle,
                  std::vector<std::string> &operands);

// Reports "Try `prog --help' for more information.".
void try_help(const Context &cx, const char *prog);

// A decimal number without sign; false when the text is not one or does
// not fit an int.
bool parse_count(const char *text, int &value);

// Fills `opt` from the diff options; false after a reported problem. The
// result `done` is set when the run ends here (version, help).
bool parse_diff_options(Context &cx, int argc, char **argv, std::vector<std::string> &operands,
                        bool &done);

}  // namespace jdiff
