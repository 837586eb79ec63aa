// The archive writer: administrative section, delta tree and description
// from memory, revision texts parsed and rewritten only where something
// changes, and the rest of the old file copied byte for byte.
#include "src/rcs/rcs_write.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <set>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/rcs/rcs_internal.h"

namespace {

void put(FILE *fp, std::string_view s) { std::fwrite(s.data(), 1, s.size(), fp); }

void put_doubled(FILE *fp, std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const void *at = std::memchr(s.data() + i, '@', s.size() - i);
        size_t j = at ? static_cast<size_t>(static_cast<const char *>(at) - s.data()) + 1 : s.size();
        std::fwrite(s.data() + i, 1, j - i, fp);
        if (at)
            std::fputc('@', fp);
        i = j;
    }
}

void putrcsfield(FILE *fp, const Node *p) {
    const std::string &key = *p->key;
    if (!key.empty() && key[0] == ';')
        return;
    const char *value = static_cast<const char *>(p->data);
    put(fp, "\n");
    put(fp, key);
    put(fp, "\t");
    if (p->type == RCSCMPFLD) {
        put(fp, value);
    } else if (std::strpbrk(value, "$,.:;@")) {
        put(fp, "@");
        put_doubled(fp, value);
        put(fp, "@");
    } else {
        put(fp, value);
    }
    if (key != "desc" && key != "log" && key != "text")
        put(fp, ";");
}

void putfields(FILE *fp, List *l) {
    if (l)
        JOL_FOR_EACH_NODE(l, p) putrcsfield(fp, p);
}

void putdelta(const RCSVers *v, FILE *fp) {
    put(fp, "\n" + v->version + "\ndate\t" + v->date + ";\tauthor " + v->author +
                ";\tstate " + v->state + ";\nbranches");
    if (v->branches)
        JOL_FOR_EACH_NODE(v->branches, p) put(fp, "\n\t" + *p->key);
    put(fp, ";\nnext\t" + v->next + ";");
    putfields(fp, v->other_delta);
    put(fp, "\n");
}

// Follows a symbolic link at the archive's path, so that the link's target
// is what gets replaced. Bounded, so a loop of links ends.
std::string resolved_path(const std::string &path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        char buf[PATH_MAX];
        ssize_t n = readlink(p.c_str(), buf, sizeof buf - 1);
        if (n < 0)
            return p;
        std::string target(buf, static_cast<size_t>(n));
        if (!target.empty() && target[0] != '/') {
            size_t slash = p.rfind('/');
            if (slash != std::string::npos)
                target = p.substr(0, slash + 1) + target;
        }
        p = target;
    }
    error(1, 0, "too many levels of symbolic links at %s", path);
    return p;
}

void put_text_of(FILE *fp, const std::string &rev, std::string_view log, List *other,
                 std::string_view text) {
    put(fp, "\n\n" + rev + "\nlog\n@");
    put_doubled(fp, log);
    if (log.empty() || log.back() != '\n')
        put(fp, "\n");
    put(fp, "@");
    putfields(fp, other);
    put(fp, "\ntext\n@");
    put_doubled(fp, text);
    put(fp, "@\n");
}

}  // namespace

