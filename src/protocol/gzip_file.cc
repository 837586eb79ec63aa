// gzip data as single-file transfers use it: a 10-byte header written by
// us (optional header fields accepted when reading), raw deflate data, and
// a trailer with the CRC-32 and length of the expanded data.
#include "gzip_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "compress_error.h"
#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "sys_io.h"

namespace {

constexpr int raw_window_bits = -15;
constexpr int memory_level = 8;
constexpr size_t read_piece = 8192;
constexpr size_t write_piece = 32768;
constexpr size_t header_size = 10;
constexpr size_t trailer_size = 8;

// Header flags.
constexpr unsigned header_crc_flag = 2;
constexpr unsigned extra_flag = 4;
constexpr unsigned name_flag = 8;
constexpr unsigned comment_flag = 16;

void put_le32(unsigned char *to, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        to[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t get_le32(const unsigned char *from) {
    return uint32_t{from[0]} | uint32_t{from[1]} << 8 | uint32_t{from[2]} << 16 |
           uint32_t{from[3]} << 24;
}

// Ends a deflate stream however its function is left.
struct deflate_guard {
    z_stream *zs;
    ~deflate_guard() { deflateEnd(zs); }
};

}  // namespace

int read_and_gzip(int fd, const char *name, std::string &out, int level) {
    out.resize(1024);  // within the capacity a reused string already has
    unsigned char *header = reinterpret_cast<unsigned char *>(out.data());
    const unsigned char fixed[header_size] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 255};
    std::memcpy(header, fixed, header_size);
    size_t used = header_size;

    z_stream zs{};
    int status =
        deflateInit2(&zs, level, Z_DEFLATED, raw_window_bits, memory_level, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) {
        compress_error(0, status, &zs, "compression initialization");
        return 1;
    }
    deflate_guard guard{&zs};
    uLong crc = crc32(0, Z_NULL, 0);
    uint64_t total = 0;
    unsigned char in[read_piece];
    for (;;) {
        ssize_t n = sys_read(fd, in, sizeof in);
        if (n < 0) {
            error(0, errno, "cannot read %s", name);
            return 1;
        }
        crc = crc32(crc, in, static_cast<uInt>(n));
        total += static_cast<uint64_t>(n);
        int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        zs.next_in = in;
        zs.avail_in = static_cast<uInt>(n);
        do {
            // deflate always gets at least one piece's worth of room.
            while (out.size() - used < BUFFER_DATA_SIZE)
                out.resize(out.size() * 2);
            size_t room = std::min<size_t>(out.size() - used, UINT_MAX);
            zs.next_out = reinterpret_cast<Bytef *>(out.data() + used);
            zs.avail_out = static_cast<uInt>(room);
            status = deflate(&zs, flush);
            used += room - zs.avail_out;
            if (status != Z_OK && status != Z_BUF_ERROR && status != Z_STREAM_END) {
                compress_error(0, status, &zs, "deflate");
                return 1;
            }
        } while (status != Z_STREAM_END && (zs.avail_out == 0 || zs.avail_in > 0));
        if (status == Z_STREAM_END)
            break;
    }
    out.resize(used + trailer_size);
    unsigned char *trailer = reinterpret_cast<unsigned char *>(out.data() + used);
    put_le32(trailer, static_cast<uint32_t>(crc));
    put_le32(trailer + 4, static_cast<uint32_t>(total));
    return 0;
}

gunzip_stream::gunzip_stream(int fd, std::string name)
    : fd_(fd), name_(std::move(name)), crc_(crc32(0, Z_NULL, 0)),
      piece_(new unsigned char[write_piece]) {
    int status = inflateInit2(&zs_, raw_window_bits);
    if (status != Z_OK)
        compress_error(1, status, &zs_, "compression initialization");
}

gunzip_stream::~gunzip_stream() { inflateEnd(&zs_); }

int gunzip_stream::fail(const char *message) {
    if (message)
        error(0, 0, message, name_);
    failed_ = true;
    return 1;
}

void gunzip_stream::next_header_part() {
    // The optional parts come in this order, each when its flag is set.
    static constexpr part order[] = {part::extra_length, part::name, part::comment,
                                     part::header_crc, part::body};
    static constexpr unsigned flag[] = {extra_flag, name_flag, comment_flag, header_crc_flag};
    size_t i = 0;  // the first part not yet passed
    switch (part_) {
    case part::extra_length:
    case part::extra: i = 1; break;
    case part::name: i = 2; break;
    case part::comment: i = 3; break;
    case part::header_crc: i = 4; break;
    default: break;
    }
    while (i < std::size(flag) && !(flags_ & flag[i]))
        ++i;
    part_ = order[i];
    have_ = part_ == part::header_crc ? 2 : 0;
}

// Takes header bytes; the count used.
size_t gunzip_stream::feed_header(const unsigned char *data, size_t len) {
    switch (part_) {
    case part::fixed: {
        size_t n = std::min(len, header_size - have_);
        std::memcpy(fixed_ + have_, data, n);
        have_ += n;
        if (have_ >= 2 && (fixed_[0] != 0x1f || fixed_[1] != 0x8b)) {
            fail("gzipped data does not start with gzip identification");
            return n;
        }
        if (have_ >= 3 && fixed_[2] != Z_DEFLATED) {
            fail("only the deflate compression method is supported");
            return n;
        }
        if (have_ == header_size) {
            flags_ = fixed_[3];
            next_header_part();
        }
        return n;
    }
    case part::extra_length: {
        size_t n = std::min(len, 2 - have_);
        std::memcpy(trailer_ + have_, data, n);
        have_ += n;
        if (have_ == 2) {
            part_ = part::extra;
            have_ = size_t{trailer_[0]} | size_t{trailer_[1]} << 8;
            if (have_ == 0)
                next_header_part();
        }
        return n;
    }
    case part::extra:
    case part::header_crc: {
        size_t n = std::min(len, have_);
        have_ -= n;
        if (have_ == 0)
            next_header_part();
        return n;
    }
    case part::name:
    case part::comment: {
        const void *nul = std::memchr(data, 0, len);
        if (!nul)
            return len;
        next_header_part();
        return static_cast<size_t>(static_cast<const unsigned char *>(nul) - data) + 1;
    }
    default: return 0;
    }
}

// Takes deflate data, writing what it expands to; the count used.
size_t gunzip_stream::feed_body(const unsigned char *data, size_t len) {
    zs_.next_in = const_cast<Bytef *>(data);
    zs_.avail_in = static_cast<uInt>(std::min<size_t>(len, UINT_MAX));
    size_t offered = zs_.avail_in;
    for (;;) {
        zs_.next_out = piece_.get();
        zs_.avail_out = write_piece;
        int status = inflate(&zs_, Z_NO_FLUSH);
        size_t n = write_piece - zs_.avail_out;
        if (n > 0) {
            size_t wrote;
            int werr =
                sys_write(fd_, false, true, reinterpret_cast<char *>(piece_.get()), n, wrote);
            if (werr != 0) {
                error(0, werr, "writing decompressed file %s", name_);
                fail(nullptr);
                break;
            }
            crc_ = crc32(crc_, piece_.get(), static_cast<uInt>(n));
            length_ += n;
        }
        if (status == Z_STREAM_END) {
            part_ = part::trailer;
            have_ = 0;
            break;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            compress_error(0, status, &zs_, name_.c_str());
            fail(nullptr);
            break;
        }
        if (zs_.avail_in == 0 && zs_.avail_out > 0)
            break;
    }
    return offered - zs_.avail_in;
}

int gunzip_stream::feed(const char *data, size_t len) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(data);
    while (len > 0 && !failed_) {
        size_t used;
        if (part_ == part::body) {
            used = feed_body(p, len);
        } else if (part_ == part::trailer) {
            used = std::min(len, trailer_size - have_);
            std::memcpy(trailer_ + have_, p, used);
            have_ += used;
            if (have_ == trailer_size)
                part_ = part::done;
        } else if (part_ == part::done) {
            used = len;  // whatever follows the trailer is not ours
        } else {
            used = feed_header(p, len);
        }
        p += used;
        len -= used;
    }
    return failed_ ? 1 : 0;
}

