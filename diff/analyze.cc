// Finding the changes: identical ends are skipped, the remaining lines are
// hashed into equivalence classes, confusing lines are discarded, and the
// shortest edit script is searched by meeting forward and backward sweeps
// in the middle. Change runs are then shifted to canonical places.
#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>

#include "diff/diff_internal.h"

namespace jdiff {

namespace {

constexpr int SNAKE_LIMIT = 20;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

// Line content as compared under -i, -b, -w (the line feed excluded).
std::string normalized(std::string_view line, const Options &o) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    std::string s;
    s.reserve(line.size());
    bool pending_space = false;
    for (char c : line) {
        if (is_space(c)) {
            if (o.ignore_all_space)
                continue;
            if (o.ignore_space_change) {
                pending_space = true;
                continue;
            }
        }
        if (pending_space) {
            s += ' ';
            pending_space = false;
        }
        s += o.ignore_case ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : c;
    }
    return s;
}

// Eight bytes at a time with a final avalanche, so the low bits that pick
// a slot depend on every byte: hashing is the engine's hottest loop.
uint64_t hash_bytes(std::string_view s) {
    constexpr uint64_t k = 0x9ddfea08eb382d69ull;
    uint64_t h = 0xcbf29ce484222325ull ^ (s.size() * k);
    const char *p = s.data();
    size_t n = s.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * k;
        h ^= h >> 29;
    }
    if (n > 0) {
        uint64_t w = 0;
        for (size_t i = 0; i < n; ++i)
            w |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
        h = (h ^ w) * k;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

// Open-addressing table from line content to class number.
class ClassTable {
  public:
    explicit ClassTable(size_t expected) {
        size_t cap = 16;
        while (cap < expected * 2)
            cap <<= 1;
        slots_.assign(cap, -1);
    }
    int lookup(std::string_view key, bool incomplete) {
        uint64_t h = hash_bytes(key) ^ (incomplete ? 0x9e3779b97f4a7c15ull : 0);
        size_t mask = slots_.size() - 1;
        size_t i = static_cast<size_t>(h) & mask;
        while (slots_[i] >= 0) {
            const Entry &e = entries_[static_cast<size_t>(slots_[i])];
            if (e.hash == h && e.incomplete == incomplete && e.key == key)
                return slots_[i] + 1;
            i = (i + 1) & mask;
        }
        slots_[i] = static_cast<int>(entries_.size());
        entries_.push_back({h, key, incomplete});
        if (entries_.size() * 2 > slots_.size())
            grow();
        return static_cast<int>(entries_.size());
    }
    size_t count() const { return entries_.size(); }

  private:
    struct Entry {
        uint64_t hash;
        std::string_view key;
        bool incomplete;
    };
    void grow() {
        std::vector<int> n(slots_.size() * 2, -1);
        size_t mask = n.size() - 1;
        for (size_t k = 0; k < entries_.size(); ++k) {
            size_t i = static_cast<size_t>(entries_[k].hash) & mask;
            while (n[i] >= 0)
                i = (i + 1) & mask;
            n[i] = static_cast<int>(k);
        }
        slots_.swap(n);
    }
    std::vector<int> slots_;
    std::vector<Entry> entries_;
};

struct Partition {
    size_t xmid, ymid;
    bool lo_minimal, hi_minimal;
};

// The comparison of the undiscarded lines of both files.
class Comparer {
  public:
    Comparer(const std::vector<int> &x, const std::vector<int> &y, std::vector<char> &xch,
             std::vector<char> &ych, const std::vector<size_t> &xreal,
             const std::vector<size_t> &yreal, bool heuristic)
        : xv_(x), yv_(y), xch_(xch), ych_(ych), xreal_(xreal), yreal_(yreal),
          heuristic_(heuristic) {
        size_t diags = x.size() + y.size() + 3;
        fdiag_.assign(diags, 0);
        bdiag_.assign(diags, 0);
        offset_ = static_cast<long>(y.size()) + 1;
        too_expensive_ = 1;
        for (size_t t = x.size() + y.size(); t >= 4; t /= 4)
            too_expensive_ <<= 1;
        if (too_expensive_ < 256)
            too_expensive_ = 256;
    }

    void compareseq(long xoff, long xlim, long yoff, long ylim, bool minimal) {
        // An explicit stack keeps pathological inputs off the C stack.
        struct Task {
            long xoff, xlim, yoff, ylim;
            bool minimal;
        };
        std::vector<Task> stack{{xoff, xlim, yoff, ylim, minimal}};
        while (!stack.empty()) {
            Task t = stack.back();
            stack.pop_back();
            while (t.xoff < t.xlim && t.yoff < t.ylim && xv_[t.xoff] == yv_[t.yoff]) {
                ++t.xoff;
                ++t.yoff;
            }
            while (t.xlim > t.xoff && t.ylim > t.yoff && xv_[t.xlim - 1] == yv_[t.ylim - 1]) {
                --t.xlim;
                --t.ylim;
            }
            if (t.xoff == t.xlim) {
                for (long k = t.yoff; k < t.ylim; ++k)
                    ych_[yreal_[k]] = 1;
            } else if (t.yoff == t.ylim) {
                for (long k = t.xoff; k < t.xlim; ++k)
                    xch_[xreal_[k]] = 1;
            } else {
                Partition part;
                long c = diag(t.xoff, t.xlim, t.yoff, t.ylim, t.minimal, part);
                if (c == 1)
                    throw Fatal{};
                stack.push_back({static_cast<long>(part.xmid), t.xlim, static_cast<long>(part.ymid),
                                 t.ylim, part.hi_minimal});
                stack.push_back({t.xoff, static_cast<long>(part.xmid), t.yoff,
                                 static_cast<long>(part.ymid), part.lo_minimal});
            }
        }
    }

  private:
    long &fd(long d) { return fdiag_[static_cast<size_t>(d + offset_)]; }
    long &bd(long d) { return bdiag_[static_cast<size_t>(d + offset_)]; }

    long diag(long xoff, long xlim, long yoff, long ylim, bool find_minimal, Partition &part) {
        const long dmin = xoff - ylim, dmax = xlim - yoff;
        const long fmid = xoff - yoff, bmid = xlim - ylim;
        long fmin = fmid, fmax = fmid, bmin = bmid, bmax = bmid;
        const bool odd = ((fmid - bmid) & 1) != 0;
        fd(fmid) = xoff;
        bd(bmid) = xlim;
        for (long c = 1;; ++c) {
            bool big_snake = false;
            if (fmin > dmin)
                fd(--fmin - 1) = -1;
            else
                ++fmin;
            if (fmax < dmax)
                fd(++fmax + 1) = -1;
            else
                --fmax;
            for (long d = fmax; d >= fmin; d -= 2) {
                long tlo = fd(d - 1), thi = fd(d + 1);
                long x = tlo >= thi ? tlo + 1 : thi;
                long oldx = x, y = x - d;
                while (x < xlim && y < ylim && xv_[x] == yv_[y]) {
                    ++x;
                    ++y;
                }
                if (x - oldx > SNAKE_LIMIT)
                    big_snake = true;
                fd(d) = x;
                if (odd && bmin <= d && d <= bmax && bd(d) <= x) {
                    part = {static_cast<size_t>(x), static_cast<size_t>(y), true, true};
                    return 2 * c - 1;
                }
            }
            if (bmin > dmin)
                bd(--bmin - 1) = LONG_MAX;
            else
                ++bmin;
            if (bmax < dmax)
                bd(++bmax + 1) = LONG_MAX;
            else
                --bmax;
            for (long d = bmax; d >= bmin; d -= 2) {
                long tlo = bd(d - 1), thi = bd(d + 1);
                long x = tlo < thi ? tlo : thi - 1;
                long oldx = x, y = x - d;
                while (x > xoff && y > yoff && xv_[x - 1] == yv_[y - 1]) {
                    --x;
                    --y;
                }
                if (oldx - x > SNAKE_LIMIT)
                    big_snake = true;
                bd(d) = x;
                if (!odd && fmin <= d && d <= fmax && x <= fd(d)) {
                    part = {static_cast<size_t>(x), static_cast<size_t>(y), true, true};
                    return 2 * c;
                }
            }
            if (find_minimal)
                continue;

            // Heuristic: with a big snake seen, take a diagonal that made
            // good progress and ends a long run of equal lines.
            if (c > 200 && big_snake && heuristic_) {
                long best = 0;
                for (long d = fmax; d >= fmin; d -= 2) {
                    long dd = d - fmid;
                    long x = fd(d), y = x - d;
                    long v = (x - xoff) * 2 - dd;
                    if (v > 12 * (c + (dd < 0 ? -dd : dd)) && v > best && xoff + SNAKE_LIMIT <= x &&
                        x < xlim && yoff + SNAKE_LIMIT <= y && y < ylim) {
                        bool run = true;
                        for (long k = 1; k <= SNAKE_LIMIT; ++k)
                            if (xv_[x - k] != yv_[y - k]) {
                                run = false;
                                break;
                            }
                        if (run) {
                            best = v;
                            part = {static_cast<size_t>(x), static_cast<size_t>(y), true, false};
                        }
                    }
                }
                if (best > 0)
                    return 2 * c - 1;
                best = 0;
                for (long d = bmax; d >= bmin; d -= 2) {
                    long dd = d - bmid;
                    long x = bd(d), y = x - d;
                    long v = (xlim - x) * 2 + dd;
                    if (v > 12 * (c + (dd < 0 ? -dd : dd)) && v > best && xoff < x &&
                        x <= xlim - SNAKE_LIMIT && yoff < y && y <= ylim - SNAKE_LIMIT) {
                        bool run = true;
                        for (long k = 0; k < SNAKE_LIMIT; ++k)
                            if (xv_[x + k] != yv_[y + k]) {
                                run = false;
                                break;
                            }
                        if (run) {
                            best = v;
                            part = {static_cast<size_t>(x), static_cast<size_t>(y), false, true};
                        }
                    }
                }
                if (best > 0)
                    return 2 * c - 1;
            }

            // Too expensive: take the furthest-reaching point found.
            if (c >= too_expensive_) {
                long fxybest = -1, fxbest = 0;
                for (long d = fmax; d >= fmin; d -= 2) {
                    long x = std::min(fd(d), xlim), y = x - d;
                    if (ylim < y) {
                        x = ylim + d;
                        y = ylim;
                    }
                    if (fxybest < x + y) {
                        fxybest = x + y;
                        fxbest = x;
                    }
                }
                long bxybest = LONG_MAX, bxbest = 0;
                for (long d = bmax; d >= bmin; d -= 2) {
                    long x = std::max(xoff, bd(d)), y = x - d;
                    if (y < yoff) {
                        x = yoff + d;
                        y = yoff;
                    }
                    if (x + y < bxybest) {
                        bxybest = x + y;
                        bxbest = x;
                    }
                }
                if ((xlim + ylim) - bxybest < fxybest - (xoff + yoff)) {
                    part = {static_cast<size_t>(fxbest), static_cast<size_t>(fxybest - fxbest),
                            true, false};
                } else {
                    part = {static_cast<size_t>(bxbest), static_cast<size_t>(bxybest - bxbest),
                            false, true};
                }
                return 2 * c - 1;
            }
        }
    }

    const std::vector<int> &xv_, &yv_;
    std::vector<char> &xch_, &ych_;
    const std::vector<size_t> &xreal_, &yreal_;
    bool heuristic_;
    std::vector<long> fdiag_, bdiag_;
    long offset_;
    long too_expensive_;
};

void discard_confusing_lines(const std::vector<int> equiv[2], size_t nclasses,
                             std::vector<char> discards[2]) {
    std::vector<size_t> count[2];
    for (int f = 0; f < 2; ++f) {
        count[f].assign(nclasses + 1, 0);
        for (int c : equiv[f])
            ++count[f][static_cast<size_t>(c)];
    }
    for (int f = 0; f < 2; ++f) {
        const std::vector<int> &e = equiv[f];
        const std::vector<size_t> &other = count[1 - f];
        size_t end = e.size();
        size_t many = 5;
        for (size_t tem = end / 64; (tem /= 4) > 0;)
            many *= 2;
        std::vector<char> &d = discards[f];
        d.assign(end, 0);
        for (size_t i = 0; i < end; ++i) {
            size_t nmatch = other[static_cast<size_t>(e[i])];
            if (nmatch == 0)
                d[i] = 1;
            else if (nmatch > many)
                d[i] = 2;
        }
        // Provisional marks survive only inside runs bounded by definite
        // ones, and only where they are not too many.
        size_t i = 0;
        while (i < end) {
            if (d[i] == 2) {
                d[i] = 0;
                ++i;
                continue;
            }
            if (d[i] == 0) {
                ++i;
                continue;
            }
            size_t j = i, provisional = 0;
            while (j < end && d[j] != 0) {
                if (d[j] == 2)
                    ++provisional;
                ++j;
            }
            while (j > i && d[j - 1] == 2) {
                d[--j] = 0;
                --provisional;
            }
            size_t length = j - i;
            if (provisional * 4 > length) {
                for (size_t k = i; k < j; ++k)
                    if (d[k] == 2)
                        d[k] = 0;
            } else {
                size_t minimum = 1;
                for (size_t tem = length / 4; (tem /= 4) > 0;)
                    minimum *= 2;
                ++minimum;
                for (size_t k = i; k < j;) {
                    if (d[k] != 2) {
                        ++k;
                        continue;
                    }
                    size_t s = k;
                    while (k < j && d[k] == 2)
                        ++k;
                    if (k - s >= minimum)
                        for (size_t m = s; m < k; ++m)
                            d[m] = 0;
                }
                size_t consec = 0;
                for (size_t k = i; k < j; ++k) {
                    if (k - i >= 8 && d[k] == 1)
                        break;
                    if (d[k] == 2) {
                        consec = 0;
                        d[k] = 0;
                    } else if (d[k] == 0) {
                        consec = 0;
                    } else if (++consec == 3) {
                        break;
                    }
                }
                consec = 0;
                for (size_t k = j; k-- > i;) {
                    if (j - 1 - k >= 8 && d[k] == 1)
                        break;
                    if (d[k] == 2) {
                        consec = 0;
                        d[k] = 0;
                    } else if (d[k] == 0) {
                        consec = 0;
                    } else if (++consec == 3) {
                        break;
                    }
                }
            }
            i = j;
        }
    }
}

// Moves every run of changed lines of one file to its canonical place.
void shift_boundaries(std::vector<char> &ch, const std::vector<int> &eq,
                      const std::vector<char> &other, size_t lo, size_t hi, size_t olo, size_t ohi,
                      bool merge_ok) {
    // Which gaps between unchanged lines of the other file hold a change.
    std::vector<char> other_run;
    {
        size_t gap = 0;
        other_run.push_back(0);
        for (size_t k = olo; k < ohi; ++k) {
            if (other[k])
                other_run[gap] = 1;
            else {
                ++gap;
                other_run.push_back(0);
            }
        }
    }
    auto has_run = [&](size_t g) { return g < other_run.size() && other_run[g]; };
    auto same = [&](size_t a, size_t b) { return eq[a - lo] == eq[b - lo]; };
    size_t i = lo, gap = 0;
    while (true) {
        while (i < hi && !ch[i]) {
            ++i;
            ++gap;
        }
        if (i >= hi)
            break;
        size_t start = i;
        while (i < hi && ch[i])
            ++i;
        size_t runlength;
        size_t corresponding = has_run(gap) ? i : SIZE_MAX;
        do {
            runlength = i - start;
            if (merge_ok) {
                while (start > lo && same(start - 1, i - 1)) {
                    ch[--start] = 1;
                    ch[--i] = 0;
                    --gap;
                    while (start > lo && ch[start - 1])
                        --start;
                }
            }
            corresponding = has_run(gap) ? i : SIZE_MAX;
            while (i < hi && same(start, i) && (merge_ok || (!ch[i] && !has_run(gap)))) {
                ch[start++] = 0;
                ch[i++] = 1;
                ++gap;
                if (merge_ok)
                    while (i < hi && ch[i])
                        ++i;
                if (has_run(gap))
                    corresponding = i;
            }
        } while (runlength != i - start);
        if (corresponding != SIZE_MAX) {
            while (corresponding < i) {
                ch[--start] = 1;
                ch[--i] = 0;
                --gap;
            }
        }
    }
}

}  // namespace

void compute_changes(Context &cx) {
    FileData &a = cx.files[0], &b = cx.files[1];
    const Options &o = cx.opt;
    const size_t n0 = a.nlines(), n1 = b.nlines();
    a.changed.assign(n0, 0);
    b.changed.assign(n1, 0);
    const bool ed = o.style == OUTPUT_ED || o.style == OUTPUT_FORWARD_ED;

    auto same_raw = [&](size_t i, size_t j) {
        if (a.line(i) != b.line(j))
            return false;
        return ed || a.last_line_incomplete(i) == b.last_line_incomplete(j);
    };
    size_t prefix = 0;
    while (prefix < n0 && prefix < n1 && same_raw(prefix, prefix))
        ++prefix;
    size_t suffix = 0;
    if (ed || a.missing_newline == b.missing_newline)
        while (suffix < n0 - prefix && suffix < n1 - prefix &&
               same_raw(n0 - 1 - suffix, n1 - 1 - suffix))
            ++suffix;
    size_t horizon = static_cast<size_t>(o.horizon_lines);
    prefix = prefix > horizon ? prefix - horizon : 0;
    suffix = suffix > horizon ? suffix - horizon : 0;
    const size_t end0 = n0 - suffix, end1 = n1 - suffix;

    // Equivalence classes of the lines in between.
    ClassTable table(end0 - prefix + end1 - prefix + 1);
    std::deque<std::string> keys;
    const bool fold = o.ignore_case || o.ignore_space_change || o.ignore_all_space;
    const bool whitespace = o.ignore_space_change || o.ignore_all_space;
    std::vector<int> equiv[2];
    for (int f = 0; f < 2; ++f) {
        FileData &fd = cx.files[f];
        size_t end = f ? end1 : end0;
        equiv[f].reserve(end - prefix);
        for (size_t i = prefix; i < end; ++i) {
            std::string_view key = fd.line(i);
            if (fold) {
                keys.push_back(normalized(key, o));
                key = keys.back();
            }
            bool incomplete = !ed && !whitespace && fd.last_line_incomplete(i);
            equiv[f].push_back(table.lookup(key, incomplete));
        }
    }

    std::vector<char> discards[2];
    if (!o.minimal) {
        discard_confusing_lines(equiv, table.count(), discards);
    } else {
        discards[0].assign(equiv[0].size(), 0);
        discards[1].assign(equiv[1].size(), 0);
    }
    std::vector<int> xv, yv;
    std::vector<size_t> xreal, yreal;
    for (size_t i = 0; i < equiv[0].size(); ++i) {
        if (discards[0][i])
            a.changed[prefix + i] = 1;
        else {
            xv.push_back(equiv[0][i]);
            xreal.push_back(prefix + i);
        }
    }
    for (size_t i = 0; i < equiv[1].size(); ++i) {
        if (discards[1][i])
            b.changed[prefix + i] = 1;
        else {
            yv.push_back(equiv[1][i]);
            yreal.push_back(prefix + i);
        }
    }
    Comparer cmp(xv, yv, a.changed, b.changed, xreal, yreal, o.speed_large_files);
    cmp.compareseq(0, static_cast<long>(xv.size()), 0, static_cast<long>(yv.size()), o.minimal);

    const bool merge_ok = o.horizon_lines == std::max(o.context, 0);
    shift_boundaries(a.changed, equiv[0], b.changed, prefix, end0, prefix, end1, merge_ok);
    shift_boundaries(b.changed, equiv[1], a.changed, prefix, end1, prefix, end0, merge_ok);
}

void build_script(Context &cx) {
    const std::vector<char> &c0 = cx.files[0].changed, &c1 = cx.files[1].changed;
    size_t n0 = c0.size(), n1 = c1.size(), i0 = 0, i1 = 0;
    cx.script.clear();
    while (i0 < n0 || i1 < n1) {
        if ((i0 < n0 && c0[i0]) || (i1 < n1 && c1[i1])) {
            size_t l0 = i0, l1 = i1;
            while (i0 < n0 && c0[i0])
                ++i0;
            while (i1 < n1 && c1[i1])
                ++i1;
            cx.script.push_back({l0, l1, i0 - l0, i1 - l1, false});
        } else {
            ++i0;
            ++i1;
        }
    }
}

}  // namespace jdiff
