// Password scrambling: one table that undoes itself, so that every byte
// comes back, scrambled text stays one line, and only method "A" is known.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "src/protocol/scramble.h"

namespace {

TEST(Scramble, EveryByteComesBackAndTheTableIsAPermutation) {
    std::set<unsigned char> images;
    std::string all;
    for (int c = 0; c < 256; ++c) {
        unsigned char s = scramble_byte(static_cast<unsigned char>(c));
        EXPECT_EQ(scramble_byte(s), c) << c;
        images.insert(s);
        all += static_cast<char>(c);
    }
    EXPECT_EQ(images.size(), 256u);
    std::string scrambled = scramble(all);
    ASSERT_EQ(scrambled.size(), 257u);
    EXPECT_EQ(scrambled[0], 'A');
    EXPECT_EQ(descramble(scrambled), all);
}

TEST(Scramble, TextStaysOneLineAndPrintableStaysPrintable) {
    for (int c = 0; c < 256; ++c) {
        unsigned char s = scramble_byte(static_cast<unsigned char>(c));
        if (c < 32 || c == 127) {
            EXPECT_EQ(s, c) << "control byte " << c;
        } else if (c < 127) {
            EXPECT_TRUE(s >= 32 && s < 127) << c;
        }
    }
    // Letters and digits do change: a password is not stored as typed.
    EXPECT_NE(scramble("secret").substr(1), "secret");
}

TEST(Scramble, TheEmptyPasswordIsTheMarkerAlone) {
    EXPECT_EQ(scramble(""), "A");
    EXPECT_EQ(descramble("A"), "");
}

TEST(ScrambleDeathTest, OnlyMethodAIsKnown) {
    EXPECT_EXIT(descramble("secret"), testing::ExitedWithCode(1),
                "descramble: unknown scrambling method");
    EXPECT_EXIT(descramble(""), testing::ExitedWithCode(1),
                "descramble: unknown scrambling method");
    EXPECT_EXIT(descramble("B" + scramble("x").substr(1)), testing::ExitedWithCode(1),
                "descramble: unknown scrambling method");
}

}  // namespace
