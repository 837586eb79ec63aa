// The password method: a TCP connection, directly or through an HTTP
// proxy's CONNECT, the authentication or verification request, and the
// server's verdict read a byte at a time, so that nothing after it is
// taken from the socket before the buffered connection starts.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/client/auth_connect.h"
#include "src/client/jolpass.h"
#include "src/protocol/scramble.h"

int server_fd = -1;

namespace {

constexpr int default_port = 2401;
constexpr int default_proxy_port = 8080;
// Bounds on what a server or a proxy can make the client read before the
// protocol proper starts.
constexpr size_t reply_line_max = 8192;
constexpr int proxy_header_lines_max = 100;

struct addrinfo_list {
    addrinfo *head = nullptr;
    ~addrinfo_list() {
        if (head)
            freeaddrinfo(head);
    }
};

// A host name that goes into a request line: no blanks or control
// characters that could end the line or start another.
void check_host_text(const std::string &host, const char *what) {
    for (unsigned char c : host)
        if (c <= ' ' || c == 0x7f)
            error(1, 0, "invalid %s host name in JOLROOT: %s", what, JOLroot_original);
}

int open_socket(const std::string &host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo_list addrs;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addrs.head) != 0) {
        jol_outerr("Unknown host " + host + ".\n");
        error_exit();
    }
    int err = 0;
    for (addrinfo *a = addrs.head; a; a = a->ai_next) {
        int sock = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (sock < 0)
            error(1, 0, "cannot create socket: %s", std::strerror(errno));
        if (connect(sock, a->ai_addr, a->ai_addrlen) == 0) {
            // Requests go out as soon as the client waits for an answer;
            // holding a short one back for the peer's delayed
            // acknowledgement costs a round trip of tens of milliseconds.
            int on = 1;
            setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return sock;
        }
        err = errno;
        close(sock);
    }
    error(1, 0, "connect to %s:%d failed: %s", host, port, std::strerror(err));
    return -1;
}

// The canonical name of the root's host, for the GSSAPI service name; the
// name itself when it cannot be resolved here (behind a proxy).
std::string canonical_name(const std::string &host) {
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo_list addrs;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &addrs.head) == 0 && addrs.head &&
        addrs.head->ai_canonname)
        return addrs.head->ai_canonname;
    return host;
}

// One line from the socket, a byte at a time, without its newline. `what`
// names the peer in messages; a line longer than the bound comes back
// cut, with `cut` set.
std::string recv_line(int sock, const std::string &what, bool &cut) {
    std::string line;
    cut = false;
    char c;
    for (;;) {
        if (recv_bytes(sock, &c, 1) == 0)
            error(1, 0, "recv() from server %s: %s", what, "EOF");
        if (c == '\n')
            return line;
        if (line.size() == reply_line_max) {
            cut = true;
            return line;
        }
        line += c;
    }
}

void proxy_tunnel(int sock, const std::string &proxy, int proxy_port, int port) {
    send_all(sock, "CONNECT " + JOLroot_hostname + ":" + std::to_string(port) +
                       " HTTP/1.0\r\n\r\n");
    bool cut;
    std::string status = recv_line(sock, proxy, cut);
    size_t sp = status.find(' ');
    int code = sp == std::string::npos ? 0 : std::atoi(status.c_str() + sp + 1);
    if (cut || code < 200 || code > 299)
        error(1, 0, "proxy server %s:%d does not support http tunnelling", proxy, proxy_port);
    for (int n = 0;; ++n) {
        if (n == proxy_header_lines_max)
            error(1, 0, "proxy server %s:%d sent too many header lines", proxy, proxy_port);
        std::string line = recv_line(sock, proxy, cut);
        if (cut)
            error(1, 0, "proxy server %s:%d sent a header line that is too long", proxy,
                  proxy_port);
        if (line.empty() || line[0] == '\r')
            break;
    }
}

