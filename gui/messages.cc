// Readers, writers and destroyers of the QUIT, GETENV and CONSOLE records,
// and the senders built on them.
#include "gui/messages.h"

#include <algorithm>
#include <new>

namespace {

void _gp_quit_read(int fd, WireMessage *msg) {
    auto *rec = new GPT_QUIT;
    msg->data = rec;
    uint32_t code = 0;
    if (wire_read_int32(fd, &code, 1))
        rec->code = static_cast<int32_t>(code);
}

void _gp_quit_write(int fd, const WireMessage *msg) {
    auto *rec = static_cast<const GPT_QUIT *>(msg->data);
    uint32_t code = static_cast<uint32_t>(rec->code);
    wire_write_int32(fd, &code, 1);
}

void _gp_quit_destroy(WireMessage *msg) { delete static_cast<GPT_QUIT *>(msg->data); }

void _gp_getenv_read(int fd, WireMessage *msg) {
    auto *rec = new GPT_GETENV;
    msg->data = rec;
    uint8_t empty = 0;
    if (wire_read_int8(fd, &empty, 1))
        rec->empty = static_cast<int8_t>(empty);
    wire_read_string(fd, &rec->str, 1);
}

void _gp_getenv_write(int fd, const WireMessage *msg) {
    auto *rec = static_cast<const GPT_GETENV *>(msg->data);
    uint8_t empty = static_cast<uint8_t>(rec->empty);
    if (wire_write_int8(fd, &empty, 1))
        wire_write_string(fd, &rec->str, 1);
}

void _gp_getenv_destroy(WireMessage *msg) { delete static_cast<GPT_GETENV *>(msg->data); }

void _gp_console_read(int fd, WireMessage *msg) {
    auto *rec = new GPT_CONSOLE;
    msg->data = rec;
    uint8_t isStderr = 0;
    uint32_t len = 0;
    if (wire_read_int8(fd, &isStderr, 1) && wire_read_int32(fd, &len, 1)) {
        rec->isStderr = static_cast<int8_t>(isStderr);
        rec->len = static_cast<int32_t>(len);
        wire_read_string(fd, &rec->str, 1);
    }
}

void _gp_console_write(int fd, const WireMessage *msg) {
    auto *rec = static_cast<const GPT_CONSOLE *>(msg->data);
    uint8_t isStderr = static_cast<uint8_t>(rec->isStderr);
    uint32_t len = static_cast<uint32_t>(rec->len);
    if (wire_write_int8(fd, &isStderr, 1) && wire_write_int32(fd, &len, 1))
        wire_write_string(fd, &rec->str, 1);
}

void _gp_console_destroy(WireMessage *msg) { delete static_cast<GPT_CONSOLE *>(msg->data); }

// Every message leaves the process before its sender returns.
int send(int fd, uint32_t type, void *record) {
    WireMessage msg{type, record};
    if (!wire_write_msg(fd, &msg))
        return 0;
    if (wire_has_flusher() && !wire_flush(fd)) {
        wire_set_error();
        return 0;
    }
    return 1;
}

}  // namespace

void gp_init() {
    wire_register(GP_QUIT, _gp_quit_read, _gp_quit_write, _gp_quit_destroy);
    wire_register(GP_GETENV, _gp_getenv_read, _gp_getenv_write, _gp_getenv_destroy);
    wire_register(GP_CONSOLE, _gp_console_read, _gp_console_write, _gp_console_destroy);
}

int gp_quit_write(int fd, int code) {
    GPT_QUIT rec;
    rec.code = code;
    return send(fd, GP_QUIT, &rec);
}

int gp_getenv_write(int fd, const std::optional<std::string> &value) {
    try {
        GPT_GETENV rec;
        rec.empty = value ? 0 : 1;
        rec.str = value;
        return send(fd, GP_GETENV, &rec);
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

int gp_console_write(int fd, const char *text, size_t len, int isStderr) {
    try {
        do {
            size_t piece = std::min(len, kConsolePiece);
            GPT_CONSOLE rec;
            rec.isStderr = isStderr ? 1 : 0;
            rec.len = static_cast<int32_t>(piece);
            rec.str.emplace(text, piece);
            if (!send(fd, GP_CONSOLE, &rec))
                return 0;
            text += piece;
            len -= piece;
        } while (len > 0);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

std::optional<std::string> gp_getenv_value(const GPT_GETENV &rec) {
    if (rec.empty)
        return std::nullopt;
    return rec.str;
}
