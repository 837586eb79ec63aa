// Method "A": one fixed substitution of bytes that is its own inverse.
// Control bytes and the blank stay as they are, so a scrambled password
// is still one line of text; the other printable characters are paired
// among themselves, and so are the bytes from 128 up.
#include "scramble.h"

#include "src/base/error.h"

namespace {

constexpr unsigned char table[256] = {
      0,   1,   2,   3,   4,   5,   6,   7,   8,   9,  10,  11,  12,  13,  14,  15,
     16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,
     32,  65,  62,  91, 117,  76,  60, 104,  56,  85, 125,  71, 126, 118,  52, 107,
    113,  88,  79, 122,  46,  67,  55,  54,  40,  97,  84, 102,  38,  99,  34,  81,
     77,  33, 106,  53, 100,  80,  90,  43,  75, 124, 103,  72,  37,  64, 121,  50,
     69,  63,  89,  94,  58,  41, 116,  96,  49,  82,  70,  35, 120,  95,  83,  93,
     87,  57, 109,  61,  68, 114,  59,  74,  39, 112,  66,  47, 110,  98, 108, 119,
    105,  48, 101, 123,  86,  36,  45, 111,  92,  78,  51, 115,  73,  42,  44, 127,
    251, 197, 218, 173, 210, 189, 196, 185, 195, 140, 190, 148, 137, 166, 202, 176,
    249, 245, 239, 221, 139, 204, 217, 214, 168, 232, 254, 235, 225, 203, 230, 244,
    165, 224, 183, 194, 229, 160, 141, 242, 152, 237, 200, 205, 191, 131, 241, 181,
    143, 233, 252, 188, 226, 175, 223, 162, 209, 135, 208, 247, 179, 133, 138, 172,
    216, 246, 163, 136, 134, 129, 199, 198, 170, 228, 142, 157, 149, 171, 234, 215,
    186, 184, 132, 238, 236, 231, 151, 207, 192, 150, 130, 250, 240, 147, 255, 182,
    161, 156, 180, 243, 201, 164, 158, 213, 153, 177, 206, 155, 212, 169, 211, 146,
    220, 174, 167, 227, 159, 145, 193, 187, 253, 144, 219, 128, 178, 248, 154, 222,
};

constexpr bool table_is_an_involution() {
    for (int i = 0; i < 256; ++i)
        if (table[table[i]] != i)
            return false;
    return true;
}
static_assert(table_is_an_involution(), "scrambling must undo itself");

void substitute(std::string_view from, std::string &to) {
    for (char c : from)
        to += static_cast<char>(table[static_cast<unsigned char>(c)]);
}

}  // namespace

unsigned char scramble_byte(unsigned char c) { return table[c]; }

std::string scramble(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 1);
    out += 'A';
    substitute(text, out);
    return out;
}

std::string descramble(std::string_view text) {
    if (text.empty() || text[0] != 'A')
        fatal(0, "descramble: unknown scrambling method");
    std::string out;
    out.reserve(text.size() - 1);
    substitute(text.substr(1), out);
    return out;
}
