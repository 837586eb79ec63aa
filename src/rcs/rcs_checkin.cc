// Check-in: choosing the new revision number, computing the texts to store
// with the diff engine, linking the revision into the tree, and rewriting
// the archive.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/rcs/rcs_checkin.h"

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/identity.h"
#include "src/base/output.h"
#include "src/rcs/diff_invoke.h"
#include "src/rcs/rcs_internal.h"
#include "src/rcs/rcs_write.h"

namespace {

// The whole of `path`; a failure is fatal, since a short read would be
// stored in the archive as the revision's text.
void read_file(const std::string &path, std::string &out) {
    int err = 0;
    if (!read_whole_file(path.c_str(), out, err))
        error(1, err, "cannot open %s", path);
}

std::string message_rcslegal(const char *message) {
    std::string out, line;
    if (message)
        for (const char *p = message; *p; ++p) {
            if (*p == '\n') {
                while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
                    line.pop_back();
                out += line + "\n";
                line.clear();
            } else {
                line += *p;
            }
        }
    out += line;
    while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back())))
        out.pop_back();
    return out.empty() ? std::string("*** empty log message ***") : out;
}

void add_version(RCSNode *rcs, RCSVers *v) {
    Node *n = getnode();
    n->type = RCSVERS;
    n->key = v->version;
    n->data = v;
    n->delproc = [](Node *p) { delete static_cast<RCSVers *>(p->data); };
    addnode(rcs->versions, n);
}

}  // namespace

std::optional<std::string> RCS_addbranch(RCSNode *rcs, const char *branch) {
    RCS_complete(rcs);
    std::string b = branch;
    std::string point = numdots(b) % 2 == 1 ? b : b.substr(0, b.rfind('.'));
    RCSVers *bp = RCS_findvers(rcs, point);
    if (!bp) {
        error(0, 0, "%s: can't find branch point %s", rcs->path, point);
        return std::nullopt;
    }
    std::string newbranch;
    if (!bp->branches)
        bp->branches = getlist();
    if (numdots(b) % 2 == 1) {
        auto maxb = max_rev(bp);
        newbranch = maxb ? *increment_revnum(*maxb) : b + ".2";
        Node *n = getnode();
        n->key = newbranch + ".1";
        addnode(bp->branches, n);
    } else {
        newbranch = b;
        // Keep the list in ascending order of branch numbers.
        Node *before = bp->branches->list;
        JOL_FOR_EACH_NODE(bp->branches, p) {
            if (compare_revnums(truncate_revnum(*p->key), newbranch) > 0) {
                before = p;
                break;
            }
        }
        Node *n = getnode();
        n->key = newbranch + ".1";
        if (before == bp->branches->list) {
            addnode(bp->branches, n);
        } else {
            // Insert before `before` by rebuilding the order.
            List *rebuilt = getlist();
            std::vector<Node *> keep;
            JOL_FOR_EACH_NODE(bp->branches, p) keep.push_back(p);
            for (Node *p : keep) {
                if (p == before) {
                    Node *m = getnode();
                    m->key = *n->key;
                    addnode(rebuilt, m);
                }
                Node *m = getnode();
                m->key = *p->key;
                addnode(rebuilt, m);
            }
            freenode(n);
            dellist(&bp->branches);
            bp->branches = rebuilt;
        }
    }
    return newbranch + ".1";
}

std::optional<std::string> RCS_findlock_or_tip(RCSNode *rcs) {
    const char *me = getcaller();
    List *locks = RCS_getlocks(rcs);
    std::optional<std::string> mine;
    int count = 0;
    if (locks)
        JOL_FOR_EACH_NODE(locks, p) {
            if (std::strcmp(static_cast<const char *>(p->data), me) == 0) {
                ++count;
                mine = *p->key;
            }
        }
    if (count > 1) {
        error(0, 0, "%s: multiple revisions locked by %s; please specify one", rcs->path, me);
        return std::nullopt;
    }
    if (count == 1) {
        if (!RCS_findvers(rcs, *mine)) {
            error(0, 0, "%s: can't unlock nonexistent revision %s", rcs->path, *mine);
            return std::nullopt;
        }
        return mine;
    }
    if (!rcs->branch.empty())
        return RCS_getbranch(rcs, rcs->branch, 1);
    return rcs->head.empty() ? std::nullopt : std::optional<std::string>(rcs->head);
}

