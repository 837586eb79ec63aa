// Writing the change list in the normal, context, unified, ed, forward-ed
// and RCS styles.
#include <cstring>
#include <ctime>

#include "diff/diff_internal.h"
#include "diff/output_styles.h"

namespace jdiff {

namespace {

bool blank_line(std::string_view line) {
    return line == "\n" || line.empty();
}

bool ignorable(const Context &cx, const FileData &f, size_t i) {
    std::string_view l = f.line(i);
    if (cx.opt.ignore_blank_lines && blank_line(l))
        return true;
    return cx.opt.ignore_regexps.any_match(l);
}

}  // namespace

void analyze_hunk(const Context &cx, size_t begin, size_t end, size_t &first0, size_t &last0,
                  size_t &first1, size_t &last1, bool &deletes, bool &inserts) {
    const change &f = cx.script[begin], &l = cx.script[end - 1];
    first0 = f.line0;
    first1 = f.line1;
    last0 = l.line0 + l.deleted - 1;  // may wrap to first0 - 1 for an empty range
    last1 = l.line1 + l.inserted - 1;
    size_t ndel = 0, nins = 0;
    bool all_ignorable = cx.opt.ignore_blank_lines || !cx.opt.ignore_regexps.list.empty();
    for (size_t k = begin; k < end; ++k) {
        const change &c = cx.script[k];
        ndel += c.deleted;
        nins += c.inserted;
        if (all_ignorable) {
            for (size_t i = 0; i < c.deleted && all_ignorable; ++i)
                all_ignorable = ignorable(cx, cx.files[0], c.line0 + i);
            for (size_t i = 0; i < c.inserted && all_ignorable; ++i)
                all_ignorable = ignorable(cx, cx.files[1], c.line1 + i);
        }
    }
    deletes = ndel > 0 && !all_ignorable;
    inserts = nins > 0 && !all_ignorable;
}

bool change_printed(const Context &cx, size_t k, bool &deletes, bool &inserts) {
    size_t f0, l0, f1, l1;
    analyze_hunk(cx, k, k + 1, f0, l0, f1, l1, deletes, inserts);
    return deletes || inserts;
}

char change_letter(bool inserts, bool deletes) {
    return !inserts ? 'd' : !deletes ? 'a' : 'c';
}

// 1-based numbers of a 0-based inclusive range; `last` may be first - 1
// (an empty range, printed as the line before it).
std::string number_range(char sep, size_t first, size_t last) {
    size_t a = first + 1, b = last + 1;
    if (b <= a)
        return std::to_string(b);
    return std::to_string(a) + sep + std::to_string(b);
}

void Printer::line(const char *flag, const FileData &f, size_t i) {
    size_t col = 0;
    if (flag && *flag) {
        out.write(flag);
        out.put(cx.opt.initial_tab ? '\t' : ' ');
        col = cx.opt.initial_tab ? 8 : std::strlen(flag) + 1;
    }
    text(f, i, col, flag && *flag);
}

void Printer::unified_line(char flag, const FileData &f, size_t i) {
    out.put(flag);
    size_t col = 1;
    if (cx.opt.initial_tab) {
        out.put('\t');
        col = 8;
    }
    text(f, i, col, true);
}

void Printer::text(const FileData &f, size_t i, size_t col, bool flagged) {
    std::string_view l = f.line(i);
    bool incomplete = f.last_line_incomplete(i);
    if (incomplete)
        l.remove_suffix(1);
    if (cx.opt.expand_tabs) {
        for (char c : l) {
            if (c == '\t') {
                size_t next = (col / 8 + 1) * 8;
                out.write(std::string(next - col, ' '));
                col = next;
            } else {
                out.put(c);
                if (c == '\n')
                    col = 0;
                else
                    ++col;
            }
        }
    } else {
        out.write(l);
    }
    if (incomplete && flagged)
        out.write("\n\\ No newline at end of file\n");
}

namespace {

void print_rcs(Printer &p) {
    Context &cx = p.cx;
    for (size_t k = 0; k < cx.script.size(); ++k) {
        bool del, ins;
        if (!change_printed(cx, k, del, ins))
            continue;
        const change &c = cx.script[k];
        if (del)
            p.out.write("d" + std::to_string(c.line0 + 1) + " " + std::to_string(c.deleted) + "\n");
        if (ins) {
            p.out.write("a" + std::to_string(c.line0 + c.deleted) + " " +
                        std::to_string(c.inserted) + "\n");
            for (size_t i = 0; i < c.inserted; ++i)
                p.line("", cx.files[1], c.line1 + i);
        }
    }
}

void print_normal(Printer &p) {
    Context &cx = p.cx;
    for (size_t k = 0; k < cx.script.size(); ++k) {
        size_t f0, l0, f1, l1;
        bool del, ins;
        analyze_hunk(cx, k, k + 1, f0, l0, f1, l1, del, ins);
        if (!del && !ins)
            continue;
        p.out.write(number_range(',', f0, l0));
        p.out.put(change_letter(ins, del));
        p.out.write(number_range(',', f1, l1));
        p.out.put('\n');
        if (del)
            for (size_t i = f0; i <= l0; ++i)
                p.line("<", cx.files[0], i);
        if (del && ins)
            p.out.write("---\n");
        if (ins)
            for (size_t i = f1; i <= l1; ++i)
                p.line(">", cx.files[1], i);
    }
}

void print_ed(Printer &p) {
    Context &cx = p.cx;
    for (size_t k = cx.script.size(); k-- > 0;) {
        size_t f0, l0, f1, l1;
        bool del, ins;
        analyze_hunk(cx, k, k + 1, f0, l0, f1, l1, del, ins);
        if (!del && !ins)
            continue;
        const change &c = cx.script[k];
        p.out.write(number_range(',', f0, l0));
        p.out.put(change_letter(ins, del));
        p.out.put('\n');
        if (!ins)
            continue;
        bool appending = true;
        for (size_t i = 0; i < c.inserted; ++i) {
            std::string_view l = cx.files[1].line(c.line1 + i);
            if (!appending) {
                p.out.write(std::to_string(c.line0 + i) + "a\n");
                appending = true;
            }
            if (l == ".\n") {
                p.out.write("..\n.\n");
                p.out.write(std::to_string(c.line0 + i + 1) + "s/^\\.\\././\n");
                appending = false;
            } else {
                p.out.write(l);
            }
        }
        if (appending)
            p.out.write(".\n");
    }
}

void print_forward_ed(Printer &p) {
    Context &cx = p.cx;
    for (size_t k = 0; k < cx.script.size(); ++k) {
        size_t f0, l0, f1, l1;
        bool del, ins;
        analyze_hunk(cx, k, k + 1, f0, l0, f1, l1, del, ins);
        if (!del && !ins)
            continue;
        p.out.put(change_letter(ins, del));
        p.out.write(number_range(' ', f0, l0));
        p.out.put('\n');
        if (ins) {
            for (size_t i = f1; i <= l1; ++i)
                p.out.write(cx.files[1].line(i));
            p.out.write(".\n");
        }
    }
}

std::string header_time(const FileData &f) {
    if (f.absent || f.name == "-")
        return "?\n";
    char buf[64];
    time_t t = f.st.st_mtime;
    struct tm tm;
    if (!localtime_r(&t, &tm) || !asctime_r(&tm, buf))
        return "?\n";
    return buf;
}

void context_header(Printer &p, bool unidiff) {
    for (int f = 0; f < 2; ++f) {
        const FileData &fd = p.cx.files[f];
        const char *mark = unidiff ? (f ? "+++" : "---") : (f ? "---" : "***");
        p.out.write(mark);
        p.out.put(' ');
        if (!fd.label.empty()) {
            p.out.write(fd.label);
            p.out.put('\n');
        } else {
            p.out.write(fd.name);
            p.out.put('\t');
            p.out.write(header_time(fd));
        }
    }
}

// The last line before `first0` that matches the function expression.
class FunctionFinder {
  public:
    explicit FunctionFinder(const Context &cx) : cx_(cx) {}
    std::string find(size_t first0) {
        if (!cx_.opt.function_regexp)
            return std::string();
        const FileData &f = cx_.files[0];
        for (size_t i = first0; i-- > scanned_;) {
            std::string l(f.line(i));
            if (!l.empty() && l.back() == '\n')
                l.pop_back();
            if (regexec(cx_.opt.function_regexp.get(), l.c_str(), 0, nullptr, 0) == 0) {
                found_ = l;
                break;
            }
        }
        scanned_ = std::max(scanned_, first0);
        if (found_.empty())
            return std::string();
        return " " + found_.substr(0, 40);
    }

