// Option scanning for the diff engine and the diff options themselves.
#include "diff/options.h"

#include <cctype>
#include <climits>
#include <cstring>

namespace jdiff {

void try_help(const Context &cx, const char *prog) {
    cx.error("Try `%s --help' for more information.", prog ? prog : "diff");
}

bool parse_count(const char *text, int &value) {
    if (!text || !*text)
        return false;
    long long v = 0;
    for (const char *p = text; *p; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
        v = v * 10 + (*p - '0');
        if (v > INT_MAX)
            return false;
    }
    value = static_cast<int>(v);
    return true;
}

namespace {

// The argument kind of short letter `c` in `shortopts`, or -1 when the
// letter is not an option.
int short_kind(const char *shortopts, char c) {
    if (c == ':')
        return -1;
    const char *p = std::strchr(shortopts, c);
    if (!p)
        return -1;
    if (p[1] == ':')
        return p[2] == ':' ? 2 : 1;
    return 0;
}

}  // namespace

bool scan_options(Context &cx, int argc, char **argv, const char *shortopts,
                  const std::vector<LongOption> &longopts,
                  const std::function<bool(int, const char *)> &handle,
                  std::vector<std::string> &operands) {
    const char *prog = argc > 0 && argv[0] ? argv[0] : "diff";
    bool only_operands = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!arg)
            break;
        if (only_operands || arg[0] != '-' || arg[1] == '\0') {
            operands.emplace_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            only_operands = true;
            continue;
        }
        if (arg[1] == '-') {
            std::string_view body(arg + 2);
            size_t eq = body.find('=');
            std::string_view name = body.substr(0, eq);
            const LongOption *match = nullptr;
            bool ambiguous = false;
            for (const LongOption &o : longopts) {
                if (name == o.name) {
                    match = &o;
                    ambiguous = false;
                    break;
                }
                if (std::string_view(o.name).substr(0, name.size()) == name) {
                    if (match && match->code != o.code)
                        ambiguous = true;
                    if (!match)
                        match = &o;
                }
            }
            std::string shown(name);
            if (ambiguous) {
                cx.error("option `--%s' is ambiguous", shown.c_str());
                try_help(cx, prog);
                return false;
            }
            if (!match) {
                cx.error("unrecognized option `--%s'", shown.c_str());
                try_help(cx, prog);
                return false;
            }
            const char *value = nullptr;
            std::string value_text;
            if (eq != std::string_view::npos) {
                if (match->kind == ArgKind::none) {
                    cx.error("option `--%s' doesn't allow an argument", match->name);
                    try_help(cx, prog);
                    return false;
                }
                value_text = std::string(body.substr(eq + 1));
                value = value_text.c_str();
            } else if (match->kind == ArgKind::required) {
                if (i + 1 >= argc || !argv[i + 1]) {
                    cx.error("option `--%s' requires an argument", match->name);
                    try_help(cx, prog);
                    return false;
                }
                value = argv[++i];
            }
            if (!handle(match->code, value))
                return false;
            continue;
        }
        for (const char *p = arg + 1; *p; ++p) {
            int kind = short_kind(shortopts, *p);
            char letter[2] = {*p, '\0'};
            if (kind < 0) {
                cx.error("invalid option -- %s", letter);
                try_help(cx, prog);
                return false;
            }
            if (kind == 0) {
                if (!handle(static_cast<unsigned char>(*p), nullptr))
                    return false;
                continue;
            }
            const char *value = nullptr;
            if (p[1])
                value = p + 1;
            else if (kind == 1) {
                if (i + 1 >= argc || !argv[i + 1]) {
                    cx.error("option requires an argument -- %s", letter);
                    try_help(cx, prog);
                    return false;
                }
                value = argv[++i];
            }
            if (!handle(static_cast<unsigned char>(*p), value))
                return false;
            break;
        }
    }
    return true;
}

