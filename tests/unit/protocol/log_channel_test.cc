// The traffic log: both directions copied to their files while the
// traffic itself passes unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "channel_test_util.h"
#include "src/protocol/log_channel.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(LogChannel, BothDirectionsAreLogged) {
    fs::path dir = fs::temp_directory_path() / ("log_channel_test." + std::to_string(getpid()));
    fs::create_directories(dir);
    auto sink = std::make_shared<sink_channel::state>();
    auto s = std::make_shared<script_channel::state>();
    s->pieces = {"ok\n", "M hello\n"};
    buffer_ptr to_server = sink_buffer(sink);
    buffer_ptr from_server = script_buffer(s);
    log_client_traffic(to_server, from_server, (dir / "trace").string());

    buf_output(*to_server, "Root /repo\n");
    buf_output(*to_server, std::string(5000, 'x') + "\n");
    ASSERT_EQ(buf_flush(*to_server, true), 0);
    std::string line;
    ASSERT_EQ(buf_read_line(*from_server, line, 100), 0);
    EXPECT_EQ(line, "ok");
    EXPECT_EQ(sink->out, "Root /repo\n" + std::string(5000, 'x') + "\n");
    EXPECT_EQ(sink->flushes, 1);

    EXPECT_EQ(buf_shutdown(*to_server), 0);
    EXPECT_EQ(buf_shutdown(*from_server), 0);
    EXPECT_EQ(slurp(dir / "trace.in"), sink->out);
    EXPECT_EQ(slurp(dir / "trace.out"), "ok\n");  // only what was read
    fs::remove_all(dir);
}

TEST(LogChannel, UnopenableLogLeavesTheBufferAsItWas) {
    auto sink = std::make_shared<sink_channel::state>();
    auto s = std::make_shared<script_channel::state>();
    buffer_ptr to_server = sink_buffer(sink);
    buffer_ptr from_server = script_buffer(s);
    channel *before = to_server->chan.get();
    testing::internal::CaptureStderr();
    log_client_traffic(to_server, from_server, "/nonexistent-dir/trace");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("opening to-server logfile /nonexistent-dir/trace.in"), std::string::npos);
    EXPECT_NE(err.find("opening from-server logfile /nonexistent-dir/trace.out"),
              std::string::npos);
    EXPECT_EQ(to_server->chan.get(), before);
    buf_output(*to_server, "x");
    EXPECT_EQ(buf_flush(*to_server, false), 0);
    EXPECT_EQ(sink->out, "x");
}
