// Reading archive files into RCSNode records: the quick partial read of the
// first phrases, the complete read of the revision tree, the full read of
// the texts, and the one-entry cache of the open archive.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/globals.h"
#include "src/rcs/rcs_internal.h"

namespace {

RCSNode *cached_rcs = nullptr;

void cache(RCSNode *rcs) {
    if (cached_rcs && cached_rcs != rcs)
        cached_rcs->buf.reset();
    cached_rcs = rcs;
}

void rcsvers_delproc(Node *p) { delete static_cast<RCSVers *>(p->data); }

std::string cut_to_branch(std::string b) {
    if (numdots(b) % 2 == 1)
        b.resize(b.rfind('.'));
    return b;
}

bool is_delta_start(const Phrase &ph) {
    return is_revnum_key(ph.key) && ph.kind == Phrase::Kind::plain && ph.value.starts_with("date") &&
           (ph.value.size() == 4 || rcs_is_whitespace(ph.value[4]));
}

List *split_keys(std::string_view value) {
    List *l = getlist();
    size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && rcs_is_whitespace(value[i]))
            ++i;
        size_t start = i;
        while (i < value.size() && !rcs_is_whitespace(value[i]))
            ++i;
        if (i > start) {
            Node *n = getnode();
            n->key = std::string(value.substr(start, i - start));
            if (addnode(l, n) != 0)
                freenode(n);
        }
    }
    return l;
}

// Symbols ("tag:rev") and locks ("user:rev") as lists in file order.
List *split_pairs(RCSNode *rcs, std::string_view value, bool key_first, const char *what) {
    List *l = getlist();
    size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && rcs_is_whitespace(value[i]))
            ++i;
        size_t start = i;
        while (i < value.size() && !rcs_is_whitespace(value[i]))
            ++i;
        if (i == start)
            continue;
        std::string_view item = value.substr(start, i - start);
        size_t colon = item.find(':');
        if (colon == std::string_view::npos) {
            error(0, 0, "warning: %s item `%s' without `:' in RCS file `%s' ignored", what,
                  std::string(item), rcs->path);
            continue;
        }
        std::string_view a = item.substr(0, colon), b = item.substr(colon + 1);
        list_add_text(l, key_first ? a : b, key_first ? b : a, NT_UNKNOWN);
    }
    return l;
}

// Format: doc/formats.md#rcs-archive-as-accepted
RCSVers *getdelta(RcsLexer &lx, const std::string &path, Phrase &ph, bool &have_ph, bool &ended) {
    if (!is_delta_start(ph))
        return nullptr;
    auto vers = std::make_unique<RCSVers>();
    vers->version = std::string(ph.key);
    std::string_view d = ph.value.substr(4);
    while (!d.empty() && rcs_is_whitespace(d.front()))
        d.remove_prefix(1);
    vers->date = std::string(d);

    auto next_phrase = [&](const char *eofmsg) {
        if (!lx.getkey(ph))
            error(1, 0, eofmsg, path);
    };
    next_phrase("unexpected end of file reading %s");
    if (ph.key != "author")
        error(1, 0, "unable to parse %s; `author' not in the expected place", path);
    vers->author = ph.copy();
    next_phrase("unexpected end of file reading %s");
    if (ph.key != "state")
        error(1, 0, "unable to parse %s; `state' not in the expected place", path);
    vers->state = ph.copy();
    if (vers->state == "dead")
        vers->dead = 1;

    next_phrase("unexpected end of file reading %s");
    if (ph.key == "desc") {
        error(0, 0, "warning: 'branches' keyword missing from %s", path);
        have_ph = true;
        ended = true;
        return vers.release();
    }
    if (ph.has_value())
        vers->branches = split_keys(ph.value);

    next_phrase("unexpected end of file reading %s");
    if (ph.key == "desc") {
        error(0, 0, "warning: 'next' keyword missing from %s", path);
        have_ph = true;
        ended = true;
        return vers.release();
    }
    vers->next = ph.copy();

    for (;;) {
        if (!lx.getkey(ph))
            error(1, 0, "%s: unexpected EOF", path);
        if (is_delta_start(ph) || ph.key == "desc") {
            have_ph = true;
            return vers.release();
        }
        if (ph.key == "dead" && !ph.has_value()) {
            vers->dead = 1;
            vers->state = "dead";
            continue;
        }
        if (!vers->other_delta)
            vers->other_delta = getlist();
        list_add_text(vers->other_delta, ph.key, ph.copy(!ph.is_mixed()),
                      ph.is_mixed() ? RCSCMPFLD : RCSFIELD);
    }
}

