// Running the in-process diff and three-way merge engines on revisions and
// working files.
#pragma once

#include <string>

#include "src/rcs/rcs.h"

// Compares two files with `options` (blank-separated words) and writes the
// result to `out`, or through the output layer when `out` is null. 0 same,
// 1 different, 2 trouble.
int diff_exec(const char *file1, const char *file2, const char *options, const char *out);
// Like diff_exec, with `options` appended as typed ("" or starting with a
// blank) and optional label arguments.
int diff_execv(const char *file1, const char *file2, const char *label1, const char *label2,
               const char *options, const char *out);
// An RCS_checkout sink that appends the revision's text to the std::string
// `dest` points to.
void append_text(void *dest, const char *text, size_t len);
// Compares two texts held in memory with `options` and appends the
// engine's output to `out`. 0 same, 1 different, 2 trouble (reported).
int diff_texts(std::string text1, std::string text2, const char *options, std::string &out);
// diff_texts with header labels (used whole, dates included) in place of
// the operands' names; both labels or neither.
int diff_texts_labeled(std::string text1, std::string text2, const char *label1,
                       const char *label2, const char *options, std::string &out);
std::string make_file_label(const char *path, const char *rev, RCSNode *rcs);
void RCS_output_diff_options(const char *opts, const char *rev1, const char *rev2,
                             const char *workfile);
// Merges the changes from rev1 to rev2 into workfile: 0 clean, 1 conflicts.
int RCS_merge(RCSNode *rcs, const char *path, const char *workfile, const char *options,
              const char *rev1, const char *rev2);
int RCS_exec_rcsdiff(RCSNode *rcs, const char *opts, const char *options, const char *rev1,
                     const char *rev2, const char *label1, const char *label2,
                     const char *workfile);
