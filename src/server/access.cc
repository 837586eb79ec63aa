// check_command_legal_p: read-only and read-write users of a repository,
// from JOLROOT/readers and JOLROOT/writers.
#include <cerrno>
#include <cstdio>

#include "src/base/error.h"
#include "src/base/identity.h"
#include "src/base/line_reader.h"
#include "src/base/root.h"
#include "src/server/server.h"

namespace {

int (*attribute_lookup)(const char *) = nullptr;
// Writes the repository, as the command table says; without the table,
// every command is taken to write.
constexpr int writes_repository = 4;

enum class Listed { yes, no, missing, unreadable };

// Whether a line of `file` (its newline removed) is `user`.
Listed listed_in(const std::string &file, const std::string &user, const char *open_failure) {
    FILE *fp = std::fopen(file.c_str(), "r");
    if (!fp) {
        if (errno == ENOENT)
            return Listed::missing;
        error(0, errno, open_failure, file);
        return Listed::unreadable;
    }
    Listed found = Listed::no;
    LineReader lines(fp);
    while (auto line = lines.next())
        if (*line == user)
            found = Listed::yes;
    if (std::ferror(fp))
        error(0, errno, "cannot read %s", file);
    if (std::fclose(fp) != 0)
        error(0, errno, "cannot close %s", file);
    return found;
}

}  // namespace

bool check_command_legal_p(const char *cmd_name) {
    if (jol_authenticated_user.empty())
        return true;
    if (attribute_lookup && !(attribute_lookup(cmd_name) & writes_repository))
        return true;
    const std::string adm = JOLroot_directory + "/JOLROOT/";
    Listed reader = listed_in(adm + "readers", jol_authenticated_user, "cannot open %s");
    if (reader == Listed::yes || reader == Listed::unreadable)
        return false;
    Listed writer = listed_in(adm + "writers", jol_authenticated_user, "cannot read %s");
    return writer == Listed::missing || writer == Listed::yes;
}

void set_command_attribute_lookup(int (*lookup)(const char *name)) { attribute_lookup = lookup; }