namespace {

enum {
    OPT_LEFT_COLUMN = 256,
    OPT_SUPPRESS_COMMON,
    OPT_SDIFF_MERGE_ASSIST,
    OPT_OLD_LINE_FORMAT,
    OPT_NEW_LINE_FORMAT,
    OPT_UNCHANGED_LINE_FORMAT,
    OPT_LINE_FORMAT,
    OPT_OLD_GROUP_FORMAT,
    OPT_NEW_GROUP_FORMAT,
    OPT_UNCHANGED_GROUP_FORMAT,
    OPT_CHANGED_GROUP_FORMAT,
    OPT_HORIZON_LINES,
    OPT_HELP,
    OPT_BINARY,
};

const std::vector<LongOption> &diff_long_options() {
    static const std::vector<LongOption> opts = {
        {"ignore-blank-lines", ArgKind::none, 'B'},
        {"context", ArgKind::optional, 'C'},
        {"ifdef", ArgKind::required, 'D'},
        {"show-function-line", ArgKind::required, 'F'},
        {"speed-large-files", ArgKind::none, 'H'},
        {"ignore-matching-lines", ArgKind::required, 'I'},
        {"label", ArgKind::required, 'L'},
        {"file-label", ArgKind::required, 'L'},
        {"new-file", ArgKind::none, 'N'},
        {"entire-new-file", ArgKind::none, 'N'},
        {"unidirectional-new-file", ArgKind::none, 'P'},
        {"starting-file", ArgKind::required, 'S'},
        {"initial-tab", ArgKind::none, 'T'},
        {"width", ArgKind::required, 'W'},
        {"text", ArgKind::none, 'a'},
        {"ascii", ArgKind::none, 'a'},
        {"ignore-space-change", ArgKind::none, 'b'},
        {"minimal", ArgKind::none, 'd'},
        {"ed", ArgKind::none, 'e'},
        {"forward-ed", ArgKind::none, 'f'},
        {"ignore-case", ArgKind::none, 'i'},
        {"paginate", ArgKind::none, 'l'},
        {"print", ArgKind::none, 'l'},
        {"rcs", ArgKind::none, 'n'},
        {"show-c-function", ArgKind::none, 'p'},
        {"brief", ArgKind::none, 'q'},
        {"recursive", ArgKind::none, 'r'},
        {"report-identical-files", ArgKind::none, 's'},
        {"expand-tabs", ArgKind::none, 't'},
        {"version", ArgKind::none, 'v'},
        {"ignore-all-space", ArgKind::none, 'w'},
        {"exclude", ArgKind::required, 'x'},
        {"exclude-from", ArgKind::required, 'X'},
        {"side-by-side", ArgKind::none, 'y'},
        {"unified", ArgKind::optional, 'U'},
        {"left-column", ArgKind::none, OPT_LEFT_COLUMN},
        {"suppress-common-lines", ArgKind::none, OPT_SUPPRESS_COMMON},
        {"sdiff-merge-assist", ArgKind::none, OPT_SDIFF_MERGE_ASSIST},
        {"old-line-format", ArgKind::required, OPT_OLD_LINE_FORMAT},
        {"new-line-format", ArgKind::required, OPT_NEW_LINE_FORMAT},
        {"unchanged-line-format", ArgKind::required, OPT_UNCHANGED_LINE_FORMAT},
        {"line-format", ArgKind::required, OPT_LINE_FORMAT},
        {"old-group-format", ArgKind::required, OPT_OLD_GROUP_FORMAT},
        {"new-group-format", ArgKind::required, OPT_NEW_GROUP_FORMAT},
        {"unchanged-group-format", ArgKind::required, OPT_UNCHANGED_GROUP_FORMAT},
        {"changed-group-format", ArgKind::required, OPT_CHANGED_GROUP_FORMAT},
        {"horizon-lines", ArgKind::required, OPT_HORIZON_LINES},
        {"help", ArgKind::none, OPT_HELP},
        {"binary", ArgKind::none, OPT_BINARY},
    };
    return opts;
}

const char usage_text[] =
    "Usage: diff [OPTION]... FILE1 FILE2\n"
    "Compare two files line by line.\n\n"
    "  -i  --ignore-case  Consider upper- and lower-case to be the same.\n"
    "  -w  --ignore-all-space  Ignore all white space.\n"
    "  -b  --ignore-space-change  Ignore changes in the amount of white space.\n"
    "  -B  --ignore-blank-lines  Ignore changes whose lines are all blank.\n"
    "  -I RE  --ignore-matching-lines=RE  Ignore changes whose lines all match RE.\n"
    "  --binary  Read and write data in binary mode.\n"
    "  -a  --text  Treat all files as text.\n\n"
    "  -c  -C NUM  --context[=NUM]  Output NUM (default 3) lines of copied context.\n"
    "  -u  -U NUM  --unified[=NUM]  Output NUM (default 3) lines of unified context.\n"
    "    -NUM  Use NUM context lines.\n"
    "    -L LABEL  --label LABEL  Use LABEL instead of file name.\n"
    "    -p  --show-c-function  Show which C function each change is in.\n"
    "    -F RE  --show-function-line=RE  Show the most recent line matching RE.\n"
    "  -q  --brief  Output only whether files differ.\n"
    "  -e  --ed  Output an ed script.\n"
    "  -f  --forward-ed  Output something like an ed script in forward order.\n"
    "  -n  --rcs  Output an RCS format diff.\n"
    "  -y  --side-by-side  Output in two columns.\n"
    "    -W NUM  --width=NUM  Output at most NUM (default 130) characters per line.\n"
    "    --left-column  Output only the left column of common lines.\n"
    "    --suppress-common-lines  Do not output common lines.\n"
    "  -DNAME  --ifdef=NAME  Output merged file to show `#ifdef NAME' diffs.\n"
    "  --GTYPE-group-format=GFMT  Similar, but format GTYPE input groups with GFMT.\n"
    "  --line-format=LFMT  Similar, but format all input lines with LFMT.\n"
    "  --LTYPE-line-format=LFMT  Similar, but format LTYPE input lines with LFMT.\n\n"
    "  -l  --paginate  Pass the output through a paginator.\n"
    "  -t  --expand-tabs  Expand tabs to spaces in output.\n"
    "  -T  --initial-tab  Make tabs line up by prepending a tab.\n\n"
    "  -N  --new-file  Treat absent files as empty.\n"
    "  -P  --unidirectional-new-file  Treat absent first files as empty.\n"
    "  -s  --report-identical-files  Report when two files are the same.\n\n"
    "  --horizon-lines=NUM  Keep NUM lines of the common prefix and suffix.\n"
    "  -d  --minimal  Try hard to find a smaller set of changes.\n"
    "  -H  --speed-large-files  Assume large files and many scattered small changes.\n\n"
    "  -v  --version  Output version info.\n"
    "  --help  Output this help.\n";

// A group-format template filled with a macro name; "%" in the name is
// doubled so that it cannot start a directive.
std::string ifdef_format(const char *tmpl, const std::string &name) {
    std::string out;
    for (const char *p = tmpl; *p; ++p) {
        if (p[0] == '@')
            out += name;
        else
            out += *p;
    }
    return out;
}

// One parse of the options: what they set and what the handlers learn on
// the way.
class OptionParser {
  public:
    OptionParser(Context &cx, bool &done) : cx(cx), o(cx.opt), done(done) {}

