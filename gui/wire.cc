// Wire layer: the registry of message types, the field encodings and the raw
// descriptor I/O with its sticky error flag.
#include "gui/wire.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <poll.h>
#include <unistd.h>

namespace {

struct WireHandler {
    uint32_t type;
    WireReadRecord read_func;
    WireWriteRecord write_func;
    WireDestroyRecord destroy_func;
};

std::map<uint32_t, WireHandler> &handlers() {
    static std::map<uint32_t, WireHandler> sHandlers;
    return sHandlers;
}

int wire_error_val = 0;
WireReadFunc wire_read_func = nullptr;
WireWriteFunc wire_write_func = nullptr;
WireFlushFunc wire_flush_func = nullptr;

// Strings arrive in pieces of this size, so that memory follows the bytes
// that actually came rather than the length the peer announced.
constexpr size_t kReadPiece = 64 * 1024;

const WireHandler *lookup(uint32_t type) {
    auto it = handlers().find(type);
    return it == handlers().end() ? nullptr : &it->second;
}

void wait_for(int fd, short events) {
    struct pollfd p {fd, events, 0};
    poll(&p, 1, -1);
}

// Moves all `count` bytes through `io` (read or write), retrying after
// interrupts and waiting while a non-blocking descriptor is not ready.
template <class Byte, class Io>
int transfer_all(int fd, Byte *buf, size_t count, short events, Io io) {
    while (count > 0) {
        ssize_t n = io(fd, buf, count);
        if (n > 0) {
            buf += n;
            count -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            wait_for(fd, events);
        } else {
            return 0;
        }
    }
    return 1;
}

int raw_read(int fd, uint8_t *buf, size_t count) {
    return transfer_all(fd, buf, count, POLLIN,
                        [](int f, uint8_t *b, size_t c) { return ::read(f, b, c); });
}

int raw_write(int fd, const uint8_t *buf, size_t count) {
    return transfer_all(fd, buf, count, POLLOUT,
                        [](int f, const uint8_t *b, size_t c) { return ::write(f, b, c); });
}

}  // namespace

void wire_register(uint32_t type, WireReadRecord read_func, WireWriteRecord write_func,
                   WireDestroyRecord destroy_func) {
    handlers()[type] = WireHandler{type, read_func, write_func, destroy_func};
}

void wire_set_reader(WireReadFunc f) { wire_read_func = f; }
void wire_set_writer(WireWriteFunc f) { wire_write_func = f; }
void wire_set_flusher(WireFlushFunc f) { wire_flush_func = f; }
bool wire_has_flusher() { return wire_flush_func != nullptr; }

int wire_error() { return wire_error_val; }
void wire_clear_error() { wire_error_val = 0; }
void wire_set_error() { wire_error_val = 1; }

int wire_read(int fd, uint8_t *buf, size_t count) {
    if (wire_error_val)
        return 0;
    int ok = wire_read_func ? wire_read_func(fd, buf, count) : raw_read(fd, buf, count);
    if (!ok)
        wire_error_val = 1;
    return ok;
}

int wire_write(int fd, const uint8_t *buf, size_t count) {
    if (wire_error_val)
        return 0;
    int ok = wire_write_func ? wire_write_func(fd, buf, count) : raw_write(fd, buf, count);
    if (!ok)
        wire_error_val = 1;
    return ok;
}

int wire_flush(int fd) { return wire_flush_func ? wire_flush_func(fd) : 0; }

int wire_read_int8(int fd, uint8_t *data, int count) {
    return wire_read(fd, data, static_cast<size_t>(count));
}

int wire_read_int16(int fd, uint16_t *data, int count) {
    return wire_read(fd, reinterpret_cast<uint8_t *>(data), static_cast<size_t>(count) * 2);
}

int wire_read_int32(int fd, uint32_t *data, int count) {
    return wire_read(fd, reinterpret_cast<uint8_t *>(data), static_cast<size_t>(count) * 4);
}

