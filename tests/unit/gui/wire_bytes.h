// Helpers of the link tests: expected byte strings, pipes and a scripted
// reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <unistd.h>

#include "gui/messages.h"
#include "gui/staging.h"
#include "gui/wire.h"

// Puts the wire layer back to its start-up state: message types
// registered, the process writer and flusher installed, no error pending.
inline void reset_wire_layer() {
    gp_init();
    wire_set_reader(nullptr);
    wire_set_writer(jol_process_write);
    wire_set_flusher(jol_process_flush);
    wire_clear_error();
}

// Builds the bytes a message should have on the wire (host byte order).
struct Bytes {
    std::string b;
    Bytes &i8(uint8_t v) {
        b += static_cast<char>(v);
        return *this;
    }
    Bytes &i32(uint32_t v) {
        char buf[4];
        std::memcpy(buf, &v, 4);
        b.append(buf, 4);
        return *this;
    }
    Bytes &raw(std::string_view s) {
        b.append(s);
        return *this;
    }
    // A string field: length counting the terminator, bytes, terminator.
    Bytes &str(std::string_view s) {
        i32(static_cast<uint32_t>(s.size() + 1));
        b.append(s);
        b += '\0';
        return *this;
    }
};

struct Pipe {
    int r = -1, w = -1;
    Pipe() {
        int fds[2];
        if (pipe(fds) == 0) {
            r = fds[0];
            w = fds[1];
        }
    }
    ~Pipe() {
        close_r();
        close_w();
    }
    void close_r() {
        if (r >= 0)
            close(r);
        r = -1;
    }
    void close_w() {
        if (w >= 0)
            close(w);
        w = -1;
    }
    size_t pending() const {
        int n = 0;
        ioctl(r, FIONREAD, &n);
        return static_cast<size_t>(n);
    }
    // Everything written so far (without waiting for more).
    std::string drain() const {
        std::string out(pending(), '\0');
        size_t got = 0;
        while (got < out.size()) {
            ssize_t n = read(r, out.data() + got, out.size() - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        out.resize(got);
        return out;
    }
    void put(const std::string &bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(w, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
    }
};
