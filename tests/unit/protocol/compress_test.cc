// The compression channel: streams that decode everything written up to
// each flush, data already queued before wrapping, the end of the stream,
// and damaged input.
#include <gtest/gtest.h>

#include <random>

#include "channel_test_util.h"
#include "src/protocol/compress_channel.h"

namespace {

// Text with both repetitive and random stretches.
std::string mixed(size_t n, std::mt19937 &rng) {
    std::string s;
    while (s.size() < n) {
        if (rng() % 2)
            s += "line " + std::to_string(rng() % 1000) + " of some text\n";
        else
            for (int i = 0; i < 64; ++i)
                s += static_cast<char>(rng());
    }
    s.resize(n);
    return s;
}

// Reads what `in` can decode now, without waiting.
std::string decode_available(buffer &in) {
    size_t count;
    do
        EXPECT_EQ(buf_input_data(in, &count), 0);
    while (count > 0);
    std::string s = queued(in);
    free_buffer_data(in.data);
    in.data = in.last = nullptr;
    return s;
}

}  // namespace

TEST(CompressChannel, EveryFlushMakesWhatWasWrittenDecodable) {
    std::mt19937 rng(42);
    auto wire = std::make_shared<sink_channel::state>();
    buffer_ptr out = compress_buffer_initialize(sink_buffer(wire), false, 6, nullptr);
    auto s = std::make_shared<script_channel::state>();
    s->more_later = true;
    buffer_ptr in = compress_buffer_initialize(script_buffer(s), true, 0, nullptr);

    size_t handed = 0;
    std::string all;
    for (int round = 0; round < 60; ++round) {
        std::string since;
        int writes = 1 + static_cast<int>(rng() % 5);
        for (int w = 0; w < writes; ++w) {
            std::string piece = mixed(rng() % (round % 7 == 0 ? 20000 : 300), rng);
            buf_output(*out, piece);
            since += piece;
            if (rng() % 3 == 0) {
                ASSERT_EQ(buf_send_output(*out), 0);
            }
        }
        ASSERT_EQ(buf_flush(*out, true), 0);
        // Hand the new compressed bytes over in random cuts.
        while (handed < wire->out.size()) {
            size_t n = 1 + rng() % 3000;
            s->pieces.push_back(wire->out.substr(handed, n));
            handed += std::min(n, wire->out.size() - handed);
        }
        std::string decoded = decode_available(*in);
        ASSERT_TRUE(same_bytes(decoded, since)) << "round " << round;
        all += since;
    }
    ASSERT_EQ(buf_shutdown(*out), 0);
    s->pieces.push_back(wire->out.substr(handed));
    s->more_later = false;
    size_t count = 0;
    EXPECT_EQ(buf_input_data(*in, &count), buf_eof);
    EXPECT_EQ(count, 0u);
    EXPECT_GT(all.size(), 100000u);
}

TEST(CompressChannel, DecodesEverythingQueuedBeforeWrapping) {
    // A peer that pipelines many chunks of compressed data right after
    // asking for compression: all of it is read before wrapping.
    std::mt19937 rng(5);
    std::string data;
    for (int i = 0; i < 300; ++i)
        for (int j = 0; j < 64; ++j)
            data += static_cast<char>(rng());
    auto wire = std::make_shared<sink_channel::state>();
    buffer_ptr out = compress_buffer_initialize(sink_buffer(wire), false, 1, nullptr);
    buf_output(*out, data);
    ASSERT_EQ(buf_flush(*out, true), 0);
    ASSERT_EQ(buf_shutdown(*out), 0);
    ASSERT_GT(wire->out.size(), 3 * BUFFER_DATA_SIZE);

    auto s = std::make_shared<script_channel::state>();
    s->pieces = {"Gzip-stream 1\n" + wire->out};
    buffer_ptr net = script_buffer(s);
    std::string line;
    ASSERT_EQ(buf_read_line(*net, line, 100), 0);
    ASSERT_EQ(line, "Gzip-stream 1");
    s->more_later = true;
    ASSERT_EQ(buf_input_data(*net, nullptr), 0);
    s->more_later = false;
    ASSERT_GT(chunks(*net), 3u);
    size_t delivered = s->delivered;

    buffer_ptr in = compress_buffer_initialize(std::move(net), true, 0, nullptr);
    std::string got;
    const char *p;
    size_t n;
    while (buf_read_data(*in, 100000, p, n) == 0)
        got.append(p, n);
    EXPECT_TRUE(same_bytes(got, data));
    EXPECT_EQ(s->delivered, delivered);  // nothing more had to be read
}

TEST(CompressChannel, InputShutdownReadsToTheEndOfTheStream) {
    auto wire = std::make_shared<sink_channel::state>();
    buffer_ptr out = compress_buffer_initialize(sink_buffer(wire), false, 6, nullptr);
    buf_output(*out, std::string(50000, 'e'));
    ASSERT_EQ(buf_flush(*out, true), 0);
    ASSERT_EQ(buf_shutdown(*out), 0);

    auto s = std::make_shared<script_channel::state>();
    for (size_t i = 0; i < wire->out.size(); i += 7)
        s->pieces.push_back(wire->out.substr(i, 7));
    s->pieces.push_back("after");  // not part of the stream
    buffer_ptr in = compress_buffer_initialize(script_buffer(s), true, 0, nullptr);
    const char *p;
    size_t n;
    ASSERT_EQ(buf_read_data(*in, 10, p, n), 0);
    EXPECT_EQ(buf_shutdown(*in), 0);
    EXPECT_EQ(s->pieces.size(), 1u);
    EXPECT_EQ(s->pieces.front(), "after");
}

TEST(CompressChannel, DamagedStreamIsAReadError) {
    auto wire = std::make_shared<sink_channel::state>();
    buffer_ptr out = compress_buffer_initialize(sink_buffer(wire), false, 6, nullptr);
    buf_output(*out, std::string(1000, 'd') + "some more text");
    ASSERT_EQ(buf_flush(*out, true), 0);
    std::string bad = wire->out;
    bad[0] = 0x7f;  // not a zlib header
    auto s = std::make_shared<script_channel::state>();
    s->pieces = {bad};
    buffer_ptr in = compress_buffer_initialize(script_buffer(s), true, 0, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(buf_input_data(*in, nullptr), EIO);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("inflate: "), std::string::npos);
}
