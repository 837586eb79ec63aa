// The protocol's byte layer against bare system calls and bare zlib: a
// relay from one descriptor to another through buffers, and stream
// compression at level 6 in both directions. Before the benchmarks it
// prints the peak resident size of a process that expands a gigabyte of
// gzip data from a pipe as it arrives.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

#include "src/protocol/compress_channel.h"
#include "src/protocol/fd_channel.h"
#include "src/protocol/gzip_file.h"

namespace {

constexpr size_t relay_total = 256 << 20;
constexpr size_t piece = BUFFER_DATA_SIZE;

// Source-like text: short lines from a small vocabulary, some random bytes.
const std::string &corpus() {
    static const std::string text = [] {
        std::mt19937 rng(1);
        const char *words[] = {"int",    "return", "value", "if", "(", ")", "{",     "}",    ";",
                               "buffer", "size",   "=",     "+",  "0", "1", "const", "char", "*"};
        std::string s;
        while (s.size() < (16u << 20)) {
            int n = 1 + static_cast<int>(rng() % 12);
            s.append(static_cast<size_t>(rng() % 4) * 4, ' ');
            for (int i = 0; i < n; ++i) {
                s += words[rng() % std::size(words)];
                s += ' ';
            }
            if (rng() % 50 == 0)
                for (int i = 0; i < 16; ++i)
                    s += static_cast<char>('!' + rng() % 90);
            s += '\n';
        }
        return s;
    }();
    return text;
}

int dev_null() { return open("/dev/null", O_WRONLY | O_CLOEXEC); }

// A pipe fed with `total` bytes by a thread, its read end for the relay.
struct fed_pipe {
    int read_end = -1;
    std::thread writer;
    explicit fed_pipe(size_t total) {
        int fds[2];
        if (pipe(fds) != 0)
            std::abort();
        read_end = fds[0];
        writer = std::thread([fd = fds[1], total] {
            static const std::string block(64 << 10, 'r');
            for (size_t sent = 0; sent < total;) {
                ssize_t n = write(fd, block.data(), std::min(block.size(), total - sent));
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            close(fd);
        });
    }
    ~fed_pipe() { writer.join(); }
};

void BM_RelayBare(benchmark::State &state) {
    for (auto _ : state) {
        fed_pipe src(relay_total);
        int out = dev_null();
        char buf[piece];
        ssize_t n;
        while ((n = read(src.read_end, buf, sizeof buf)) > 0)
            if (write(out, buf, static_cast<size_t>(n)) != n)
                std::abort();
        close(out);
        close(src.read_end);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * relay_total));
}

// As the server relays its command's output: the input side nonblocking
// and waited for with poll, whole chunks moved to the output side.
void BM_RelayBuffers(benchmark::State &state) {
    for (auto _ : state) {
        fed_pipe src(relay_total);
        struct pollfd readable = {src.read_end, POLLIN, 0};
        buffer_ptr in = fd_buffer_initialize(unique_fd(src.read_end), true, nullptr);
        buffer_ptr out = fd_buffer_initialize(unique_fd(dev_null()), false, nullptr);
        if (set_nonblock(*in) != 0)
            std::abort();
        int status;
        do {
            if (poll(&readable, 1, -1) < 0)
                std::abort();
            status = buf_input_data(*in, nullptr);
            buf_append_buffer(*out, *in);
            if (buf_send_output(*out) != 0)
                std::abort();
        } while (status == 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * relay_total));
}

// Deflates the corpus in pieces of one chunk, as the channel is fed, into
// /dev/null; the compressed size.
void BM_DeflateBare(benchmark::State &state) {
    const std::string &text = corpus();
    size_t compressed = 0;
    for (auto _ : state) {
        int out = dev_null();
        z_stream zs{};
        deflateInit2(&zs, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
        unsigned char buf[piece];
        compressed = 0;
        for (size_t at = 0; at <= text.size(); at += piece) {
            bool last = at + piece > text.size();
            zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data() + at));
            zs.avail_in = static_cast<uInt>(std::min(piece, text.size() - at));
            do {
                zs.next_out = buf;
                zs.avail_out = sizeof buf;
                deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
                size_t n = sizeof buf - zs.avail_out;
                compressed += n;
                if (n && write(out, buf, n) != static_cast<ssize_t>(n))
                    std::abort();
            } while (zs.avail_out == 0);
        }
        deflateEnd(&zs);
        close(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["ratio"] = static_cast<double>(text.size()) / static_cast<double>(compressed);
}

void BM_DeflateChannel(benchmark::State &state) {
    const std::string &text = corpus();
    for (auto _ : state) {
        buffer_ptr out = compress_buffer_initialize(
            fd_buffer_initialize(unique_fd(dev_null()), false, nullptr), false, 6, nullptr);
        for (size_t at = 0; at < text.size(); at += piece) {
            buf_output(*out, text.data() + at, std::min(piece, text.size() - at));
            if (buf_send_output(*out) != 0)
                std::abort();
        }
        if (buf_flush(*out, true) != 0 || buf_shutdown(*out) != 0)
            std::abort();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

std::string compressed_path;

// The corpus as one zlib stream in a file, for the inflating side.
const std::string &compressed_file() {
    static const std::string name = [] {
        std::string path = "/tmp/channel_bench." + std::to_string(getpid()) + ".z";
        compressed_path = path;
        buffer_ptr out = compress_buffer_initialize(
            fd_buffer_initialize(unique_fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)),
                                 false, nullptr),
            false, 6, nullptr);
        buf_output(*out, corpus());
        if (buf_flush(*out, true) != 0 || buf_shutdown(*out) != 0)
            std::abort();
        return path;
    }();
    return name;
}

void BM_InflateBare(benchmark::State &state) {
    const std::string &path = compressed_file();
    for (auto _ : state) {
        int in = open(path.c_str(), O_RDONLY);
        z_stream zs{};
        inflateInit2(&zs, 15);
        unsigned char src[piece], dst[piece];
        int status = Z_OK;
        size_t total = 0;
        ssize_t n;
        while (status != Z_STREAM_END && (n = read(in, src, sizeof src)) > 0) {
            zs.next_in = src;
            zs.avail_in = static_cast<uInt>(n);
            do {
                zs.next_out = dst;
                zs.avail_out = sizeof dst;
                status = inflate(&zs, Z_NO_FLUSH);
                total += sizeof dst - zs.avail_out;
            } while (zs.avail_out == 0 && status == Z_OK);
            benchmark::DoNotOptimize(dst);
        }
        inflateEnd(&zs);
        close(in);
        if (total != corpus().size())
            std::abort();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus().size()));
}

void BM_InflateChannel(benchmark::State &state) {
    const std::string &path = compressed_file();
    for (auto _ : state) {
        buffer_ptr in = compress_buffer_initialize(
            fd_buffer_initialize(unique_fd(open(path.c_str(), O_RDONLY)), true, nullptr), true, 0,
            nullptr);
        size_t total = 0;
        const char *data;
        size_t got;
        while (buf_read_data(*in, piece, data, got) == 0) {
            benchmark::DoNotOptimize(data);
            total += got;
        }
        if (total != corpus().size())
            std::abort();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus().size()));
}

