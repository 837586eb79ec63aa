// get_date: a scanner with keyword tables and a one-token-lookahead parser
// that collects absolute parts (time, zone, date, weekday) and relative
// parts (seconds and months to add), then combines them with "now".
#include "src/base/getdate.h"

#include <climits>
#include <cstdio>
#include <optional>
#include <string_view>

#include "src/base/error.h"

namespace {

// ---------------------------------------------------------------- tokens

enum class Tok {
    end, bad, ago, day, dayzone, id, meridian, minute_unit, month, month_unit,
    sec_unit, snumber, unumber, zone, dst, colon, slash, comma, other
};

enum class Meridian { am, pm, h24 };
enum class DstMode { on, off, maybe };

struct Token {
    Tok kind = Tok::end;
    long long value = 0;  // the number, the table value or the Meridian
};

struct Keyword {
    std::string_view name;
    Tok kind;
    int value;
};

constexpr Keyword month_day_table[] = {
    {"january", Tok::month, 1},    {"february", Tok::month, 2}, {"march", Tok::month, 3},
    {"april", Tok::month, 4},      {"may", Tok::month, 5},      {"june", Tok::month, 6},
    {"july", Tok::month, 7},       {"august", Tok::month, 8},   {"september", Tok::month, 9},
    {"sept", Tok::month, 9},       {"october", Tok::month, 10}, {"november", Tok::month, 11},
    {"december", Tok::month, 12},  {"sunday", Tok::day, 0},     {"monday", Tok::day, 1},
    {"tuesday", Tok::day, 2},      {"tues", Tok::day, 2},       {"wednesday", Tok::day, 3},
    {"wednes", Tok::day, 3},       {"thursday", Tok::day, 4},   {"thur", Tok::day, 4},
    {"thurs", Tok::day, 4},        {"friday", Tok::day, 5},     {"saturday", Tok::day, 6},
};

constexpr Keyword units_table[] = {
    {"year", Tok::month_unit, 12},       {"month", Tok::month_unit, 1},
    {"fortnight", Tok::minute_unit, 20160}, {"week", Tok::minute_unit, 10080},
    {"day", Tok::minute_unit, 1440},     {"hour", Tok::minute_unit, 60},
    {"minute", Tok::minute_unit, 1},     {"min", Tok::minute_unit, 1},
    {"second", Tok::sec_unit, 1},        {"sec", Tok::sec_unit, 1},
};

// "next" is 2: "next tuesday" is the one after the coming one. There is no
// ordinal "second"; that word is the unit.
constexpr Keyword other_table[] = {
    {"tomorrow", Tok::minute_unit, 1440}, {"yesterday", Tok::minute_unit, -1440},
    {"today", Tok::minute_unit, 0},       {"now", Tok::minute_unit, 0},
    {"this", Tok::minute_unit, 0},        {"last", Tok::unumber, -1},
    {"next", Tok::unumber, 2},            {"first", Tok::unumber, 1},
    {"third", Tok::unumber, 3},           {"fourth", Tok::unumber, 4},
    {"fifth", Tok::unumber, 5},           {"sixth", Tok::unumber, 6},
    {"seventh", Tok::unumber, 7},         {"eighth", Tok::unumber, 8},
    {"ninth", Tok::unumber, 9},           {"tenth", Tok::unumber, 10},
    {"eleventh", Tok::unumber, 11},       {"twelfth", Tok::unumber, 12},
    {"ago", Tok::ago, 1},
};

// Minutes west of UTC; a DAYZONE name implies summer time.
constexpr Keyword timezone_table[] = {
    {"gmt", Tok::zone, 0},        {"ut", Tok::zone, 0},         {"utc", Tok::zone, 0},
    {"wet", Tok::zone, 0},        {"bst", Tok::dayzone, 0},     {"wat", Tok::zone, 60},
    {"at", Tok::zone, 120},       {"ast", Tok::zone, 240},      {"adt", Tok::dayzone, 240},
    {"est", Tok::zone, 300},      {"edt", Tok::dayzone, 300},   {"cst", Tok::zone, 360},
    {"cdt", Tok::dayzone, 360},   {"mst", Tok::zone, 420},      {"mdt", Tok::dayzone, 420},
    {"pst", Tok::zone, 480},      {"pdt", Tok::dayzone, 480},   {"yst", Tok::zone, 540},
    {"ydt", Tok::dayzone, 540},   {"hst", Tok::zone, 600},      {"hdt", Tok::dayzone, 600},
    {"cat", Tok::zone, 600},      {"ahst", Tok::zone, 600},     {"nt", Tok::zone, 660},
    {"idlw", Tok::zone, 720},     {"cet", Tok::zone, -60},      {"met", Tok::zone, -60},
    {"mewt", Tok::zone, -60},     {"mest", Tok::dayzone, -60},  {"swt", Tok::zone, -60},
    {"sst", Tok::dayzone, -60},   {"fwt", Tok::zone, -60},      {"fst", Tok::dayzone, -60},
    {"eet", Tok::zone, -120},     {"bt", Tok::zone, -180},      {"zp4", Tok::zone, -240},
    {"zp5", Tok::zone, -300},     {"zp6", Tok::zone, -360},     {"wast", Tok::zone, -420},
    {"wadt", Tok::dayzone, -420}, {"cct", Tok::zone, -480},     {"jst", Tok::zone, -540},
    {"east", Tok::zone, -600},    {"eadt", Tok::dayzone, -600}, {"gst", Tok::zone, -600},
    {"nzt", Tok::zone, -720},     {"nzst", Tok::zone, -720},    {"nzdt", Tok::dayzone, -720},
    {"idle", Tok::zone, -720},
};

// Single letters; "j" is not a zone.
constexpr Keyword military_table[] = {
    {"a", Tok::zone, 60},   {"b", Tok::zone, 120},  {"c", Tok::zone, 180},  {"d", Tok::zone, 240},
    {"e", Tok::zone, 300},  {"f", Tok::zone, 360},  {"g", Tok::zone, 420},  {"h", Tok::zone, 480},
    {"i", Tok::zone, 540},  {"k", Tok::zone, 600},  {"l", Tok::zone, 660},  {"m", Tok::zone, 720},
    {"n", Tok::zone, -60},  {"o", Tok::zone, -120}, {"p", Tok::zone, -180}, {"q", Tok::zone, -240},
    {"r", Tok::zone, -300}, {"s", Tok::zone, -360}, {"t", Tok::zone, -420}, {"u", Tok::zone, -480},
    {"v", Tok::zone, -540}, {"w", Tok::zone, -600}, {"x", Tok::zone, -660}, {"y", Tok::zone, -720},
    {"z", Tok::zone, 0},
};

template <std::size_t N>
std::optional<Token> find_exact(const Keyword (&table)[N], std::string_view word) {
    for (const Keyword &k : table)
        if (k.name == word)
            return Token{k.kind, k.value};
    return std::nullopt;
}

// ASCII only: the meaning of a date must not depend on the locale.
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

Token lookup_word(std::string word) {
    for (char &c : word)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');

    if (word == "am" || word == "a.m.")
        return {Tok::meridian, static_cast<long long>(Meridian::am)};
    if (word == "pm" || word == "p.m.")
        return {Tok::meridian, static_cast<long long>(Meridian::pm)};

    // Three letters, or three and a dot, abbreviate a month or weekday.
    bool abbrev = word.size() == 3;
    if (word.size() == 4 && word[3] == '.') {
        abbrev = true;
        word.resize(3);
    }
    for (const Keyword &k : month_day_table)
        if (abbrev ? k.name.substr(0, 3) == word : k.name == word)
            return {k.kind, k.value};

    if (auto t = find_exact(timezone_table, word))
        return *t;
    if (word == "dst")
        return {Tok::dst, 0};
    if (auto t = find_exact(units_table, word))
        return *t;
    if (word.back() == 's')
        if (auto t = find_exact(units_table, std::string_view(word).substr(0, word.size() - 1)))
            return *t;
    if (auto t = find_exact(other_table, word))
        return *t;
    if (word.size() == 1)
        if (auto t = find_exact(military_table, word))
            return *t;

    std::string undotted;
    for (char c : word)
        if (c != '.')
            undotted += c;
    if (undotted.size() != word.size())
        if (auto t = find_exact(timezone_table, undotted))
            return *t;
    return {Tok::id, 0};
}

class Scanner {
  public:
    explicit Scanner(const char *text) : p_(text) {}

