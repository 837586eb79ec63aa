// Single-file compression: what read_and_gzip writes, and gzip data
// expanded as it arrives, refusing damaged data without leaving a file.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "channel_test_util.h"
#include "src/protocol/fd_channel.h"
#include "src/protocol/gzip_file.h"

namespace fs = std::filesystem;

namespace {

class GzipFile : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("gzip_file_test." + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const char *name) const { return (dir_ / name).string(); }

    std::string gzip_of(const std::string &data, int level = 6) {
        std::string p = path("source");
        std::ofstream(p, std::ios::binary) << data;
        int fd = open(p.c_str(), O_RDONLY);
        std::string out;
        EXPECT_EQ(read_and_gzip(fd, "source", out, level), 0);
        close(fd);
        return out;
    }

    // Runs gunzip_and_write on `gz` followed by `after` on the same
    // connection, whose pieces are `cut` bytes long; returns its result
    // and checks that the transfer was read exactly.
    int expand(const std::string &gz, const char *target, std::string *errors = nullptr,
               size_t announced = std::string::npos, size_t cut = 1000) {
        auto s = std::make_shared<script_channel::state>();
        std::string wire = gz + "next request\n";
        for (size_t i = 0; i < wire.size(); i += cut)
            s->pieces.push_back(wire.substr(i, cut));
        buffer_ptr net = script_buffer(s);
        int read_status = -99;
        testing::internal::CaptureStderr();
        int result = gunzip_and_write(
            {.from = net.get(),
             .length = static_cast<off_t>(announced == std::string::npos ? gz.size() : announced),
             .path = path(target).c_str(),
             .mode = 0600,
             .name = target},
            read_status);
        std::string err = testing::internal::GetCapturedStderr();
        if (errors)
            *errors = err;
        EXPECT_EQ(read_status, 0);
        std::string line;
        EXPECT_EQ(buf_read_line(*net, line, 100), 0);
        EXPECT_EQ(line, "next request");
        return result;
    }

    std::string contents(const char *name) {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // No file but the source is left in the directory.
    bool nothing_left_but(const char *name) {
        for (const auto &e : fs::directory_iterator(dir_))
            if (e.path().filename() != name && e.path().filename() != "source")
                return false;
        return true;
    }

    fs::path dir_;
};

std::string sample(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n)
        s += rng() % 3 ? "int x" + std::to_string(rng() % 100) + " = 0;\n"
                       : std::string(1, char(rng()));
    s.resize(n);
    return s;
}

// Expands with zlib's own gzip reader, as a check independent of ours.
std::string zlib_gunzip(const std::string &gz) {
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, 16 + 15), Z_OK);
    std::string out;
    char buf[65536];
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(gz.data()));
    zs.avail_in = static_cast<uInt>(gz.size());
    int status;
    do {
        zs.next_out = reinterpret_cast<Bytef *>(buf);
        zs.avail_out = sizeof buf;
        status = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof buf - zs.avail_out);
    } while (status == Z_OK);
    EXPECT_EQ(status, Z_STREAM_END);
    inflateEnd(&zs);
    return out;
}

// gzip data with every optional header field, made by zlib.
std::string zlib_gzip_with_header(const std::string &data) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    gz_header h{};
    std::string extra = "extra-field", name = "file-name.c", comment = "a comment";
    h.extra = reinterpret_cast<Bytef *>(extra.data());
    h.extra_len = static_cast<uInt>(extra.size());
    h.name = reinterpret_cast<Bytef *>(name.data());
    h.comment = reinterpret_cast<Bytef *>(comment.data());
    h.hcrc = 1;
    EXPECT_EQ(deflateSetHeader(&zs, &h), Z_OK);
    std::string out(deflateBound(&zs, data.size()) + 100, 0);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

}  // namespace