    // One option, or one digit of a context length; false after an error.
    bool handle(int c, const char *arg) {
        bool was_digit = std::isdigit(static_cast<unsigned char>(prev)) != 0;
        prev = c < 256 ? static_cast<char>(c) : 0;
        if (c >= '0' && c <= '9')
            return handle_digit(c, was_digit);
        return handle_option(c, arg);
    }

    // After the scan: checks of the whole set and the defaults they imply.
    bool finish(const char *prog, const std::vector<std::string> &operands);

  private:
    bool handle_digit(int c, bool was_digit) {
        if (was_digit) {
            if (o.context > (INT_MAX - 9) / 10) {
                cx.error("invalid context length argument");
                return false;
            }
            o.context = o.context * 10 + (c - '0');
        } else {
            if (digits_given || o.context >= 0) {
                cx.error("context length specified twice");
                return false;
            }
            o.context = c - '0';
        }
        digits_given = true;
        return true;
    }

    bool handle_option(int c, const char *arg) {
        switch (c) {
        case 'a': o.always_text = true; return true;
        case 'b': o.ignore_space_change = true; return true;
        case 'B': o.ignore_blank_lines = true; return true;
        case 'C':
            if (arg && !set_context(arg))
                return false;
            return choose_style(OUTPUT_CONTEXT);
        case 'c': return choose_style(OUTPUT_CONTEXT);
        case 'U':
            if (arg && !set_context(arg))
                return false;
            return choose_style(OUTPUT_UNIFIED);
        case 'u': return choose_style(OUTPUT_UNIFIED);
        case 'd': o.minimal = true; return true;
        case 'D': {
            std::string name;
            for (const char *p = arg; *p; ++p) {
                name += *p;
                if (*p == '%')
                    name += '%';
            }
            static const char *const tmpl[4] = {
                "#ifndef @\n%<#endif /* not @ */\n", "#ifdef @\n%>#endif /* @ */\n", "%=",
                "#ifndef @\n%<#else /* @ */\n%>#endif /* @ */\n"};
            for (int k = 0; k < 4; ++k)
                if (!set_group_format(k, ifdef_format(tmpl[k], name), "conflicting #ifdef formats"))
                    return false;
            return true;
        }
        case 'e': return choose_style(OUTPUT_ED);
        case 'f': return choose_style(OUTPUT_FORWARD_ED);
        case 'F': return set_function(arg);
        case 'h': return true;
        case 'H': o.speed_large_files = true; return true;
        case 'i': o.ignore_case = true; return true;
        case 'I': {
            o.ignore_regexps.list.emplace_back();
            if (!add_regexp(arg, o.ignore_regexps.list.back())) {
                o.ignore_regexps.list.pop_back();
                return false;
            }
            return true;
        }
        case 'l': paginate = true; return true;
        case 'L':
            if (o.labels.size() >= 2) {
                cx.error("too many file label options");
                return false;
            }
            o.labels.emplace_back(arg);
            return true;
        case 'n': return choose_style(OUTPUT_RCS);
        case 'N': o.entire_new_file = true; return true;
        case 'p':
            show_c_function = true;
            return set_function("^[_a-zA-Z$]");
        case 'P': o.unidirectional_new_file = true; return true;
        case 'q': o.brief = true; return true;
        case 'r': return true;  // directories are refused when compared
        case 's': o.report_identical = true; return true;
        case 'S': return true;
        case 't': o.expand_tabs = true; return true;
        case 'T': o.initial_tab = true; return true;
        case 'v':
            write_info(cx, "diff - JOL line comparison engine version 2.7\n");
            done = true;
            return true;
        case 'w': o.ignore_all_space = true; return true;
        case 'W':
            if (!parse_count(arg, o.width) || o.width <= 0) {
                cx.error("column width must be a positive integer");
                return false;
            }
            return true;
        case 'x':
        case 'X': return true;  // only meaningful for directories
        case 'y': return choose_style(OUTPUT_SDIFF);
        case OPT_LEFT_COLUMN: o.left_column = true; return choose_style(OUTPUT_SDIFF);
        case OPT_SUPPRESS_COMMON: o.suppress_common = true; return choose_style(OUTPUT_SDIFF);
        case OPT_SDIFF_MERGE_ASSIST:
            o.sdiff_merge_assist = true;
            return choose_style(OUTPUT_SDIFF);
        case OPT_OLD_LINE_FORMAT: return set_line_format(0, arg);
        case OPT_NEW_LINE_FORMAT: return set_line_format(1, arg);
        case OPT_UNCHANGED_LINE_FORMAT: return set_line_format(2, arg);
        case OPT_LINE_FORMAT:
            return set_line_format(0, arg) && set_line_format(1, arg) && set_line_format(2, arg);
        case OPT_OLD_GROUP_FORMAT: return set_group_format(0, arg, "conflicting group format");
        case OPT_NEW_GROUP_FORMAT: return set_group_format(1, arg, "conflicting group format");
        case OPT_UNCHANGED_GROUP_FORMAT:
            return set_group_format(2, arg, "conflicting group format");
        case OPT_CHANGED_GROUP_FORMAT:
            return set_group_format(3, arg, "conflicting group format");
        case OPT_HORIZON_LINES:
            if (!parse_count(arg, o.horizon_lines)) {
                cx.error("horizon must be a nonnegative integer");
                return false;
            }
            return true;
        case OPT_HELP:
            write_info(cx, usage_text);
            done = true;
            return true;
        case OPT_BINARY: return true;
        default: return false;
        }
    }