    Token next() {
        for (;;) {
            while (is_space(*p_))
                ++p_;
            char c = *p_;
            if (is_digit(c) || c == '+' || c == '-') {
                bool signed_number = c == '+' || c == '-';
                if (signed_number && !is_digit(*++p_))
                    continue;  // a lone sign is skipped
                return number(signed_number, c == '-');
            }
            if (is_alpha(c))
                return word();
            if (c == '\0')
                return {Tok::end, 0};
            ++p_;
            if (c == '(') {
                if (!skip_comment())
                    return {Tok::end, 0};
                continue;
            }
            switch (c) {
            case ':': return {Tok::colon, 0};
            case '/': return {Tok::slash, 0};
            case ',': return {Tok::comma, 0};
            default: return {Tok::other, 0};
            }
        }
    }

  private:
    Token number(bool signed_number, bool negative) {
        long long n = 0;
        bool overflow = false;
        for (; is_digit(*p_); ++p_) {
            if (!overflow)
                n = n * 10 + (*p_ - '0');
            if (n > INT_MAX)
                overflow = true;
        }
        if (overflow)
            return {Tok::bad, 0};
        return {signed_number ? Tok::snumber : Tok::unumber, negative ? -n : n};
    }

    Token word() {
        constexpr std::size_t kept = 19;  // longer words are cut, not rejected
        std::string w;
        for (; is_alpha(*p_) || *p_ == '.'; ++p_)
            if (w.size() < kept)
                w += *p_;
        return lookup_word(std::move(w));
    }