int gunzip_stream::finish() {
    if (failed_)
        return 1;
    if (part_ == part::fixed && have_ < 2)
        return fail("gzipped data does not start with gzip identification");
    if (part_ != part::done)
        return fail("invalid length uncompressing %s");
    if (get_le32(trailer_) != static_cast<uint32_t>(crc_))
        return fail("CRC error uncompressing %s");
    if (get_le32(trailer_ + 4) != static_cast<uint32_t>(length_))
        return fail("invalid length uncompressing %s");
    return 0;
}

namespace {

// Reads `length` bytes from `from`, handing each piece to `take`.
template <class Take> int read_transfer(buffer &from, off_t length, Take take) {
    while (length > 0) {
        const char *data;
        size_t got = 0;
        size_t want = static_cast<size_t>(std::min<off_t>(length, BUFFER_DATA_SIZE));
        int status = buf_read_data(from, want, data, got);
        if (status != 0)
            return status;
        if (got == 0)
            return EAGAIN;  // a nonblocking buffer with nothing more for now
        take(data, got);
        length -= static_cast<off_t>(got);
    }
    return 0;
}

}  // namespace

int gunzip_from_buffer(buffer &from, off_t length, gunzip_stream &stream) {
    return read_transfer(from, length,
                         [&](const char *data, size_t len) { stream.feed(data, len); });
}

namespace {

// A new file beside `path`, named after it; -1 (errno set) when none could
// be made.
int open_beside(const std::string &path, mode_t mode, std::string &made) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = path.substr(dir.size());
    for (int attempt = 0;; ++attempt) {
        made = dir + ".#" + base + "." + std::to_string(getpid());
        if (attempt > 0)
            made += "." + std::to_string(attempt);
        int fd = open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST || attempt == 100)
            return fd;
    }
}

}  // namespace

int gunzip_and_write(const gunzip_request &request, int &read_status) {
    std::string temp;
    unique_fd fd(open_beside(request.path, request.mode, temp));
    if (!fd) {
        error(0, errno, "cannot write %s", request.name);
        // Nothing is written, but the data is still read off the connection.
        read_status = read_transfer(*request.from, request.length, [](const char *, size_t) {});
        return 1;
    }
    bool ok;
    {
        gunzip_stream stream(fd.get(), request.name);
        read_status = gunzip_from_buffer(*request.from, request.length, stream);
        ok = read_status == 0 && stream.finish() == 0;
    }
    if (int err = fd.reset(); err != 0 && ok) {
        error(0, err, "writing decompressed file %s", request.name);
        ok = false;
    }
    if (ok && rename_file(temp.c_str(), request.path,
                          {.traced = false, .honour_noexec = false, .fatal = false}) != 0) {
        error(0, errno, "cannot rename file %s to %s", temp, request.path);
        ok = false;
    }
    if (!ok)
        unlink(temp.c_str());
    return ok ? 0 : 1;
}
