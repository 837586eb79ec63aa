// Selecting revisions of an archive by number, tag, branch or date.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "src/base/error.h"
#include "src/rcs/rcs_internal.h"

namespace {

bool starts_with_digit(const char *s) { return s && std::isdigit(static_cast<unsigned char>(*s)); }

// "branch." prefix test for entries of a branches list.
bool on_branch(std::string_view rev, std::string_view branch) {
    return rev.size() > branch.size() && rev.compare(0, branch.size(), branch) == 0 &&
           rev[branch.size()] == '.';
}

const std::string *first_branch_entry(const RCSVers *vers, std::string_view branch) {
    if (!vers->branches)
        return nullptr;
    JOL_FOR_EACH_NODE(vers->branches, p) {
        if (on_branch(*p->key, branch))
            return &*p->key;
    }
    return nullptr;
}

std::optional<std::string> head_unless(RCSNode *rcs, int force) {
    if (force)
        return std::nullopt;
    return RCS_head(rcs);
}

// The branch number of a magic branch number (1.4.0.2 gives 1.4.2).
std::string magic_to_branch(std::string_view magic) {
    size_t last = magic.rfind('.');
    size_t prev = magic.rfind('.', last - 1);
    return std::string(magic.substr(0, prev)) + std::string(magic.substr(last));
}

// A chain of "next" links never has more steps than the archive has
// revisions; a damaged archive whose links form a cycle stops there.
size_t walk_limit(RCSNode *rcs) {
    size_t n = 0;
    if (rcs->versions)
        JOL_FOR_EACH_NODE(rcs->versions, p) ++n;
    return n;
}

}  // namespace

std::optional<std::string> RCS_head(RCSNode *rcs) {
    if (!rcs->branch.empty())
        return RCS_getbranch(rcs, rcs->branch, 1);
    if (rcs->head.empty())
        return std::nullopt;
    return rcs->head;
}

std::optional<std::string> RCS_getversion(RCSNode *rcs, const char *tag, const char *date,
                                          int force_tag_match, int *simple_tag) {
    if (simple_tag)
        *simple_tag = 0;
    if (tag && date) {
        if (!RCS_nodeisbranch(rcs, tag))
            return std::nullopt;
        std::string branch;
        if (starts_with_digit(tag)) {
            branch = tag;
        } else {
            auto b = RCS_whatbranch(rcs, tag);
            if (!b)
                return std::nullopt;
            branch = *b;
        }
        return RCS_getdatebranch(rcs, date, branch);
    }
    if (tag)
        return RCS_gettag(rcs, tag, force_tag_match, simple_tag);
    if (date)
        return RCS_getdate(rcs, date, force_tag_match);
    return RCS_head(rcs);
}

std::optional<std::string> RCS_gettag(RCSNode *rcs, const char *symtag, int force_tag_match,
                                      int *simple_tag) {
    if (simple_tag)
        *simple_tag = 0;
    RCS_complete(rcs);
    if (!symtag || !*symtag || std::strcmp(symtag, "HEAD") == 0)
        return RCS_head(rcs);
    std::string tag;
    if (!starts_with_digit(symtag)) {
        auto value = translate_symtag(rcs, symtag);
        if (!value)
            return head_unless(rcs, force_tag_match);
        if (is_magic_revnum(*value)) {
            std::string branch = magic_to_branch(*value);
            if (auto rev = RCS_getbranch(rcs, branch, 1))
                return rev;
            return value->substr(0, value->rfind(".0."));
        }
        tag = *value;
    } else {
        tag = symtag;
    }
    while (!tag.empty() && tag.back() == '.')
        tag.pop_back();
    if (numdots(tag) % 2 == 0)
        return RCS_getbranch(rcs, tag, force_tag_match);
    if (findnode(rcs->versions, tag)) {
        if (simple_tag)
            *simple_tag = 1;
        return tag;
    }
    return head_unless(rcs, force_tag_match);
}

