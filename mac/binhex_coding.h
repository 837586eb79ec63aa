// The three layers of BinHex 4.0 below the file format: the CRC, the
// run-length coding (marker 0x90) and the six-bit text coding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace binhex {

inline constexpr std::string_view header_line = "(This file must be converted with BinHex 4.0)";
inline constexpr std::string_view alphabet =
    "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
inline constexpr uint8_t run_marker = 0x90;

// CRC-16, polynomial 0x1021, shifting each bit in behind the register; a
// part's CRC is the register after the part and two zero bytes.
class Crc {
  public:
    void add(const void *data, size_t n);
    uint16_t finish() const;  // the register after two more zero bytes

  private:
    uint16_t reg_ = 0;
};

uint16_t crc_of(std::string_view data);

// Where a coding layer sends its bytes.
class ByteSink {
  public:
    virtual void put(uint8_t byte) = 0;

  protected:
    ~ByteSink() = default;
};

// Six-bit coding into a text stream: ":" first, a line end after every 64
// characters counted from the ":", and ":" plus a line end at the end.
class TextWriter : public ByteSink {
  public:
    explicit TextWriter(std::string &out);
    void put(uint8_t byte) override;
    void finish();  // pads a last partial group with zero bits

  private:
    void put_char(char c);
    std::string &out_;
    uint32_t bits_ = 0;
    int nbits_ = 0;
    int column_ = 1;
};

// Run-length coding in front of another layer.
class RunWriter {
  public:
    explicit RunWriter(ByteSink &out) : out_(out) {}
    void put(uint8_t byte);
    void put(const void *data, size_t n);
    void finish();  // writes the last run

  private:
    void flush_run();
    ByteSink &out_;
    int current_ = -1;
    unsigned count_ = 0;
};

// Run-length coding of a whole byte string (used for checks and tests).
std::string run_length_encode(std::string_view raw);

// The bytes of the six-bit coded text that follows the header line in
// `text` (decoding is on between ":" characters; blanks, tabs, line ends
// and characters outside the alphabet are ignored). False when the header
// line is not found.
bool decode_text(std::string_view text, std::string &bytes);

// Reads run-length coded bytes. The total decoded length is known up front
// so that lengths read from the stream can be checked before use.
class RunReader {
  public:
    explicit RunReader(std::string_view coded);
    bool valid() const { return valid_; }  // false: a marker without a byte to repeat
    uint64_t remaining() const { return total_ - consumed_; }
    // Reads `n` bytes; false when fewer remain.
    bool read(void *buf, size_t n);

  private:
    // Runs the decoder over everything; returns the length, or -1 if malformed.
    static int64_t measure(std::string_view coded);
    bool next(uint8_t &byte);
    std::string_view in_;
    size_t pos_ = 0;
    int last_ = -1;
    unsigned repeat_ = 0;
    uint64_t total_ = 0;
    uint64_t consumed_ = 0;
    bool valid_ = true;
};

// Run-length decoding of a whole string; false when malformed.
bool run_length_decode(std::string_view coded, std::string &raw);

}  // namespace binhex
