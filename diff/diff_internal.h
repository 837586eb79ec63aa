// Shared pieces of the diff engine: options of one run, the two files as
// lines, the change list, and the output sink.
#pragma once

#include <cstdio>
#include <memory>
#include <regex.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "diff/diffrun.h"

namespace jdiff {

enum output_style {
    OUTPUT_NORMAL,
    OUTPUT_CONTEXT,
    OUTPUT_UNIFIED,
    OUTPUT_ED,
    OUTPUT_FORWARD_ED,
    OUTPUT_RCS,
    OUTPUT_IFDEF,
    OUTPUT_SDIFF
};

// Thrown for fatal conditions inside one run; caught by the entry point.
struct Fatal {};

struct Regexes {
    std::vector<regex_t> list;
    Regexes() = default;
    Regexes(const Regexes &) = delete;
    Regexes &operator=(const Regexes &) = delete;
    ~Regexes() {
        for (regex_t &r : list)
            regfree(&r);
    }
    bool any_match(std::string_view line) const;
};

struct Options {
    output_style style = OUTPUT_NORMAL;
    bool style_set = false;
    int context = -1;
    bool always_text = false;
    bool ignore_space_change = false;
    bool ignore_all_space = false;
    bool ignore_case = false;
    bool ignore_blank_lines = false;
    bool minimal = false;
    bool speed_large_files = false;
    bool brief = false;
    bool entire_new_file = false;
    bool unidirectional_new_file = false;
    bool report_identical = false;
    bool expand_tabs = false;
    bool initial_tab = false;
    bool left_column = false;
    bool suppress_common = false;
    bool sdiff_merge_assist = false;
    int width = 130;
    int horizon_lines = 0;
    std::vector<std::string> labels;
    Regexes ignore_regexps;
    std::unique_ptr<regex_t> function_regexp;
    std::string function_pattern;
    // Merged style: line formats old, new, unchanged; group formats old,
    // new, unchanged, changed (empty optional: not given).
    std::string line_format[3];
    bool line_format_set[3] = {false, false, false};
    std::string group_format[4];
    bool group_format_set[4] = {false, false, false, false};
    std::string options_text;  // the options as typed, for headers
    ~Options() {
        if (function_regexp)
            regfree(function_regexp.get());
    }
};

// One file as lines. Line i spans [line_start[i], line_start[i+1]) and
// ends with a line feed; a missing final line feed was appended in memory.
struct FileData {
    std::string name;
    std::string label;
    bool absent = false;
    // The caller handed the bytes over in memory: nothing is read from
    // `name`, which only names the operand in messages and headers.
    bool in_memory = false;
    struct stat st {};
    std::string buf;
    bool missing_newline = false;
    std::vector<size_t> line_start;
    size_t nlines() const { return line_start.empty() ? 0 : line_start.size() - 1; }
    std::string_view line(size_t i) const {
        return std::string_view(buf).substr(line_start[i], line_start[i + 1] - line_start[i]);
    }
    bool last_line_incomplete(size_t i) const { return missing_newline && i + 1 == nlines(); }
    // Per line: 1 when it is part of a change (index 0 is line 0).
    std::vector<char> changed;
};

struct change {
    size_t line0, line1;   // first affected line in each file (0-based)
    size_t deleted, inserted;
    bool ignore = false;
};

// Where output goes: a file, the caller's callback, or standard output.
class Output {
  public:
    Output(FILE *fp, const diff_callbacks *cb) : fp_(fp), cb_(cb) {}
    ~Output() { flush(); }
    void write(std::string_view s) {
        buf_.append(s);
        if (buf_.size() >= 65536)
            flush();
    }
    void put(char c) { buf_.push_back(c); }
    void flush();

  private:
    FILE *fp_;
    const diff_callbacks *cb_;
    std::string buf_;
};

struct Context {
    Options opt;
    FileData files[2];
    std::vector<change> script;
    Output *out = nullptr;
    const diff_callbacks *cb = nullptr;
    std::vector<std::string> messages;

    void error(const char *fmt, const char *a1 = "", const char *a2 = "") const;
};

// Informational text (version, help): the caller's write_stdout callback,
// or standard output.
void write_info(const Context &cx, const char *text);

// Where one run writes: the named output file, the caller's write
// callback, or standard output.
class OutputTarget {
  public:
    OutputTarget() = default;
    OutputTarget(const OutputTarget &) = delete;
    OutputTarget &operator=(const OutputTarget &) = delete;
    ~OutputTarget() {
        if (fp_)
            std::fclose(fp_);
    }
    // Opens `out` when given; false after a reported problem.
    bool open(const Context &cx, const char *out);
    FILE *file() const { return fp_; }
    // Flushes everything and closes the file; false after a reported
    // close or write error.
    bool finish(const Context &cx);

  private:
    FILE *fp_ = nullptr;
};

// Engine phases.
void read_file(Context &cx, int i);
void compute_changes(Context &cx);
void build_script(Context &cx);
// Ranges a hunk covers and whether it deletes or inserts (both false for
// an ignorable hunk).
void analyze_hunk(const Context &cx, size_t begin, size_t end, size_t &first0, size_t &last0,
                  size_t &first1, size_t &last1, bool &deletes, bool &inserts);
void print_script(Context &cx);

}  // namespace jdiff