    // After "(": false when the text ends inside the comment.
    bool skip_comment() {
        for (int depth = 1; depth > 0; ++p_) {
            if (*p_ == '\0')
                return false;
            if (*p_ == '(')
                ++depth;
            else if (*p_ == ')')
                --depth;
        }
        return true;
    }

    const char *p_;
};

// ---------------------------------------------------------------- parser

struct DateParts {
    long long year = 0, month = 0, day = 0;
    long long hour = 0, minutes = 0, seconds = 0;
    Meridian meridian = Meridian::h24;
    long long timezone = 0;  // minutes west of UTC
    DstMode dst = DstMode::maybe;
    long long day_ordinal = 0, day_number = 0;
    long long rel_seconds = 0, rel_month = 0;
    int have_date = 0, have_day = 0, have_rel = 0, have_time = 0, have_zone = 0;
};

bool is_unit(Tok k) { return k == Tok::minute_unit || k == Tok::sec_unit || k == Tok::month_unit; }

// A date text is any sequence of items. Where an item could end or go on,
// it goes on (the longer form wins), so "17 june 14" reads 14 as the year.
class Parser {
  public:
    Parser(const char *text, DateParts &parts) : scan_(text), d_(parts) { look_ = scan_.next(); }

    // False on a syntax error or an arithmetic overflow.
    bool parse() {
        while (look_.kind != Tok::end)
            if (!item())
                return false;
        return true;
    }

  private:
    Token take() {
        Token t = look_;
        look_ = scan_.next();
        return t;
    }
    bool at(Tok k) const { return look_.kind == k; }
    bool expect(Tok k, Token &out) {
        if (!at(k))
            return false;
        out = take();
        return true;
    }

    bool item() {
        Token t = take();
        switch (t.kind) {
        case Tok::unumber: return after_unumber(t.value);
        case Tok::snumber:
            if (!is_unit(look_.kind))
                return false;
            return rel(t.value, take());
        case Tok::minute_unit:
        case Tok::sec_unit:
        case Tok::month_unit: return rel(1, t);
        case Tok::zone:
            d_.timezone = t.value;
            d_.dst = DstMode::off;
            if (at(Tok::dst)) {
                take();
                d_.dst = DstMode::on;
            }
            ++d_.have_zone;
            return true;
        case Tok::dayzone:
            d_.timezone = t.value;
            d_.dst = DstMode::on;
            ++d_.have_zone;
            return true;
        case Tok::day:
            if (at(Tok::comma))
                take();
            d_.day_ordinal = 1;
            d_.day_number = t.value;
            ++d_.have_day;
            return true;
        case Tok::month: {
            Token day, year;
            if (!expect(Tok::unumber, day))
                return false;
            d_.month = t.value;
            d_.day = day.value;
            if (at(Tok::comma)) {
                take();
                if (!expect(Tok::unumber, year))
                    return false;
                d_.year = year.value;
            }
            ++d_.have_date;
            return true;
        }
        default: return false;
        }
    }

