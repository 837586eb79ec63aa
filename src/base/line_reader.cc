// Lines are found with memchr in a buffer that fread fills a block at a
// time; the buffer only grows for a line longer than itself.
#include "src/base/line_reader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t first_block = 16384;

}  // namespace

LineReader::LineReader(FILE *fp, size_t max_line)
    : fp_(fp), max_line_(std::max<size_t>(max_line, 1)),
      buf_(std::make_unique_for_overwrite<char[]>(first_block)), size_(first_block) {}

std::optional<std::string_view> LineReader::next() {
    size_t searched = 0;  // bytes after begin_ known to hold no newline
    for (;;) {
        const char *start = buf_.get() + begin_;
        const size_t avail = end_ - begin_;
        // A whole line is at most max_line_ bytes and its newline.
        const size_t window = max_line_ == no_limit ? avail : std::min(avail, max_line_ + 1);
        if (window > searched) {
            if (const void *nl = std::memchr(start + searched, '\n', window - searched)) {
                const size_t len = static_cast<size_t>(static_cast<const char *>(nl) - start);
                begin_ += len + 1;
                newline_ = true;
                return std::string_view(start, len);
            }
            searched = window;
        }
        newline_ = false;
        if (max_line_ != no_limit && avail > max_line_) {
            begin_ += max_line_;
            return std::string_view(start, max_line_);
        }
        if (!at_end_ && fill())
            continue;
        if (begin_ == end_)
            return std::nullopt;
        // fill() may have moved the data.
        std::string_view last(buf_.get() + begin_, end_ - begin_);
        begin_ = end_;
        return last;
    }
}

bool LineReader::fill() {
    if (begin_ > 0) {
        std::memmove(buf_.get(), buf_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == size_) {
        auto bigger = std::make_unique_for_overwrite<char[]>(size_ * 2);
        std::memcpy(bigger.get(), buf_.get(), end_);
        buf_ = std::move(bigger);
        size_ *= 2;
    }
    const size_t n = std::fread(buf_.get() + end_, 1, size_ - end_, fp_);
    end_ += n;
    // Like a character loop, stop at the first error rather than read past it.
    if (n == 0 || std::feof(fp_) || std::ferror(fp_))
        at_end_ = true;
    return n > 0;
}
