// The merged output style: both files as a sequence of groups written
// through group and line formats (-D and the --*-format options).
#include <cstdio>
#include <cstring>

#include "diff/output_styles.h"

namespace jdiff {

namespace {

enum { OLD = 0, NEW = 1, UNCHANGED = 2, CHANGED = 3 };

struct Group {
    size_t b0, e0, b1, e1;  // 0-based, end exclusive
};

// A printf-style conversion at fmt[pos]: flags "-", width, precision and
// one of d o x X c. Returns its length, 0 when there is none.
size_t scan_conversion(std::string_view fmt, size_t pos) {
    size_t i = pos;
    while (i < fmt.size() && fmt[i] == '-')
        ++i;
    while (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i])))
        ++i;
    if (i < fmt.size() && fmt[i] == '.') {
        ++i;
        while (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i])))
            ++i;
    }
    if (i < fmt.size() && std::strchr("doxXc", fmt[i]) && fmt[i] != '\0')
        return i + 1 - pos;
    return 0;
}

// A character literal at fmt[pos]: 'c' or '\ooo'. Its length, 0 for none.
size_t scan_char_literal(std::string_view fmt, size_t pos, int &value) {
    if (pos >= fmt.size() || fmt[pos] != '\'')
        return 0;
    size_t i = pos + 1;
    if (i < fmt.size() && fmt[i] == '\\') {
        ++i;
        int v = 0, digits = 0;
        while (i < fmt.size() && digits < 3 && fmt[i] >= '0' && fmt[i] <= '7') {
            v = v * 8 + (fmt[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || i >= fmt.size() || fmt[i] != '\'')
            return 0;
        value = v;
        return i + 1 - pos;
    }
    if (i + 1 < fmt.size() && fmt[i] != '\'' && fmt[i] != '\0' && fmt[i + 1] == '\'') {
        value = static_cast<unsigned char>(fmt[i]);
        return 3;
    }
    return 0;
}

// `value` printed through a conversion accepted by scan_conversion.
std::string format_value(std::string_view conversion, long value) {
    std::string f = "%" + std::string(conversion.substr(0, conversion.size() - 1));
    char conv = conversion.back();
    char buf[128];
    if (conv == 'c') {
        f += 'c';
        std::snprintf(buf, sizeof buf, f.c_str(), static_cast<int>(value));
    } else {
        f += 'l';
        f += conv;
        std::snprintf(buf, sizeof buf, f.c_str(), value);
    }
    return buf;
}

class Formatter {
  public:
    Formatter(Printer &p) : p_(p), o_(p.cx.opt) {}

    void group(std::string_view fmt, const Group &g) {
        size_t pos = 0;
        run(fmt, pos, '\0', true, g);
    }

  private:
    // Value of a group letter, or false when c is none.
    bool letter_value(char c, const Group &g, long &v) {
        bool upper = std::isupper(static_cast<unsigned char>(c));
        size_t b = upper ? g.b1 : g.b0, e = upper ? g.e1 : g.e0;
        switch (std::tolower(static_cast<unsigned char>(c))) {
        case 'e': v = static_cast<long>(b); return true;
        case 'f': v = static_cast<long>(b) + 1; return true;
        case 'l': v = static_cast<long>(e); return true;
        case 'm': v = static_cast<long>(e) + 1; return true;
        case 'n': v = static_cast<long>(e - b); return true;
        }
        return false;
    }

    bool operand(std::string_view fmt, size_t &i, const Group &g, long &v) {
        if (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i]))) {
            v = 0;
            while (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i])))
                v = v * 10 + (fmt[i++] - '0');
            return true;
        }
        if (i < fmt.size() && letter_value(fmt[i], g, v)) {
            ++i;
            return true;
        }
        return false;
    }

    // Processes fmt from pos up to `stop` (not consumed), writing only when
    // `emit`.
    void run(std::string_view fmt, size_t &pos, char stop, bool emit, const Group &g) {
        while (pos < fmt.size() && fmt[pos] != stop) {
            char c = fmt[pos];
            if (c != '%') {
                if (emit)
                    p_.out.put(c);
                ++pos;
                continue;
            }
            size_t start = pos++;
            if (pos >= fmt.size()) {
                if (emit)
                    p_.out.put('%');
                break;
            }
            char d = fmt[pos];
            if (d == '%') {
                if (emit)
                    p_.out.put('%');
                ++pos;
            } else if (d == '<' || d == '>' || d == '=') {
                if (emit) {
                    if (d == '<')
                        lines(p_.cx.files[0], g.b0, g.e0, OLD);
                    else if (d == '>')
                        lines(p_.cx.files[1], g.b1, g.e1, NEW);
                    else
                        lines(p_.cx.files[0], g.b0, g.e0, UNCHANGED);
                }
                ++pos;
            } else if (d == '(') {
                size_t i = pos + 1;
                long a, b;
                if (operand(fmt, i, g, a) && i < fmt.size() && fmt[i] == '=' &&
                    (++i, operand(fmt, i, g, b)) && i < fmt.size() && fmt[i] == '?') {
                    ++i;
                    bool equal = a == b;
                    run(fmt, i, ':', emit && equal, g);
                    if (i < fmt.size())
                        ++i;
                    run(fmt, i, ')', emit && !equal, g);
                    if (i < fmt.size())
                        ++i;
                    pos = i;
                } else {
                    if (emit)
                        p_.out.put('%');
                    pos = start + 1;
                }
            } else {
                size_t n = scan_conversion(fmt, pos);
                long v;
                int lit;
                if (n && pos + n < fmt.size() && letter_value(fmt[pos + n], g, v)) {
                    if (emit)
                        p_.out.write(format_value(fmt.substr(pos, n), v));
                    pos += n + 1;
                } else if (size_t m = n ? scan_char_literal(fmt, pos + n, lit) : 0) {
                    if (emit)
                        p_.out.write(format_value(fmt.substr(pos, n), lit));
                    pos += n + m;
                } else {
                    if (emit)
                        p_.out.put('%');
                    pos = start + 1;
                }
            }
        }
    }

    void lines(const FileData &f, size_t b, size_t e, int which) {
        const std::string &fmt = o_.line_format[which];
        if (!o_.expand_tabs && fmt == "%l\n") {
            for (size_t i = b; i < e; ++i)
                p_.out.write(f.line(i));
            return;
        }
        if (!o_.expand_tabs && fmt == "%L") {
            for (size_t i = b; i < e; ++i) {
                std::string_view l = f.line(i);
                if (f.last_line_incomplete(i))
                    l.remove_suffix(1);
                p_.out.write(l);
            }
            return;
        }
        for (size_t i = b; i < e; ++i) {
            std::string_view full = f.line(i);
            if (f.last_line_incomplete(i))
                full.remove_suffix(1);
            std::string_view bare = full;
            if (!bare.empty() && bare.back() == '\n')
                bare.remove_suffix(1);
            for (size_t k = 0; k < fmt.size();) {
                char c = fmt[k];
                if (c != '%') {
                    p_.out.put(c);
                    ++k;
                    continue;
                }
                size_t q = k + 1;
                if (q < fmt.size() && (fmt[q] == 'L' || fmt[q] == 'l')) {
                    text(fmt[q] == 'L' ? full : bare);
                    k = q + 1;
                } else if (q < fmt.size() && fmt[q] == '%') {
                    p_.out.put('%');
                    k = q + 1;
                } else {
                    size_t n = scan_conversion(fmt, q);
                    int lit;
                    if (n && q + n < fmt.size() && fmt[q + n] == 'n') {
                        p_.out.write(format_value(std::string_view(fmt).substr(q, n),
                                                  static_cast<long>(i) + 1));
                        k = q + n + 1;
                    } else if (size_t m = n ? scan_char_literal(fmt, q + n, lit) : 0) {
                        p_.out.write(format_value(std::string_view(fmt).substr(q, n), lit));
                        k = q + n + m;
                    } else {
                        p_.out.put('%');
                        k = q;
                    }
                }
            }
        }
    }

    void text(std::string_view s) {
        if (!o_.expand_tabs) {
            p_.out.write(s);
            return;
        }
        size_t col = 0;
        for (char c : s) {
            if (c == '\t') {
                size_t next = (col / 8 + 1) * 8;
                p_.out.write(std::string(next - col, ' '));
                col = next;
            } else {
                p_.out.put(c);
                col = c == '\n' ? 0 : col + 1;
            }
        }
    }

    Printer &p_;
    const Options &o_;
};

}  // namespace

void print_ifdef(Printer &p) {
    Context &cx = p.cx;
    Formatter fmt(p);
    const FileData &a = cx.files[0], &b = cx.files[1];
    size_t next0 = 0, next1 = 0;
    for (size_t k = 0; k < cx.script.size(); ++k) {
        bool del, ins;
        if (!change_printed(cx, k, del, ins))
            continue;
        const change &c = cx.script[k];
        if (next0 < c.line0 || next1 < c.line1)
            fmt.group(cx.opt.group_format[UNCHANGED], {next0, c.line0, next1, c.line1});
        int which = del && ins ? CHANGED : del ? OLD : NEW;
        fmt.group(cx.opt.group_format[which],
                  {c.line0, c.line0 + c.deleted, c.line1, c.line1 + c.inserted});
        next0 = c.line0 + c.deleted;
        next1 = c.line1 + c.inserted;
    }
    if (next0 < a.nlines() || next1 < b.nlines())
        fmt.group(cx.opt.group_format[UNCHANGED], {next0, a.nlines(), next1, b.nlines()});
}

}  // namespace jdiff
