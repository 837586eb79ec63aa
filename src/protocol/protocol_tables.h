// The names of the protocol: the request table and the response table, in
// the order in which each side lists them, with their flags, and which of
// them the peer of this process has said it supports.
// Format: doc/protocol.md#requests-and-responses
#pragma once

#include <string_view>

// Request flags.
constexpr int RQ_ESSENTIAL = 1;  // a client refuses a server without it
constexpr int RQ_SUPPORTED = 2;  // client side: the server offers it
constexpr int RQ_ENABLEME = 4;   // the client sends it by itself when offered
constexpr int RQ_ROOTLESS = 8;   // may come before "Root"

struct request_name {
    const char *name;
    int flags;
};
// Every request, in table order, ended by a row with a null name.
extern const request_name request_names[];

enum response_type { response_type_normal = 0, response_type_ok = 1, response_type_error = 2 };
enum response_status { rs_essential = 0, rs_optional = 1, rs_supported = 2, rs_not_supported = 3 };

struct response_name {
    const char *name;
    response_type type;
    response_status initial;  // rs_essential or rs_optional
};
// Every response, in table order, ended by a row with a null name.
extern const response_name response_names[];
// Number of rows before the terminator.
int response_count();
// Index of `name` in the response table, -1 when it is none.
int response_index(std::string_view name);

// What the peer said it understands, one entry per response row.
response_status response_state(int index);
void set_response_state(int index, response_status status);
// Server side: marks the names of a "Valid-responses" argument supported,
// the optional rows not named not supported; the first essential row not
// named, or null when every one was named.
const char *mark_valid_responses(std::string_view names);
// True when the peer understands the response `name`; an unknown name is a
// programming error (fatal "internal error: testing support for unknown
// response?").
bool supported_response(const char *name);