  private:
    const Context &cx_;
    size_t scanned_ = 0;
    std::string found_;
};

// The end (exclusive) of the group of changes starting at `begin`.
size_t find_hunk(const Context &cx, size_t begin) {
    size_t ctx = static_cast<size_t>(cx.opt.context);
    size_t k = begin;
    while (k + 1 < cx.script.size()) {
        const change &c = cx.script[k], &n = cx.script[k + 1];
        size_t gap = n.line0 - (c.line0 + c.deleted);
        size_t f0, l0, f1, l1;
        bool d1, i1, d2, i2;
        analyze_hunk(cx, k, k + 1, f0, l0, f1, l1, d1, i1);
        analyze_hunk(cx, k + 1, k + 2, f0, l0, f1, l1, d2, i2);
        bool ignore = (!d1 && !i1) || (!d2 && !i2);
        size_t limit = ignore ? ctx : 2 * ctx + 1;
        if (gap >= limit)
            break;
        ++k;
    }
    return k + 1;
}

std::string unidiff_range(size_t first, size_t last, bool empty) {
    long a = static_cast<long>(first) + 1;
    if (empty)
        return std::to_string(a - 1) + ",0";
    long b = static_cast<long>(last) + 1;
    if (b == a)
        return std::to_string(a);
    return std::to_string(a) + "," + std::to_string(b - a + 1);
}

void print_context(Printer &p, bool unidiff) {
    Context &cx = p.cx;
    const FileData &a = cx.files[0], &b = cx.files[1];
    FunctionFinder functions(cx);
    bool header_done = false;
    size_t ctx = static_cast<size_t>(cx.opt.context);
    for (size_t begin = 0; begin < cx.script.size();) {
        size_t end = find_hunk(cx, begin);
        size_t f0, l0, f1, l1;
        bool del, ins;
        analyze_hunk(cx, begin, end, f0, l0, f1, l1, del, ins);
        if (!del && !ins) {
            begin = end;
            continue;
        }
        if (!header_done) {
            context_header(p, unidiff);
            header_done = true;
        }
        // Widen by the context, clipped to the files.
        size_t s0 = f0 > ctx ? f0 - ctx : 0, s1 = f1 > ctx ? f1 - ctx : 0;
        size_t e0 = std::min(a.nlines(), cx.script[end - 1].line0 + cx.script[end - 1].deleted + ctx);
        size_t e1 = std::min(b.nlines(), cx.script[end - 1].line1 + cx.script[end - 1].inserted + ctx);
        std::string fn = functions.find(f0);
        if (unidiff) {
            p.out.write("@@ -" + unidiff_range(s0, e0 - 1, e0 == s0) + " +" +
                        unidiff_range(s1, e1 - 1, e1 == s1) + " @@" + fn + "\n");
            size_t i0 = s0, i1 = s1;
            for (size_t k = begin; k < end; ++k) {
                const change &c = cx.script[k];
                while (i0 < c.line0) {
                    p.unified_line(' ', a, i0++);
                    ++i1;
                }
                for (size_t i = 0; i < c.deleted; ++i)
                    p.unified_line('-', a, i0++);
                for (size_t i = 0; i < c.inserted; ++i)
                    p.unified_line('+', b, i1++);
            }
            while (i0 < e0)
                p.unified_line(' ', a, i0++);
        } else {
            p.out.write("***************" + fn + "\n*** " + number_range(',', s0, e0 - 1) +
                        " ****\n");
            // One side of the hunk: changed lines flagged "!" when their change
            // both deletes and inserts, else with `pure`; context with " ".
            auto side = [&](int f, size_t first, size_t last, const char *pure) {
                std::vector<const char *> flags(last - first, " ");
                for (size_t k = begin; k < end; ++k) {
                    const change &c = cx.script[k];
                    size_t start = f ? c.line1 : c.line0, n = f ? c.inserted : c.deleted;
                    for (size_t i = 0; i < n; ++i)
                        flags[start + i - first] = c.deleted && c.inserted ? "!" : pure;
                }
                for (size_t i = first; i < last; ++i)
                    p.line(flags[i - first], cx.files[f], i);
            };
            if (del)
                side(0, s0, e0, "-");
            p.out.write("--- " + number_range(',', s1, e1 - 1) + " ----\n");
            if (ins)
                side(1, s1, e1, "+");
        }
        begin = end;
    }
}

}  // namespace

void print_script(Context &cx) {
    Printer p{cx, *cx.out};
    switch (cx.opt.style) {
    case OUTPUT_NORMAL: print_normal(p); break;
    case OUTPUT_CONTEXT: print_context(p, false); break;
    case OUTPUT_UNIFIED: print_context(p, true); break;
    case OUTPUT_ED: print_ed(p); break;
    case OUTPUT_FORWARD_ED: print_forward_ed(p); break;
    case OUTPUT_RCS: print_rcs(p); break;
    case OUTPUT_IFDEF: print_ifdef(p); break;
    case OUTPUT_SDIFF: print_sdiff(p); break;
    }
}

}  // namespace jdiff
