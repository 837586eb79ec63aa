// Packet framing: packets reassembled from any cut of the byte stream,
// payloads larger than the reader's room held over, and the size limits.
#include <gtest/gtest.h>

#include <random>

#include "channel_test_util.h"
#include "src/protocol/packetizing_channel.h"

namespace {

// A translation that changes every byte and adds a varying amount of
// padding, so that framing mistakes cannot pass unnoticed.
class scramble : public packet_translation {
  public:
    explicit scramble(size_t padding) : padding_(padding) {}
    int translate_output(const char *in, size_t size, char *out, size_t &translated) override {
        for (size_t i = 0; i < size; ++i)
            out[i] = static_cast<char>(in[i] ^ 0x5a);
        size_t pad = padding_ ? (size % (padding_ + 1)) : 0;
        std::memset(out + size, '#', pad);
        translated = size + pad;
        return 0;
    }
    int translate_input(const char *in, size_t size, char *out) override {
        for (size_t i = 0; i < size; ++i)
            out[i] = static_cast<char>(in[i] ^ 0x5a);
        return 0;
    }

  private:
    size_t padding_;
};

// Packs `payloads` and returns the bytes that went to the wire.
std::string packed(const std::vector<std::string> &payloads, size_t padding = 100) {
    auto sink = std::make_shared<sink_channel::state>();
    buffer_ptr out = packetizing_buffer_initialize(
        sink_buffer(sink), std::make_unique<scramble>(padding), false, nullptr);
    for (const std::string &p : payloads) {
        buf_output(*out, p);
        EXPECT_EQ(buf_flush(*out, false), 0);
    }
    return sink->out;
}

buffer_ptr unpacking(std::shared_ptr<script_channel::state> s) {
    return packetizing_buffer_initialize(script_buffer(std::move(s)), std::make_unique<scramble>(0),
                                         true, nullptr);
}

std::string text(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, 0);
    for (char &c : s)
        c = static_cast<char>(rng());
    return s;
}

}  // namespace

TEST(Packetizing, WireFormat) {
    // Outer length, then the translated inner form: length and payload.
    std::string wire = packed({"hi"}, 0);
    EXPECT_EQ(wire, std::string("\0\4\x5a\x58\x32\x33", 6));
}

TEST(Packetizing, PacketsSurviveAnyCutOfTheStream) {
    std::vector<std::string> payloads = {
        "", "a", text(100, 1), text(4000, 2), text(4096, 3), text(9000, 4)};
    std::string expected;
    for (const std::string &p : payloads)
        expected += p;
    std::string wire = packed(payloads);
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        auto s = std::make_shared<script_channel::state>();
        for (size_t i = 0; i < wire.size();) {
            size_t n = 1 + rng() % (round < 10 ? 3 : 5000);
            s->pieces.push_back(wire.substr(i, n));
            i += n;
        }
        buffer_ptr in = unpacking(s);
        std::string got;
        const char *p;
        size_t n;
        while (buf_read_data(*in, 1 + rng() % 6000, p, n) == 0)
            got.append(p, n);
        EXPECT_TRUE(same_bytes(got, expected)) << "round " << round;
    }
}

TEST(Packetizing, HeldRemainderIsDeliveredOverSeveralCalls) {
    std::string payload = text(4096, 9);
    std::string wire = packed({payload, "tail"});
    auto s = std::make_shared<script_channel::state>();
    s->pieces = {wire};
    packetizing_channel chan(script_buffer(s), std::make_unique<scramble>(0), true);
    std::string got;
    char room[100];
    size_t n;
    ASSERT_EQ(chan.input(room, 1, sizeof room, n), 0);
    got.append(room, n);
    size_t reads = s->calls;
    while (got.size() < payload.size()) {
        ASSERT_EQ(chan.input(room, 0, sizeof room, n), 0);
        ASSERT_GT(n, 0u);
        got.append(room, n);
    }
    EXPECT_TRUE(same_bytes(got, payload));
    EXPECT_EQ(s->calls, reads);  // the remainder came from the hold, not the wire
    ASSERT_EQ(chan.input(room, 1, sizeof room, n), 0);
    EXPECT_EQ(std::string(room, n), "tail");
    EXPECT_EQ(chan.input(room, 1, sizeof room, n), buf_eof);
}

TEST(Packetizing, NonblockingPartialPacketWaits) {
    std::string wire = packed({"payload"});
    auto s = std::make_shared<script_channel::state>();
    s->more_later = true;
    s->pieces = {wire.substr(0, 1)};
    packetizing_channel chan(script_buffer(s), std::make_unique<scramble>(0), true);
    char room[64];
    size_t n = 99;
    EXPECT_EQ(chan.input(room, 0, sizeof room, n), 0);
    EXPECT_EQ(n, 0u);
    s->pieces = {wire.substr(1, 5)};
    EXPECT_EQ(chan.input(room, 0, sizeof room, n), 0);
    EXPECT_EQ(n, 0u);
    s->pieces = {wire.substr(6)};
    EXPECT_EQ(chan.input(room, 0, sizeof room, n), 0);
    EXPECT_EQ(std::string(room, n), "payload");
}

TEST(PacketizingDeathTest, PayloadLongerThanItsPacketStops) {
    // Payload lengths 9 and 3 in a packet of 4 bytes: neither fits behind
    // its 2-byte length.
    for (char paylen : {'\x09', '\x03'}) {
        std::string inner = std::string("\0", 1) + paylen + "zz";
        std::string wire = std::string("\0\4", 2);
        for (char c : inner)
            wire += static_cast<char>(c ^ 0x5a);
        auto s = std::make_shared<script_channel::state>();
        s->pieces = {wire};
        buffer_ptr in = unpacking(s);
        const char *p;
        size_t n;
        EXPECT_EXIT(buf_read_data(*in, 10, p, n), testing::ExitedWithCode(1),
                    "Input translation failure");
    }
}