// Format: doc/formats.md#rcs-archive-as-written
std::string rcs_date_of(time_t t) {
    struct tm tm;
    gmtime_r(&t, &tm);
    int year = tm.tm_year + 1900;
    if (year < 2000)
        year -= 1900;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%02d.%02d.%02d.%02d", year, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

void RCS_putadmin(RCSNode *rcs, FILE *fp) {
    put(fp, "head\t" + rcs->head + ";\n");
    if (!rcs->branch.empty())
        put(fp, "branch\t" + rcs->branch + ";\n");
    put(fp, "access");
    {
        std::string_view a = rcs->access;
        size_t i = 0;
        while (i < a.size()) {
            size_t j = a.find_first_of(" \t\n", i);
            if (j == std::string_view::npos)
                j = a.size();
            if (j > i) {
                put(fp, "\n\t");
                put(fp, a.substr(i, j - i));
            }
            i = j + 1;
        }
    }
    put(fp, ";\nsymbols");
    if (!rcs->symbols && rcs->symbols_data) {
        put(fp, "\n\t");
        put(fp, *rcs->symbols_data);
    } else if (rcs->symbols) {
        JOL_FOR_EACH_NODE(rcs->symbols, p) {
            put(fp, "\n\t" + *p->key + ":");
            put(fp, static_cast<const char *>(p->data));
        }
    }
    put(fp, ";\nlocks");
    if (!rcs->locks && rcs->locks_data) {
        put(fp, "\t");
        put(fp, *rcs->locks_data);
    } else if (rcs->locks) {
        JOL_FOR_EACH_NODE(rcs->locks, p) {
            put(fp, "\n\t");
            put(fp, static_cast<const char *>(p->data));
            put(fp, ":" + *p->key);
        }
    }
    if (rcs->strict_locks)
        put(fp, "; strict");
    put(fp, ";\n");
    if (!rcs->comment.empty()) {
        put(fp, "comment\t@");
        put_doubled(fp, rcs->comment);
        put(fp, "@;\n");
    }
    if (!rcs->expand.empty() && rcs->expand != "kv")
        put(fp, "expand\t@" + rcs->expand + "@;\n");
    putfields(fp, rcs->other);
    put(fp, "\n");
}

void RCS_putdtree(RCSNode *rcs, const std::string &rev, FILE *fp) {
    // Depth first: a revision, the whole chain of its "next", then each of
    // its branches. An explicit stack keeps deep histories off the C stack.
    std::vector<std::string> stack;
    std::set<std::string> seen;
    if (!rev.empty())
        stack.push_back(rev);
    while (!stack.empty()) {
        std::string r = stack.back();
        stack.pop_back();
        if (!seen.insert(r).second)
            error(1, 0, "error parsing repository file %s, file may be corrupt.", rcs->path);
        Node *n = findnode(rcs->versions, r);
        if (!n)
            error(1, 0, "error parsing repository file %s, file may be corrupt.", rcs->path);
        const RCSVers *v = static_cast<const RCSVers *>(n->data);
        if (!v->outdated)
            putdelta(v, fp);
        if (v->branches) {
            std::vector<std::string> b;
            JOL_FOR_EACH_NODE(v->branches, p) b.push_back(*p->key);
            for (auto it = b.rbegin(); it != b.rend(); ++it)
                stack.push_back(*it);
        }
        if (!v->next.empty())
            stack.push_back(v->next);
    }
}

void RCS_putdesc(RCSNode *rcs, FILE *fp) {
    put(fp, "\n\ndesc\n@");
    put_doubled(fp, rcs->desc);
    if (!rcs->desc.empty() && rcs->desc.back() != '\n')
        put(fp, "\n");
    put(fp, "@\n");
}

void putdeltatext(FILE *fp, const Deltatext *d) { put_text_of(fp, d->version, d->log, d->other, d->text); }

// Format: doc/formats.md#rcs-archive-as-written
void RCS_rewrite(RCSNode *rcs, const Deltatext *newdtext, const char *insertpt) {
    if (noexec)
        return;
    RCS_complete(rcs);
    RcsBuffer &old = rcs_buffer(rcs);
    const size_t old_delta_pos = static_cast<size_t>(rcs->delta_pos);
    std::string path = resolved_path(rcs->path);
    FILE *fout = rcs_internal_lockfile(path);

    RCS_putadmin(rcs, fout);
    RCS_putdtree(rcs, rcs->head, fout);
    RCS_putdesc(rcs, fout);
    std::fflush(fout);
    long new_delta_pos = std::ftell(fout);
    if (new_delta_pos < 0)
        error(1, errno, "cannot ftell in RCS file %s", path);

    // Texts with something to do: outdated, or with a pending log or text.
    size_t actions = 0;
    JOL_FOR_EACH_NODE(rcs->versions, p) {
        const RCSVers *v = static_cast<const RCSVers *>(p->data);
        if (v->outdated || v->pending_log || v->pending_text)
            ++actions;
    }
    RcsLexer lx(old, old_delta_pos);
    bool newdone = newdtext == nullptr;
    if (actions > 0 || !newdone) {
        const std::string ins = insertpt ? insertpt : "";
        const bool trunk_new = newdtext && numdots(newdtext->version) == 1;
        while (actions > 0 || !newdone) {
            auto d = RCS_getdeltatext(rcs, lx);
            if (!d)
                error(1, 0, "internal error: EOF too early in RCS_copydeltas");
            if (!newdone && trunk_new && d->version == ins) {
                putdeltatext(fout, newdtext);
                newdone = true;
            }
            RCSVers *v = RCS_findvers(rcs, d->version);
            bool counted = v->outdated || v->pending_log || v->pending_text;
            if (!v->outdated) {
                put_text_of(fout, d->version, v->pending_log ? *v->pending_log : d->log, d->other,
                            v->pending_text ? *v->pending_text : d->text);
            }
            if (counted)
                --actions;
            if (!newdone && !trunk_new && d->version == ins) {
                putdeltatext(fout, newdtext);
                newdone = true;
            }
        }
    }

    // The rest of the old file, as it stands.
    size_t from = lx.tell();
    old.ensure(SIZE_MAX);
    std::string_view rest(old.data() + std::min(from, old.loaded()), old.loaded() - std::min(from, old.loaded()));
    if (rest.starts_with("\n\n\n"))
        rest.remove_prefix(1);
    put(fout, rest);

    rcsbuf_cache_close();
    rcs_internal_unlockfile(fout, path);
    rcs->delta_pos = new_delta_pos;

    // The file now matches memory: pending texts are written, outdated
    // revisions gone.
    std::vector<Node *> gone;
    JOL_FOR_EACH_NODE(rcs->versions, p) {
        RCSVers *v = static_cast<RCSVers *>(p->data);
        v->pending_log.reset();
        v->pending_text.reset();
        if (v->outdated)
            gone.push_back(p);
    }
    for (Node *p : gone)
        delnode(p);
}

void RCS_abandon(RCSNode *rcs) {
    rcsbuf_cache_close();
    rcs->symbols_data.reset();
    rcs->expand.clear();
    dellist(&rcs->symbols);
    rcs->access.clear();
    rcs->locks_data.reset();
    dellist(&rcs->locks);
    rcs->comment.clear();
    rcs->desc.clear();
    rcs->strict_locks = 0;
    dellist(&rcs->other);
    dellist(&rcs->versions);
    rcs->flags |= ARCHIVE_PARTIAL;
}