TEST_F(GzipFile, EmptyFile) {
    std::string gz = gzip_of("");
    ASSERT_EQ(gz.size(), 20u);
    EXPECT_EQ(gz.substr(0, 10), std::string("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10));
    EXPECT_EQ(gz.substr(12), std::string(8, '\0'));  // CRC and length 0
    EXPECT_EQ(zlib_gunzip(gz), "");
    EXPECT_EQ(expand(gz, "empty"), 0);
    EXPECT_TRUE(fs::exists(path("empty")));
    EXPECT_EQ(contents("empty"), "");
}

TEST_F(GzipFile, RoundTripsAndReusesTheBlock) {
    std::string data = sample(300000, 1);
    std::string gz = gzip_of(data);
    EXPECT_LT(gz.size(), data.size() / 2);
    EXPECT_TRUE(same_bytes(zlib_gunzip(gz), data));
    for (size_t cut : {size_t{1}, size_t{13}, size_t{4096}}) {
        std::ofstream(path("target"), std::ios::binary) << "old contents";
        EXPECT_EQ(expand(gz, "target", nullptr, std::string::npos, cut), 0) << cut;
        EXPECT_TRUE(same_bytes(contents("target"), data));
        EXPECT_TRUE(nothing_left_but("target"));
    }
    // Level 1 into the same string: the result is whole, not mixed with
    // what the string held.
    std::string p = path("source");
    std::ofstream(p, std::ios::binary) << "short";
    int fd = open(p.c_str(), O_RDONLY);
    ASSERT_EQ(read_and_gzip(fd, "source", gz, 1), 0);
    close(fd);
    EXPECT_EQ(zlib_gunzip(gz), "short");
}

TEST_F(GzipFile, AcceptsEveryOptionalHeaderField) {
    std::string data = sample(5000, 2);
    std::string gz = zlib_gzip_with_header(data);
    EXPECT_EQ(expand(gz, "named"), 0);
    EXPECT_TRUE(same_bytes(contents("named"), data));

    // Every field cut across pieces.
    int fd = open(path("bytewise").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    {
        gunzip_stream stream(fd, "bytewise");
        for (char c : gz)
            ASSERT_EQ(stream.feed(&c, 1), 0);
        EXPECT_EQ(stream.finish(), 0);
    }
    close(fd);
    EXPECT_TRUE(same_bytes(contents("bytewise"), data));
}

TEST_F(GzipFile, BadCrcLeavesNoFile) {
    std::string gz = gzip_of(sample(20000, 3));
    gz[gz.size() - 8] ^= 1;
    std::ofstream(path("target"), std::ios::binary) << "old contents";
    std::string errors;
    EXPECT_EQ(expand(gz, "target", &errors), 1);
    EXPECT_NE(errors.find("CRC error uncompressing target"), std::string::npos) << errors;
    EXPECT_EQ(contents("target"), "old contents");
    EXPECT_TRUE(nothing_left_but("target"));

    gz = gzip_of(sample(20000, 3));
    gz[gz.size() - 1] ^= 1;  // the length
    EXPECT_EQ(expand(gz, "new", &errors), 1);
    EXPECT_NE(errors.find("invalid length uncompressing new"), std::string::npos) << errors;
    EXPECT_TRUE(nothing_left_but("target"));
}

TEST_F(GzipFile, TruncatedOrDamagedDataLeavesNoFile) {
    std::string gz = gzip_of(sample(50000, 4));
    std::string errors;
    // Cut in the deflate data, in the trailer and in the header.
    for (size_t keep : {gz.size() / 2, gz.size() - 3, size_t{5}}) {
        EXPECT_EQ(expand(gz.substr(0, keep), "cut", &errors), 1) << keep;
        EXPECT_NE(errors.find("invalid length uncompressing cut"), std::string::npos) << errors;
        EXPECT_TRUE(nothing_left_but("none"));
    }
    std::string bad = gz;
    bad[0] = 'x';
    EXPECT_EQ(expand(bad, "bad", &errors), 1);
    EXPECT_NE(errors.find("gzipped data does not start with gzip identification"),
              std::string::npos);
    bad = gz;
    bad[2] = 7;
    EXPECT_EQ(expand(bad, "bad", &errors), 1);
    EXPECT_NE(errors.find("only the deflate compression method is supported"), std::string::npos);
    bad = gz;
    for (size_t i = 20; i < 40; ++i)
        bad[i] = static_cast<char>(0xff);
    EXPECT_EQ(expand(bad, "bad", &errors), 1);
    EXPECT_NE(errors.find("bad: "), std::string::npos) << errors;
    EXPECT_TRUE(nothing_left_but("none"));
}

TEST_F(GzipFile, ConnectionEndingEarlyIsTheCallersToReport) {
    std::string gz = gzip_of(sample(10000, 5));
    auto s = std::make_shared<script_channel::state>();
    s->pieces = {gz.substr(0, 100)};
    buffer_ptr net = script_buffer(s);
    int read_status = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(gunzip_and_write({.from = net.get(),
                                .length = static_cast<off_t>(gz.size()),
                                .path = path("t").c_str(),
                                .mode = 0600,
                                .name = "t"},
                               read_status),
              1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(read_status, buf_eof);
    EXPECT_TRUE(nothing_left_but("none"));
}

// The data of a gigabyte, expanded from a pipe into /dev/null: the peak
// resident size of the process must not depend on the size.
TEST(GzipStream, ExpandsAGigabyteInConstantMemory) {
    auto run = [](uint64_t total) -> long {
        int pfd[2];
        EXPECT_EQ(pipe(pfd), 0);
        pid_t producer = fork();
        if (producer == 0) {
            // Writes gzip data of `total` bytes of source-like text.
            close(pfd[0]);
            std::string block = sample(1 << 16, 6);
            z_stream zs{};
            deflateInit2(&zs, 1, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
            std::vector<unsigned char> out(1 << 16);
            for (uint64_t sent = 0; sent <= total; sent += block.size()) {
                bool last = sent + block.size() > total;
                zs.next_in = reinterpret_cast<Bytef *>(block.data());
                zs.avail_in =
                    last ? static_cast<uInt>(total - sent) : static_cast<uInt>(block.size());
                do {
                    zs.next_out = out.data();
                    zs.avail_out = static_cast<uInt>(out.size());
                    deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
                    size_t n = out.size() - zs.avail_out;
                    if (write(pfd[1], out.data(), n) != static_cast<ssize_t>(n))
                        _exit(1);
                } while (zs.avail_out == 0);
                if (last)
                    break;
            }
            _exit(0);
        }
        close(pfd[1]);
        pid_t consumer = fork();
        if (consumer == 0) {
            buffer_ptr in = fd_buffer_initialize(unique_fd(pfd[0]), true, nullptr);
            int null = open("/dev/null", O_WRONLY);
            gunzip_stream stream(null, "big");
            const char *data;
            size_t got;
            while (buf_read_data(*in, BUFFER_DATA_SIZE, data, got) == 0)
                stream.feed(data, got);
            _exit(stream.finish() == 0 ? 0 : 1);
        }
        close(pfd[0]);
        int status;
        struct rusage ru;
        EXPECT_EQ(wait4(consumer, &status, 0, &ru), consumer);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        waitpid(producer, &status, 0);
        return ru.ru_maxrss;  // KiB
    };
    long small = run(1 << 20);
    auto t0 = std::chrono::steady_clock::now();
    long big = run(uint64_t{1} << 30);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("peak RSS expanding 1 MiB: %ld KiB; 1 GiB: %ld KiB (%.1f s)\n", small, big,
                seconds);
    EXPECT_LT(big - small, 4096) << "memory grew with the size of the data";
}
