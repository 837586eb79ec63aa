// CRC, run-length and six-bit coding of BinHex 4.0.
#include "mac/binhex_coding.h"

#include <array>

namespace binhex {

void Crc::add(const void *data, size_t n) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < n; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            bool carry = reg_ & 0x8000;
            reg_ = uint16_t(reg_ << 1 | ((p[i] >> bit) & 1));
            if (carry)
                reg_ ^= 0x1021;
        }
    }
}

uint16_t Crc::finish() const {
    Crc c = *this;
    const uint8_t zeros[2] = {0, 0};
    c.add(zeros, 2);
    return c.reg_;
}

uint16_t crc_of(std::string_view data) {
    Crc c;
    c.add(data.data(), data.size());
    return c.finish();
}

TextWriter::TextWriter(std::string &out) : out_(out) { out_ += ':'; }

void TextWriter::put_char(char c) {
    out_ += c;
    if (++column_ == 64) {
        out_ += '\n';
        column_ = 0;
    }
}

void TextWriter::put(uint8_t byte) {
    bits_ = (bits_ << 8 | byte) & 0xFFFFFF;
    nbits_ += 8;
    while (nbits_ >= 6) {
        nbits_ -= 6;
        put_char(alphabet[(bits_ >> nbits_) & 0x3F]);
    }
}

void TextWriter::finish() {
    if (nbits_ > 0)
        put_char(alphabet[(bits_ << (6 - nbits_)) & 0x3F]);
    nbits_ = 0;
    out_ += ":\n";
}

void RunWriter::put(uint8_t byte) {
    if (byte == current_ && count_ < 255) {
        ++count_;
        return;
    }
    flush_run();
    current_ = byte;
    count_ = 1;
}

void RunWriter::put(const void *data, size_t n) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < n; ++i)
        put(p[i]);
}

void RunWriter::flush_run() {
    if (current_ < 0)
        return;
    uint8_t b = uint8_t(current_);
    if (b == run_marker) {
        // A literal marker is the marker and a zero count.
        out_.put(run_marker);
        out_.put(0);
        if (count_ == 2) {
            out_.put(run_marker);
            out_.put(0);
        } else if (count_ > 2) {
            out_.put(run_marker);
            out_.put(uint8_t(count_));
        }
    } else if (count_ <= 3) {
        for (unsigned i = 0; i < count_; ++i)
            out_.put(b);
    } else {
        out_.put(b);
        out_.put(run_marker);
        out_.put(uint8_t(count_));
    }
    current_ = -1;
    count_ = 0;
}

void RunWriter::finish() { flush_run(); }

std::string run_length_encode(std::string_view raw) {
    struct Collect : ByteSink {
        std::string bytes;
        void put(uint8_t b) override { bytes += char(b); }
    } collect;
    RunWriter runs(collect);
    runs.put(raw.data(), raw.size());
    runs.finish();
    return collect.bytes;
}

bool decode_text(std::string_view text, std::string &bytes) {
    size_t start = text.find(header_line);
    if (start == std::string_view::npos)
        return false;
    std::array<int8_t, 256> value;
    value.fill(-1);
    for (size_t i = 0; i < alphabet.size(); ++i)
        value[uint8_t(alphabet[i])] = int8_t(i);
    bytes.clear();
    bool on = false;
    uint32_t bits = 0;
    int nbits = 0;
    for (size_t i = start + header_line.size(); i < text.size(); ++i) {
        char c = text[i];
        if (c == ':') {
            on = !on;
            continue;
        }
        if (!on)
            continue;
        int v = value[uint8_t(c)];
        if (v < 0)
            continue;  // blanks, line ends and stray characters
        bits = (bits << 6 | uint32_t(v)) & 0xFFFFFF;
        nbits += 6;
        if (nbits >= 8) {
            nbits -= 8;
            bytes += char((bits >> nbits) & 0xFF);
        }
    }
    return true;
}

RunReader::RunReader(std::string_view coded) : in_(coded) {
    int64_t total = measure(coded);
    valid_ = total >= 0;
    total_ = valid_ ? uint64_t(total) : 0;
}

int64_t RunReader::measure(std::string_view coded) {
    int64_t total = 0;
    bool have_last = false;
    for (size_t i = 0; i < coded.size(); ++i) {
        if (uint8_t(coded[i]) != run_marker) {
            ++total;
            have_last = true;
            continue;
        }
        if (++i >= coded.size())
            return -1;
        uint8_t n = uint8_t(coded[i]);
        if (n == 0) {
            ++total;
            have_last = true;
        } else if (!have_last) {
            return -1;
        } else if (n > 1) {
            total += n - 1;
        }
    }
    return total;
}

bool RunReader::next(uint8_t &byte) {
    while (repeat_ == 0) {
        if (pos_ >= in_.size())
            return false;
        uint8_t c = uint8_t(in_[pos_++]);
        if (c != run_marker) {
            last_ = c;
            byte = c;
            return true;
        }
        if (pos_ >= in_.size())
            return false;
        uint8_t n = uint8_t(in_[pos_++]);
        if (n == 0) {
            last_ = run_marker;
            byte = run_marker;
            return true;
        }
        if (last_ < 0)
            return false;
        repeat_ = n - 1u;  // the byte itself was already produced once
    }
    --repeat_;
    byte = uint8_t(last_);
    return true;
}

bool RunReader::read(void *buf, size_t n) {
    if (!valid_ || n > remaining())
        return false;
    uint8_t *p = static_cast<uint8_t *>(buf);
    for (size_t i = 0; i < n; ++i)
        if (!next(p[i]))
            return false;
    consumed_ += n;
    return true;
}

bool run_length_decode(std::string_view coded, std::string &raw) {
    RunReader r(coded);
    if (!r.valid())
        return false;
    raw.assign(size_t(r.remaining()), '\0');
    return r.read(raw.data(), raw.size());
}

}  // namespace binhex