    bool after_unumber(long long n) {
        switch (look_.kind) {
        case Tok::meridian:
            d_.hour = n;
            d_.minutes = d_.seconds = 0;
            d_.meridian = static_cast<Meridian>(take().value);
            ++d_.have_time;
            return true;
        case Tok::colon: take(); return clock_time(n);
        case Tok::slash: {
            take();
            Token m, y;
            if (!expect(Tok::unumber, m))
                return false;
            if (at(Tok::slash)) {
                take();
                if (!expect(Tok::unumber, y))
                    return false;
                if (n >= 100) {
                    d_.year = n, d_.month = m.value, d_.day = y.value;
                } else {
                    d_.month = n, d_.day = m.value, d_.year = y.value;
                }
            } else {
                d_.month = n, d_.day = m.value;
            }
            ++d_.have_date;
            return true;
        }
        case Tok::snumber: {  // 1992-06-17
            Token m = take(), day;
            if (!expect(Tok::snumber, day))
                return false;
            d_.year = n, d_.month = -m.value, d_.day = -day.value;
            ++d_.have_date;
            return true;
        }
        case Tok::month: {  // 17 jun, 17 jun 1992, 17-jun-1992
            d_.day = n;
            d_.month = take().value;
            if (at(Tok::snumber))
                d_.year = -take().value;
            else if (at(Tok::unumber))
                d_.year = take().value;
            ++d_.have_date;
            return true;
        }
        case Tok::day:
            d_.day_ordinal = n;
            d_.day_number = take().value;
            ++d_.have_day;
            return true;
        case Tok::minute_unit:
        case Tok::sec_unit:
        case Tok::month_unit: return rel(n, take());
        default: bare_number(n); return true;
        }
    }

    // After "hh:".
    bool clock_time(long long hour) {
        Token m, s;
        if (!expect(Tok::unumber, m))
            return false;
        d_.hour = hour;
        d_.minutes = m.value;
        d_.seconds = 0;
        if (at(Tok::colon)) {
            take();
            if (!expect(Tok::unumber, s))
                return false;
            d_.seconds = s.value;
        }
        d_.meridian = Meridian::h24;
        if (at(Tok::meridian)) {
            d_.meridian = static_cast<Meridian>(take().value);
        } else if (at(Tok::snumber)) {
            // +hhmm is east of UTC: -0500 is 300 minutes west.
            long long z = take().value;
            d_.timezone = -(z - (z / 100) * 40);
            d_.dst = DstMode::off;
        }
        ++d_.have_time;
        return true;
    }

    bool rel(long long n, Token unit) {
        long long add = 0;
        long long &total = unit.kind == Tok::month_unit ? d_.rel_month : d_.rel_seconds;
        long long factor = unit.kind == Tok::minute_unit ? unit.value * 60 : unit.value;
        if (__builtin_mul_overflow(n, factor, &add) || __builtin_add_overflow(total, add, &total))
            return false;
        if (at(Tok::ago)) {
            take();
            // Both totals so far, not only this unit: "1 day 2 hours ago".
            if (d_.rel_seconds == LLONG_MIN || d_.rel_month == LLONG_MIN)
                return false;
            d_.rel_seconds = -d_.rel_seconds;
            d_.rel_month = -d_.rel_month;
        }
        ++d_.have_rel;
        return true;
    }

    // A number on its own: the year after a time and a date, else yyyymmdd
    // or a time hh / hhmm.
    void bare_number(long long n) {
        if (d_.have_time && d_.have_date && !d_.have_rel) {
            d_.year = n;
        } else if (n > 10000) {
            ++d_.have_date;
            d_.day = n % 100;
            d_.month = (n / 100) % 100;
            d_.year = n / 10000;
        } else {
            ++d_.have_time;
            d_.hour = n < 100 ? n : n / 100;
            d_.minutes = n < 100 ? 0 : n % 100;
            d_.seconds = 0;
            d_.meridian = Meridian::h24;
        }
    }