    bool choose_style(output_style s) {
        if (o.style_set && o.style != s) {
            cx.error("conflicting specifications of output style");
            return false;
        }
        o.style = s;
        o.style_set = true;
        return true;
    }
    bool set_context(const char *text) {
        int n;
        if (!parse_count(text, n)) {
            cx.error("invalid context length argument");
            return false;
        }
        if (o.context >= 0 && o.context != n) {
            cx.error("context length specified twice");
            return false;
        }
        o.context = n;
        return true;
    }
    bool set_line_format(int which, const char *fmt) {
        if (o.line_format_set[which] && o.line_format[which] != fmt) {
            cx.error("conflicting line format");
            return false;
        }
        o.line_format[which] = fmt;
        o.line_format_set[which] = true;
        return choose_style(OUTPUT_IFDEF);
    }
    bool set_group_format(int which, const std::string &fmt, const char *conflict) {
        if (o.group_format_set[which] && o.group_format[which] != fmt) {
            cx.error(conflict);
            return false;
        }
        o.group_format[which] = fmt;
        o.group_format_set[which] = true;
        return choose_style(OUTPUT_IFDEF);
    }
    bool add_regexp(const char *re, regex_t &into) {
        int rc = regcomp(&into, re, REG_NOSUB);
        if (rc != 0) {
            char msg[256];
            regerror(rc, &into, msg, sizeof msg);
            cx.error("%s: %s", re, msg);
            return false;
        }
        return true;
    }
    bool set_function(const char *re) {
        if (o.function_regexp) {
            regfree(o.function_regexp.get());
            o.function_regexp.reset();
        }
        auto r = std::make_unique<regex_t>();
        if (!add_regexp(re, *r))
            return false;
        o.function_regexp = std::move(r);
        o.function_pattern = re;
        return true;
    }