std::string RCS_tag2rev(RCSNode *rcs, const char *tag) {
    RCS_complete(rcs);
    if (RCS_valid_rev(tag)) {
        if (RCS_exist_rev(rcs, tag))
            return tag;
        if (numdots(tag) % 2 == 1)
            error(1, 0, "revision `%s' does not exist", tag);
        if (auto rev = RCS_getbranch(rcs, tag, 1)) {
            (void)rev;
            return tag;
        }
        std::string t = tag;
        size_t dot = t.rfind('.');
        std::string magic = t.substr(0, dot) + ".0" + t.substr(dot);
        List *symbols = RCS_symbols(rcs);
        if (symbols)
            JOL_FOR_EACH_NODE(symbols, p) {
                if (std::strcmp(static_cast<const char *>(p->data), magic.c_str()) == 0)
                    return magic;
            }
        error(1, 0, "revision `%s' does not exist", tag);
    }
    RCS_check_tag(tag);
    if (std::strcmp(tag, "HEAD") == 0) {
        auto h = RCS_head(rcs);
        return h ? *h : std::string();
    }
    auto value = translate_symtag(rcs, tag);
    if (!value)
        error(1, 0, "tag `%s' does not exist", tag);
    return *value;
}

std::optional<std::string> RCS_getbranch(RCSNode *rcs, std::string_view branch,
                                         int force_tag_match) {
    RCS_complete(rcs);
    if (branch.find('.') == std::string_view::npos) {
        std::string cur = rcs->head;
        const size_t limit = walk_limit(rcs);
        for (size_t guard = 0; !cur.empty() && guard <= limit; ++guard) {
            RCSVers *v = RCS_findvers(rcs, cur);
            if (!v)
                break;
            if (on_branch(cur, branch))
                return cur;
            cur = v->next;
        }
        return head_unless(rcs, force_tag_match);
    }
    std::string point(branch.substr(0, branch.rfind('.')));
    RCSVers *vp = RCS_findvers(rcs, point);
    if (!vp)
        return head_unless(rcs, force_tag_match);
    if (!vp->branches)
        return std::nullopt;
    const std::string *first = first_branch_entry(vp, branch);
    if (!first)
        return head_unless(rcs, force_tag_match);
    std::string cur = *first;
    const size_t limit = walk_limit(rcs);
    for (size_t guard = 0;; ++guard) {
        RCSVers *v = RCS_findvers(rcs, cur);
        if (!v)
            return head_unless(rcs, force_tag_match);
        if (v->next.empty())
            return cur;
        if (guard > limit)
            return head_unless(rcs, force_tag_match);
        cur = v->next;
    }
}

std::optional<std::string> RCS_branch_head(RCSNode *rcs, const char *rev) {
    if (RCS_nodeisbranch(rcs, rev)) {
        if (starts_with_digit(rev))
            return RCS_getbranch(rcs, rev, 1);
        auto b = RCS_whatbranch(rcs, rev);
        if (!b)
            return std::nullopt;
        return RCS_getbranch(rcs, *b, 1);
    }
    std::string num;
    if (starts_with_digit(rev)) {
        num = rev;
    } else {
        auto t = translate_symtag(rcs, rev);
        if (!t)
            return std::nullopt;
        num = *t;
    }
    size_t dot = num.rfind('.');
    if (dot == std::string::npos)
        return std::nullopt;
    return RCS_getbranch(rcs, num.substr(0, dot), 1);
}

std::optional<std::string> RCS_getbranchpoint(RCSNode *rcs, const char *target) {
    int dots = numdots(target);
    if (dots == 0)
        error(1, 0, "%s: confused revision number %s", rcs->path, target);
    if (dots == 1)
        return RCS_head(rcs);
    std::string t = target;
    std::string branch = dots % 2 == 0 ? t : t.substr(0, t.rfind('.'));
    std::string point = branch.substr(0, branch.rfind('.'));
    RCSVers *vp = RCS_findvers(rcs, point);
    const std::string *first = vp ? first_branch_entry(vp, branch) : nullptr;
    if (!first) {
        error(0, 0, "%s: can't find branch point %s", rcs->path, target);
        return std::nullopt;
    }
    return *first;
}

