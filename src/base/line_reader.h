// Reading a stream line by line, a block at a time, for the administrative,
// configuration and working-directory files that are read as lines.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

class LineReader {
  public:
    static constexpr size_t no_limit = static_cast<size_t>(-1);

    // Reads `fp` from where it stands. The reader reads ahead, so nothing
    // else reads `fp` while it is in use; the caller still owns and closes
    // it, and std::ferror(fp) tells a read error from the end of the file.
    // A line of more than `max_line` bytes (newline not counted) comes back
    // in pieces of `max_line` bytes (at least 1).
    explicit LineReader(FILE *fp, size_t max_line = no_limit);

    // The next line without its newline, exactly as stored (carriage
    // returns and NUL bytes included), valid until the next call. None at
    // the end of the file or after a read error; a last line without a
    // newline still comes back first.
    std::optional<std::string_view> next();

    // Whether the line last returned ended with a newline: false for a last
    // line without one and for a piece of a line longer than `max_line`.
    bool newline() const { return newline_; }

  private:
    // Reads more after the unread data; false when nothing more came.
    bool fill();

    FILE *fp_;
    size_t max_line_;
    std::unique_ptr<char[]> buf_;
    size_t size_;       // bytes allocated for buf_
    size_t begin_ = 0;  // first unread byte in buf_
    size_t end_ = 0;    // end of the data in buf_
    bool at_end_ = false;
    bool newline_ = false;
};
