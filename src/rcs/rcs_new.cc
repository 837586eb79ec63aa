// Creating a new archive from a working file (import, add, init). The
// archive is written into its lock file and renamed into place, so a crash
// never leaves a half-written archive behind.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/identity.h"
#include "src/rcs/rcs.h"
#include "src/rcs/rcs_write.h"

namespace {

void put_doubled(FILE *fp, const char *s, size_t n) {
    const char *end = s + n;
    while (s < end) {
        const char *at = static_cast<const char *>(std::memchr(s, '@', static_cast<size_t>(end - s)));
        const char *stop = at ? at + 1 : end;
        std::fwrite(s, 1, static_cast<size_t>(stop - s), fp);
        if (at)
            std::fputc('@', fp);
        s = stop;
    }
}

void put_doubled(FILE *fp, const std::string &s) { put_doubled(fp, s.data(), s.size()); }

struct LeaderRow {
    const char *extension;
    const char *leader;
};

// The comment leader a new archive records, by the file name's extension.
const LeaderRow comment_leaders[] = {
    {"a", "-- "},    {"ada", "-- "},  {"adb", "-- "},   {"ads", "-- "},   {"body", "-- "},
    {"asm", ";; "},  {"mac", ";; "},   {"bas", "' "},    {"frm", "' "},
    {"bat", ":: "},  {"cmd", ":: "},  {"c", " * "},     {"cs", " * "},    {"dlg", " * "},
    {"h", " * "},    {"l", " * "},    {"p", " * "},     {"pas", " * "},   {"rc", " * "},
    {"y", " * "},    {"ye", " * "},   {"yr", " * "},    {"c++", "// "},   {"cc", "// "},
    {"cpp", "// "},  {"cxx", "// "},  {"m", "// "},     {"hh", "// "},    {"hpp", "// "},
    {"hxx", "// "},  {"cl", ";;; "},  {"cmf", "c "},    {"f", "c "},      {"for", "c "},
    {"csh", "# "},   {"e", "# "},     {"in", "# "},     {"mak", "# "},    {"pl", "# "},
    {"r", "# "},     {"sh", "# "},    {"epsf", "% "},   {"epsi", "% "},   {"ps", "% "},
    {"psw", "% "},   {"pswm", "% "},  {"red", "% "},    {"sl", "% "},     {"tex", "% "},
    {"el", "; "},    {"ml", "; "},    {"me", ".\\\" "}, {"mm", ".\\\" "}, {"ms", ".\\\" "},
    {"man", ".\\\" "},
};

}  // namespace

std::string comment_leader(const std::string &name) {
    std::string base = name.substr(name.rfind('/') + 1);
    size_t dot = base.rfind('.');
    if (dot == std::string::npos)
        return "# ";
    std::string ext = base.substr(dot + 1);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext.size() == 1 && ext[0] >= '1' && ext[0] <= '9')
        return ".\\\" ";
    for (const LeaderRow &row : comment_leaders)
        if (ext == row.extension)
            return row.leader;
    return "# ";
}

namespace {

template <class... A>
void logged_error(FILE *logfp, const char *fmt, const A &...args) {
    ErrArg arr[] = {ErrArg(args)...};
    std::string text = error_format(fmt, arr);
    if (logfp)
        std::fprintf(logfp, "%s\n", text.c_str());
    error(0, 0, "%s", text);
}

}  // namespace

