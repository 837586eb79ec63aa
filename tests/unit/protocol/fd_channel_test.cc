// Descriptor and stream channels on real pipes and sockets: end of file,
// nonblocking reads and partial writes, and a closed peer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "channel_test_util.h"
#include "src/protocol/fd_channel.h"
#include "src/protocol/stdio_channel.h"

namespace {

struct socket_pair {
    unique_fd a, b;
    socket_pair() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        a.reset(fds[0]);
        b.reset(fds[1]);
    }
};

std::string read_all(int fd) {
    std::string s;
    char tmp[65536];
    ssize_t n;
    while ((n = read(fd, tmp, sizeof tmp)) > 0)
        s.append(tmp, static_cast<size_t>(n));
    return s;
}

std::string pattern(size_t n) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 4096) % 256);
    return s;
}

}  // namespace

TEST(FdChannel, EndOfFileAndNonblockingReads) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    unique_fd writer(fds[1]);
    buffer_ptr in = fd_buffer_initialize(unique_fd(fds[0]), true, nullptr);

    ASSERT_EQ(set_nonblock(*in), 0);
    size_t count = 99;
    EXPECT_EQ(buf_input_data(*in, &count), 0);  // nothing there: no bytes, no error
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(write(writer.get(), "line one\nli", 11), 11);
    EXPECT_EQ(buf_input_data(*in, &count), 0);
    EXPECT_EQ(count, 11u);

    ASSERT_EQ(set_block(*in), 0);
    EXPECT_EQ(fcntl(fds[0], F_GETFL) & O_NONBLOCK, 0);
    std::string line;
    ASSERT_EQ(buf_read_line(*in, line, 100), 0);
    EXPECT_EQ(line, "line one");
    writer.reset();
    EXPECT_EQ(buf_read_line(*in, line, 100), buf_eof);
    EXPECT_EQ(queued(*in), "li");
}

