// The side-by-side output style.
#include "diff/output_styles.h"

namespace jdiff {

namespace {

struct Geometry {
    size_t half_width;
    size_t column2;
};

Geometry geometry(const Options &o) {
    long w = o.width, t = o.expand_tabs ? 1 : 8;
    long off = (w + t + 3) / (2 * t) * t;
    long half = std::min(off - 3, w - off);
    if (half < 0)
        half = 0;
    return {static_cast<size_t>(half), static_cast<size_t>(half ? off : w)};
}

// Line `i` as the file holds it: a final line feed appended in memory is
// dropped, so the gutter mark and the line end see the line as it is.
std::string_view line_as_read(const FileData &f, size_t i) {
    std::string_view l = f.line(i);
    if (f.last_line_incomplete(i))
        l.remove_suffix(1);
    return l;
}

class Sdiff {
  public:
    explicit Sdiff(Printer &p) : p_(p), o_(p.cx.opt), g_(geometry(p.cx.opt)) {}

    void line(const std::string_view *left, char sep, const std::string_view *right) {
        size_t col = 0;
        bool left_nl = false, right_nl = false;
        if (left) {
            left_nl = !left->empty() && left->back() == '\n';
            col = half_line(*left, 0, g_.half_width);
        }
        if (right)
            right_nl = !right->empty() && right->back() == '\n';
        if (sep != ' ') {
            col = tab_from_to(col, (g_.half_width + g_.column2 - 1) / 2);
            if (sep == '|' && left && right && left_nl != right_nl)
                sep = left_nl ? '/' : '\\';
            p_.out.put(sep);
            ++col;
        }
        if (right && !(right->empty() || *right == "\n")) {
            col = tab_from_to(col, g_.column2);
            half_line(*right, g_.column2, g_.half_width);
        }
        if (left_nl || right_nl)
            p_.out.put('\n');
    }

  private:
    size_t tab_from_to(size_t from, size_t to) {
        if (!o_.expand_tabs) {
            for (size_t next = (from / 8 + 1) * 8; next <= to; next = (from / 8 + 1) * 8) {
                p_.out.put('\t');
                from = next;
            }
        }
        while (from < to) {
            p_.out.put(' ');
            ++from;
        }
        return to;
    }

    size_t half_line(std::string_view line, size_t indent, size_t out_bound) {
        size_t in = 0, out = 0;
        for (char c : line) {
            switch (c) {
            case '\t': {
                size_t next = (in / 8 + 1) * 8;
                if (in == out) {
                    if (o_.expand_tabs) {
                        size_t stop = std::min(next, out_bound);
                        while (out < stop) {
                            p_.out.put(' ');
                            ++out;
                        }
                    } else if (next < out_bound) {
                        p_.out.put('\t');
                        out = next;
                    }
                }
                in = next;
                break;
            }
            case '\r':
                p_.out.put('\r');
                tab_from_to(0, indent);
                in = out = 0;
                break;
            case '\b':
                if (in != 0 && --in < out_bound) {
                    if (out > in) {
                        p_.out.put('\b');
                        out = in;
                    } else {
                        while (out < in) {
                            p_.out.put(' ');
                            ++out;
                        }
                    }
                }
                break;
            case '\n': return out;
            default:
                if (static_cast<unsigned char>(c) < ' ' || c == 127) {
                    if (in < out_bound)
                        p_.out.put(c);
                } else {
                    if (in < out_bound) {
                        p_.out.put(c);
                        out = in + 1;
                    }
                    ++in;
                }
                break;
            }
        }
        return out;
    }

    Printer &p_;
    const Options &o_;
    Geometry g_;
};

void common_lines(Printer &p, Sdiff &sd, size_t b0, size_t e0, size_t b1, size_t e1) {
    const Options &o = p.cx.opt;
    if (o.suppress_common)
        return;
    if (o.sdiff_merge_assist)
        p.out.write("i" + std::to_string(e0 - b0) + "," + std::to_string(e1 - b1) + "\n");
    const FileData &a = p.cx.files[0], &b = p.cx.files[1];
    if (o.left_column) {
        for (size_t i = b0; i < e0; ++i) {
            std::string_view l = line_as_read(a, i);
            sd.line(&l, '(', nullptr);
        }
        return;
    }
    size_t i = b0, j = b1;
    for (; i < e0 && j < e1; ++i, ++j) {
        std::string_view l = line_as_read(a, i), r = line_as_read(b, j);
        sd.line(&l, ' ', &r);
    }
    for (; j < e1; ++j) {
        std::string_view r = line_as_read(b, j);
        sd.line(nullptr, ')', &r);
    }
    for (; i < e0; ++i) {
        std::string_view l = line_as_read(a, i);
        sd.line(&l, '(', nullptr);
    }
}

}  // namespace

void print_sdiff(Printer &p) {
    Context &cx = p.cx;
    Sdiff sd(p);
    const FileData &a = cx.files[0], &b = cx.files[1];
    size_t next0 = 0, next1 = 0;
    for (size_t k = 0; k < cx.script.size(); ++k) {
        bool del, ins;
        if (!change_printed(cx, k, del, ins))
            continue;
        const change &c = cx.script[k];
        common_lines(p, sd, next0, c.line0, next1, c.line1);
        if (cx.opt.sdiff_merge_assist)
            p.out.write("c" + std::to_string(c.deleted) + "," + std::to_string(c.inserted) + "\n");
        size_t i = 0, j = 0;
        if (c.deleted && c.inserted)
            for (; i < c.deleted && j < c.inserted; ++i, ++j) {
                std::string_view l = line_as_read(a, c.line0 + i);
                std::string_view r = line_as_read(b, c.line1 + j);
                sd.line(&l, '|', &r);
            }
        for (; j < c.inserted; ++j) {
            std::string_view r = line_as_read(b, c.line1 + j);
            sd.line(nullptr, '>', &r);
        }
        for (; i < c.deleted; ++i) {
            std::string_view l = line_as_read(a, c.line0 + i);
            sd.line(&l, '<', nullptr);
        }
        next0 = c.line0 + c.deleted;
        next1 = c.line1 + c.inserted;
    }
    common_lines(p, sd, next0, a.nlines(), next1, b.nlines());
}

}  // namespace jdiff
