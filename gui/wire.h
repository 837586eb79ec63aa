// The wire layer of the GUI link: typed messages over a pair of pipes.
//
// A message is its type (int32) followed by the fields of that type. Fields
// are int8, int16 and int32 in host byte order (both ends share one machine),
// strings as an int32 length n followed by n bytes, the last of which is the
// terminating zero (a null string is n = 0 with no bytes), and doubles as a
// string printed with "%0.50e". There is no padding.
//
// Every failed read or write sets a sticky error flag; while it is set no
// byte is read or written, until wire_clear_error().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The largest string field accepted from the peer, terminator included.
inline constexpr uint32_t kWireStringMax = 64u << 20;

struct WireMessage {
    uint32_t type = 0;
    void *data = nullptr;  // the type's record, owned by the message
};

// Per-type handlers. read_func stores a new record in msg->data (also when
// a field fails to arrive, so that the record can be destroyed); success is
// judged by the error flag.
using WireReadRecord = void (*)(int fd, WireMessage *msg);
using WireWriteRecord = void (*)(int fd, const WireMessage *msg);
using WireDestroyRecord = void (*)(WireMessage *msg);

// Optional replacements for the raw descriptor I/O. Each returns 1 when all
// `count` bytes were moved (or, for the flusher, when the flush succeeded).
using WireReadFunc = int (*)(int fd, uint8_t *buf, size_t count);
using WireWriteFunc = int (*)(int fd, const uint8_t *buf, size_t count);
using WireFlushFunc = int (*)(int fd);

// Adds a message type or replaces the handlers of a known one.
void wire_register(uint32_t type, WireReadRecord read_func, WireWriteRecord write_func,
                   WireDestroyRecord destroy_func);

void wire_set_reader(WireReadFunc f);
void wire_set_writer(WireWriteFunc f);
void wire_set_flusher(WireFlushFunc f);
bool wire_has_flusher();

// Move exactly `count` bytes; 1 on success, 0 on failure (the flag is set).
int wire_read(int fd, uint8_t *buf, size_t count);
int wire_write(int fd, const uint8_t *buf, size_t count);
// The installed flusher's result, or 0 when none is installed.
int wire_flush(int fd);

// Read or write `count` values of one encoding; 1 on success.
int wire_read_int8(int fd, uint8_t *data, int count);
int wire_read_int16(int fd, uint16_t *data, int count);
int wire_read_int32(int fd, uint32_t *data, int count);
int wire_read_double(int fd, double *data, int count);
// A string longer than kWireStringMax, or one whose last byte is not the
// terminating zero, is a failure. Bytes before the terminator are kept
// whole, zero bytes included.
int wire_read_string(int fd, std::optional<std::string> *data, int count);

int wire_write_int8(int fd, const uint8_t *data, int count);
int wire_write_int16(int fd, const uint16_t *data, int count);
int wire_write_int32(int fd, const uint32_t *data, int count);
int wire_write_double(int fd, const double *data, int count);
int wire_write_string(int fd, const std::optional<std::string> *data, int count);

// 0 at once while the error flag is set; 0 for an unregistered type (and the
// flag is set, since the rest of the stream cannot be parsed). On failure
// msg->data is left null.
int wire_read_msg(int fd, WireMessage *msg);
// 0 at once while the error flag is set; 0 for an unregistered type, with
// nothing written.
int wire_write_msg(int fd, const WireMessage *msg);
// Frees the record through its type's destroy_func.
void wire_destroy(WireMessage *msg);

int wire_error();
void wire_clear_error();
void wire_set_error();
