// Outdating: removing a range of revisions from one line of an archive in
// memory. The revision after the range gets a new text, computed and
// checked against its old text here; the writer leaves the outdated
// revisions out.
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "src/base/error.h"
#include "src/base/output.h"
#include "src/rcs/diff_invoke.h"
#include "src/rcs/rcs_admin.h"
#include "src/rcs/rcs_internal.h"

OutdateScriptHook outdate_script_hook = nullptr;

namespace {

// One end of the range: a revision, and whether it goes too.
struct End {
    std::optional<std::string> rev;
    bool inclusive = false;
};

bool on_trunk(const std::string &rev) { return numdots(rev) == 1; }

const std::string &next_of(RCSNode *rcs, const std::string &rev) {
    static const std::string none;
    RCSVers *v = RCS_findvers(rcs, rev);
    return v ? v->next : none;
}

// The revision `rev` of a branch number or magic branch number grows from.
std::string root_of_branch(const std::string &value) {
    std::string b = value;
    if (is_magic_revnum(b)) {
        size_t z = b.rfind(".0.");
        return b.substr(0, z);
    }
    return b.substr(0, b.rfind('.'));
}

// Every revision a symbol names, directly or as the root of its branch.
std::set<std::string> tagged_revisions(RCSNode *rcs) {
    std::set<std::string> out;
    List *symbols = RCS_symbols(rcs);
    if (!symbols)
        return out;
    JOL_FOR_EACH_NODE(symbols, p) {
        std::string value = static_cast<const char *>(p->data);
        if (value.empty())
            continue;
        if (numdots(value) % 2 == 0 || is_magic_revnum(value))
            out.insert(root_of_branch(value));
        else
            out.insert(value);
    }
    return out;
}

// Resolves one end: none when the tag is absent, else an existing revision
// or, after the message, failure.
bool resolve_end(RCSNode *rcs, const char *tag, bool inclusive, End &end) {
    end.inclusive = inclusive;
    if (!tag)
        return true;
    auto rev = RCS_gettag(rcs, tag, 1, nullptr);
    if (!rev || !RCS_findvers(rcs, *rev)) {
        error(0, 0, "%s: Revision %s doesn't exist.", rcs->path, tag);
        return false;
    }
    end.rev = *rev;
    return true;
}

// Puts the ends in the order of `next`: down the trunk, up a branch.
void order_ends(End &e1, End &e2) {
    if (!e1.rev || !e2.rev)
        return;
    int cmp = compare_revnums(*e1.rev, *e2.rev);
    bool swap = on_trunk(*e1.rev) ? cmp <= 0 : cmp > 0;
    if (swap)
        std::swap(e1, e2);
}

// The first revision of the line `rev` lies on: the head for the trunk
// (the archive's own head, whatever the default branch).
std::optional<std::string> line_start(RCSNode *rcs, const std::string &rev) {
    if (on_trunk(rev))
        return rcs->head.empty() ? std::nullopt : std::optional<std::string>(rcs->head);
    return RCS_getbranchpoint(rcs, rev.c_str());
}

// The revision a branch grows from, for a revision on that branch.
std::string branch_root(const std::string &rev) {
    std::string branch = rev.substr(0, rev.rfind('.'));
    return branch.substr(0, branch.rfind('.'));
}

struct Range {
    std::optional<std::string> before;  // kept revision linking to the range
    std::string first;                  // first revision removed
    std::vector<std::string> removed;   // in `next` order
    std::optional<std::string> after;   // kept revision following the range
    bool first_on_branch = false;       // `first` hangs off before's branches
};

// Finds "before" and moves the start past it when the start is exclusive.
bool find_before(RCSNode *rcs, End &e1, const End &e2, Range &r) {
    const std::string &anchor = e1.rev ? *e1.rev : *e2.rev;
    auto start = line_start(rcs, anchor);
    if (!start)
        return false;
    if (!e1.rev) {
        e1.rev = *start;
        e1.inclusive = true;
        if (!on_trunk(*start)) {
            r.before = branch_root(*start);
            r.first_on_branch = true;
        }
        return true;
    }
    if (*e1.rev != *start) {
        std::string cur = *start;
        size_t guard = 0;
        while (next_of(rcs, cur) != *e1.rev) {
            cur = next_of(rcs, cur);
            if (cur.empty() || ++guard > 10000000) {
                error(0, 0, "%s: Revision %s doesn't exist.", rcs->path, *e1.rev);
                return false;
            }
        }
        if (e1.inclusive) {
            r.before = cur;
        } else {
            r.before = *e1.rev;
            e1.rev = next_of(rcs, *e1.rev);
        }
        return true;
    }
    if (!e1.inclusive) {
        r.before = *e1.rev;
        e1.rev = next_of(rcs, *e1.rev);
    } else if (!on_trunk(*e1.rev)) {
        r.before = branch_root(*e1.rev);
        r.first_on_branch = true;
    }
    return true;
}

// Refuses a revision that must stay; true when it may go.
bool removable(RCSNode *rcs, const std::string &rev, const std::set<std::string> &tagged) {
    List *locks = RCS_getlocks(rcs);
    if (locks && findnode(locks, rev)) {
        error(0, 0, "%s: can't remove locked revision %s", rcs->path, rev);
        return false;
    }
    RCSVers *v = RCS_findvers(rcs, rev);
    if (v->branches && !list_isempty(v->branches)) {
        error(0, 0, "%s: can't remove branch point %s", rcs->path, rev);
        return false;
    }
    // A symbol left naming a removed revision would name nothing.
    if (tagged.count(rev)) {
        error(0, 0, "cannot remove revision %s because it has tags", rev);
        return false;
    }
    return true;
}

// Walks the range, checking and announcing each revision. 1 on refusal,
// -1 for an empty range, 0 otherwise.
int walk_range(RCSNode *rcs, const End &e1, const End &e2, int inclusive, const char *tag1,
               const char *tag2, Range &r) {
    const std::set<std::string> tagged = tagged_revisions(rcs);
    std::string cur = e1.rev ? *e1.rev : std::string();
    bool reached = false;
    while (!cur.empty()) {
        if (e2.rev && cur == *e2.rev) {
            reached = true;
            if (!e2.inclusive)
                break;
        }
        if (!removable(rcs, cur, tagged))
            return 1;
        jol_output("deleting revision " + cur + "\n");
        r.removed.push_back(cur);
        if (reached)
            break;
        cur = next_of(rcs, cur);
        if (r.removed.size() > 10000000)
            break;
    }
    if (e2.rev && !reached) {
        if (!inclusive)
            return -1;
        error(0, 0, "%s: invalid revision range %s:%s", rcs->path, tag1 ? tag1 : "",
              tag2 ? tag2 : "");
        return 1;
    }
    if (e2.rev) {
        const std::string &after = e2.inclusive ? next_of(rcs, *e2.rev) : *e2.rev;
        if (!after.empty())
            r.after = after;
    }
    if (r.removed.empty())
        return -1;
    r.first = r.removed.front();
    return 0;
}

std::string fetch(RCSNode *rcs, const std::string &rev) {
    std::string text;
    RCS_deltas(rcs, rev.c_str(), RCS_FETCH, &text, nullptr);
    return text;
}

// The new stored text of "after": whole when it becomes the head, else the
// edit script from "before". The script is applied back to "before" and
// must give "after" exactly; anything else leaves the archive alone.
std::optional<std::string> new_after_text(RCSNode *rcs, const Range &r) {
    std::string after_text = fetch(rcs, *r.after);
    if (!r.before)
        return after_text;
    std::string before_text = fetch(rcs, *r.before);
    const char *opts = rcs->expand == "b" ? "-a -n --binary" : "-a -n";
    std::string script;
    int status = diff_texts(before_text, after_text, opts, script);
    if (status != 0 && status != 1) {
        error(0, 0, "%s: could not diff", rcs->path);
        return std::nullopt;
    }
    if (outdate_script_hook)
        outdate_script_hook(script);
    std::string rebuilt;
    if (!rcs_change_text(rcs->path.c_str(), before_text, script, rebuilt) ||
        rebuilt != after_text) {
        error(0, 0, "%s: outdating would change the text of revision %s", rcs->path, *r.after);
        return std::nullopt;
    }
    return script;
}

// Replaces `from` by `to` (removes it when `to` is empty) in a branch list,
// keeping the order of the others.
void replace_branch(RCSVers *v, const std::string &from, const std::string &to) {
    std::vector<std::string> keys;
    JOL_FOR_EACH_NODE(v->branches, p) {
        if (*p->key != from)
            keys.push_back(*p->key);
        else if (!to.empty())
            keys.push_back(to);
    }
    dellist(&v->branches);
    if (keys.empty())
        return;
    v->branches = getlist();
    for (const std::string &k : keys) {
        Node *n = getnode();
        n->key = k;
        if (addnode(v->branches, n) != 0)
            freenode(n);
    }
}

}  // namespace