    Scanner scan_;
    DateParts &d_;
    Token look_;
};

// ---------------------------------------------------------------- conversion

constexpr long long secs_per_day = 24 * 60 * 60;

bool is_leap(long long year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

std::optional<tm> local_tm(time_t t) {
    tm out;
    if (!localtime_r(&t, &out))
        return std::nullopt;
    return out;
}

std::optional<long long> to_seconds(long long hours, long long minutes, long long seconds,
                                    Meridian meridian) {
    if (minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59)
        return std::nullopt;
    switch (meridian) {
    case Meridian::h24:
        if (hours < 0 || hours > 23)
            return std::nullopt;
        break;
    case Meridian::am:
    case Meridian::pm:
        if (hours < 1 || hours > 12)
            return std::nullopt;
        if (hours == 12)
            hours = 0;
        if (meridian == Meridian::pm)
            hours += 12;
        break;
    }
    return (hours * 60 + minutes) * 60 + seconds;
}

// Wall-clock fields in the zone `timezone` (minutes west) to seconds since
// the epoch; two-digit years are widened. Times are 64-bit, so the range
// runs past 2038, to the last four-digit year.
std::optional<time_t> convert(long long month, long long day, long long year, long long hours,
                              long long minutes, long long seconds, Meridian meridian,
                              DstMode dst, long long timezone) {
    if (year < 0)
        year = -year;
    if (year < 69)
        year += 2000;
    else if (year < 100)
        year += 1900;
    const int month_days[12] = {31, is_leap(year) ? 29 : 28, 31, 30, 31, 30,
                                31, 31,                   30, 31, 30, 31};
    if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > month_days[month - 1])
        return std::nullopt;

    long long days = day - 1;
    for (int i = 0; i < month - 1; ++i)
        days += month_days[i];
    for (long long y = 1970; y < year; ++y)
        days += is_leap(y) ? 366 : 365;
    auto tod = to_seconds(hours, minutes, seconds, meridian);
    if (!tod)
        return std::nullopt;
    time_t t = days * secs_per_day + timezone * 60 + *tod;
    if (dst == DstMode::on) {
        t -= 3600;
    } else if (dst == DstMode::maybe) {
        auto l = local_tm(t);
        if (!l)
            return std::nullopt;
        if (l->tm_isdst > 0)
            t -= 3600;
    }
    return t;
}

// Future - start, corrected so that whole days keep the wall-clock hour
// across a change to or from summer time.
std::optional<time_t> dst_correct(time_t start, time_t future) {
    auto s = local_tm(start), f = local_tm(future);
    if (!s || !f)
        return std::nullopt;
    long long start_hour = (s->tm_hour + 1) % 24, future_hour = (f->tm_hour + 1) % 24;
    return future - start + (start_hour - future_hour) * 3600;
}

// The step from `start` to the given weekday: the coming one (today
// included) for ordinal 1, then whole weeks forward or back.
std::optional<time_t> relative_date(time_t start, long long ordinal, long long weekday) {
    auto l = local_tm(start);
    if (!l)
        return std::nullopt;
    long long step = secs_per_day * ((weekday - l->tm_wday + 7) % 7) +
                     7 * secs_per_day * (ordinal <= 0 ? ordinal : ordinal - 1);
    time_t future;
    if (__builtin_add_overflow(start, step, &future))
        return std::nullopt;
    return dst_correct(start, future);
}

// The step from `start` to the same day and local time `months` later.
// Fails when the target month lacks that day (a month back from March 31).
std::optional<time_t> relative_month(time_t start, long long months, long long timezone) {
    if (months == 0)
        return 0;
    auto l = local_tm(start);
    if (!l)
        return std::nullopt;
    long long index;
    if (__builtin_add_overflow(12 * (l->tm_year + 1900LL) + l->tm_mon, months, &index))
        return std::nullopt;
    long long year = index >= 0 ? index / 12 : -((11 - index) / 12);
    long long month = index - year * 12 + 1;
    // The year is a full one; convert() would take 70 for 1970.
    if (year < 1970)
        return std::nullopt;
    auto future = convert(month, l->tm_mday, year, l->tm_hour, l->tm_min, l->tm_sec,
                          Meridian::h24, DstMode::maybe, timezone);
    if (!future)
        return std::nullopt;
    return dst_correct(start, *future);
}

// Seconds from 0001-01-01 to the broken-down time, by the Gregorian rule.
long long tm_seconds(const tm &t) {
    long long y = t.tm_year + 1900LL - 1;
    auto floor_div = [](long long a, long long b) { return a >= 0 ? a / b : -((b - 1 - a) / b); };
    long long days = y * 365 + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400) + t.tm_yday;
    return ((days * 24 + t.tm_hour) * 60 + t.tm_min) * 60 + t.tm_sec;
}

}  // namespace

