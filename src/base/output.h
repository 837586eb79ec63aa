// The output layer: every byte the program shows the user passes here and is
// routed to the terminal, the client's network stream, the server parent's
// pipe, or the GUI front-end.
#pragma once

#include <cstddef>
#include <string_view>

void jol_output(const char *str, size_t len = 0);
void jol_outerr(const char *str, size_t len = 0);
void jol_output_binary(const char *str, size_t len);
void jol_output_tagged(const char *tag, const char *text);
void jol_flushout();
void jol_flusherr();
// errno of the first failed write to standard output, 0 for none.
int stdout_write_errno();

inline void jol_output(std::string_view s) { jol_output(s.data(), s.size()); }
inline void jol_outerr(std::string_view s) { jol_outerr(s.data(), s.size()); }

// A server-side destination, provided by the protocol layer: one for a
// server talking to its client (error_use_protocol), one for the command
// child talking to its parent (server_active).
class ServerOutputRoute {
  public:
    virtual ~ServerOutputRoute() = default;
    // Text of ordinary ('M') or error ('E') output; complete lines are sent
    // with the letter and a blank in front.
    virtual void text(char kind, const char *str, size_t len) = 0;
    virtual void binary(const char *str, size_t len) = 0;
    // Returns false when the client does not take tagged output, so that the
    // caller renders the tag as plain text.
    virtual bool tagged(const char *tag, const char *text) = 0;
    virtual void flush_out() = 0;
    virtual void flush_err() = 0;
};

void set_net_output_route(ServerOutputRoute *route);
void set_child_output_route(ServerOutputRoute *route);
