// Three-way comparison and merge. The two two-way comparisons come from
// the line comparison engine in its normal output style; their hunks are
// combined into regions of the three files, which are then written as a
// merged file, an ed script or a plain report.
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "diff/diff_internal.h"
#include "diff/options.h"

namespace jdiff {

namespace {

enum diff_type { ERROR, ADD, CHANGE, DELETE, DIFF_ALL, DIFF_1ST, DIFF_2ND, DIFF_3RD };
enum { FILE0 = 0, FILE1 = 1, FILE2 = 2 };

// A line with its line feed; a final line without one is kept as it is.
using Line = std::string;

struct Range {
    long lo = 0, hi = -1;  // 1-based, inclusive; hi = lo - 1 when empty
    long count() const { return hi - lo + 1; }
};

// One hunk of a two-way comparison: index 0 is the thread's own file,
// index 1 the shared file.
struct diff_block {
    Range ranges[2];
    std::vector<Line> lines[2];
};

struct diff3_block {
    diff_type correspond = DIFF_ALL;
    Range ranges[3];
    std::vector<Line> lines[3];
};

struct Diff3Options {
    bool always_text = false, edscript = false, flagging = false, overlap_only = false;
    bool simple_only = false, show_2nd = false, merge = false, finalwrite = false;
    bool initial_tab = false;
    std::vector<std::string> labels;
};

// Collects the output of a subsidiary comparison in memory.
std::string *collect_target = nullptr;
void collect_output(const char *text, size_t len) {
    if (collect_target)
        collect_target->append(text, len);
}

void fatal(const Context &cx, const char *msg, const char *arg = "", const char *arg2 = "") {
    cx.error(msg, arg, arg2);
    throw Fatal{};
}

// Parses "N" or "N,M" at `p`; returns the position after it.
const char *read_range(const Context &cx, const char *p, const std::string &line, long &a, long &b) {
    auto number = [&](long &v) {
        if (*p < '0' || *p > '9')
            fatal(cx, "diff error: %s", line.c_str());
        v = 0;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + (*p - '0');
            if (v > 1000000000L)
                fatal(cx, "diff error: %s", line.c_str());
            ++p;
        }
    };
    number(a);
    if (*p == ',') {
        ++p;
        number(b);
    } else {
        b = a;
    }
    if (b < a)
        fatal(cx, "diff error: %s", line.c_str());
    return p;
}

// Runs the comparison of `a` with `b` and parses its normal-style output.
std::vector<diff_block> process_diff(Context &cx, const Diff3Options &o, const std::string &a,
                                     const std::string &b, int horizon) {
    std::vector<std::string> args = {"diff"};
    if (o.always_text)
        args.emplace_back("-a");
    args.push_back("--horizon-lines=" + std::to_string(horizon));
    args.emplace_back("--");
    args.push_back(a);
    args.push_back(b);
    std::vector<char *> argv;
    for (std::string &s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    std::string text;
    diff_callbacks sub{collect_output, nullptr, cx.cb ? cx.cb->write_stdout : nullptr,
                       cx.cb ? cx.cb->error : nullptr};
    std::string *saved = collect_target;
    collect_target = &text;
    int rc = diff_run(static_cast<int>(args.size()), argv.data(), nullptr, &sub);
    collect_target = saved;
    if (rc == 2)
        fatal(cx, "subsidiary diff failed");
    if (!text.empty() && text.back() != '\n')
        fatal(cx, "invalid diff format; incomplete last line");

    std::vector<diff_block> blocks;
    size_t pos = 0;
    auto next_line = [&](std::string &line) {
        if (pos >= text.size())
            return false;
        size_t nl = text.find('\n', pos);
        line.assign(text, pos, nl - pos + 1);
        pos = nl + 1;
        return true;
    };
    auto read_lines = [&](std::vector<Line> &into, long n, char lead) {
        std::string line;
        for (long i = 0; i < n; ++i) {
            if (!next_line(line) || line.size() < 2 || line[0] != lead || line[1] != ' ')
                fatal(cx, "invalid diff format; incorrect leading line chars");
            into.push_back(line.substr(2));
            if (pos < text.size() && text.compare(pos, 2, "\\ ") == 0) {
                next_line(line);  // the line above has no line feed
                into.back().pop_back();
            }
        }
    };
    std::string cmd;
    while (next_line(cmd)) {
        diff_block blk;
        long a0, a1, b0, b1;
        const char *p = read_range(cx, cmd.c_str(), cmd, a0, a1);
        char kind = *p++;
        p = read_range(cx, p, cmd, b0, b1);
        if (*p != '\n')
            fatal(cx, "diff error: %s", cmd.c_str());
        switch (kind) {
        case 'a': blk.ranges[0] = {a0 + 1, a0}; blk.ranges[1] = {b0, b1}; break;
        case 'd': blk.ranges[0] = {a0, a1}; blk.ranges[1] = {b0 + 1, b0}; break;
        case 'c': blk.ranges[0] = {a0, a1}; blk.ranges[1] = {b0, b1}; break;
        default: fatal(cx, "diff error: %s", cmd.c_str());
        }
        if (kind != 'a')
            read_lines(blk.lines[0], blk.ranges[0].count(), '<');
        if (kind == 'c') {
            std::string sep;
            if (!next_line(sep) || sep != "---\n")
                fatal(cx, "invalid diff format; invalid change separator");
        }
        if (kind != 'd')
            read_lines(blk.lines[1], blk.ranges[1].count(), '>');
        blocks.push_back(std::move(blk));
    }
    return blocks;
}

long largest_hunk(const std::vector<diff_block> &blocks) {
    long m = 0;
    for (const diff_block &b : blocks)
        m = std::max({m, b.ranges[0].count(), b.ranges[1].count()});
    return m;
}

// One region from the hunks of both threads that overlap or touch in the
// shared file.
diff3_block make_region(const Context &cx, const std::vector<const diff_block *> used[2],
                        int base_thread, int high_thread, const diff3_block &last) {
    diff3_block r;
    long lowc = used[base_thread].front()->ranges[1].lo;
    long highc = used[high_thread].back()->ranges[1].hi;
    r.ranges[FILE2] = {lowc, highc};
    for (int d = 0; d < 2; ++d) {
        Range &rg = r.ranges[FILE0 + d];
        if (!used[d].empty()) {
            const diff_block *f = used[d].front(), *l = used[d].back();
            rg.lo = lowc - f->ranges[1].lo + f->ranges[0].lo;
            rg.hi = highc - l->ranges[1].hi + l->ranges[0].hi;
        } else {
            rg.lo = lowc - last.ranges[FILE2].hi + last.ranges[FILE0 + d].hi;
            rg.hi = highc - last.ranges[FILE2].hi + last.ranges[FILE0 + d].hi;
        }
    }

    // The shared file's lines, from whichever hunk covers each.
    long nc = highc - lowc + 1;
    std::vector<const Line *> shared(static_cast<size_t>(std::max(nc, 0L)), nullptr);
    for (int d = 0; d < 2; ++d)
        for (const diff_block *b : used[d])
            for (long k = 0; k < b->ranges[1].count(); ++k) {
                long at = b->ranges[1].lo + k - lowc;
                if (at < 0 || at >= nc)
                    fatal(cx, "internal error: screwup in format of diff blocks");
                shared[static_cast<size_t>(at)] = &b->lines[1][static_cast<size_t>(k)];
            }
    for (const Line *l : shared) {
        if (!l)
            fatal(cx, "internal error: screwup in format of diff blocks");
        r.lines[FILE2].push_back(*l);
    }

    // Each thread's own file: its hunks' lines, and between them the lines
    // it shares unchanged with the shared file.
    for (int d = 0; d < 2; ++d) {
        std::vector<Line> &out = r.lines[FILE0 + d];
        long c = lowc;  // next shared-file line to account for
        for (const diff_block *b : used[d]) {
            for (; c < b->ranges[1].lo; ++c)
                out.push_back(r.lines[FILE2][static_cast<size_t>(c - lowc)]);
            out.insert(out.end(), b->lines[0].begin(), b->lines[0].end());
            c = b->ranges[1].hi + 1;
        }
        for (; c <= highc; ++c)
            out.push_back(r.lines[FILE2][static_cast<size_t>(c - lowc)]);
        if (static_cast<long>(out.size()) != r.ranges[FILE0 + d].count())
            fatal(cx, "internal error: screwup in format of diff blocks");
    }

    if (used[0].empty())
        r.correspond = DIFF_2ND;
    else if (used[1].empty())
        r.correspond = DIFF_1ST;
    else if (r.lines[FILE0] == r.lines[FILE1])
        r.correspond = DIFF_3RD;
    else
        r.correspond = DIFF_ALL;
    return r;
}

std::vector<diff3_block> make_3way_diff(const Context &cx, const std::vector<diff_block> &t0,
                                        const std::vector<diff_block> &t1) {
    const std::vector<diff_block> *threads[2] = {&t0, &t1};
    size_t next[2] = {0, 0};
    std::vector<diff3_block> regions;
    diff3_block zero;
    zero.ranges[0] = zero.ranges[1] = zero.ranges[2] = {0, 0};
    const diff3_block *last = &zero;
    auto current = [&](int t) -> const diff_block * {
        return next[t] < threads[t]->size() ? &(*threads[t])[next[t]] : nullptr;
    };
    while (current(0) || current(1)) {
        int base;
        if (!current(0))
            base = 1;
        else if (!current(1))
            base = 0;
        else
            base = current(0)->ranges[1].lo > current(1)->ranges[1].lo ? 1 : 0;
        int high = base;
        std::vector<const diff_block *> used[2];
        const diff_block *hb = current(high);
        long mark = hb->ranges[1].hi;
        used[high].push_back(hb);
        ++next[high];
        for (;;) {
            int other = high ^ 1;
            const diff_block *ob = current(other);
            if (!ob || ob->ranges[1].lo > mark + 1)
                break;
            used[other].push_back(ob);
            ++next[other];
            if (mark < ob->ranges[1].hi) {
                high = other;
                mark = ob->ranges[1].hi;
            }
        }
        regions.push_back(make_region(cx, used, base, high, *last));
        last = &regions.back();
    }
    return regions;
}

// Whether the chosen mode writes region `b`, and whether as a bracketed
// conflict.
bool selected(const diff3_block &b, const Diff3Options &o, bool &conflict) {
    switch (b.correspond) {
    case DIFF_ALL: conflict = o.flagging; return !o.simple_only;
    case DIFF_2ND: conflict = true; return o.show_2nd;
    case DIFF_3RD: conflict = false; return !o.overlap_only;
    default: return false;
    }
}

// The first operand's lines, read again for the merged output.
std::vector<Line> read_lines_of(Context &cx, const std::string &name) {
    FileData &f = cx.files[0];
    f = FileData();
    f.name = name;
    read_file(cx, 0);
    std::vector<Line> lines;
    lines.reserve(f.nlines());
    for (size_t i = 0; i < f.nlines(); ++i) {
        std::string_view l = f.line(i);
        if (f.last_line_incomplete(i))
            l.remove_suffix(1);
        lines.emplace_back(l);
    }
    return lines;
}

void write_lines(Output &out, const std::vector<Line> &lines) {
    for (const Line &l : lines) {
        out.write(l);
        if (l.empty() || l.back() != '\n')
            out.put('\n');
    }
}

bool output_merge(Context &cx, Output &out, const Diff3Options &o,
                  const std::vector<diff3_block> &regions, const std::string &file0,
                  const std::string labels[3]) {
    std::vector<Line> mine = read_lines_of(cx, file0);
    size_t at = 0;  // lines of the first file written or skipped
    bool conflicts = false;
    auto copy_to = [&](long line) {  // copy up to and including 1-based `line`
        if (line > static_cast<long>(mine.size()))
            fatal(cx, "input file shrank");
        for (; static_cast<long>(at) < line; ++at)
            out.write(mine[at]);
    };
    for (const diff3_block &b : regions) {
        bool conflict;
        if (!selected(b, o, conflict))
            continue;
        copy_to(b.ranges[FILE0].lo - 1);
        if (conflict) {
            conflicts = true;
            out.write("<<<<<<< " + labels[FILE0] + "\n");
            write_lines(out, b.lines[FILE0]);
            if (o.show_2nd) {
                out.write("||||||| " + labels[FILE1] + "\n");
                write_lines(out, b.lines[FILE1]);
            }
            out.write("=======\n");
        }
        if (conflict)
            write_lines(out, b.lines[FILE2]);
        else
            for (const Line &l : b.lines[FILE2])
                out.write(l);
        if (conflict)
            out.write(">>>>>>> " + labels[FILE2] + "\n");
        if (b.ranges[FILE0].hi > static_cast<long>(mine.size()))
            fatal(cx, "input file shrank");
        at = static_cast<size_t>(std::max(b.ranges[FILE0].hi, 0L));
    }
    for (; at < mine.size(); ++at)
        out.write(mine[at]);
    return conflicts;
}

// Appended text of an ed script; lines that are a lone "." are doubled
// and their numbers (relative to the first) collected for the fix-up.
void ed_text(Output &out, const std::vector<Line> &lines, long first, std::vector<long> &dots) {
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string l = lines[i];
        if (l.empty() || l.back() != '\n')
            l += '\n';
        if (l == ".\n") {
            out.write("..\n");
            dots.push_back(first + static_cast<long>(i));
        } else {
            out.write(l);
        }
    }
}

void ed_end(Output &out, const std::vector<long> &dots) {
    out.write(".\n");
    for (long n : dots)
        out.write(std::to_string(n) + "s/^\\.//\n");
}

bool output_edscript(Output &out, const Diff3Options &o, const std::vector<diff3_block> &regions,
                     const std::string labels[3]) {
    bool conflicts = false;
    for (size_t k = regions.size(); k-- > 0;) {
        const diff3_block &b = regions[k];
        bool conflict;
        if (!selected(b, o, conflict))
            continue;
        long low0 = b.ranges[FILE0].lo, high0 = b.ranges[FILE0].hi;
        std::vector<long> dots;
        if (conflict) {
            conflicts = true;
            // The closing part goes after the region, the opening before it.
            out.write(std::to_string(high0) + "a\n");
            long n = high0 + 1;
            if (o.show_2nd) {
                out.write("||||||| " + labels[FILE1] + "\n");
                ed_text(out, b.lines[FILE1], n + 1, dots);
                n += 1 + static_cast<long>(b.lines[FILE1].size());
            }
            out.write("=======\n");
            ed_text(out, b.lines[FILE2], n + 1, dots);
            out.write(">>>>>>> " + labels[FILE2] + "\n");
            ed_end(out, dots);
            out.write(std::to_string(low0 - 1) + "a\n<<<<<<< " + labels[FILE0] + "\n.\n");
        } else if (b.lines[FILE2].empty()) {
            if (low0 == high0)
                out.write(std::to_string(low0) + "d\n");
            else
                out.write(std::to_string(low0) + "," + std::to_string(high0) + "d\n");
        } else {
            long first;
            if (high0 == low0 - 1) {
                out.write(std::to_string(high0) + "a\n");
                first = high0 + 1;
            } else if (high0 == low0) {
                out.write(std::to_string(high0) + "c\n");
                first = low0;
            } else {
                out.write(std::to_string(low0) + "," + std::to_string(high0) + "c\n");
                first = low0;
            }
            ed_text(out, b.lines[FILE2], first, dots);
            ed_end(out, dots);
        }
    }
    if (o.finalwrite)
        out.write("w\nq\n");
    return conflicts;
}

void output_report(Output &out, const Diff3Options &o, const std::vector<diff3_block> &regions) {
    for (const diff3_block &b : regions) {
        int differing = b.correspond == DIFF_1ST   ? 1
                        : b.correspond == DIFF_2ND ? 2
                        : b.correspond == DIFF_3RD ? 3
                                                   : 0;
        out.write(differing ? "====" + std::to_string(differing) + "\n" : std::string("====\n"));
        for (int f = 0; f < 3; ++f) {
            const Range &r = b.ranges[f];
            out.write(std::to_string(f + 1) + ":");
            if (r.count() == 0)
                out.write(std::to_string(r.hi) + "a\n");
            else if (r.count() == 1)
                out.write(std::to_string(r.lo) + "c\n");
            else
                out.write(std::to_string(r.lo) + "," + std::to_string(r.hi) + "c\n");
            // Text is shown once for files that agree: the odd one out and
            // the last of the two that agree, or every file in a conflict.
            bool show = differing == 0 || differing == f + 1 ||
                        (differing == 3 ? f == 1 : f == 2);
            if (!show)
                continue;
            for (const Line &l : b.lines[f]) {
                out.write(o.initial_tab ? "\t" : "  ");
                out.write(l);
                if (l.empty() || l.back() != '\n')
                    out.write("\n\\ No newline at end of file\n");
            }
        }
    }
}

const std::vector<LongOption> &diff3_long_options() {
    static const std::vector<LongOption> opts = {
        {"text", ArgKind::none, 'a'},          {"show-all", ArgKind::none, 'A'},
        {"ed", ArgKind::none, 'e'},            {"show-overlap", ArgKind::none, 'E'},
        {"label", ArgKind::required, 'L'},     {"merge", ArgKind::none, 'm'},
        {"initial-tab", ArgKind::none, 'T'},   {"overlap-only", ArgKind::none, 'x'},
        {"easy-only", ArgKind::none, '3'},     {"version", ArgKind::none, 'v'},
        {"help", ArgKind::none, 256},
    };
    return opts;
}

const char diff3_usage[] =
    "Usage: diff3 [OPTION]... MYFILE OLDFILE YOURFILE\n"
    "Compare three files line by line.\n\n"
    "  -e  --ed  Output unmerged changes from OLDFILE to YOURFILE into MYFILE.\n"
    "  -E  --show-overlap  Output unmerged changes, bracketing conflicts.\n"
    "  -A  --show-all  Output all changes, bracketing conflicts.\n"
    "  -x  --overlap-only  Output overlapping changes.\n"
    "  -X  Output overlapping changes, bracketing them.\n"
    "  -3  --easy-only  Output unmerged nonoverlapping changes.\n\n"
    "  -m  --merge  Output merged file instead of ed script (default -A).\n"
    "  -L LABEL  --label=LABEL  Use LABEL instead of file name.\n"
    "  -i  Append `w' and `q' commands to ed scripts.\n"
    "  -a  --text  Treat all files as text.\n"
    "  -T  --initial-tab  Make tabs line up by prepending a tab.\n\n"
    "  -v  --version  Output version info.\n"
    "  --help  Output this help.\n";

int run(Context &cx, int argc, char **argv, const char *out) {
    Diff3Options o;
    const char *prog = argc > 0 && argv[0] ? argv[0] : "diff3";
    int modes = 0;
    bool done = false, too_many_labels = false;
    auto handle = [&](int c, const char *arg) -> bool {
        switch (c) {
        case 'a': o.always_text = true; break;
        case 'A': o.show_2nd = true; o.flagging = true; ++modes; break;
        case 'x': o.overlap_only = true; ++modes; break;
        case '3': o.simple_only = true; ++modes; break;
        case 'i': o.finalwrite = true; break;
        case 'm': o.merge = true; break;
        case 'X': o.overlap_only = true; o.flagging = true; ++modes; break;
        case 'E': o.flagging = true; ++modes; break;
        case 'e': ++modes; break;
        case 'T': o.initial_tab = true; break;
        case 'v':
            write_info(cx, "diff3 - JOL three-way merge engine version 2.7\n");
            done = true;
            break;
        case 'L':
            if (o.labels.size() >= 3)
                too_many_labels = true;
            else
                o.labels.emplace_back(arg);
            break;
        case 256:
            write_info(cx, diff3_usage);
            done = true;
            break;
        default: return false;
        }
        return true;
    };
    std::vector<std::string> operands;
    if (!scan_options(cx, argc, argv, "aeimvx3AEL:TX", diff3_long_options(), handle, operands))
        return 2;
    if (too_many_labels) {
        cx.error("Too many labels were given.  The limit is 3.");
        return 2;
    }
    if (done)
        return 0;
    o.edscript = modes > 0 && !o.merge;
    if (modes > 1 || (o.finalwrite && o.merge) || (!o.labels.empty() && !o.flagging && !(o.merge && modes == 0))) {
        cx.error("incompatible options");
        return 2;
    }
    if (o.merge && modes == 0) {
        o.show_2nd = true;
        o.flagging = true;
    }
    if (operands.size() < 3) {
        cx.error("missing operand");
        try_help(cx, prog);
        return 2;
    }
    if (operands.size() > 3) {
        cx.error("extra operand");
        try_help(cx, prog);
        return 2;
    }
    int dashes = 0;
    for (const std::string &f : operands) {
        if (f == "-") {
            ++dashes;
            continue;
        }
        struct stat st;
        if (stat(f.c_str(), &st) != 0) {
            cx.error("%s: %s", f.c_str(), std::strerror(errno));
            return 2;
        }
        if (S_ISDIR(st.st_mode)) {
            cx.error("%s: Is a directory", f.c_str());
            return 2;
        }
    }
    if (dashes > 1) {
        cx.error("`-' specified for more than one input file");
        return 2;
    }
    if (dashes == 1) {
        cx.error("reading an operand from standard input is not supported");
        return 2;
    }
    std::string labels[3];
    for (int i = 0; i < 3; ++i)
        labels[i] = i < static_cast<int>(o.labels.size()) ? o.labels[static_cast<size_t>(i)]
                                                          : operands[static_cast<size_t>(i)];

    OutputTarget target;
    if (!target.open(cx, out))
        return 2;
    bool conflicts = false;
    {
        Output output(target.file(), cx.cb);
        std::vector<diff_block> thread1 = process_diff(cx, o, operands[FILE1], operands[FILE2], 0);
        const int horizon = static_cast<int>(std::min(largest_hunk(thread1), 1000000000L));
        std::vector<diff_block> thread0 =
            process_diff(cx, o, operands[FILE0], operands[FILE2], horizon);
        // The horizon can change which of several equally short alignments
        // a comparison picks. Comparing both files with the same horizon
        // keeps the two threads aligned alike, so an unchanged side never
        // shows up as a conflict.
        if (horizon > 0)
            thread1 = process_diff(cx, o, operands[FILE1], operands[FILE2], horizon);
        std::vector<diff3_block> regions = make_3way_diff(cx, thread0, thread1);
        if (o.merge)
            conflicts = output_merge(cx, output, o, regions, operands[FILE0], labels);
        else if (o.edscript)
            conflicts = output_edscript(output, o, regions, labels);
        else
            output_report(output, o, regions);
        output.flush();
    }
    if (!target.finish(cx))
        return 2;
    return conflicts ? 1 : 0;
}

}  // namespace

}  // namespace jdiff

int diff3_run(int argc, char **argv, const char *out, const diff_callbacks *callbacks) {
    jdiff::Context cx;
    cx.cb = callbacks;
    try {
        return jdiff::run(cx, argc, argv, out);
    } catch (const jdiff::Fatal &) {
        return 2;
    } catch (const std::bad_alloc &) {
        cx.error("memory exhausted");
        return 2;
    }
}