// Format: doc/formats.md#rcs-archive-as-written
int add_rcs_file(const NewArchive &a, FILE *add_logfp) {
    const std::string &mode = a.key_opt;

    struct stat sb;
    if (lstat(a.user.c_str(), &sb) != 0) {
        if (add_logfp)
            std::fprintf(add_logfp, "ERROR: cannot lstat file %s\n", a.user.c_str());
        error(0, errno, "cannot lstat file %s", a.user);
        return 1;
    }
    // Never through a symbolic link, and never a FIFO or device whose
    // open or read could block or have effects.
    int in = S_ISREG(sb.st_mode)
                 ? open(a.user.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)
                 : -1;
    struct stat opened;
    if (in >= 0 && (fstat(in, &opened) != 0 || !S_ISREG(opened.st_mode))) {
        close(in);
        in = -1;
        errno = EINVAL;
    }
    if (in < 0) {
        int e = S_ISREG(sb.st_mode) ? errno : EINVAL;
        if (add_logfp)
            std::fprintf(add_logfp, "ERROR: cannot read file %s\n", a.user.c_str());
        error(0, e, "ERROR: cannot read file %s", a.user);
        return 1;
    }
    if (noexec) {
        close(in);
        return 0;
    }
    // Archives are only ever created new; an existing one is not replaced.
    if (access(a.rcs.c_str(), F_OK) == 0) {
        close(in);
        error(0, 0, "cannot create %s: it already exists", a.rcs);
        return 1;
    }

    FILE *fp = rcs_internal_lockfile(a.rcs);
    const std::string date = rcs_date_of(a.use_file_modtime ? sb.st_mtime : time(nullptr));
    const char *author = getcaller();

    std::fprintf(fp, "head     %s;\n", a.vhead.c_str());
    if (!a.vbranch.empty())
        std::fprintf(fp, "branch   %s;\n", a.vbranch.c_str());
    std::fputs("access   ;\nsymbols  ", fp);
    for (auto t = a.tags.rbegin(); t != a.tags.rend(); ++t)
        std::fprintf(fp, "%s:%s.1 ", t->c_str(), a.vbranch.c_str());
    if (!a.vbranch.empty())
        std::fprintf(fp, "%s:%s", a.vtag.c_str(), a.vbranch.c_str());
    std::fputs(";\n", fp);
    std::fputs("locks    ; strict;\n", fp);
    std::fprintf(fp, "comment  @%s@;\n", comment_leader(a.user).c_str());
    if (!mode.empty())
        std::fprintf(fp, "expand   @%s@;\n", mode.c_str());
    std::fputs("\n", fp);
    if (!a.vhead.empty()) {
        std::fprintf(fp, "\n%s\n", a.vhead.c_str());
        std::fprintf(fp, "date     %s;  author %s;  state Exp;\n", date.c_str(), author);
        std::fputs("branches", fp);
        if (!a.vbranch.empty())
            std::fprintf(fp, " %s.1", a.vbranch.c_str());
        std::fputs(";\nnext     ;\n", fp);
        if (!a.vbranch.empty()) {
            std::fprintf(fp, "\n%s.1\n", a.vbranch.c_str());
            std::fprintf(fp, "date     %s;  author %s;  state Exp;\n", date.c_str(), author);
            std::fputs("branches ;\nnext     ;\n\n", fp);
        }
    }
    std::fputs("\ndesc\n@", fp);
    put_doubled(fp, a.desc);
    std::fputs("@\n\n\n", fp);
    if (!a.vhead.empty()) {
        std::fprintf(fp, "\n%s\nlog\n@", a.vhead.c_str());
        put_doubled(fp, a.vbranch.empty() ? a.message : std::string("Initial revision\n"));
        std::fputs("@\ntext\n@", fp);
        char buf[8192];
        for (;;) {
            ssize_t n = read(in, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                error(1, errno, "cannot read file %s for copying", a.user);
            if (n == 0)
                break;
            put_doubled(fp, buf, static_cast<size_t>(n));
        }
        std::fputs("@\n\n", fp);
        if (!a.vbranch.empty()) {
            std::fprintf(fp, "\n%s.1\nlog\n@", a.vbranch.c_str());
            put_doubled(fp, a.message);
            std::fputs("@\ntext\n@@\n", fp);
        }
    }
    close(in);
    if (std::ferror(fp) || std::fflush(fp) != 0) {
        int e = errno;
        logged_error(add_logfp, "ERROR: cannot write file %s", a.rcs);
        rcs_cleanup();
        if (e == ENOSPC)
            error(1, 0, "ERROR: out of space - aborting");
        return 1;
    }
    if (!rcs_internal_unlockfile(fp, a.rcs, true)) {
        error(0, 0, "cannot create %s: it already exists", a.rcs);
        return 1;
    }

    mode_t m = sb.st_mode & 0777;
    m |= (m & 0700) >> 3 | (m & 0700) >> 6;
    m &= ~jolumask;
    m &= ~static_cast<mode_t>(0222);
    if (chmod(a.rcs.c_str(), m) != 0) {
        logged_error(add_logfp, "WARNING: cannot change mode of file %s", a.rcs);
        return 1;
    }
    return 0;
}