int wire_read_string(int fd, std::optional<std::string> *data, int count) {
    for (int i = 0; i < count; ++i) {
        uint32_t n;
        if (!wire_read_int32(fd, &n, 1))
            return 0;
        if (n == 0) {
            data[i].reset();
            continue;
        }
        if (n > kWireStringMax) {
            wire_error_val = 1;
            return 0;
        }
        std::string s;
        try {
            while (s.size() < n) {
                size_t piece = std::min<size_t>(n - s.size(), kReadPiece);
                size_t old = s.size();
                s.resize(old + piece);
                if (!wire_read(fd, reinterpret_cast<uint8_t *>(s.data() + old), piece))
                    return 0;
            }
        } catch (const std::bad_alloc &) {
            wire_error_val = 1;
            return 0;
        }
        if (s.back() != '\0') {
            wire_error_val = 1;
            return 0;
        }
        s.pop_back();
        data[i] = std::move(s);
    }
    return 1;
}

int wire_read_double(int fd, double *data, int count) {
    for (int i = 0; i < count; ++i) {
        std::optional<std::string> text;
        if (!wire_read_string(fd, &text, 1))
            return 0;
        if (!text || std::sscanf(text->c_str(), "%le", &data[i]) != 1) {
            wire_error_val = 1;
            return 0;
        }
    }
    return 1;
}

int wire_write_int8(int fd, const uint8_t *data, int count) {
    return wire_write(fd, data, static_cast<size_t>(count));
}

int wire_write_int16(int fd, const uint16_t *data, int count) {
    return wire_write(fd, reinterpret_cast<const uint8_t *>(data), static_cast<size_t>(count) * 2);
}

int wire_write_int32(int fd, const uint32_t *data, int count) {
    return wire_write(fd, reinterpret_cast<const uint8_t *>(data), static_cast<size_t>(count) * 4);
}

int wire_write_string(int fd, const std::optional<std::string> *data, int count) {
    static const uint8_t zero = 0;
    for (int i = 0; i < count; ++i) {
        if (!data[i]) {
            uint32_t n = 0;
            if (!wire_write_int32(fd, &n, 1))
                return 0;
            continue;
        }
        const std::string &s = *data[i];
        if (s.size() >= INT32_MAX) {
            wire_error_val = 1;
            return 0;
        }
        uint32_t n = static_cast<uint32_t>(s.size() + 1);
        if (!wire_write_int32(fd, &n, 1) ||
            !wire_write(fd, reinterpret_cast<const uint8_t *>(s.data()), s.size()) ||
            !wire_write(fd, &zero, 1))
            return 0;
    }
    return 1;
}

int wire_write_double(int fd, const double *data, int count) {
    for (int i = 0; i < count; ++i) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "%0.50e", data[i]);
        std::optional<std::string> text(buf);
        if (!wire_write_string(fd, &text, 1))
            return 0;
    }
    return 1;
}

int wire_read_msg(int fd, WireMessage *msg) {
    msg->data = nullptr;
    if (wire_error_val)
        return 0;
    if (!wire_read_int32(fd, &msg->type, 1))
        return 0;
    const WireHandler *h = lookup(msg->type);
    if (!h) {
        wire_error_val = 1;
        return 0;
    }
    h->read_func(fd, msg);
    if (wire_error_val) {
        wire_destroy(msg);
        return 0;
    }
    return 1;
}

int wire_write_msg(int fd, const WireMessage *msg) {
    if (wire_error_val)
        return 0;
    const WireHandler *h = lookup(msg->type);
    if (!h)
        return 0;
    uint32_t type = msg->type;
    if (!wire_write_int32(fd, &type, 1))
        return 0;
    h->write_func(fd, msg);
    return !wire_error_val;
}

void wire_destroy(WireMessage *msg) {
    if (const WireHandler *h = lookup(msg->type); h && msg->data)
        h->destroy_func(msg);
    msg->data = nullptr;
}