std::optional<std::string> RCS_getdatebranch(RCSNode *rcs, const char *date,
                                             std::string_view branch) {
    size_t dot = branch.rfind('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    RCSVers *vp = RCS_findvers(rcs, branch.substr(0, dot));
    if (!vp)
        return std::nullopt;
    std::optional<std::string> cur;
    if (RCS_datecmp(vp->date, date) <= 0)
        cur = vp->version;
    const std::string *first = first_branch_entry(vp, branch);
    if (!first)
        return cur;
    std::string rev = *first;
    size_t guard = 0;
    const size_t limit = walk_limit(rcs);
    while (!rev.empty() && guard++ <= limit) {
        RCSVers *v = RCS_findvers(rcs, rev);
        if (!v || RCS_datecmp(v->date, date) > 0)
            break;
        cur = v->version;
        rev = v->next;
    }
    return cur;
}

std::optional<std::string> RCS_getdate(RCSNode *rcs, const char *date, int force_tag_match) {
    RCS_complete(rcs);
    if (!rcs->branch.empty())
        if (auto r = RCS_getdatebranch(rcs, date, rcs->branch))
            return r;
    RCSVers *last = nullptr;
    RCSVers *found = nullptr;
    std::string cur = rcs->head;
    size_t guard = 0;
    const size_t limit = walk_limit(rcs);
    while (!cur.empty() && guard++ <= limit) {
        RCSVers *v = RCS_findvers(rcs, cur);
        if (!v)
            break;
        last = v;
        if (RCS_datecmp(v->date, date) <= 0) {
            found = v;
            break;
        }
        cur = v->next;
    }
    if (found && found->version != "1.1")
        return found->version;
    if (found) {
        if (RCSVers *vendor = RCS_findvers(rcs, "1.1.1.1")) {
            last = vendor;
            if (RCS_datecmp(vendor->date, date) != 0)
                return std::string("1.1");
        }
    }
    if (auto r = RCS_getdatebranch(rcs, date, "1.1.1"))
        return r;
    if (last && (!force_tag_match || RCS_datecmp(last->date, date) <= 0))
        return last->version;
    return std::nullopt;
}

int64_t RCS_getrevtime(RCSNode *rcs, const char *rev, std::string *date, int fudge) {
    RCSVers *v = RCS_findvers(rcs, rev);
    if (!v)
        return -1;
    int y, m, d, H, M, S;
    if (std::sscanf(v->date.c_str(), "%d.%d.%d.%d.%d.%d", &y, &m, &d, &H, &M, &S) != 6)
        return -1;
    if (y < 100)
        y += 1900;
    if (m < 1 || m > 12 || d < 1 || d > 31 || H < 0 || H > 23 || M < 0 || M > 59 || S < 0 ||
        S > 61)
        return -1;
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_hour = H;
    tm.tm_min = M;
    tm.tm_sec = S;
    int64_t t = static_cast<int64_t>(timegm(&tm));
    if (t == -1)
        return -1;
    t -= fudge;
    if (date) {
        time_t tt = static_cast<time_t>(t);
        struct tm out;
        gmtime_r(&tt, &out);
        int year = out.tm_year < 100 ? out.tm_year : out.tm_year + 1900;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%02d.%02d.%02d.%02d.%02d.%02d", year, out.tm_mon + 1,
                      out.tm_mday, out.tm_hour, out.tm_min, out.tm_sec);
        *date = buf;
    }
    return t;
}

