// The 512-byte staging writer: what reaches the pipe, and when.
#include <gtest/gtest.h>

#include <csignal>

#include "gui/messages.h"
#include "gui/staging.h"
#include "gui/wire.h"
#include "wire_bytes.h"

namespace {

class StagingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_wire_layer();
        process_write_buffer.used = 0;
    }
    void TearDown() override { wire_clear_error(); }
    static int put(int fd, const std::string &s) {
        return jol_process_write(fd, reinterpret_cast<const uint8_t *>(s.data()), s.size());
    }
    Pipe p;
};

TEST_F(StagingTest, LeavesInPiecesOf512) {
    std::string data;
    for (int i = 0; i < 2000; ++i)
        data += static_cast<char>('a' + i % 26);

    ASSERT_EQ(put(p.w, data.substr(0, 511)), 1);
    EXPECT_EQ(p.pending(), 0u) << "511 bytes fit without reaching 512";
    EXPECT_EQ(process_write_buffer.used, 511u);

    ASSERT_EQ(put(p.w, data.substr(511, 1)), 1);
    EXPECT_EQ(p.pending(), 512u) << "reaching 512 flushes";
    EXPECT_EQ(process_write_buffer.used, 0u);

    ASSERT_EQ(put(p.w, data.substr(512, 1100)), 1);
    EXPECT_EQ(p.pending(), 512u + 1024u);
    EXPECT_EQ(process_write_buffer.used, 76u);

    ASSERT_EQ(jol_process_flush(p.w), 1);
    EXPECT_EQ(process_write_buffer.used, 0u);
    EXPECT_EQ(p.drain(), data.substr(0, 1612));
}

TEST_F(StagingTest, EveryMessageIsCompleteWhenItsSenderReturns) {
    std::string text(2000, 'z');
    ASSERT_EQ(gp_console_write(p.w, text.data(), text.size(), 0), 1);
    EXPECT_EQ(process_write_buffer.used, 0u);
    EXPECT_EQ(p.drain(), Bytes().i32(2).i8(0).i32(2000).str(text).b);
}

TEST_F(StagingTest, FrontEndStagesPerChild) {
    WriteStage other;
    current_write_buffer = &other;
    ASSERT_EQ(put(p.w, "abc"), 1);
    current_write_buffer = &process_write_buffer;
    EXPECT_EQ(other.used, 3u);
    EXPECT_EQ(process_write_buffer.used, 0u);
}

TEST_F(StagingTest, FailedFlushFailsTheWriteAndSticks) {
    signal(SIGPIPE, SIG_IGN);
    p.close_r();
    EXPECT_EQ(put(p.w, std::string(600, 'x')), 0);
    EXPECT_EQ(process_write_buffer.used, 0u);

    EXPECT_EQ(gp_console_write(p.w, "hi", 2, 0), 0);
    EXPECT_NE(wire_error(), 0);
    EXPECT_EQ(process_write_buffer.used, 0u);
    signal(SIGPIPE, SIG_DFL);
}

}  // namespace
