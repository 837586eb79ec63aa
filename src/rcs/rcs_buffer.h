// The bytes of one open archive file and the lexer that reads phrases from
// them. The file is loaded on demand, in growing pieces, into one block
// sized from its status when opened, so views into it stay valid for the
// buffer's lifetime; the lexer works with offsets and scans with memchr.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>

class RcsBuffer {
  public:
    // Takes ownership of `fd`; `filename` names the file in messages.
    RcsBuffer(int fd, std::string filename);
    ~RcsBuffer();
    RcsBuffer(const RcsBuffer &) = delete;
    RcsBuffer &operator=(const RcsBuffer &) = delete;

    // Makes at least `n` bytes available if the file has them; returns the
    // number of bytes now loaded.
    size_t ensure(size_t n);
    // Loads more bytes; false at the end of the file.
    bool load_more();
    const char *data() const { return bytes_.get(); }
    size_t loaded() const { return loaded_; }
    bool complete() const { return complete_; }
    const std::string &filename() const { return filename_; }
    const struct stat &status() const { return st_; }
    int fd() const { return fd_; }

  private:
    int fd_;
    std::string filename_;
    struct stat st_;
    std::unique_ptr<char[]> bytes_;
    size_t capacity_ = 0;
    size_t loaded_ = 0;
    bool complete_ = false;
};

// One phrase: a key and an optional value.
struct Phrase {
    enum class Kind { none, string, mixed, plain };
    std::string_view key;
    std::string_view value;  // string: between the quotes, still escaped
    Kind kind = Kind::none;
    int embedded_at = 0;     // "@@" pairs in a string value
    bool has_value() const { return kind != Kind::none; }
    bool is_mixed() const { return kind == Kind::mixed; }
    // A fresh copy: strings unescaped, mixed values verbatim, plain values
    // with each run of whitespace reduced to one blank when `polish`.
    std::string copy(bool polish = false) const;
};

bool rcs_is_whitespace(char c);
// Reduces each "@@" of an archive string to "@".
std::string rcs_unescape(std::string_view s);
// Doubles each "@".
std::string rcs_escape(std::string_view s);

class RcsLexer {
  public:
    RcsLexer(RcsBuffer &buf, size_t pos) : buf_(buf), pos_(pos) {}

    // The next phrase; false at the end of the file (between phrases).
    // Views in `ph` are valid for the buffer's lifetime.
    bool getkey(Phrase &ph);
    // The next revision number; false at the end of the file.
    bool getrevnum(std::string_view &rev);
    size_t tell() const { return pos_; }
    void seek(size_t pos) { pos_ = pos; }
    RcsBuffer &buffer() { return buf_; }

  private:
    // Offset of the first whitespace-free byte at or after `from`, or npos
    // at the end of the file.
    size_t skip_ws(size_t from);
    // Offset of the first byte at or after `from` equal to `c`, or npos.
    size_t find(char c, size_t from);
    // End (offset of the closing "@") of the string starting after the
    // opening "@" at `start`; counts the "@@" pairs.
    size_t string_end(size_t start, int &pairs);
    bool byte_at(size_t i, char &c);
    [[noreturn]] void eof_error(const char *message);

    RcsBuffer &buf_;
    size_t pos_;
};