// The password request; true when the empty password was sent because
// none is stored.
bool send_auth_request(int sock, bool verify_only) {
    std::optional<std::string> password = get_jol_password();
    bool empty = !password;
    std::string request = verify_only ? "BEGIN VERIFICATION REQUEST\n" : "BEGIN AUTH REQUEST\n";
    std::string scrambled = password ? *password : scramble("");
    request.reserve(request.size() + JOLroot_directory.size() + JOLroot_username.size() +
                    scrambled.size() + 64);
    request.append(JOLroot_directory).append("\n");
    request.append(JOLroot_username).append("\n");
    request.append(scrambled).append("\n");
    request.append(verify_only ? "END VERIFICATION REQUEST\n" : "END AUTH REQUEST\n");
    send_all(sock, request);
    explicit_bzero(request.data(), request.size());
    explicit_bzero(scrambled.data(), scrambled.size());
    if (password)
        explicit_bzero(password->data(), password->size());
    return empty;
}

[[noreturn]] void refused(int sock, bool used_empty_password) {
    error(0, 0, "authorization failed: server %s rejected access to %s for user %s",
          JOLroot_hostname, JOLroot_directory, JOLroot_username);
    if (used_empty_password)
        error(0, 0, "used empty password; try \"jol login\" with a real password");
    if (shutdown(sock, SHUT_RDWR) != 0)
        error(0, 0, "shutdown() failed (server %s): %s", JOLroot_hostname, std::strerror(errno));
    error_exit();
}

// Reads the server's verdict: true for "I LOVE YOU"; "E " lines are shown
// on the way.
bool read_verdict(int sock) {
    for (;;) {
        bool cut;
        std::string line = recv_line(sock, JOLroot_hostname, cut);
        if (!cut && line == "I LOVE YOU")
            return true;
        if (!cut && line == "I HATE YOU")
            return false;
        if (line.starts_with("E ")) {
            jol_outerr(line.substr(2) + "\n");
            continue;
        }
        if (line.starts_with("error ")) {
            size_t sp = line.find(' ', 6);
            jol_outerr((sp == std::string::npos ? std::string() : line.substr(sp + 1)) + "\n");
            return false;
        }
        if (shutdown(sock, SHUT_RDWR) != 0)
            error(0, 0, "shutdown() failed, server %s: %s", JOLroot_hostname,
                  std::strerror(errno));
        error(1, 0, "unrecognized auth response from %s: %s", JOLroot_hostname, line);
    }
}

}  // namespace

void send_all(int sock, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = send(sock, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error(1, 0, "cannot send: %s", std::strerror(errno));
        data.remove_prefix(static_cast<size_t>(n));
    }
}

size_t recv_bytes(int sock, char *to, size_t len) {
    size_t got = 0;
    while (got < len) {
        ssize_t n = recv(sock, to + got, len - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error(1, 0, "recv() from server %s: %s", JOLroot_hostname, std::strerror(errno));
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

int auth_server_port_number() {
    if (JOLroot_port > 0)
        return JOLroot_port;
    if (auto env = jolguiglue_getenv("JOL_PSERVER_PORT"); env && !env->empty())
        return std::atoi(env->c_str());
    if (servent *s = getservbyname("jolpserver", "tcp"))
        return ntohs(static_cast<uint16_t>(s->s_port));
    return default_port;
}

int connect_to_pserver(bool verify_only, bool do_gssapi) {
    const int port = auth_server_port_number();
    const bool proxied = !JOLroot_proxy.empty();
    const int proxy_port = JOLroot_proxy_port > 0 ? JOLroot_proxy_port : default_proxy_port;
    check_host_text(JOLroot_hostname, "server");
    if (proxied)
        check_host_text(JOLroot_proxy, "proxy");
    int sock = proxied ? open_socket(JOLroot_proxy, proxy_port) : open_socket(JOLroot_hostname, port);
    if (proxied)
        proxy_tunnel(sock, JOLroot_proxy, proxy_port, port);

    bool used_empty_password = false;
    if (!do_gssapi)
        used_empty_password = send_auth_request(sock, verify_only);
    else if (!connect_to_gserver(sock, canonical_name(JOLroot_hostname)))
        refused(sock, false);
    if (!read_verdict(sock))
        refused(sock, used_empty_password);
    if (verify_only) {
        if (shutdown(sock, SHUT_RDWR) != 0)
            error(0, 0, "shutdown() failed, server %s: %s", JOLroot_hostname,
                  std::strerror(errno));
        close(sock);
        return -1;
    }
    server_fd = sock;
    return sock;
}