time_t get_date(const char *text, const timeb_like *now) {
    tzset();
    timeb_like ref;
    if (now) {
        ref = *now;
    } else {
        ref.time = time(nullptr);
        ref.timezone = 0;
        tm g, l;
        if (!localtime_r(&ref.time, &l))
            return -1;
        if (gmtime_r(&ref.time, &g))
            ref.timezone = static_cast<int>((tm_seconds(g) - tm_seconds(l)) / 60 +
                                            (l.tm_isdst > 0 ? 60 : 0));
    }
    auto local = local_tm(ref.time);
    if (!local)
        return -1;

    DateParts d;
    d.year = local->tm_year + 1900LL;
    d.month = local->tm_mon + 1;
    d.day = local->tm_mday;
    d.timezone = ref.timezone;
    if (!Parser(text, d).parse())
        return -1;
    if (d.have_time > 1 || d.have_zone > 1 || d.have_date > 1 || d.have_day > 1)
        return -1;

    time_t start;
    if (d.have_date || d.have_time || d.have_day) {
        auto t = convert(d.month, d.day, d.year, d.hour, d.minutes, d.seconds, d.meridian, d.dst,
                         d.timezone);
        if (!t)
            return -1;
        start = *t;
    } else {
        start = ref.time;
        if (!d.have_rel)
            start -= (local->tm_hour * 60LL + local->tm_min) * 60 + local->tm_sec;
    }

    if (__builtin_add_overflow(start, d.rel_seconds, &start))
        return -1;
    auto month_step = relative_month(start, d.rel_month, d.timezone);
    if (!month_step || __builtin_add_overflow(start, *month_step, &start))
        return -1;
    if (d.have_day && !d.have_date) {
        auto day_step = relative_date(start, d.day_ordinal, d.day_number);
        if (!day_step || __builtin_add_overflow(start, *day_step, &start))
            return -1;
    }
    // Relative items can step back past the epoch, which is outside the
    // accepted range just as an absolute date before 1970 is.
    return start < 0 ? -1 : start;
}

std::string Make_Date(const char *text) {
    time_t t = get_date(text, nullptr);
    std::string date = t == -1 ? std::string() : date_from_time_t(t);
    if (date.empty())
        error(1, 0, "Can't parse date/time: %s", text);
    return date;
}

std::string date_from_time_t(time_t t) {
    tm b;
    if (!gmtime_r(&t, &b) && !localtime_r(&t, &b))
        return {};
    long long year = b.tm_year > 99 ? b.tm_year + 1900LL : b.tm_year;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld.%02d.%02d.%02d.%02d.%02d", year, b.tm_mon + 1,
                  b.tm_mday, b.tm_hour, b.tm_min, b.tm_sec);
    return buf;
}

namespace {

// One "%d" of scanf: optional white space and sign, then digits that fit an
// int. Advances `p` only on success.
bool read_int(const char *&p, int &out) {
    const char *q = p;
    while (is_space(*q))
        ++q;
    bool negative = *q == '-';
    if (*q == '-' || *q == '+')
        ++q;
    if (!is_digit(*q))
        return false;
    long long n = 0;
    for (; is_digit(*q); ++q) {
        n = n * 10 + (*q - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    n = negative ? -n : n;
    if (n > INT_MAX || n < INT_MIN)
        return false;
    out = static_cast<int>(n);
    p = q;
    return true;
}

}  // namespace

void date_to_internet(char *dest, const char *source) {
    int f[6] = {0, 0, 0, 0, 0, 0};
    const char *p = source;
    int count = 0;
    while (count < 6 && (count == 0 || *p++ == '.') && read_int(p, f[count]))
        ++count;
    if (count < 6) {
        error(0, 0, "internal error: bad date %s", source);
        dest[0] = '\0';
        return;
    }
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int year = f[0] <= 99 ? f[0] + 1900 : f[0];
    const char *month = f[1] >= 1 && f[1] <= 12 ? months[f[1] - 1] : "???";
    std::snprintf(dest, DATE_INTERNET_SIZE, "%d %s %d %02d:%02d:%02d -0000", f[2], month, year,
                  f[3], f[4], f[5]);
}

std::string date_to_internet(const char *source) {
    char buf[DATE_INTERNET_SIZE];
    date_to_internet(buf, source);
    return buf;
}
