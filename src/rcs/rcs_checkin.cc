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

namespace {

// Where a check-in goes: the revision it descends from, the number the new
// revision gets, and whether that number starts a new branch.
struct CheckinTarget {
    std::string commitpt;
    std::string newnumber;
    bool new_branch = false;
};

// The file to check in: `workfile_in`, else the archive's own name
// without ",v".
std::string checkin_workfile(const RCSNode *rcs, const char *workfile_in) {
    if (workfile_in)
        return workfile_in;
    jol_assert(rcs->path.size() > 2 && rcs->path.ends_with(",v"));
    std::string workfile = rcs->path.substr(rcs->path.rfind('/') + 1);
    workfile.resize(workfile.size() - 2);
    return workfile;
}

// The new revision's delta, not yet numbered: the caller as author, now
// (or the working file's time with CHECKIN_MODTIME) as date, and its state.
std::unique_ptr<RCSVers> new_delta(const std::string &workfile, int flags, time_t given) {
    auto delta = std::make_unique<RCSVers>();
    delta->author = getcaller();
    time_t when = given ? given : time(nullptr);
    if (!given && (flags & CHECKIN_MODTIME)) {
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
    return delta;
}

// The first revision of an archive without head (1.1, or the number `rev`
// gives): stored whole, and the archive written out in full.
void checkin_first(RCSNode *rcs, std::unique_ptr<RCSVers> delta, Deltatext &dtext,
                   const std::string &workfile, const char *rev, int flags) {
    const bool quiet_ci = flags & CHECKIN_QUIET;
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
}

// Without a revision asked for: after the caller's lock, else after the
// tip of the default branch; a revision that has a successor already
// gets a new branch. None after a message.
std::optional<CheckinTarget> target_after_lock(RCSNode *rcs) {
    auto cp = RCS_findlock_or_tip(rcs);
    if (!cp)
        return std::nullopt;
    CheckinTarget t;
    t.commitpt = *cp;
    RCSVers *v = RCS_findvers(rcs, t.commitpt);
    if (!v || v->next.empty() || t.commitpt == rcs->head) {
        t.newnumber = *increment_revnum(t.commitpt);
    } else {
        auto b = RCS_addbranch(rcs, t.commitpt.c_str());
        if (!b)
            return std::nullopt;
        t.newnumber = *b;
        t.new_branch = true;
    }
    return t;
}

// For revision or branch number `rev`: a revision must be higher than the
// tip it follows; a branch gets its next revision, or is added when it
// has none yet. None after a message.
std::optional<CheckinTarget> target_of_rev(RCSNode *rcs, const char *rev) {
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
    CheckinTarget t;
    if (!tip) {
        if (is_revision) {
            error(0, 0, "%s: can't find branch point %s", rcs->path, branch);
            return std::nullopt;
        }
        auto b = RCS_addbranch(rcs, branch.c_str());
        if (!b)
            return std::nullopt;
        t.newnumber = *b;
        t.new_branch = true;
        t.commitpt = branch.substr(0, branch.rfind('.'));
    } else if (is_revision) {
        if (compare_revnums(r, *tip) <= 0) {
            error(0, 0, "%s: revision %s too low; must be higher than %s", rcs->path, r, *tip);
            return std::nullopt;
        }
        t.newnumber = r;
        t.commitpt = *tip;
    } else {
        t.newnumber = *increment_revnum(*tip);
        t.commitpt = *tip;
    }
    return t;
}

// Drops the caller's lock on the commit point; another user's lock there
// refuses the check-in unless it starts a branch. 1 after a message.
int release_commit_point(RCSNode *rcs, const CheckinTarget &t) {
    List *locks = RCS_getlocks(rcs);
    if (!locks)
        return 0;
    Node *n = findnode(locks, t.commitpt);
    if (!n)
        return 0;
    const char *holder = static_cast<const char *>(n->data);
    if (std::strcmp(holder, getcaller()) == 0) {
        delnode(n);
    } else if (!t.new_branch) {
        error(0, 0, "%s: revision %s locked by %s", rcs->path, t.commitpt, holder);
        return 1;
    }
    return 0;
}

// The texts to store. A new trunk head is stored whole and the commit
// point's text becomes the reverse script from it (pending until the
// rewrite); elsewhere the new revision is a script from the commit point.
// Both texts stay in memory and move into the diff engine.
void compute_texts(RCSNode *rcs, const CheckinTarget &t, RCSVers *cp, const std::string &workfile,
                   Deltatext &dtext) {
    const bool binary = rcs->expand == "b";
    std::string old_text;
    if (RCS_checkout(rcs, nullptr, t.commitpt.c_str(), nullptr, binary ? "-kb" : "-ko", nullptr,
                     append_text, &old_text) != 0)
        error(1, 0, "could not check out revision %s of `%s'", t.commitpt, rcs->path);
    const char *diffopts = binary ? "-a -n --binary" : "-a -n";
    std::string work_text;
    read_file(workfile, work_text);
    if (t.commitpt == rcs->head && numdots(t.newnumber) == 1) {
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
}

// Links the new delta into the tree, once nothing can fail any more: as
// the new head, or after the commit point on its branch; the first
// revision of a new branch hangs off its branch point already.
void link_delta(RCSNode *rcs, std::unique_ptr<RCSVers> delta, const CheckinTarget &t, RCSVers *cp) {
    if (numdots(t.commitpt) == numdots(t.newnumber)) {
        if (t.commitpt == rcs->head) {
            delta->next = rcs->head;
            rcs->head = t.newnumber;
        } else {
            cp->next = t.newnumber;
        }
    }
    add_version(rcs, delta.release());
}

}  // namespace

int RCS_checkin(RCSNode *rcs, const char *workfile_in, const char *message, const char *rev,
                int flags, time_t when) {
    RCS_complete(rcs);
    const std::string workfile = checkin_workfile(rcs, workfile_in);
    const bool quiet_ci = flags & CHECKIN_QUIET;
    if (!quiet_ci)
        jol_output(rcs->path + "  <--  " + workfile + "\n");
    auto delta = new_delta(workfile, flags, when);
    Deltatext dtext;
    dtext.log = message_rcslegal(message);
    if (rcs->head.empty()) {
        checkin_first(rcs, std::move(delta), dtext, workfile, rev, flags);
        return 0;
    }

    auto target = !rev || !*rev ? target_after_lock(rcs) : target_of_rev(rcs, rev);
    if (!target || release_commit_point(rcs, *target) != 0)
        return 1;
    delta->version = target->newnumber;
    dtext.version = target->newnumber;
    RCSVers *cp = RCS_findvers(rcs, target->commitpt);
    compute_texts(rcs, *target, cp, workfile, dtext);
    link_delta(rcs, std::move(delta), *target, cp);
    if (!quiet_ci)
        jol_output("new revision: " + target->newnumber +
                   "; previous revision: " + target->commitpt + "\n");
    RCS_rewrite(rcs, &dtext, target->commitpt.c_str());
    if (!(flags & CHECKIN_KEEPFILE) && unlink(workfile.c_str()) != 0)
        error(1, errno, "cannot remove %s", workfile);
    if (!quiet_ci)
        jol_output("done\n");
    return 0;
}
