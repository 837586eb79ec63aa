// Big-endian integers of the Macintosh encodings, as bytes of a string.
#pragma once

#include <cstdint>
#include <string>

inline void put_be(std::string &s, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        s += static_cast<char>(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint32_t get_be(const uint8_t *p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}