RCSNode *parsercsfile_i(int fd, const char *rcsfile) {
    auto rdata = std::make_unique<RCSNode>();
    rdata->path = rcsfile;
    rdata->buf = std::make_unique<RcsBuffer>(fd, rdata->path);
    RcsLexer lx(*rdata->buf, 0);
    Phrase ph;
    auto invalid = [&]() -> RCSNode * {
        error(0, 0, "`%s' does not appear to be a valid rcs file", rcsfile);
        return nullptr;
    };
    if (!lx.getkey(ph) || ph.key == "desc")
        return invalid();
    if (ph.key == "head" && ph.has_value())
        rdata->head = ph.copy();
    if (!lx.getkey(ph) || ph.key == "desc")
        return invalid();
    if (ph.key == "branch" && ph.has_value())
        rdata->branch = cut_to_branch(ph.copy());
    while (lx.getkey(ph)) {
        if (ph.key == "expand") {
            rdata->expand = ph.copy();
            break;
        }
        if (ph.key == "desc" || is_revnum_key(ph.key))
            break;
    }
    rdata->flags |= ARCHIVE_PARTIAL;
    cache(rdata.get());
    return rdata.release();
}

int open_archive(const std::string &path) {
    return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

}  // namespace

bool is_revnum_key(std::string_view key) {
    if (key.empty())
        return false;
    for (char c : key)
        if (!(c == '.' || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool list_add_text(List *list, std::string_view key, std::string_view text, ntype type) {
    if (findnode(list, key))
        return false;
    Node *n = getnode();
    n->type = type;
    n->key = std::string(key);
    node_set_string(n, text);
    addnode(list, n);
    return true;
}

Deltatext::~Deltatext() { dellist(&other); }

RCSVers::~RCSVers() {
    dellist(&branches);
    dellist(&other);
    dellist(&other_delta);
}

RCSNode::~RCSNode() {
    if (cached_rcs == this)
        cached_rcs = nullptr;
    dellist(&symbols);
    dellist(&versions);
    dellist(&locks);
    dellist(&other);
}

void rcsbuf_cache_close() {
    if (cached_rcs) {
        cached_rcs->buf.reset();
        cached_rcs = nullptr;
    }
}

RcsBuffer &rcs_buffer(RCSNode *rcs) {
    if (!rcs->buf) {
        rcsbuf_cache_close();
        int fd = open_archive(rcs->path);
        if (fd < 0)
            error(1, errno, "unable to reopen `%s'", rcs->path);
        rcs->buf = std::make_unique<RcsBuffer>(fd, rcs->path);
    }
    cache(rcs);
    return *rcs->buf;
}

// Format: doc/formats.md#rcs-archive-as-accepted
RCSNode *RCS_parse(const char *file, const char *repos) {
    rcsbuf_cache_close();
    std::string path = std::string(repos) + "/" + file + ",v";
    int flags = ARCHIVE_VALID;
    int fd = open_archive(path);
    if (fd < 0 && errno == ENOENT) {
        path = std::string(repos) + "/Attic/" + file + ",v";
        flags |= ARCHIVE_IN_ATTIC;
        fd = open_archive(path);
        if (fd < 0 && errno == ENOENT)
            return nullptr;
    }
    if (fd < 0) {
        error(0, errno, "cannot open %s", path);
        return nullptr;
    }
    RCSNode *rcs = parsercsfile_i(fd, path.c_str());
    if (rcs)
        rcs->flags |= flags;
    return rcs;
}

// Format: doc/formats.md#rcs-archive-as-accepted
RCSNode *RCS_parsercsfile(const char *rcsfile) {
    rcsbuf_cache_close();
    int fd = open_archive(rcsfile);
    if (fd < 0) {
        error(0, errno, "Couldn't open rcs file `%s'", rcsfile);
        return nullptr;
    }
    return parsercsfile_i(fd, rcsfile);
}

// Format: doc/formats.md#rcs-archive-as-accepted
void RCS_reparsercsfile(RCSNode *rdata) {
    jol_assert(rdata != nullptr);
    RcsBuffer &buf = rcs_buffer(rdata);
    RcsLexer lx(buf, 0);
    const std::string &path = rdata->path;
    Phrase ph;
    bool have_ph = false;
    for (;;) {
        if (!have_ph && !lx.getkey(ph))
            error(1, 0, "%s: unexpected EOF", path);
        have_ph = false;
        if (is_delta_start(ph) || ph.key == "desc")
            break;
        if (ph.key == "head" || ph.key == "branch" || ph.key == "expand")
            continue;
        if (ph.key == "access") {
            rdata->access = ph.copy(true);
        } else if (ph.key == "locks") {
            if (ph.has_value())
                rdata->locks_data = ph.copy();
            if (!lx.getkey(ph))
                error(1, 0, "premature end of file reading %s", path);
            if (ph.key == "strict" && !ph.has_value())
                rdata->strict_locks = 1;
            else
                have_ph = true;
        } else if (ph.key == "symbols") {
            if (ph.has_value())
                rdata->symbols_data = ph.copy();
        } else if (ph.key == "comment") {
            rdata->comment = ph.copy();
        } else {
            if (!rdata->other)
                rdata->other = getlist();
            if (!list_add_text(rdata->other, ph.key, ph.copy(!ph.is_mixed()),
                               ph.is_mixed() ? RCSCMPFLD : RCSFIELD))
                error(0, 0, "warning: duplicate key `%s' in RCS file `%s'", std::string(ph.key),
                      path);
        }
    }

    if (!rdata->versions)
        rdata->versions = getlist();
    bool ended = false;
    while (!ended && ph.key != "desc") {
        RCSVers *vers = getdelta(lx, path, ph, have_ph, ended);
        if (!vers)
            break;
        Node *n = getnode();
        n->type = RCSVERS;
        n->key = vers->version;
        n->data = vers;
        n->delproc = rcsvers_delproc;
        if (addnode(rdata->versions, n) != 0) {
            error(0, 0, "warning: duplicate key `%s' in RCS file `%s'", vers->version, path);
            freenode(n);
        }
    }
    if (ph.key != "desc")
        error(1, 0, "`%s' does not appear to be a valid rcs file", path);
    rdata->desc = ph.copy(true);
    rdata->delta_pos = static_cast<int64_t>(lx.tell());
    rdata->flags &= ~ARCHIVE_PARTIAL;
}

RCSVers *RCS_findvers(RCSNode *rcs, std::string_view rev) {
    RCS_complete(rcs);
    Node *n = findnode(rcs->versions, rev);
    return n ? static_cast<RCSVers *>(n->data) : nullptr;
}

namespace {

// Totals of lines added and deleted by an edit script.
void count_changes(const std::string &path, std::string_view text, long &added, long &deleted) {
    size_t i = 0;
    auto number = [&]() {
        long n = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (n < 1000000000L)
                n = n * 10 + (text[i] - '0');
            ++i;
        }
        return n;
    };
    while (i < text.size()) {
        char op = text[i++];
        if (op != 'a' && op != 'd')
            error(1, 0, "unrecognized operation '\\x%x' in %s",
                  static_cast<unsigned>(static_cast<unsigned char>(op)), path);
        number();
        if (i >= text.size() || text[i] != ' ')
            error(1, 0, "space expected in %s", path);
        ++i;
        long count = number();
        if (i >= text.size() || text[i] != '\n')
            error(1, 0, "linefeed expected in %s", path);
        ++i;
        if (op == 'd') {
            deleted += count;
            continue;
        }
        added += count;
        for (long l = 0; l < count; ++l) {
            if (i >= text.size()) {
                if (l + 1 < count)
                    error(1, 0, "invalid rcs file %s: premature end of value", path);
                break;
            }
            const void *nl = std::memchr(text.data() + i, '\n', text.size() - i);
            i = nl ? static_cast<size_t>(static_cast<const char *>(nl) - text.data()) + 1
                   : text.size();
        }
    }
}

}  // namespace

// Format: doc/formats.md#rcs-archive-as-accepted
void RCS_fully_parse(RCSNode *rcs) {
    RCS_complete(rcs);
    RcsBuffer &buf = rcs_buffer(rcs);
    RcsLexer lx(buf, static_cast<size_t>(rcs->delta_pos));
    std::string_view rev;
    while (lx.getrevnum(rev)) {
        Node *vn = findnode(rcs->versions, rev);
        if (!vn)
            error(1, 0, "mismatch in rcs file %s between deltas and deltatexts", rcs->path);
        RCSVers *vers = static_cast<RCSVers *>(vn->data);
        Phrase ph;
        for (;;) {
            if (!lx.getkey(ph))
                return;
            if (ph.key == "text")
                break;
            if (!vers->other)
                vers->other = getlist();
            if (!list_add_text(vers->other, ph.key, ph.copy(!ph.is_mixed()),
                               ph.is_mixed() ? RCSCMPFLD : RCSFIELD))
                error(0, 0, "warning: duplicate key `%s' in version `%s' of RCS file `%s'",
                      std::string(ph.key), vers->version, rcs->path);
        }
        if (vers->version != rcs->head) {
            long added = 0, deleted = 0;
            std::string unescaped;
            std::string_view text = ph.value;
            if (ph.embedded_at > 0) {
                unescaped = rcs_unescape(ph.value);
                text = unescaped;
            }
            count_changes(rcs->path, text, added, deleted);
            if (!vers->other)
                vers->other = getlist();
            list_add_text(vers->other, ";add", std::to_string(added), RCSFIELD);
            list_add_text(vers->other, ";delete", std::to_string(deleted), RCSFIELD);
        }
    }
}

std::unique_ptr<Deltatext> RCS_getdeltatext(RCSNode *rcs, RcsLexer &lx) {
    std::string_view rev;
    if (!lx.getrevnum(rev))
        return nullptr;
    if (!findnode(rcs->versions, rev))
        error(1, 0, "mismatch in rcs file %s between deltas and deltatexts", rcs->path);
    auto d = std::make_unique<Deltatext>();
    d->version = std::string(rev);
    Phrase ph;
    if (!lx.getkey(ph))
        error(1, 0, "%s, delta %s: unexpected EOF", rcs->path, d->version);
    if (ph.key != "log")
        error(1, 0, "%s, delta %s: expected `log', got `%s'", rcs->path, d->version,
              std::string(ph.key));
    d->log = ph.copy();
    for (;;) {
        if (!lx.getkey(ph))
            error(1, 0, "%s, delta %s: unexpected EOF", rcs->path, d->version);
        if (ph.key == "text")
            break;
        if (!d->other)
            d->other = getlist();
        if (!list_add_text(d->other, ph.key, ph.copy(!ph.is_mixed()),
                           ph.is_mixed() ? RCSCMPFLD : RCSFIELD))
            error(0, 0, "warning: %s, delta %s: duplicate field `%s'", rcs->path, d->version,
                  std::string(ph.key));
    }
    d->text = ph.copy();
    d->len = d->text.size();
    return d;
}

List *RCS_symbols(RCSNode *rcs) {
    RCS_complete(rcs);
    if (!rcs->symbols && rcs->symbols_data) {
        rcs->symbols = split_pairs(rcs, *rcs->symbols_data, true, "symbol");
        rcs->symbols_data.reset();
    }
    return rcs->symbols;
}

List *RCS_getlocks(RCSNode *rcs) {
    RCS_complete(rcs);
    if (!rcs->locks && rcs->locks_data) {
        rcs->locks = split_pairs(rcs, *rcs->locks_data, false, "lock");
        rcs->locks_data.reset();
    }
    return rcs->locks;
}

void freercsnode(RCSNode **rcs) {
    if (!rcs || !*rcs)
        return;
    if (--(*rcs)->refcount <= 0)
        delete *rcs;
    *rcs = nullptr;
}

// Format: doc/formats.md#repository-layout
int RCS_setattic(RCSNode *rcs, int toattic) {
    // Untraced: attic moves have never had a -t line, and -t output stays stable.
    constexpr rename_how attic_move{.traced = false, .fatal = false};
    rcsbuf_cache_close();
    std::string &path = rcs->path;
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (toattic) {
        if (rcs->flags & ARCHIVE_IN_ATTIC)
            return 0;
        std::string attic = dir + "/Attic";
        if (!noexec && mkdir(attic.c_str(), 0777 & ~jolumask) != 0 && errno != EEXIST)
            error(0, errno, "cannot make directory %s", attic);
        std::string newpath = attic + "/" + base;
        if (rename_file(path.c_str(), newpath.c_str(), attic_move) != 0) {
            int saved = errno;
            if (access(path.c_str(), R_OK) == 0 || access(newpath.c_str(), R_OK) != 0) {
                error(0, saved, "cannot rename %s to %s", path, newpath);
                return 1;
            }
        }
        path = newpath;
        return 0;
    }
    if (!(rcs->flags & ARCHIVE_IN_ATTIC))
        return 0;
    if (!dir.ends_with("Attic")) {
        error(0, 0, "failed to move `%s' out of the attic", path);
        return 1;
    }
    size_t up = dir.rfind('/');
    std::string parent = up == std::string::npos ? "." : dir.substr(0, up);
    std::string newpath = parent + "/" + base;
    if (rename_file(path.c_str(), newpath.c_str(), attic_move) != 0) {
        error(0, errno, "failed to move `%s' out of the attic", path);
        return 1;
    }
    path = newpath;
    return 0;
}