TEST(FdChannel, PartialWritesOnASmallSocketBuffer) {
    socket_pair sp;
    int small = 4096;
    ASSERT_EQ(setsockopt(sp.a.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    int peer = sp.b.get();
    buffer_ptr out = fd_buffer_initialize(std::move(sp.a), false, nullptr);
    ASSERT_EQ(set_nonblock(*out), 0);

    std::string data = pattern(1 << 20);
    buf_output(*out, data);
    ASSERT_EQ(buf_send_output(*out), 0);
    size_t left = buf_length(*out);
    EXPECT_GT(left, 0u) << "the socket took everything; the test proves nothing";
    EXPECT_LT(left, data.size());

    // Drain the peer by turns until all has gone, never blocking the sender.
    std::string got;
    char tmp[8192];
    int rounds = 0;
    while (!buf_empty_p(*out) && rounds++ < 100000) {
        ssize_t n = recv(peer, tmp, sizeof tmp, MSG_DONTWAIT);
        if (n > 0)
            got.append(tmp, static_cast<size_t>(n));
        ASSERT_EQ(buf_send_output(*out), 0);
    }
    ASSERT_TRUE(buf_empty_p(*out));
    ssize_t n;
    while ((n = recv(peer, tmp, sizeof tmp, MSG_DONTWAIT)) > 0)
        got.append(tmp, static_cast<size_t>(n));
    EXPECT_TRUE(same_bytes(got, data));
}

TEST(FdChannel, NonblockingWritesRacingAReader) {
    // The reader makes room while a write is under way, so writes stop in
    // the middle of a chunk and go on from there.
    socket_pair sp;
    int small = 4096;
    ASSERT_EQ(setsockopt(sp.a.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    unique_fd peer = std::move(sp.b);
    buffer_ptr out = fd_buffer_initialize(std::move(sp.a), false, nullptr);
    ASSERT_EQ(set_nonblock(*out), 0);
    std::string data = pattern(4 << 20);
    std::string got;
    std::thread reader([&] {
        char tmp[1000];
        ssize_t n;
        while ((n = read(peer.get(), tmp, sizeof tmp)) > 0)
            got.append(tmp, static_cast<size_t>(n));
    });
    for (size_t i = 0; i < data.size(); i += 777)
        buf_output(*out, data.data() + i, std::min<size_t>(777, data.size() - i));
    while (!buf_empty_p(*out))
        ASSERT_EQ(buf_send_output(*out), 0);
    out.reset();
    reader.join();
    EXPECT_TRUE(same_bytes(got, data));
}

TEST(FdChannel, BlockingFlushSendsEverythingThroughPartialWrites) {
    socket_pair sp;
    int small = 4096;
    ASSERT_EQ(setsockopt(sp.a.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    unique_fd peer = std::move(sp.b);
    buffer_ptr out = fd_buffer_initialize(std::move(sp.a), false, nullptr);
    ASSERT_EQ(set_nonblock(*out), 0);
    std::string data = pattern(3 << 20);
    std::string got;
    std::thread reader([&] { got = read_all(peer.get()); });
    buf_output(*out, data);
    EXPECT_EQ(buf_flush(*out, true), 0);
    EXPECT_EQ(out->nonblocking, 1);
    out.reset();  // closes the descriptor: the reader sees the end
    reader.join();
    EXPECT_TRUE(same_bytes(got, data));
}

TEST(FdChannelDeathTest, ClosedPeerIsAnErrorNotASignal) {
    EXPECT_EXIT(
        {
            socket_pair sp;
            buffer_ptr out = fd_buffer_initialize(std::move(sp.a), false, nullptr);
            sp.b.reset();
            buf_output(*out, "hello");
            int status = buf_send_output(*out);
            std::exit(status == EPIPE && buf_empty_p(*out) ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            int fds[2];
            if (pipe(fds) != 0)
                std::exit(3);
            close(fds[0]);
            sys_ignore_sigpipe();
            buffer_ptr out = fd_buffer_initialize(unique_fd(fds[1]), false, nullptr);
            buf_output(*out, "hello");
            std::exit(buf_flush(*out, true) == EPIPE ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
}

TEST(FdChannel, RelayBetweenPipesKeepsEveryByte) {
    int a[2], b[2];
    ASSERT_EQ(pipe(a), 0);
    ASSERT_EQ(pipe(b), 0);
    unique_fd src(a[1]), dst(b[0]);
    buffer_ptr in = fd_buffer_initialize(unique_fd(a[0]), true, nullptr);
    buffer_ptr out = fd_buffer_initialize(unique_fd(b[1]), false, nullptr);
    std::string data = pattern(2 << 20);
    std::thread writer([&] {
        for (size_t i = 0; i < data.size(); i += 3000)
            EXPECT_GT(write(src.get(), data.data() + i, std::min<size_t>(3000, data.size() - i)),
                      0);
        src.reset();
    });
    std::string got;
    std::thread reader([&] { got = read_all(dst.get()); });
    // As the server relays: nonblocking input, waited for with poll.
    ASSERT_EQ(set_nonblock(*in), 0);
    struct pollfd readable = {a[0], POLLIN, 0};
    int status;
    do {
        ASSERT_GE(poll(&readable, 1, -1), 0);
        status = buf_input_data(*in, nullptr);
        buf_append_buffer(*out, *in);
        ASSERT_EQ(buf_send_output(*out), 0);
    } while (status == 0);
    EXPECT_EQ(status, buf_eof);
    out.reset();
    writer.join();
    reader.join();
    EXPECT_TRUE(same_bytes(got, data));
}

TEST(StdioChannel, ReadsLinesAndCountedDataFromAStream) {
    FILE *fp = std::tmpfile();
    ASSERT_TRUE(fp);
    std::string data = "hello\r\n" + pattern(5000);
    std::fwrite(data.data(), 1, data.size(), fp);
    std::rewind(fp);
    buffer_ptr in = stdio_buffer_initialize(unique_file(fp), true, nullptr);
    std::string line;
    ASSERT_EQ(buf_read_line(*in, line, 100), 0);
    EXPECT_EQ(line, "hello\r");
    std::string rest;
    const char *p;
    size_t got;
    while (rest.size() < 5000 && buf_read_data(*in, 5000 - rest.size(), p, got) == 0)
        rest.append(p, got);
    EXPECT_TRUE(same_bytes(rest, pattern(5000)));
    EXPECT_EQ(buf_read_data(*in, 1, p, got), buf_eof);

    FILE *wp = std::tmpfile();
    ASSERT_TRUE(wp);
    int wfd = dup(fileno(wp));
    buffer_ptr out = stdio_buffer_initialize(unique_file(wp), false, nullptr);
    buf_output(*out, data);
    ASSERT_EQ(buf_flush(*out, false), 0);
    lseek(wfd, 0, SEEK_SET);
    EXPECT_TRUE(same_bytes(read_all(wfd), data));
    close(wfd);
}
