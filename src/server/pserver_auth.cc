// The password server's authentication: the request lines read a byte at
// a time from descriptor 0 (nothing beyond them may be consumed, the
// server's buffers take over after), the allowed-root check before
// anything of the repository is read, the password check, and the verdict.
#include <cerrno>
#include <crypt.h>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <shadow.h>
#include <sys/socket.h>
#include <unistd.h>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/identity.h"
#include "src/base/line_reader.h"
#include "src/base/root.h"
#include "src/protocol/scramble.h"
#include "src/repo/parseinfo.h"
#include "src/server/auth.h"
#include "src/server/server_state.h"

namespace {

constexpr size_t auth_line_max = 1024;

// One line of the exchange with its newline, or what came before the end
// of the input or the line limit (which then lacks the newline).
std::string read_auth_line() {
    std::string line;
    while (line.size() < auth_line_max - 1) {
        char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line += c;
        if (c == '\n')
            break;
    }
    return line;
}

std::string without_newline(std::string line) {
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

[[noreturn]] void refuse() {
    auth_write("I HATE YOU\n");
    error_exit();
}

// Text that held a password is overwritten before it is freed.
void wipe(std::string &s) { explicit_bzero(s.data(), s.size()); }

// The password hash of a system user into `hash`: the password
// database's, or the shadow database's where the former only points there;
// false for no such user.
bool system_password(const std::string &username, std::string &hash) {
    struct passwd *pw = getpwnam(username.c_str());
    if (!pw || !pw->pw_passwd)
        return false;
    hash.assign(pw->pw_passwd);
    if (hash == "x" || hash == "*") {
        if (struct spwd *sp = getspnam(username.c_str()); sp && sp->sp_pwdp)
            hash.assign(sp->sp_pwdp);
    }
    return true;
}

}  // namespace

void auth_write(const std::string &text) {
    const char *p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // the client is gone; the exit that follows says enough
        p += n;
        left -= static_cast<size_t>(n);
    }
}

bool crypt_matches(const std::string &password, const std::string &hash) {
    struct crypt_data data {};
    const char *result = crypt_r(password.c_str(), hash.c_str(), &data);
    bool match = false;
    if (result && result[0] != '*' && std::strlen(result) == hash.size()) {
        unsigned char diff = 0;
        for (size_t i = 0; i < hash.size(); ++i)
            diff |= static_cast<unsigned char>(result[i] ^ hash[i]);
        match = diff == 0;
    }
    explicit_bzero(&data, sizeof data);
    return match;
}

int check_repository_password(const std::string &username, const std::string &password,
                              const std::string &repository, std::string &host_user) {
    std::string file = repository + "/JOLROOT/passwd";
    FILE *fp = std::fopen(file.c_str(), "r");
    if (!fp) {
        if (errno != ENOENT)
            error(0, errno, "cannot open %s", file);
        return 0;
    }
    std::optional<std::string> entry;
    {
        LineReader lines(fp);
        const std::string prefix = username + ":";
        while (auto line = lines.next())
            if (line->starts_with(prefix)) {
                entry = std::string(line->substr(prefix.size()));
                break;
            }
    }
    if (std::ferror(fp))
        error(0, errno, "cannot read %s", file);
    if (std::fclose(fp) != 0)
        error(0, errno, "cannot close %s", file);
    if (!entry)
        return 0;

    std::string hash, user;
    if (entry->find_first_not_of(" \t") != std::string::npos) {
        size_t colon = entry->find(':');
        hash = entry->substr(0, colon);
        if (colon != std::string::npos)
            user = entry->substr(colon + 1, entry->find(':', colon + 1) - colon - 1);
    }
    host_user = user.empty() ? username : user;
    if (hash.empty())
        return 1;
    return crypt_matches(password, hash) ? 1 : 2;
}

std::optional<std::string> check_password(const std::string &username,
                                          const std::string &password,
                                          const std::string &repository) {
    std::string host_user;
    int found = check_repository_password(username, password, repository, host_user);
    if (found == 2)
        return std::nullopt;
    if (found == 0) {
        if (!system_auth) {
            auth_write("error 0 no such user " + username + " in JOLROOT/passwd\n");
            error_exit();
        }
        std::string hash;
        if (!system_password(username, hash)) {
            auth_write("E Fatal error, aborting.\nerror 0 " + username + ": no such user\n");
            error_exit();
        }
        bool ok = hash.empty() ? !password.empty() : crypt_matches(password, hash);
        wipe(hash);
        if (!ok)
            return std::nullopt;
        host_user = username;
    }
    jol_authenticated_user = username;
    return host_user;
}

void pserver_authenticate_connection() {
    // A peer that stays silent must not hold a process that may run as
    // root; the default action of the alarm ends it.
    alarm(auth_time_limit);
    int on = 1;
    // Not a socket (a pipe, a terminal): nothing to keep alive.
    setsockopt(STDIN_FILENO, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    // Responses are written when complete; a short last one ("ok") must
    // not wait for the acknowledgement of the one before.
    setsockopt(STDOUT_FILENO, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    std::string start = read_auth_line();
    if (start == "BEGIN GSSAPI REQUEST\n") {
        gserver_authenticate_connection();
        alarm(0);
        return;
    }
    const bool verify_only = start == "BEGIN VERIFICATION REQUEST\n";
    if (!verify_only && start != "BEGIN AUTH REQUEST\n")
        error(1, 0, "bad auth protocol start: %s", without_newline(start));
    std::string repository = without_newline(read_auth_line());
    std::string username = without_newline(read_auth_line());
    std::string scrambled = without_newline(read_auth_line());
    std::string end = read_auth_line();
    if (end != (verify_only ? "END VERIFICATION REQUEST\n" : "END AUTH REQUEST\n")) {
        wipe(scrambled);
        error(1, 0, "bad auth protocol end: %s", without_newline(end));
    }

    if (!root_allow_ok(repository.c_str())) {
        wipe(scrambled);
        refuse();
    }
    parse_config(repository.c_str());
    std::string password = descramble(scrambled);
    wipe(scrambled);
    std::optional<std::string> host_user = check_password(username, password, repository);
    wipe(password);
    // Serving as the super-user is never an account's due.
    if (!host_user || is_superuser_account(*host_user))
        refuse();
    if (verify_only) {
        auth_write("I LOVE YOU\n");
        jolguiglue_exit(0);
    }
    Pserver_Repos = repository;
    switch_to_user(*host_user);
    auth_write("I LOVE YOU\n");
    alarm(0);
}
