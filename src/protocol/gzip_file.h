// Single files compressed in transit: gzip data made from a descriptor,
// and gzip data expanded into a file as it arrives, in constant memory.
// Format: doc/protocol.md#compressed-files
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <zlib.h>

#include "buffer.h"

// Compresses everything readable from `fd` at `level` into `out` (whose
// size becomes the gzip data's length; its capacity is reused). 0, or 1
// after reporting a failure (`name` names the file).
int read_and_gzip(int fd, const char *name, std::string &out, int level);

// Expands gzip data fed in pieces of any size into a descriptor: header,
// raw deflate data and trailer, checked as they pass.
class gunzip_stream {
  public:
    // Writes to `fd`, which stays the caller's; `name` is for messages.
    gunzip_stream(int fd, std::string name);
    ~gunzip_stream();
    gunzip_stream(const gunzip_stream &) = delete;
    gunzip_stream &operator=(const gunzip_stream &) = delete;

    // Takes the next piece. 0, or 1 once the data was found bad or could
    // not be written (reported once; later pieces are ignored, so the
    // caller can go on reading the rest of the transfer).
    int feed(const char *data, size_t len);
    // At the end of the data: 0 when it was whole and its trailer matched
    // what was written, else 1 (reported).
    int finish();

  private:
    enum class part { fixed, extra_length, extra, name, comment, header_crc, body, trailer, done };

    size_t feed_header(const unsigned char *data, size_t len);
    size_t feed_body(const unsigned char *data, size_t len);
    void next_header_part();
    int fail(const char *message);

    int fd_;
    std::string name_;
    part part_ = part::fixed;
    unsigned char fixed_[10];
    unsigned char trailer_[8];
    size_t have_ = 0;  // bytes of the current fixed-size part, or left to skip
    unsigned flags_ = 0;
    z_stream zs_{};
    uLong crc_;
    uint64_t length_ = 0;
    std::unique_ptr<unsigned char[]> piece_;
    bool failed_ = false;
};

// Reads `length` bytes of gzip data from `from` into `stream`, as they
// come. Returns the status of reading (buffer status values, not
// reported); the data's own faults are the stream's.
int gunzip_from_buffer(buffer &from, off_t length, gunzip_stream &stream);

struct gunzip_request {
    buffer *from;      // where the gzip data comes from
    off_t length;      // its size in bytes
    const char *path;  // the file to write
    mode_t mode;       // its permissions (the umask applies)
    const char *name;  // the file as messages name it
};
// Expands `length` bytes of gzip data from the buffer into a new file
// beside `path` that replaces `path` only when the data was whole and
// checked out, so a failure leaves `path` as it was. The whole transfer is
// read even after a failure. 0 when the file was written, 1 when not
// (reported, except a failure to read, which `read_status` gives).
int gunzip_and_write(const gunzip_request &request, int &read_status);
