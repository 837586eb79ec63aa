// The three message types of the GUI link and their senders.
//
//   type 0  QUIT     code: int32 (the exit status)
//   type 1  GETENV   empty: int8 (1: no value); str: string (name or value)
//   type 2  CONSOLE  isStderr: int8; len: int32 (byte count); str: string
//
// The child sends QUIT, GETENV (with a name) and CONSOLE; the front-end
// answers each GETENV with a GETENV carrying the value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "gui/wire.h"

enum : uint32_t { GP_QUIT = 0, GP_GETENV = 1, GP_CONSOLE = 2 };

struct GPT_QUIT {
    int32_t code = 0;
};

struct GPT_GETENV {
    int8_t empty = 0;
    std::optional<std::string> str;
};

// `str` holds all `len` bytes of the output, zero bytes included; on the
// wire its length prefix is len + 1.
struct GPT_CONSOLE {
    int8_t isStderr = 0;
    int32_t len = 0;
    std::optional<std::string> str;
};

// Larger console output is cut into messages of at most this many bytes, so
// that every string stays well below what a reader accepts.
inline constexpr size_t kConsolePiece = 16u << 20;

// Registers the three types with the wire layer.
void gp_init();

// Each builds one message, sends it and flushes; 1 on success. A failed
// flush sets the wire's error flag.
int gp_quit_write(int fd, int code);
// A null value is sent with `empty` set (a front-end's "not set" answer).
int gp_getenv_write(int fd, const std::optional<std::string> &value);
int gp_console_write(int fd, const char *text, size_t len, int isStderr);

// The value carried by a GETENV message: null when `empty` is set.
std::optional<std::string> gp_getenv_value(const GPT_GETENV &rec);
