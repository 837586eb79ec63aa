// Rebuilding revisions from the head text and the edit scripts, and the
// line-by-line annotation computed by the same walk.
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>

#include "src/base/error.h"
#include "src/base/output.h"
#include "src/rcs/line_tree.h"
#include "src/rcs/rcs_internal.h"

namespace {

struct Fragment {
    bool add;
    int64_t pos;      // "a": insert after this line; "d": zero-based first line
    uint64_t count;
    uint32_t first;   // "a": first inserted line of the script's source
};

// Everything one rebuild keeps alive: the sources that pieces refer to.
struct Rebuild {
    std::deque<LineSource> sources;
    std::deque<std::string> unescaped;
    LineTree tree;
    bool annotate = false;

    uint32_t add_source(std::string_view text) {
        sources.emplace_back(text);
        if (annotate)
            sources.back().attrib.assign(sources.back().nlines(), nullptr);
        return static_cast<uint32_t>(sources.size() - 1);
    }

    // Parses one edit script (fatal on malformed commands) and applies it;
    // false when a command does not fit the text.
    bool apply(std::string_view diff, const std::string &name, const RCSVers *addvers,
               const RCSVers *delvers);
};

uint64_t parse_number(std::string_view line, size_t &i, const std::string &name) {
    if (i >= line.size() || line[i] < '0' || line[i] > '9')
        error(1, 0, "number expected in %s", name);
    uint64_t n = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        if (n < (uint64_t(1) << 40))
            n = n * 10 + static_cast<uint64_t>(line[i] - '0');
        ++i;
    }
    return n;
}

bool Rebuild::apply(std::string_view diff, const std::string &name, const RCSVers *addvers,
                    const RCSVers *delvers) {
    uint32_t s = add_source(diff);
    const LineSource &src = sources[s];
    std::vector<Fragment> frags;
    uint32_t n = src.nlines();
    for (uint32_t j = 0; j < n;) {
        std::string_view line = src.line(j);
        char op = line[0];
        if (op != 'a' && op != 'd')
            error(1, 0, "unrecognized operation '\\x%x' in %s",
                  static_cast<unsigned>(static_cast<unsigned char>(op)), name);
        size_t i = 1;
        uint64_t pos = parse_number(line, i, name);
        if (i >= line.size() || line[i] != ' ')
            error(1, 0, "space expected in %s", name);
        ++i;
        uint64_t count = parse_number(line, i, name);
        if (i >= line.size() || line[i] != '\n')
            error(1, 0, "linefeed expected in %s", name);
        ++j;
        if (op == 'a') {
            if (count > n - j)
                error(1, 0, "premature end of change in %s", name);
            frags.push_back({true, static_cast<int64_t>(pos), count, j});
            j += static_cast<uint32_t>(count);
        } else {
            frags.push_back({false, static_cast<int64_t>(pos) - 1, count, 0});
        }
    }
    std::vector<Piece> removed;
    for (auto f = frags.rbegin(); f != frags.rend(); ++f) {
        uint64_t size = tree.size();
        if (f->add) {
            if (f->pos < 0 || static_cast<uint64_t>(f->pos) > size)
                return false;
            if (annotate && addvers)
                for (uint64_t k = 0; k < f->count; ++k)
                    sources[s].attrib[f->first + k] = addvers;
            tree.insert(static_cast<uint32_t>(f->pos),
                        Piece{s, f->first, static_cast<uint32_t>(f->count)});
        } else {
            if (f->pos < 0 || static_cast<uint64_t>(f->pos) > size ||
                static_cast<uint64_t>(f->pos) + f->count > size)
                return false;
            removed.clear();
            tree.erase(static_cast<uint32_t>(f->pos), static_cast<uint32_t>(f->count),
                       annotate && delvers ? &removed : nullptr);
            for (const Piece &p : removed)
                for (uint32_t k = 0; k < p.count; ++k)
                    sources[p.src].attrib[p.start + k] = delvers;
        }
    }
    return true;
}

std::string join(const Rebuild &rb, const std::vector<Piece> &pieces) {
    size_t total = 0;
    for (const Piece &p : pieces) {
        const LineSource &s = rb.sources[p.src];
        total += s.starts[p.start + p.count] - s.starts[p.start];
    }
    std::string out;
    out.resize(total);
    char *dst = out.data();
    for (const Piece &p : pieces) {
        const LineSource &s = rb.sources[p.src];
        size_t b = s.starts[p.start], e = s.starts[p.start + p.count];
        std::memcpy(dst, s.text.data() + b, e - b);
        dst += e - b;
    }
    return out;
}

