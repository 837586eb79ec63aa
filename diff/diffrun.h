// The line comparison engine and the three-way merge, as a library. Both
// entry points take a command-line-like argument vector (element 0 is the
// program name), never exit the process, keep no state between calls, and
// write either into a named output file or through the caller's callbacks.
#pragma once

#include <cstddef>
#include <string>

struct diff_callbacks {
    // Output of the comparison; null: the engine writes `out` itself (or
    // standard output when there is no `out`).
    void (*write_output)(const char *text, size_t len);
    void (*flush_output)();
    // Informational text (version, help).
    void (*write_stdout)(const char *text);
    // A non-fatal message: `format` holds up to two "%s".
    void (*error)(const char *format, const char *arg1, const char *arg2);
};

// Compares two files. 0: no differences, 1: differences, 2: trouble.
int diff_run(int argc, char **argv, const char *out, const diff_callbacks *callbacks);

// The same with operands already in memory: a non-null `contents[i]` is
// taken (moved out) as the bytes of operand i, which is then a regular file
// modified now; its name in `argv` still appears in messages and, without a
// label, in headers. Saves writing revisions to files only to read them back.
int diff_run_memory(int argc, char **argv, std::string *contents[2], const char *out,
                    const diff_callbacks *callbacks);

// Three-way comparison or merge of mine, older and yours, in that order.
// 0: no conflicts, 1: conflicts, 2: trouble.
int diff3_run(int argc, char **argv, const char *out, const diff_callbacks *callbacks);