int RCS_checkin(RCSNode *rcs, const char *workfile_in, const char *message, const char *rev,
                int flags) {
    RCS_complete(rcs);
    std::string workfile;
    if (workfile_in) {
        workfile = workfile_in;
    } else {
        jol_assert(rcs->path.size() > 2 && rcs->path.ends_with(",v"));
        workfile = rcs->path.substr(rcs->path.rfind('/') + 1);
        workfile.resize(workfile.size() - 2);
    }
    const bool quiet_ci = flags & CHECKIN_QUIET;
    if (!quiet_ci)
        jol_output(rcs->path + "  <--  " + workfile + "\n");

    auto delta = std::make_unique<RCSVers>();
    delta->author = getcaller();
    time_t when = time(nullptr);
    if (flags & CHECKIN_MODTIME) {
        struct stat sb;
        if (stat(workfile.c_str(), &sb) != 0)
            error(1, errno, "cannot stat %s", workfile);
        when = sb.st_mtime;
    }
    delta->date = rcs_date_of(when);
    if (flags & CHECKIN_DEAD) {
        delta->state = "dead";
        delta->dead = 1;
    } else {
        delta->state = "Exp";
    }
    Deltatext dtext;
    dtext.log = message_rcslegal(message);
    const bool binary = rcs->expand == "b";

    // The first revision of an archive without head.
    if (rcs->head.empty()) {
        std::string number;
        if (!rev || !*rev)
            number = "1.1";
        else if (!std::strchr(rev, '.'))
            number = std::string(rev) + ".1";
        else
            number = rev;
        delta->version = number;
        dtext.version = number;
        read_file(workfile, dtext.text);
        dtext.len = dtext.text.size();
        if (!quiet_ci)
            jol_output("initial revision: " + number + "\n");
        rcs->head = number;
        if (!rcs->versions)
            rcs->versions = getlist();
        add_version(rcs, delta.release());
        rcsbuf_cache_close();
        FILE *fp = rcs_internal_lockfile(rcs->path);
        RCS_putadmin(rcs, fp);
        RCS_putdtree(rcs, rcs->head, fp);
        RCS_putdesc(rcs, fp);
        std::fflush(fp);
        long pos = std::ftell(fp);
        if (pos < 0)
            error(1, errno, "cannot ftell for %s", rcs->path);
        rcs->delta_pos = pos;
        putdeltatext(fp, &dtext);
        rcs_internal_unlockfile(fp, rcs->path);
        if (!(flags & CHECKIN_KEEPFILE) && unlink(workfile.c_str()) != 0)
            error(0, errno, "cannot remove %s", workfile);
        if (!quiet_ci)
            jol_output("done\n");
        return 0;
    }

    std::string commitpt, newnumber;
    bool new_branch = false;
    if (!rev || !*rev) {
        auto cp = RCS_findlock_or_tip(rcs);
        if (!cp)
            return 1;
        commitpt = *cp;
        RCSVers *v = RCS_findvers(rcs, commitpt);
        if (!v || v->next.empty() || commitpt == rcs->head) {
            newnumber = *increment_revnum(commitpt);
        } else {
            auto b = RCS_addbranch(rcs, commitpt.c_str());
            if (!b)
                return 1;
            newnumber = *b;
            new_branch = true;
        }
    } else {
        std::string r = rev;
        jol_assert(std::isdigit(static_cast<unsigned char>(r[0])));
        bool is_revision = numdots(r) % 2 == 1;
        std::string branch = is_revision ? r.substr(0, r.rfind('.')) : r;
        std::optional<std::string> tip;
        if (r.find('.') == std::string::npos) {
            tip = rcs->head;
            if (rcs->head.substr(0, rcs->head.find('.')) != r) {
                r += ".1";
                is_revision = true;
            }
        } else if (numdots(r) == 1) {
            tip = rcs->head;
        } else {
            tip = RCS_getbranch(rcs, branch, 1);
        }
        if (!tip) {
            if (is_revision) {
                error(0, 0, "%s: can't find branch point %s", rcs->path, branch);
                return 1;
            }
            auto b = RCS_addbranch(rcs, branch.c_str());
            if (!b)
                return 1;
            newnumber = *b;
            new_branch = true;
            commitpt = branch.substr(0, branch.rfind('.'));
        } else if (is_revision) {
            if (compare_revnums(r, *tip) <= 0) {
                error(0, 0, "%s: revision %s too low; must be higher than %s", rcs->path, r, *tip);
                return 1;
            }
            newnumber = r;
            commitpt = *tip;
        } else {
            newnumber = *increment_revnum(*tip);
            commitpt = *tip;
        }
    }

    // Locks on the commit point.
    if (List *locks = RCS_getlocks(rcs)) {
        if (Node *n = findnode(locks, commitpt)) {
            const char *holder = static_cast<const char *>(n->data);
            if (std::strcmp(holder, getcaller()) == 0) {
                delnode(n);
            } else if (!new_branch) {
                error(0, 0, "%s: revision %s locked by %s", rcs->path, commitpt, holder);
                return 1;
            }
        }
    }

    delta->version = newnumber;
    dtext.version = newnumber;
    // The previous revision and the comparison stay in memory.
    std::string old_text;
    if (RCS_checkout(rcs, nullptr, commitpt.c_str(), nullptr, binary ? "-kb" : "-ko", nullptr,
                     append_text, &old_text) != 0)
        error(1, 0, "could not check out revision %s of `%s'", commitpt, rcs->path);
    const char *diffopts = binary ? "-a -n --binary" : "-a -n";
    std::string work_text;
    read_file(workfile, work_text);
    RCSVers *cp = RCS_findvers(rcs, commitpt);
    if (commitpt == rcs->head && numdots(newnumber) == 1) {
        // The new head is stored whole; the old one becomes the reverse
        // script from it.
        dtext.text = work_text;
        std::string script;
        int status = diff_texts(std::move(work_text), std::move(old_text), diffopts, script);
        if (status != 0 && status != 1)
            error(1, 0, "error diffing %s", workfile);
        cp->pending_text = std::move(script);
    } else {
        int status = diff_texts(std::move(old_text), std::move(work_text), diffopts, dtext.text);
        if (status != 0 && status != 1)
            error(1, 0, "error diffing %s", workfile);
    }
    dtext.len = dtext.text.size();

    // Linking happens only now, when nothing can fail any more.
    if (numdots(commitpt) == numdots(newnumber)) {
        if (commitpt == rcs->head) {
            delta->next = rcs->head;
            rcs->head = newnumber;
        } else {
            cp->next = newnumber;
        }
    }
    add_version(rcs, delta.release());
    if (!quiet_ci)
        jol_output("new revision: " + newnumber + "; previous revision: " + commitpt + "\n");
    RCS_rewrite(rcs, &dtext, commitpt.c_str());
    if (!(flags & CHECKIN_KEEPFILE) && unlink(workfile.c_str()) != 0)
        error(1, errno, "cannot remove %s", workfile);
    if (!quiet_ci)
        jol_output("done\n");
    return 0;
}