// "dd-Mon-yy" of an archive date.
std::string annotate_date(std::string_view date) {
    size_t d1 = date.find('.');
    if (d1 == std::string_view::npos)
        return "\?\?-\?\?\?-\?\?";
    size_t d2 = date.find('.', d1 + 1);
    std::string day = d2 != std::string_view::npos && date.size() >= d2 + 3
                          ? std::string(date.substr(d2 + 1, 2))
                          : std::string("??");
    size_t mend = d2 == std::string_view::npos ? date.size() : d2;
    std::string year = d1 >= 2 ? std::string(date.substr(d1 - 2, 2)) : std::string("??");
    return day + "-" + month_printname(date.substr(d1 + 1, mend - d1 - 1)) + "-" + year;
}

void print_annotation(const Rebuild &rb, const std::vector<Piece> &pieces, const RCSVers *last) {
    std::string out;
    char head[128];
    for (const Piece &p : pieces) {
        const LineSource &s = rb.sources[p.src];
        for (uint32_t k = 0; k < p.count; ++k) {
            const RCSVers *v = s.attrib[p.start + k];
            if (!v)
                v = last;
            std::snprintf(head, sizeof head, "%-12s (%-8.8s ", v ? v->version.c_str() : "",
                          v ? v->author.c_str() : "");
            out += head;
            out += v ? annotate_date(v->date) : std::string("\?\?-\?\?\?-\?\?");
            out += "): ";
            std::string_view line = s.line(p.start + k);
            if (!line.empty() && line.back() == '\n')
                line.remove_suffix(1);
            out += line;
            out += '\n';
            if (out.size() > 65536) {
                jol_output(out.data(), out.size());
                out.clear();
            }
        }
    }
    if (!out.empty())
        jol_output(out.data(), out.size());
}

// The first `fields` dot-separated fields of `rev`.
std::string leading_fields(std::string_view rev, int fields) {
    size_t i = 0;
    for (int f = 0; f < fields; ++f) {
        size_t dot = rev.find('.', i);
        if (dot == std::string_view::npos)
            return std::string(rev);
        i = dot + 1;
    }
    return std::string(rev.substr(0, i - 1));
}

// Finds the deltatexts a rebuild needs. They are read on in file order,
// which is the order of the walk in the archives written here. Other valid
// archives order them differently (the whole trunk before any branch, say),
// so a text that the reading has already passed is found through an index
// of every text's offset, built by one more pass on the first miss.
class TextFinder {
  public:
    TextFinder(RcsLexer &lx, const std::string &path) : lx_(lx), path_(path), start_(lx.tell()) {}

    // Leaves the lexer after the revision number of `rev`'s deltatext;
    // fatal when the archive has none. Each indexed text is handed out once,
    // so a loop in the revision tree cannot keep the walk going.
    void find(std::string_view rev) {
        if (!index_) {
            std::string_view r;
            Phrase ph;
            while (lx_.getrevnum(r)) {
                if (r == rev)
                    return;
                read_to_text(ph, nullptr);
            }
            build_index();
        }
        auto it = index_->find(rev);
        if (it == index_->end())
            error(1, 0, "unexpected EOF reading RCS file %s", path_);
        lx_.seek(it->second);
        index_->erase(it);
    }

    // Reads the phrases of the current deltatext up to its "text", copying
    // the log into `log` when given.
    void read_to_text(Phrase &ph, std::string *log) {
        for (;;) {
            if (!lx_.getkey(ph))
                error(1, 0, "%s does not appear to be a valid rcs file", path_);
            if (ph.key == "text")
                return;
            if (log && ph.key == "log")
                *log = ph.copy();
        }
    }

  private:
    void build_index() {
        index_.emplace();
        lx_.seek(start_);
        std::string_view r;
        Phrase ph;
        while (lx_.getrevnum(r)) {
            index_->emplace(r, lx_.tell());
            read_to_text(ph, nullptr);
        }
    }

    RcsLexer &lx_;
    const std::string &path_;
    size_t start_;
    // Revision number to the offset just after it; views into the buffer.
    std::optional<std::unordered_map<std::string_view, size_t>> index_;
};

}  // namespace

