// Tags, default branch, locks and access lists of an archive.
#include "src/rcs/rcs_admin.h"

#include "src/base/identity.h"

#include <cstring>

#include "src/base/error.h"
#include "src/base/output.h"
#include "src/rcs/rcs_internal.h"

int RCS_settag(RCSNode *rcs, const char *tag, const char *rev) {
    RCS_complete(rcs);
    if (std::strcmp(tag, "BASE") == 0 || std::strcmp(tag, "HEAD") == 0) {
        error(0, 0, "Attempt to add reserved tag name %s", tag);
        return 1;
    }
    std::string value;
    if (rev)
        value = rev;
    else
        value = !rcs->branch.empty() ? rcs->branch : rcs->head;
    List *symbols = RCS_symbols(rcs);
    if (!symbols) {
        rcs->symbols = getlist();
        rcs->symbols_data.reset();
        symbols = rcs->symbols;
    }
    if (Node *n = findnode(symbols, tag)) {
        std::free(n->data);
        node_set_string(n, value);
        return 0;
    }
    Node *n = getnode();
    n->key = tag;
    node_set_string(n, value);
    addnode_at_front(symbols, n);
    return 0;
}

int RCS_deltag(RCSNode *rcs, const char *tag) {
    List *symbols = RCS_symbols(rcs);
    if (!symbols)
        return 1;
    Node *n = findnode(symbols, tag);
    if (!n)
        return 1;
    delnode(n);
    return 0;
}

int RCS_setbranch(RCSNode *rcs, const char *rev) {
    RCS_complete(rcs);
    rcs->branch = rev ? rev : "";
    return 0;
}

std::optional<std::string> RCS_lock_target(RCSNode *rcs, const char *rev, int quiet) {
    RCS_complete(rcs);
    std::string xrev;
    if (!rev) {
        auto h = RCS_head(rcs);
        xrev = h.value_or("");
    } else if (RCS_nodeisbranch(rcs, rev)) {
        std::string branch = std::isdigit(static_cast<unsigned char>(*rev))
                                 ? std::string(rev)
                                 : RCS_whatbranch(rcs, rev).value_or("");
        auto tip = RCS_getbranch(rcs, branch, 1);
        if (!tip) {
            if (!quiet)
                error(0, 0, "%s: branch %s absent", rcs->path, rev);
            return std::nullopt;
        }
        xrev = *tip;
    } else {
        xrev = rev;
    }
    if (!RCS_findvers(rcs, xrev)) {
        if (!quiet)
            error(0, 0, "%s: revision %s absent", rcs->path, xrev);
        return std::nullopt;
    }
    return xrev;
}

std::optional<std::string> RCS_lock_holder(RCSNode *rcs, const std::string &rev) {
    List *locks = RCS_getlocks(rcs);
    Node *n = locks ? findnode(locks, rev) : nullptr;
    if (!n)
        return std::nullopt;
    return std::string(static_cast<const char *>(n->data));
}

int RCS_lock(RCSNode *rcs, const char *rev, int lock_quiet) {
    auto target = RCS_lock_target(rcs, rev, lock_quiet);
    if (!target)
        return 1;
    const std::string &xrev = *target;
    List *locks = RCS_getlocks(rcs);
    const char *me = getcaller();
    if (locks) {
        if (Node *n = findnode(locks, xrev)) {
            const char *holder = static_cast<const char *>(n->data);
            if (std::strcmp(holder, me) == 0)
                return 0;
            error(1, 0, "Revision %s of %s is already locked by %s", xrev, rcs->path, holder);
        }
    } else {
        rcs->locks = getlist();
        rcs->locks_data.reset();
        locks = rcs->locks;
    }
    Node *n = getnode();
    n->key = xrev;
    node_set_string(n, me);
    addnode_at_front(locks, n);
    if (!lock_quiet)
        jol_outerr(xrev + " locked\n");
    return 0;
}

namespace {

BrokenLockHook broken_lock_hook = nullptr;

// The file and repository directory of archive `path` (an archive in the
// Attic belongs to the directory above it).
void tell_of_broken_lock(const std::string &path) {
    if (!broken_lock_hook)
        return;
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    if (file.size() > 2 && file.compare(file.size() - 2, 2, ",v") == 0)
        file.resize(file.size() - 2);
    const std::string attic = "/Attic";
    if (dir.size() > attic.size() && dir.compare(dir.size() - attic.size(), attic.size(), attic) == 0)
        dir.resize(dir.size() - attic.size());
    broken_lock_hook(file, dir);
}

}  // namespace

void set_broken_lock_hook(BrokenLockHook hook) { broken_lock_hook = hook; }

int RCS_unlock(RCSNode *rcs, const char *rev, int unlock_quiet) {
    RCS_complete(rcs);
    const char *me = getcaller();
    std::string xrev;
    if (!rev) {
        if (rcs->head.empty()) {
            if (!unlock_quiet)
                jol_outerr("can't unlock an empty tree\n");
            return 0;
        }
        List *locks = RCS_getlocks(rcs);
        if (!locks) {
            if (!unlock_quiet)
                jol_outerr("No locks are set.\n");
            return 0;
        }
        int count = 0;
        JOL_FOR_EACH_NODE(locks, p) {
            ++count;
            xrev = *p->key;
        }
        if (count > 1) {
            if (!unlock_quiet)
                error(0, 0, "%s: multiple revisions locked by %s; please specify one", rcs->path,
                      me);
            return 1;
        }
        if (count == 0)
            return 0;
    } else if (RCS_nodeisbranch(rcs, rev)) {
        std::string branch = std::isdigit(static_cast<unsigned char>(*rev))
                                 ? std::string(rev)
                                 : RCS_whatbranch(rcs, rev).value_or("");
        auto tip = RCS_getbranch(rcs, branch, 1);
        if (!tip) {
            error(0, 0, "%s: branch %s absent", rcs->path, rev);
            return 1;
        }
        xrev = *tip;
    } else {
        xrev = rev;
    }
    List *locks = RCS_getlocks(rcs);
    Node *n = locks ? findnode(locks, xrev) : nullptr;
    if (!n)
        return 0;
    if (std::strcmp(static_cast<const char *>(n->data), me) != 0)
        tell_of_broken_lock(rcs->path);
    delnode(n);
    if (!unlock_quiet)
        jol_outerr(xrev + " unlocked\n");
    return 0;
}

void RCS_addaccess(RCSNode *rcs, const char *user) {
    RCS_complete(rcs);
    std::string &a = rcs->access;
    size_t i = 0;
    while (i < a.size()) {
        size_t j = a.find(' ', i);
        if (j == std::string::npos)
            j = a.size();
        if (a.compare(i, j - i, user) == 0 && j - i == std::strlen(user))
            return;
        i = j + 1;
    }
    if (a.empty())
        a = user;
    else
        a += std::string(" ") + user;
}

void RCS_delaccess(RCSNode *rcs, const char *user) {
    RCS_complete(rcs);
    std::string &a = rcs->access;
    if (!user) {
        a.clear();
        return;
    }
    size_t i = 0, len = std::strlen(user);
    while (i < a.size()) {
        size_t j = a.find(' ', i);
        if (j == std::string::npos)
            j = a.size();
        if (j - i == len && a.compare(i, len, user) == 0) {
            a.erase(i, j < a.size() ? j - i + 1 : j - i);
            return;
        }
        i = j + 1;
    }
}

const std::string &RCS_getaccess(RCSNode *rcs) {
    RCS_complete(rcs);
    return rcs->access;
}
