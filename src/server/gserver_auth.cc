// The GSSAPI method on the server: accept the client's context token for
// the service "jol@<this host>", map the client's principal to a local
// user the Kerberos library lets it log in as, and switch to that user.
// Also the request that wraps the rest of the stream with the context.
#include <cerrno>
#include <cstring>
#include <gssapi/gssapi.h>
#include <krb5.h>
#include <netdb.h>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/protocol/gssapi_wrap.h"
#include "src/server/auth.h"
#include "src/server/pending.h"
#include "src/server/requests.h"
#include "src/server/server_state.h"

bool jol_gssapi_wrapping = false;

namespace {

// Longest local user name the principal may map to.
constexpr int local_name_max = 1024;

std::string canonical_hostname() {
    char host[256];
    if (gethostname(host, sizeof host) != 0)
        error(1, errno, "can't get canonical hostname");
    host[sizeof host - 1] = '\0';
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res || !res->ai_canonname) {
        if (res)
            freeaddrinfo(res);
        error(1, 0, "can't get canonical hostname");
    }
    std::string name = res->ai_canonname;
    freeaddrinfo(res);
    return name;
}

gss_cred_id_t acquire_server_credentials() {
    std::string service = "jol@" + canonical_hostname();
    gss_buffer_desc text{service.size(), service.data()};
    gss_name_t server_name;
    OM_uint32 minor;
    if (gss_import_name(&minor, &text, GSS_C_NT_HOSTBASED_SERVICE, &server_name) !=
        GSS_S_COMPLETE)
        error(1, 0, "could not import GSSAPI service name %s", service);
    gss_cred_id_t creds;
    OM_uint32 major = gss_acquire_cred(&minor, server_name, 0, GSS_C_NULL_OID_SET, GSS_C_ACCEPT,
                                       &creds, nullptr, nullptr);
    gss_release_name(&minor, &server_name);
    if (major != GSS_S_COMPLETE)
        error(1, 0, "could not acquire GSSAPI server credentials");
    return creds;
}

bool read_exactly(char *to, size_t len) {
    while (len > 0) {
        ssize_t n = read(STDIN_FILENO, to, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// The client's first token; any length two bytes can say is taken (tickets
// with authorization data are large).
std::vector<char> read_client_token() {
    unsigned char len[2];
    errno = 0;
    if (!read_exactly(reinterpret_cast<char *>(len), 2))
        error(1, errno, "read of length failed");
    std::vector<char> token(static_cast<size_t>(len[0]) << 8 | len[1]);
    errno = 0;
    if (!read_exactly(token.data(), token.size()))
        error(1, errno, "read of data failed");
    return token;
}

// The local user the client's principal stands for, when the Kerberos
// library lets the principal log in as that user.
std::optional<std::string> local_user_of(gss_name_t client) {
    OM_uint32 minor;
    gss_buffer_desc shown{0, nullptr};
    if (gss_display_name(&minor, client, &shown, nullptr) != GSS_S_COMPLETE)
        return std::nullopt;
    std::string principal(static_cast<const char *>(shown.value), shown.length);
    gss_release_buffer(&minor, &shown);

    krb5_context ctx;
    if (krb5_init_context(&ctx) != 0)
        return std::nullopt;
    std::optional<std::string> user;
    krb5_principal p;
    if (krb5_parse_name(ctx, principal.c_str(), &p) == 0) {
        char name[local_name_max + 1];
        if (krb5_aname_to_localname(ctx, p, local_name_max, name) == 0 &&
            krb5_kuserok(ctx, p, name))
            user = name;
        krb5_free_principal(ctx, p);
    }
    krb5_free_context(ctx);
    return user;
}

}  // namespace

void gserver_authenticate_connection() {
    gss_cred_id_t creds = acquire_server_credentials();
    std::vector<char> token = read_client_token();

    gss_buffer_desc input{token.size(), token.data()};
    gss_buffer_desc output{0, nullptr};
    gss_name_t client = GSS_C_NO_NAME;
    OM_uint32 minor;
    OM_uint32 major = gss_accept_sec_context(&minor, &gcontext, creds, &input,
                                             GSS_C_NO_CHANNEL_BINDINGS, &client, nullptr,
                                             &output, nullptr, nullptr, nullptr);
    gss_release_cred(&minor, &creds);
    if (major != GSS_S_COMPLETE)
        error(1, 0, "could not verify credentials");
    std::optional<std::string> user = local_user_of(client);
    gss_release_name(&minor, &client);
    if (!user)
        error(1, 0, "access denied");

    if (output.length > 0) {
        std::string reply;
        reply += static_cast<char>((output.length >> 8) & 0xff);
        reply += static_cast<char>(output.length & 0xff);
        reply.append(static_cast<const char *>(output.value), output.length);
        gss_release_buffer(&minor, &output);
        size_t wrote = 0;
        while (wrote < reply.size()) {
            ssize_t n = write(STDOUT_FILENO, reply.data() + wrote, reply.size() - wrote);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                error(1, errno, "fwrite failed");
            wrote += static_cast<size_t>(n);
        }
    }
    // Serving as the super-user is never a principal's due.
    if (is_superuser_account(*user)) {
        auth_write("I HATE YOU\n");
        error_exit();
    }
    switch_to_user(*user);
    auth_write("I LOVE YOU\n");
}

void serve_gssapi_authenticate(const std::string &) {
    if (jol_gssapi_wrapping)
        return;
    if (gcontext == GSS_C_NO_CONTEXT) {
        set_pending("E Protocol error: Gssapi-authenticate without a GSSAPI security context");
        return;
    }
    if (!gssapi_context_has_integrity(gcontext)) {
        set_pending("E GSSAPI security context does not protect integrity");
        return;
    }
    jol_gssapi_wrapping = true;
    // What was answered so far goes out plain.
    buf_flush(*buf_to_net, true);
    buffer_memory_error to_mem = buf_to_net->memory_error;
    buffer_memory_error from_mem = buf_from_net->memory_error;
    buf_to_net = jol_gssapi_wrap_buffer_initialize(std::move(buf_to_net), false, gcontext, to_mem);
    buf_from_net =
        jol_gssapi_wrap_buffer_initialize(std::move(buf_from_net), true, gcontext, from_mem);
}