    Context &cx;
    Options &o;
    bool &done;
    bool digits_given = false;
    char prev = 0;
    bool paginate = false;
    bool show_c_function = false;
};

}  // namespace

bool OptionParser::finish(const char *prog, const std::vector<std::string> &operands) {
    if (done)
        return true;
    if (paginate) {
        if (cx.cb)
            cx.error("can't paginate when using library callbacks");
        else
            cx.error("pagination is not available");
        return false;
    }
    if (operands.size() < 2) {
        cx.error("missing operand");
        try_help(cx, prog);
        return false;
    }
    if (operands.size() > 2) {
        cx.error("extra operand");
        try_help(cx, prog);
        return false;
    }
    if (show_c_function && o.style != OUTPUT_UNIFIED && !o.style_set) {
        o.style = OUTPUT_CONTEXT;
        o.style_set = true;
    }
    if (o.style == OUTPUT_CONTEXT || o.style == OUTPUT_UNIFIED) {
        if (o.context < 0)
            o.context = 3;
    } else {
        o.context = 0;
    }
    if (o.style == OUTPUT_IFDEF) {
        for (int k = 0; k < 3; ++k)
            if (!o.line_format_set[k])
                o.line_format[k] = "%l\n";
        for (int k = 0; k < 2; ++k)
            if (!o.group_format_set[k])
                o.group_format[k] = o.group_format_set[2] ? o.group_format[2] : (k ? "%>" : "%<");
        if (!o.group_format_set[2])
            o.group_format[2] = "%=";
        if (!o.group_format_set[3])
            o.group_format[3] = o.group_format[0] + o.group_format[1];
    }
    for (size_t i = 0; i < o.labels.size(); ++i)
        cx.files[i].label = o.labels[i];
    return true;
}

bool parse_diff_options(Context &cx, int argc, char **argv, std::vector<std::string> &operands,
                        bool &done) {
    done = false;
    const char *prog = argc > 0 && argv[0] ? argv[0] : "diff";
    OptionParser parser(cx, done);
    auto handle = [&parser](int c, const char *arg) { return parser.handle(c, arg); };
    if (!scan_options(cx, argc, argv, "0123456789abBcC:dD:efF:hHiI:lL:nNpPqrsS:tTuU:vwW:x:X:y",
                      diff_long_options(), handle, operands))
        return false;
    return parser.finish(prog, operands);
}
}  // namespace jdiff
