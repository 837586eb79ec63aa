// The GSSAPI method's exchange of context tokens (each preceded by its
// length in two bytes, high byte first), and the integrity wrapping of the
// stream after "Gssapi-authenticate".
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <string>
#include <vector>

#include "src/base/error.h"
#include "src/base/root.h"
#include "src/client/auth_connect.h"
#include "src/client/client.h"
#include "src/client/client_state.h"
#include "src/protocol/gssapi_wrap.h"

namespace {

// A server token longer than this is taken for the text of an error.
constexpr size_t server_token_max = 1024;

struct name_holder {
    gss_name_t name = GSS_C_NO_NAME;
    ~name_holder() {
        OM_uint32 minor;
        if (name != GSS_C_NO_NAME)
            gss_release_name(&minor, &name);
    }
};

gss_name_t import_service_name(const std::string &canonical_host, name_holder &holder) {
    std::string service = "jol@" + canonical_host;
    gss_buffer_desc text{service.size(), service.data()};
    OM_uint32 minor;
    OM_uint32 major = gss_import_name(&minor, &text, GSS_C_NT_HOSTBASED_SERVICE, &holder.name);
    if (GSS_ERROR(major)) {
        error(0, 0, "GSSAPI authentication failed: %s",
              gssapi_status_text(major, GSS_C_GSS_CODE));
        error(1, 0, "GSSAPI authentication failed: %s",
              gssapi_status_text(minor, GSS_C_MECH_CODE));
    }
    return holder.name;
}

void send_token(int sock, const gss_buffer_desc &token) {
    if (token.length > 0xffff)
        error(1, 0, "GSSAPI authentication failed: %s", "context token too long");
    std::string packet;
    packet += static_cast<char>((token.length >> 8) & 0xff);
    packet += static_cast<char>(token.length & 0xff);
    packet.append(static_cast<const char *>(token.value), token.length);
    send_all(sock, packet);
}

// The server's next token; a length that no token has is the start of an
// error text, shown with the rest of it.
std::vector<char> receive_token(int sock) {
    unsigned char len[2];
    if (recv_bytes(sock, reinterpret_cast<char *>(len), 2) != 2)
        error(1, 0, "recv() from server %s: %s", JOLroot_hostname, "EOF");
    size_t need = static_cast<size_t>(len[0]) << 8 | len[1];
    if (need > server_token_max) {
        // The text may come in pieces: up to its newline, the end, or the
        // limit.
        std::string message(reinterpret_cast<const char *>(len), 2);
        while (message.size() < 2 + 1022 && message.back() != '\n') {
            char text[1022];
            ssize_t n = recv(sock, text, 2 + 1022 - message.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            message.append(text, static_cast<size_t>(n));
        }
        if (!message.empty() && message.back() == '\n')
            message.pop_back();
        error(1, 0, "error from server %s: %s", JOLroot_hostname, message);
    }
    std::vector<char> token(need);
    if (recv_bytes(sock, token.data(), need) != need)
        error(1, 0, "recv() from server %s: %s", JOLroot_hostname, "EOF");
    return token;
}

}  // namespace

bool connect_to_gserver(int sock, const std::string &canonical_host) {
    send_all(sock, "BEGIN GSSAPI REQUEST\n");
    name_holder server_name;
    import_service_name(canonical_host, server_name);
    std::vector<char> received;
    bool have_input = false;
    for (;;) {
        gss_buffer_desc input{received.size(), received.data()};
        gss_buffer_desc output{0, nullptr};
        OM_uint32 minor;
        OM_uint32 major = gss_init_sec_context(
            &minor, GSS_C_NO_CREDENTIAL, &gcontext, server_name.name, GSS_C_NULL_OID,
            GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG, 0, GSS_C_NO_CHANNEL_BINDINGS,
            have_input ? &input : GSS_C_NO_BUFFER, nullptr, &output, nullptr, nullptr);
        if (major != GSS_S_COMPLETE && major != GSS_S_CONTINUE_NEEDED) {
            error(0, 0, "GSSAPI authentication failed: %s",
                  gssapi_status_text(major, GSS_C_GSS_CODE));
            error(1, 0, "GSSAPI authentication failed: %s",
                  gssapi_status_text(minor, GSS_C_MECH_CODE));
        }
        if (output.length > 0) {
            send_token(sock, output);
            OM_uint32 ignored;
            gss_release_buffer(&ignored, &output);
        }
        // The server answers a token only while the context is unfinished.
        if (major == GSS_S_CONTINUE_NEEDED) {
            received = receive_token(sock);
            have_input = true;
        }
        if (major == GSS_S_COMPLETE)
            return true;
    }
}

void start_stream_authentication() {
    if (JOLroot_method != gserver_method)
        error(1, 0, "Stream authentication is only supported when using GSSAPI");
    if (!supported_request("Gssapi-authenticate"))
        error(1, 0, "This server does not support stream authentication");
    if (!gssapi_context_has_integrity(gcontext))
        error(1, 0, "the GSSAPI security context does not protect integrity");
    send_to_server("Gssapi-authenticate\n");
    // The request itself goes out plain; everything after it is wrapped.
    buf_flush(*to_server, true);
    buffer_memory_error to_mem = to_server->memory_error;
    buffer_memory_error from_mem = from_server->memory_error;
    to_server = jol_gssapi_wrap_buffer_initialize(std::move(to_server), false, gcontext, to_mem);
    from_server =
        jol_gssapi_wrap_buffer_initialize(std::move(from_server), true, gcontext, from_mem);
}