std::optional<std::string> translate_symtag(RCSNode *rcs, const char *tag) {
    RCS_complete(rcs);
    if (!tag || !*tag)
        return std::nullopt;
    if (rcs->symbols) {
        if (Node *n = findnode(rcs->symbols, tag))
            return std::string(static_cast<const char *>(n->data));
        return std::nullopt;
    }
    if (!rcs->symbols_data)
        return std::nullopt;
    std::string_view cp = *rcs->symbols_data;
    std::string_view t = tag;
    size_t i = 0;
    while (i < cp.size()) {
        size_t hit = cp.find(t[0], i);
        if (hit == std::string_view::npos)
            break;
        bool at_start = hit == 0 || rcs_is_whitespace(cp[hit - 1]);
        if (at_start && cp.compare(hit, t.size(), t) == 0 && hit + t.size() < cp.size() &&
            cp[hit + t.size()] == ':') {
            size_t v = hit + t.size() + 1;
            size_t e = v;
            while (e < cp.size() && !rcs_is_whitespace(cp[e]))
                ++e;
            return std::string(cp.substr(v, e - v));
        }
        // Resume at the next whitespace.
        size_t ws = hit;
        while (ws < cp.size() && !rcs_is_whitespace(cp[ws]))
            ++ws;
        i = ws;
    }
    return std::nullopt;
}

int RCS_exist_tag(RCSNode *rcs, const char *tag) {
    List *symbols = RCS_symbols(rcs);
    return symbols && findnode(symbols, tag) != nullptr;
}

int RCS_exist_rev(RCSNode *rcs, const char *rev) {
    RCS_complete(rcs);
    if (findnode(rcs->versions, rev))
        return 1;
    List *symbols = RCS_symbols(rcs);
    if (symbols)
        JOL_FOR_EACH_NODE(symbols, p) {
            if (std::strcmp(static_cast<const char *>(p->data), rev) == 0)
                return 1;
        }
    return 0;
}

int RCS_isdead(RCSNode *rcs, const char *rev) {
    RCSVers *v = RCS_findvers(rcs, rev);
    return v ? v->dead : 0;
}

const std::string &RCS_getexpand(RCSNode *rcs) { return rcs->expand; }

void RCS_setexpand(RCSNode *rcs, const char *mode) {
    RCS_complete(rcs);
    rcs->expand = mode ? mode : "";
}

int RCS_isbranch(RCSNode *rcs, const char *rev) {
    if (starts_with_digit(rev))
        return numdots(rev) % 2 == 0;
    if (!rcs)
        return 0;
    return RCS_nodeisbranch(rcs, rev);
}

int RCS_nodeisbranch(RCSNode *rcs, const char *rev) {
    if (starts_with_digit(rev))
        return numdots(rev) % 2 == 0;
    auto value = translate_symtag(rcs, rev);
    if (!value)
        return 0;
    if (numdots(*value) % 2 == 0)
        return 1;
    return is_magic_revnum(*value);
}

std::optional<std::string> RCS_whatbranch(RCSNode *rcs, const char *tag) {
    if (!rcs)
        return std::nullopt;
    auto value = translate_symtag(rcs, tag);
    if (!value)
        return std::nullopt;
    if (numdots(*value) % 2 == 0)
        return value;
    if (is_magic_revnum(*value))
        return magic_to_branch(*value);
    return std::nullopt;
}

std::string RCS_magicrev(RCSNode *rcs, const char *rev) {
    List *symbols = RCS_symbols(rcs);
    for (unsigned long n = 2;; n += 2) {
        std::string branch = std::string(rev) + "." + std::to_string(n);
        if (RCS_getbranch(rcs, branch, 1))
            continue;
        std::string magic = std::string(rev) + ".0." + std::to_string(n);
        bool used = false;
        if (symbols)
            JOL_FOR_EACH_NODE(symbols, p) {
                if (std::strcmp(static_cast<const char *>(p->data), magic.c_str()) == 0) {
                    used = true;
                    break;
                }
            }
        if (!used)
            return magic;
    }
}
