// RCS_checkout: one revision's text, keywords expanded, delivered to a
// file, a callback or standard output.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/rcs/rcs_internal.h"

namespace {

// The head's text straight from the first deltatext, without any script.
// An archive that stores another text first is searched like any other.
bool head_text(RCSNode *rcs, std::string &text, std::string &log) {
    RcsBuffer &buf = rcs_buffer(rcs);
    RcsLexer lx(buf, static_cast<size_t>(rcs->delta_pos));
    std::string_view rev;
    if (!lx.getrevnum(rev))
        error(1, 0, "unexpected EOF reading %s", rcs->path);
    if (rev != rcs->head && !rcs->head.empty()) {
        RCS_deltas(rcs, rcs->head.c_str(), RCS_FETCH, &text, &log);
        return true;
    }
    Phrase ph;
    while (lx.getkey(ph)) {
        if (ph.key == "log") {
            log = ph.copy();
        } else if (ph.key == "text") {
            text = ph.copy();
            return true;
        }
    }
    error(0, 0, "internal error: cannot find head text");
    return false;
}

bool write_all(int fd, const std::string &text) {
    size_t off = 0;
    while (off < text.size()) {
        size_t chunk = std::min<size_t>(8192, text.size() - off);
        ssize_t w = write(fd, text.data() + off, chunk);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

int RCS_checkout(RCSNode *rcs, const char *workfile, const char *rev, const char *nametag,
                 const char *options, const char *sout, RCSCHECKOUTPROC pfn, void *callerdat) {
    if (trace) {
        std::string line = std::string(server_active ? "S" : " ") + "-> checkout (" + rcs->path +
                           ", " + (rev ? rev : "") + ", " + (options ? options : "") + ", " +
                           (pfn ? "(function)" : workfile ? workfile : sout ? sout : "(stdout)") +
                           ")\n";
        jol_outerr(line);
    }
    if (rev && !std::isdigit(static_cast<unsigned char>(*rev))) {
        // Only a damaged archive names such a revision.
        error(0, 0, "%s: invalid revision number `%s'", rcs->path, rev);
        return 1;
    }
    if (noexec && workfile)
        return 0;
    jol_assert(!(workfile && sout));
    jol_assert(!(pfn && (workfile || sout)));

    RCS_complete(rcs);
    std::string revision;
    if (rev) {
        revision = rev;
        if (numdots(revision) % 2 == 0) {
            auto r = RCS_getbranch(rcs, revision, 1);
            if (!r)
                error(1, 0, "internal error: bad branch tag in checkout");
            revision = *r;
        }
    }

    std::string text, log;
    if (revision.empty() || revision == rcs->head) {
        if (!head_text(rcs, text, log))
            return 1;
        if (revision.empty())
            revision = rcs->head;
    } else {
        RCS_deltas(rcs, revision.c_str(), RCS_FETCH, &text, &log);
    }
    mode_t archive_mode = rcs_buffer(rcs).status().st_mode;

    kflag mode = KFLAG_KV;
    const char *ouroptions = options && *options ? options : nullptr;
    if (ouroptions || !rcs->expand.empty()) {
        std::string m = ouroptions ? std::string(ouroptions + (std::strncmp(ouroptions, "-k", 2) == 0 ? 2 : 0))
                                   : rcs->expand;
        int found = -1;
        for (int k = 0; kflags[k]; ++k)
            if (m == kflags[k])
                found = k;
        if (found < 0)
            error(0, 0, "internal error: unsupported substitution string -k%s", m);
        else
            mode = static_cast<kflag>(found);
    }

    if (mode != KFLAG_O && mode != KFLAG_B) {
        RCSVers *vers = RCS_findvers(rcs, revision);
        if (!vers)
            error(1, 0, "internal error: no revision information for %s", revision);
        expand_keywords(rcs, vers, nametag, log, mode, text);
    }

    if (pfn) {
        if (!text.empty())
            pfn(callerdat, text.data(), text.size());
        return 0;
    }
    if (!workfile && !sout) {
        if (!text.empty()) {
            if (mode == KFLAG_B)
                jol_output_binary(text.data(), text.size());
            else
                jol_output(text.data(), text.size());
        }
        return 0;
    }

    const char *fname = workfile ? workfile : sout;
    if (islink(fname) && unlink(fname) != 0)
        error(1, errno, "cannot remove %s", fname);
    int fd = open(fname, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 && workfile && errno == EACCES && isfile(fname) && !iswritable(fname)) {
        struct stat sb;
        if (stat(fname, &sb) == 0 && chmod(fname, sb.st_mode | S_IWUSR) == 0)
            fd = open(fname, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        if (sout)
            error(1, errno, "cannot open %s", fname);
        error(0, errno, "cannot open %s", fname);
        return 1;
    }
    if (!write_all(fd, text)) {
        error(0, errno, "cannot write %s", fname);
        close(fd);
        return 1;
    }
    if (workfile && fchmod(fd, archive_mode & 07777 & ~static_cast<mode_t>(0222)) != 0)
        error(0, errno, "cannot change mode of file %s", workfile);
    if (close(fd) != 0) {
        error(0, errno, "cannot close %s", fname);
        return 1;
    }
    return 0;
}
