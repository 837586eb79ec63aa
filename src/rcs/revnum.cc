// Revision-number arithmetic, archive dates, and the
// checks of tag names and keyword modes.
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/identity.h"
#include "src/base/usage.h"
#include "src/rcs/rcs.h"

const char *const kflags[] = {"kv", "kvl", "k", "v", "o", "b", nullptr};

int numdots(std::string_view s) {
    int n = 0;
    for (char c : s)
        n += c == '.';
    return n;
}

namespace {

// The next dot-separated field of `s` from `i`, with leading zeros dropped.
std::string_view next_field(std::string_view s, size_t &i) {
    size_t start = i;
    while (i < s.size() && s[i] != '.')
        ++i;
    std::string_view f = s.substr(start, i - start);
    if (i < s.size())
        ++i;
    while (f.size() > 1 && f[0] == '0')
        f.remove_prefix(1);
    return f;
}

// Compares two decimal fields of any length; the sign of their difference,
// or the difference itself when both are small.
int compare_fields(std::string_view a, std::string_view b) {
    if (a.size() <= 9 && b.size() <= 9) {
        long x = 0, y = 0;
        for (char c : a)
            x = x * 10 + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : 0);
        for (char c : b)
            y = y * 10 + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : 0);
        return static_cast<int>(x - y);
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace

int compare_revnums(std::string_view r, std::string_view s) {
    size_t i = 0, j = 0;
    while (i < r.size() && j < s.size()) {
        int d = compare_fields(next_field(r, i), next_field(s, j));
        if (d != 0)
            return d;
    }
    return 0;
}

int compare_truncated_revnums(std::string_view r, std::string_view s) {
    std::string_view a = r.substr(0, r.rfind('.'));
    std::string_view b = s.substr(0, s.rfind('.'));
    jol_assert(numdots(a) == numdots(b));
    return compare_revnums(a, b);
}

std::string truncate_revnum(std::string_view r) {
    size_t dot = r.rfind('.');
    jol_assert(dot != std::string_view::npos);
    return std::string(r.substr(0, dot));
}

std::optional<std::string> increment_revnum(std::string_view r) {
    size_t dot = r.rfind('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    std::string last(r.substr(dot + 1));
    // Decimal increment of an arbitrarily long field.
    int k = static_cast<int>(last.size()) - 1;
    while (k >= 0 && last[k] == '9')
        last[k--] = '0';
    if (k < 0)
        last.insert(last.begin(), '1');
    else
        ++last[k];
    return std::string(r.substr(0, dot + 1)) + last;
}

std::optional<std::string> max_rev(const RCSVers *vers) {
    if (!vers->branches)
        return std::nullopt;
    jol_assert(!list_isempty(vers->branches));
    const std::string *best = nullptr;
    JOL_FOR_EACH_NODE(vers->branches, p) {
        if (!best || compare_truncated_revnums(*p->key, *best) > 0)
            best = &*p->key;
    }
    return truncate_revnum(*best);
}

namespace {

std::vector<std::string_view> split_fields(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i <= s.size()) {
        size_t dot = s.find('.', i);
        if (dot == std::string_view::npos)
            dot = s.size();
        out.push_back(s.substr(i, dot - i));
        i = dot + 1;
    }
    return out;
}

}  // namespace

std::string gca(std::string_view rev1, std::string_view rev2) {
    if (rev1.empty() || rev2.empty()) {
        error(0, 0, "sanity failure in gca");
        std::abort();
    }
    auto f1 = split_fields(rev1), f2 = split_fields(rev2);
    std::string result;
    for (size_t k = 0; k < f1.size() && k < f2.size(); ++k) {
        int d = compare_fields(f1[k], f2[k]);
        result += d <= 0 ? f1[k] : f2[k];
        result += '.';
        if (d != 0)
            break;
    }
    result.pop_back();
    int dots = numdots(result);
    if (dots == 0) {
        const auto &lower = compare_fields(f1[0], f2[0]) < 0 ? f1 : f2;
        if (lower.size() < 2) {
            error(0, 0, "bad revisions %s or %s", std::string(rev1), std::string(rev2));
            std::abort();
        }
        result += '.';
        result += lower[1];
    } else if (dots % 2 == 0) {
        result.resize(result.rfind('.'));
    }
    return result;
}

void check_numeric(const char *rev, int argc, char **argv) {
    if (!rev || !std::isdigit(static_cast<unsigned char>(*rev)))
        return;
    if (argc == 1 && !isdir(argv[0]))
        return;
    error(0, 0, "while processing more than one file:");
    error(1, 0, "attempt to specify a numeric revision");
}

std::string printable_date(std::string_view date) {
    int y = 0, m = 0, d = 0, H = 0, M = 0, S = 0;
    std::sscanf(std::string(date).c_str(), "%d.%d.%d.%d.%d.%d", &y, &m, &d, &H, &M, &S);
    if (y < 1900)
        y += 1900;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", y, m, d, H, M, S);
    return buf;
}

namespace {

// The six fields of a dotted date, the year made whole: years before 2000
// are stored as years since 1900, so "92" is 1992 while a date typed as
// "1970.01.01.00.00.00" keeps its year. False for any other shape.
bool date_fields(std::string_view date, std::array<uint32_t, 6> &fields) {
    size_t i = 0;
    for (size_t k = 0; k < fields.size(); ++k) {
        if (k > 0) {
            if (i >= date.size() || date[i] != '.')
                return false;
            ++i;
        }
        size_t start = i;
        uint32_t n = 0;
        for (; i < date.size() && date[i] >= '0' && date[i] <= '9'; ++i)
            if (n < 100000000)
                n = n * 10 + static_cast<uint32_t>(date[i] - '0');
        if (i == start)
            return false;
        fields[k] = n;
    }
    if (i != date.size())
        return false;
    if (fields[0] < 1900)
        fields[0] += 1900;
    return true;
}

}  // namespace

int RCS_datecmp(std::string_view date1, std::string_view date2) {
    std::array<uint32_t, 6> a, b;
    if (date_fields(date1, a) && date_fields(date2, b))
        return a < b ? -1 : a > b ? 1 : 0;
    // Not dates: shorter first, then bytes.
    if (date1.size() != date2.size())
        return static_cast<int>(date1.size()) - static_cast<int>(date2.size());
    int c = date1.compare(date2);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int RCS_valid_rev(std::string_view rev) {
    if (rev.empty() || !std::isdigit(static_cast<unsigned char>(rev.front())) ||
        !std::isdigit(static_cast<unsigned char>(rev.back())))
        return 0;
    char prev = 0;
    for (char c : rev) {
        if (c == '.') {
            if (prev == '.')
                return 0;
        } else if (!std::isdigit(static_cast<unsigned char>(c))) {
            return 0;
        }
        prev = c;
    }
    return 1;
}

bool is_magic_revnum(std::string_view rev) {
    int dots = numdots(rev);
    if (dots < 3 || dots % 2 == 0)
        return false;
    size_t last = rev.rfind('.');
    size_t prev = rev.rfind('.', last - 1);
    return rev.substr(prev + 1, last - prev - 1) == "0";
}

void RCS_check_tag(const char *tag) {
    const char invalid[] = "$,.:;@";
    if (!std::isalpha(static_cast<unsigned char>(*tag)))
        error(1, 0, "tag `%s' must start with a letter", tag);
    for (const char *p = tag; *p; ++p) {
        if (!std::isgraph(static_cast<unsigned char>(*p)))
            error(1, 0, "tag `%s' has non-visible graphic characters", tag);
        if (std::strchr(invalid, *p))
            error(1, 0, "tag `%s' must not contain the characters `%s'", tag, invalid);
    }
}

std::string RCS_check_kflag(const char *arg) {
    static const char *const keyword_usage[] = {
        "%s %s: invalid RCS keyword expansion mode\n",
        "Valid expansion modes include:\n",
        "   -kkv\tGenerate keywords using the default form.\n",
        "   -kkvl\tLike -kkv, except locker's name inserted.\n",
        "   -kk\tGenerate only keyword names in keyword strings.\n",
        "   -kv\tGenerate only keyword values in keyword strings.\n",
        "   -ko\tGenerate the old keyword string (no changes from checked in file).\n",
        "   -kb\tGenerate binary file unmodified (merges not allowed) (RCS 5.7).\n",
        "(Specify the --help global option for a list of other help options)\n",
        nullptr};
    if (arg)
        for (const char *const *k = kflags; *k; ++k)
            if (std::strcmp(arg, *k) == 0)
                return std::string("-k") + arg;
    usage(keyword_usage);
}

const char *month_printname(std::string_view month) {
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int m = 0;
    if (month.empty() || month.size() > 2)
        return "???";
    for (char c : month) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return "???";
        m = m * 10 + (c - '0');
    }
    return m >= 1 && m <= 12 ? months[m - 1] : "???";
}
