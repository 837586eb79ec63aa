// The client's TCP methods: the password method and the GSSAPI method, with
// an optional HTTP proxy in between, and the GSSAPI protection of the
// stream that -a asks for.
#pragma once

#include <string>
#include <string_view>

// The connection's socket for the TCP methods, -1 otherwise.
extern int server_fd;

// The root's port, else JOL_PSERVER_PORT, else the "jolpserver" service,
// else 2401.
int auth_server_port_number();
// Connects and authenticates. Accepted: the socket (also server_fd), or -1
// after a verification, whose socket is closed. Every failure ends the
// program.
int connect_to_pserver(bool verify_only, bool do_gssapi);
// The GSSAPI exchange on a connected socket for the service of
// `canonical_host`; false when the server refused it.
bool connect_to_gserver(int sock, const std::string &canonical_host);
// Sends "Gssapi-authenticate" and wraps both connection buffers (-a).
void start_stream_authentication();

// Socket helpers shared by the two methods: all of `data` (fatal "cannot
// send: %s"), and exactly `len` bytes unless the peer ends first (the count
// read; a failure is fatal "recv() from server %s: %s").
void send_all(int sock, std::string_view data);
size_t recv_bytes(int sock, char *to, size_t len);