BENCHMARK(BM_RelayBare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RelayBuffers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateBare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateChannel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateBare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateChannel)->Unit(benchmark::kMillisecond);

// Expands `total` bytes of gzip data from a pipe into /dev/null in a child
// of its own; the child's peak resident size in KiB.
long streaming_inflate_peak(uint64_t total) {
    int pfd[2];
    if (pipe(pfd) != 0)
        return -1;
    pid_t producer = fork();
    if (producer == 0) {
        close(pfd[0]);
        const std::string block = corpus().substr(0, 1 << 20);
        z_stream zs{};
        deflateInit2(&zs, 1, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
        static unsigned char out[1 << 16];
        for (uint64_t sent = 0;; sent += block.size()) {
            bool last = sent + block.size() >= total;
            zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(block.data()));
            zs.avail_in = static_cast<uInt>(last ? total - sent : block.size());
            do {
                zs.next_out = out;
                zs.avail_out = sizeof out;
                deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
                size_t n = sizeof out - zs.avail_out;
                if (write(pfd[1], out, n) != static_cast<ssize_t>(n))
                    _exit(1);
            } while (zs.avail_out == 0);
            if (last)
                _exit(0);
        }
    }
    close(pfd[1]);
    pid_t consumer = fork();
    if (consumer == 0) {
        buffer_ptr in = fd_buffer_initialize(unique_fd(pfd[0]), true, nullptr);
        gunzip_stream stream(dev_null(), "stream");
        int status = gunzip_from_buffer(*in, static_cast<off_t>(INT64_MAX), stream);
        _exit(status == buf_eof && stream.finish() == 0 ? 0 : 1);
    }
    close(pfd[0]);
    int status;
    struct rusage ru;
    wait4(consumer, &status, 0, &ru);
    bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    waitpid(producer, &status, 0);
    return ok ? ru.ru_maxrss : -1;
}

}  // namespace

int main(int argc, char **argv) {
    // Measured before anything grows this process, which the children
    // start as a copy of.
    long small = streaming_inflate_peak(1 << 20);
    long big = streaming_inflate_peak(uint64_t{1} << 30);
    std::printf(
        "streaming inflate, peak RSS of the expanding process: 1 MiB %ld KiB, 1 GiB %ld KiB\n",
        small, big);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!compressed_path.empty())
        unlink(compressed_path.c_str());
    return 0;
}