int RCS_delete_revs(RCSNode *rcs, const char *tag1, const char *tag2, int inclusive) {
    if (!tag1 && !tag2)
        return 0;
    RCS_complete(rcs);
    End e1, e2;
    if (!resolve_end(rcs, tag1, inclusive != 0, e1) || !resolve_end(rcs, tag2, inclusive != 0, e2))
        return 1;
    if (!e2.rev && e1.rev && on_trunk(*e1.rev) && !rcs->head.empty())
        e2.rev = rcs->head;
    if (!e2.rev || !tag2)
        e2.inclusive = true;
    order_ends(e1, e2);
    if (!e1.rev && e2.rev && on_trunk(*e2.rev)) {
        e1 = e2;
        e2 = End{std::nullopt, true};
    }

    Range r;
    if (!find_before(rcs, e1, e2, r))
        return 1;
    int walked = walk_range(rcs, e1, e2, inclusive, tag1, tag2, r);
    if (walked != 0)
        return walked < 0 ? 0 : 1;
    if (!r.before && !r.after)
        error(1, 0, "attempt to delete all revisions");

    if (r.after) {
        RCSVers *av = RCS_findvers(rcs, *r.after);
        if (av->pending_text)
            error(1, 0, "internal error: %s: revision %s already has a new text", rcs->path,
                  *r.after);
        auto text = new_after_text(rcs, r);
        if (!text)
            return 1;
        av->pending_text = std::move(*text);
    }

    for (const std::string &rev : r.removed)
        RCS_findvers(rcs, rev)->outdated = 1;
    if (!r.before) {
        rcs->head = *r.after;
    } else if (r.first_on_branch) {
        replace_branch(RCS_findvers(rcs, *r.before), r.first, r.after.value_or(""));
    } else {
        RCS_findvers(rcs, *r.before)->next = r.after.value_or("");
    }
    return 0;
}
