// Helpers shared by the output styles.
#pragma once

#include <string>

#include "diff/diff_internal.h"

namespace jdiff {

struct Printer {
    Context &cx;
    Output &out;
    // One line of file `f` with a flag ("" for none).
    void line(const char *flag, const FileData &f, size_t i);
    // One line of unified output: the flag character itself, then a tab
    // only with -T.
    void unified_line(char flag, const FileData &f, size_t i);
    // The line's text from output column `col`; `flagged` lines get the
    // marker for a missing final line feed.
    void text(const FileData &f, size_t i, size_t col, bool flagged);
};

// Whether change `k` is printed (it is not wholly ignorable), with what
// it deletes and inserts.
bool change_printed(const Context &cx, size_t k, bool &deletes, bool &inserts);
char change_letter(bool inserts, bool deletes);
std::string number_range(char sep, size_t first, size_t last);
void print_ifdef(Printer &p);
void print_sdiff(Printer &p);

}  // namespace jdiff