// Format: doc/formats.md#edit-scripts
void RCS_deltas(RCSNode *rcs, const char *version, rcs_delta_op op, std::string *text,
                std::string *log) {
    RCS_complete(rcs);
    RcsBuffer &buf = rcs_buffer(rcs);
    RcsLexer lx(buf, static_cast<size_t>(rcs->delta_pos));
    const std::string &path = rcs->path;
    const std::string target = version;

    Rebuild rb;
    rb.annotate = op == RCS_ANNOTATE;
    std::string branchversion = leading_fields(target, 2);
    const RCSVers *cur = nullptr, *prev = nullptr;
    std::string expected = rcs->head;
    bool first = true;
    bool found = false;
    std::vector<Piece> result, saved_trunk;
    const RCSVers *trunk_vers = nullptr;

    TextFinder texts(lx, path);
    for (;;) {
        texts.find(expected);
        Node *vn = findnode(rcs->versions, expected);
        if (!vn)
            error(1, 0, "mismatch in rcs file %s between deltas and deltatexts", path);
        prev = cur;
        cur = static_cast<const RCSVers *>(vn->data);
        expected = cur->next;
        Phrase ph;
        texts.read_to_text(ph, log && cur->version == target ? log : nullptr);

        std::string_view body = ph.value;
        if (ph.embedded_at > 0) {
            rb.unescaped.push_back(rcs_unescape(ph.value));
            body = rb.unescaped.back();
        }
        if (first) {
            uint32_t s = rb.add_source(body);
            rb.tree.insert(0, Piece{s, 0, rb.sources[s].nlines()});
            first = false;
        } else {
            bool trunk = numdots(cur->version) < 2;
            bool ok = trunk ? rb.apply(body, path, nullptr, prev) : rb.apply(body, path, cur, nullptr);
            if (!ok)
                error(1, 0, "invalid change text in %s", path);
        }

        if (cur->version == branchversion) {
            if (cur->version == target) {
                rb.tree.flatten(result);
                found = true;
                if (op == RCS_FETCH)
                    break;
                if (trunk_vers) {
                    cur = trunk_vers;
                    expected = cur->next;
                    rb.tree.assign(saved_trunk);
                    trunk_vers = nullptr;
                }
            } else {
                if (numdots(branchversion) < 2) {
                    trunk_vers = cur;
                    rb.tree.flatten(saved_trunk);
                    if (rb.annotate)
                        for (const Piece &p : saved_trunk)
                            for (uint32_t k = 0; k < p.count; ++k)
                                rb.sources[p.src].attrib[p.start + k] = nullptr;
                }
                if (!cur->branches)
                    error(1, 0, "missing expected branches in %s", path);
                int fields = numdots(branchversion) + 1;
                if (numdots(target) + 1 < fields + 2)
                    error(1, 0, "version number confusion in %s", path);
                branchversion = leading_fields(target, fields + 2);
                std::string branch = branchversion.substr(0, branchversion.rfind('.'));
                const std::string *entry = nullptr;
                JOL_FOR_EACH_NODE(cur->branches, p) {
                    const std::string &k = *p->key;
                    if (k.size() > branch.size() && k.compare(0, branch.size(), branch) == 0 &&
                        k[branch.size()] == '.') {
                        entry = &k;
                        break;
                    }
                }
                if (!entry)
                    error(1, 0, "missing expected branch in %s", path);
                expected = *entry;
            }
        }
        if (expected.empty())
            break;
    }
    if (!found)
        error(1, 0, "could not find desired version %s in %s", target, path);
    if (op == RCS_FETCH)
        *text = join(rb, result);
    else
        print_annotation(rb, result, cur);
}

// Format: doc/formats.md#edit-scripts
bool rcs_change_text(const char *name, std::string_view text, std::string_view diff,
                     std::string &result) {
    Rebuild rb;
    uint32_t s = rb.add_source(text);
    rb.tree.insert(0, Piece{s, 0, rb.sources[s].nlines()});
    if (!rb.apply(diff, name, nullptr, nullptr)) {
        error(0, 0, "invalid change text in %s", name);
        return false;
    }
    std::vector<Piece> pieces;
    rb.tree.flatten(pieces);
    result = join(rb, pieces);
    return true;
}
