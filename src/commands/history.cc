// The history command: reports the records of the repository's journal,
// selected by type, user, file, module, date, revision or tag.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <getopt.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "src/base/date_option.h"
#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/identity.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/rcs/rcs.h"
#include "src/repo/history.h"

namespace {

const char *const history_usage[] = {
    "Usage: %s %s [-report] [-flags] [-options args] [files...]\n\n",
    "   Reports:\n",
    "        -T              Produce report on all TAGs\n",
    "        -c              Committed (Modified) files\n",
    "        -o              Checked out modules\n",
    "        -m <module>     Look for specified module (repeatable)\n",
    "        -x [TOEFWUCGMAR] Extract by record type\n",
    "        -e              Everything (same as -x, but all record types)\n",
    "   Flags:\n",
    "        -a              All users (Default is self)\n",
    "        -l              Last modified (committed or modified report)\n",
    "        -w              Working directory must match\n",
    "   Options:\n",
    "        -D <date>       Since date (Many formats)\n",
    "        -b <str>        Back to record with str in module/file/repos field\n",
    "        -f <file>       Specified file (same as command line) (repeatable)\n",
    "        -n <modulename> In module (repeatable)\n",
    "        -p <repos>      In repository (repeatable)\n",
    "        -r <rev/tag>    Since rev or tag (looks inside RCS files!)\n",
    "        -t <tag>        Since tag record placed in history file (by anyone).\n",
    "        -u <user>       For user name (repeatable)\n",
    "        -z <tz>         Output for time zone <tz> (e.g. -z -0700)\n",
    nullptr,
};

constexpr const char *kAllTypes = "TOEFWUCGMAR";

// The zone the report's times are shown in: a fixed offset east of UTC, or
// the local zone of the process ("LT").
struct Zone {
    bool local = false;
    long offset = 0;
    std::string name = "+0000";
};

std::string offset_name(long offset) {
    char buf[48];
    long m = (offset < 0 ? -offset : offset) / 60 % (100 * 60);
    std::snprintf(buf, sizeof buf, "%c%02ld%02ld", offset < 0 ? '-' : '+', m / 60, m % 60);
    return buf;
}

Zone parse_zone(const std::string &text) {
    Zone z;
    std::string upper = text;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "UTC" || upper == "GMT") {
        z.name = upper;
        return z;
    }
    if (upper == "LT") {
        z.local = true;
        z.name = "LT";
        return z;
    }
    size_t n = text.size();
    bool digits = n >= 3 && std::all_of(text.begin() + 1, text.end(), [](char c) {
                      return c >= '0' && c <= '9';
                  });
    if ((text[0] == '+' || text[0] == '-') && digits && (n == 3 || n == 5)) {
        long hours = std::stol(text.substr(1, 2));
        long minutes = n == 5 ? std::stol(text.substr(3, 2)) : 0;
        if (hours <= 23 && minutes <= 59) {
            z.offset = (hours * 60 + minutes) * 60 * (text[0] == '-' ? -1 : 1);
            z.name = offset_name(z.offset);
            return z;
        }
    }
    fatal(0, "%s is not a known time zone", text);
}

// Seconds since the epoch of an archive date ("2001.01.31.12.00.00").
time_t archive_time(const std::string &date) {
    int y, m, d, H, M, S;
    if (std::sscanf(date.c_str(), "%d.%d.%d.%d.%d.%d", &y, &m, &d, &H, &M, &S) != 6)
        error(1, 0, "Can't parse date/time: %s", date);
    struct tm tm {};
    tm.tm_year = (y < 100 ? y + 1900 : y) - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_hour = H;
    tm.tm_min = M;
    tm.tm_sec = S;
    return timegm(&tm);
}

// The journal being read: record fields are offsets into it.
const char *journal_base = "";

const char *S(uint32_t field) { return hrec_text(journal_base, field); }

const char *mod_of(const hrec &hr) { return hr.has_mod ? S(hr.file) : nullptr; }

// A file list entry; one made from options carries no module.
struct FileEntry {
    std::string name;
};

struct HistoryRun {
    // Report type and flags.
    bool tag_report = false, commit_report = false, checkout_report = false;
    bool module_report = false, extract = false, explicit_checkout = false;
    int report_count = 0;
    bool all_users = false, last = false, working = false;
    std::string rec_types;
    // At most one of the since-options.
    std::optional<std::string> since_date, since_rev, since_tag, backto;
    time_t since_time = 0;
    // Selection lists.
    std::vector<std::string> users, files, repos_args, modules_n, modules_m;
    std::vector<FileEntry> file_list;
    std::vector<std::string> modules;
    std::optional<std::string> histfile;
    std::string zone_text = "+0000";
    Zone zone;
    // Sort keys.
    bool sort_user = false, sort_module = false, sort_repos = false, sort_file = false;
    // Selection state.
    std::vector<hrec> kept;
    long last_tag = -1, last_backto = -1;
    std::map<std::string, int64_t> rev_times;
};

bool since_any(const HistoryRun &run) {
    return run.since_date || run.since_rev || run.since_tag || run.backto;
}

void set_since(HistoryRun &run, char which, const char *value) {
    static const char *const warnings[] = {
        "date overriding rev/tag/backto", "rev overriding date/tag/backto",
        "tag overriding date/marker/file/repos", "backto overriding date/rev/tag"};
    std::optional<std::string> *slots[] = {&run.since_date, &run.since_rev, &run.since_tag,
                                           &run.backto};
    int me = which == 'D' ? 0 : which == 'r' ? 1 : which == 't' ? 2 : 3;
    bool other = false;
    for (int i = 0; i < 4; ++i) {
        if (i != me && slots[i]->has_value()) {
            other = true;
            slots[i]->reset();
        }
    }
    if (other)
        error(0, 0, "%s", warnings[me]);
    if (which == 'D') {
        run.since_date = date_option(value);
        run.since_time = archive_time(*run.since_date);
    } else {
        *slots[me] = value;
    }
}

void report_type(HistoryRun &run, bool &flag) {
    flag = true;
    ++run.report_count;
}

void parse_options(HistoryRun &run, int &argc, char **&argv) {
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+Tacelow?D:b:f:m:n:p:r:t:u:x:X:z:")) != -1) {
        switch (c) {
        case 'T': report_type(run, run.tag_report); break;
        case 'a':
            run.all_users = true;
            run.users.emplace_back();
            break;
        case 'c': report_type(run, run.commit_report); break;
        case 'e':
            report_type(run, run.extract);
            run.rec_types = kAllTypes;
            break;
        case 'l': run.last = true; break;
        case 'o':
            report_type(run, run.checkout_report);
            run.explicit_checkout = true;
            break;
        case 'w': run.working = true; break;
        case 'D':
        case 'r':
        case 't':
        case 'b': set_since(run, static_cast<char>(c), optarg); break;
        case 'f': run.files.emplace_back(optarg); break;
        case 'm':
            if (!run.module_report)
                report_type(run, run.module_report);
            run.modules_m.emplace_back(optarg);
            break;
        case 'n': run.modules_n.emplace_back(optarg); break;
        case 'p': run.repos_args.emplace_back(optarg); break;
        case 'u': run.users.emplace_back(optarg); break;
        case 'x':
            report_type(run, run.extract);
            for (const char *p = optarg; *p; ++p) {
                if (!std::strchr(kAllTypes, *p))
                    error(1, 0, "%c is not a valid report type", *p);
                if (run.rec_types.find(*p) == std::string::npos)
                    run.rec_types += *p;
            }
            break;
        case 'X': run.histfile = optarg; break;
        case 'z': run.zone_text = optarg; break;
        default: usage(history_usage);
        }
    }
    argc -= optind;
    argv += optind;
    for (int i = 0; i < argc; ++i)
        run.files.emplace_back(argv[i]);
    if (run.report_count > 1)
        error(1, 0, "Only one report type allowed from: \"-Tcomxe\".");
    if (run.report_count == 0)
        run.checkout_report = true;
    run.zone = parse_zone(run.zone_text);
}

int send_history(const HistoryRun &run) {
    start_server();
    const std::pair<bool, const char *> flags[] = {
        {run.tag_report, "-T"}, {run.all_users, "-a"},       {run.commit_report, "-c"},
        {run.last, "-l"},       {run.explicit_checkout, "-o"}, {run.working, "-w"}};
    for (const auto &[set, flag] : flags)
        if (set)
            send_arg(flag);
    option_with_arg("-X", run.histfile ? run.histfile->c_str() : nullptr);
    client_senddate(run.since_date ? run.since_date->c_str() : nullptr);
    option_with_arg("-b", run.backto ? run.backto->c_str() : nullptr);
    for (const std::string &f : run.files)
        option_with_arg("-f", f.c_str());
    for (const std::string &m : run.modules_m)
        option_with_arg("-m", m.c_str());
    for (const std::string &n : run.modules_n)
        option_with_arg("-n", n.c_str());
    for (const std::string &p : run.repos_args)
        option_with_arg("-p", p.c_str());
    option_with_arg("-r", run.since_rev ? run.since_rev->c_str() : nullptr);
    option_with_arg("-t", run.since_tag ? run.since_tag->c_str() : nullptr);
    for (const std::string &u : run.users)
        if (!u.empty())
            option_with_arg("-u", u.c_str());
    if (run.extract)
        option_with_arg("-x", run.rec_types.c_str());
    option_with_arg("-z", run.zone_text.c_str());
    send_to_server("history\n");
    return get_responses_and_close();
}

// Lists and report settings for a local or server run.
void settle_report(HistoryRun &run) {
    if (run.users.empty())
        run.users.emplace_back(getcaller());
    for (const std::string &f : run.files)
        run.file_list.push_back({f});
    for (const std::string &p : run.repos_args)
        run.file_list.push_back({"*" + p});
    run.modules = run.modules_n;
    run.modules.insert(run.modules.end(), run.modules_m.begin(), run.modules_m.end());

    bool have_users = !run.users.empty();
    if (run.tag_report)
        run.rec_types += 'T';
    if (run.extract)
        run.sort_user = have_users;
    if (run.commit_report) {
        run.rec_types = "MAR";
        if (run.last || !since_any(run)) {
            run.sort_user = have_users && !run.last;
            run.sort_repos = run.sort_file = true;
        }
    }
    if (run.checkout_report) {
        run.rec_types = "OF";
        run.sort_user = have_users && !run.last;
        run.sort_file = run.last || !since_any(run);
    }
    if (run.module_report) {
        run.rec_types = run.last ? "OMAR" : kAllTypes;
        run.sort_module = run.sort_repos = run.sort_file = true;
        run.working = false;
    }
    if (run.since_tag && run.rec_types.find('T') == std::string::npos)
        run.rec_types += 'T';
}

// A repository field that leaves the root, or a file field with a
// directory in it: such a record never names an archive to look into.
bool outside_repository(const hrec &hr) {
    if (S(hr.repos)[0] == '/' || std::strchr(S(hr.file), '/'))
        return true;
    for (const char *p = S(hr.repos); *p;) {
        const char *slash = std::strchr(p, '/');
        size_t len = slash ? static_cast<size_t>(slash - p) : std::strlen(p);
        if (len == 2 && p[0] == '.' && p[1] == '.')
            return true;
        p += len + (slash ? 1 : 0);
    }
    return false;
}

// The time of the revision that -r names in the record's archive, -1 when
// there is none.
int64_t since_rev_time(HistoryRun &run, const hrec &hr) {
    std::string key = std::string(S(hr.repos)) + "/" + S(hr.file);
    auto found = run.rev_times.find(key);
    if (found != run.rev_times.end())
        return found->second;
    int64_t when = -1;
    if (*S(hr.file)) {
        std::string dir = JOLroot_directory + "/" + S(hr.repos);
        if (RCSNode *rcs = RCS_parse(S(hr.file), dir.c_str())) {
            auto rev = RCS_getversion(rcs, run.since_rev->c_str(), nullptr, 1, nullptr);
            if (rev)
                when = RCS_getrevtime(rcs, rev->c_str(), nullptr, 0);
            freercsnode(&rcs);
        }
    }
    run.rev_times.emplace(std::move(key), when);
    return when;
}

bool user_passes(const HistoryRun &run, const hrec &hr) {
    if (run.users.empty() || !*S(hr.user))
        return true;
    for (const std::string &u : run.users)
        if (u.empty() || u == S(hr.user))
            return true;
    return false;
}

bool files_pass(const HistoryRun &run, hrec &hr) {
    if (run.file_list.empty() || std::strchr("TFOE", hr.type))
        return true;
    for (const FileEntry &e : run.file_list) {
        bool match;
        if (e.name[0] == '*')
            match = std::strncmp(S(hr.repos), e.name.c_str() + 1, e.name.size() - 1) == 0;
        else if (e.name.find('/') != std::string::npos)
            match = (std::string(S(hr.repos)) + "/" + S(hr.file)).find(e.name) != std::string::npos;
        else
            match = std::strstr(S(hr.file), e.name.c_str()) != nullptr;
        if (match) {
            hr.has_mod = false;  // file entries carry no module
            return true;
        }
    }
    return false;
}

// Applied to each record in file order; kept records go to run.kept.
void select_hrec(HistoryRun &run, hrec &hr) {
    bool backto_match = false;
    if (run.since_date) {
        if (hr.date < run.since_time)
            return;
    } else if (run.since_rev) {
        if (outside_repository(hr))
            return;
        int64_t when = since_rev_time(run, hr);
        if (when >= 0 && hr.date < when)
            return;
    } else if (run.since_tag) {
        if (hr.type == 'T') {
            if (!std::strstr(S(hr.rev), run.since_tag->c_str()))
                return;
            run.last_tag = static_cast<long>(run.kept.size());
            run.kept.push_back(hr);
            return;
        }
        if (run.last_tag < 0)
            return;
    } else if (run.backto) {
        const char *b = run.backto->c_str();
        backto_match = std::strstr(S(hr.file), b) || (mod_of(hr) && std::strstr(mod_of(hr), b)) ||
                       std::strstr(S(hr.repos), b);
        if (!backto_match)
            return;
    }
    if (!user_passes(run, hr) || run.rec_types.find(hr.type) == std::string::npos ||
        !files_pass(run, hr))
        return;
    if (!run.modules.empty() &&
        (!mod_of(hr) || std::find(run.modules.begin(), run.modules.end(), mod_of(hr)) == run.modules.end()))
        return;
    if (backto_match)
        run.last_backto = static_cast<long>(run.kept.size());
    run.kept.push_back(hr);
}

int cmp_text(const char *a, const char *b) { return std::strcmp(a ? a : "", b ? b : ""); }

bool same(const char *a, const char *b) { return cmp_text(a, b) == 0; }

bool sort_before(const HistoryRun &run, const hrec &a, const hrec &b) {
    int c;
    if (run.sort_user && (c = std::strcmp(S(a.user), S(b.user))) != 0)
        return c < 0;
    if (run.sort_module && mod_of(a) && mod_of(b) && (c = std::strcmp(mod_of(a), mod_of(b))) != 0)
        return c < 0;
    if (run.sort_repos && (c = std::strcmp(S(a.repos), S(b.repos))) != 0)
        return c < 0;
    if (run.sort_file) {
        if ((c = std::strcmp(S(a.file), S(b.file))) != 0)
            return c < 0;
        if (run.working && ((c = std::strcmp(S(a.dir), S(b.dir))) != 0 ||
                            (c = std::strcmp(S(a.end), S(b.end))) != 0))
            return c < 0;
    }
    if (a.date != b.date)
        return a.date < b.date;
    return a.idx < b.idx;
}

bool same_workdir(const hrec &a, const hrec &b) { return same(S(a.dir), S(b.dir)) && same(S(a.end), S(b.end)); }

bool accept_hrec(const HistoryRun &run, const hrec &hr, const hrec *next) {
    if (hr.type == 'T')
        return true;
    if (run.checkout_report) {
        if (hr.type != 'O')
            return false;
        return !(next && same(S(hr.user), S(next->user)) && same(mod_of(hr), mod_of(*next)) &&
                 (!run.working || same_workdir(hr, *next)));
    }
    if (!run.commit_report)
        return !(run.module_report && run.last && next && same(mod_of(hr), mod_of(*next)) &&
                 same(S(hr.repos), S(next->repos)) && same(S(hr.file), S(next->file)));
    return !(run.last && next && same(S(hr.repos), S(next->repos)) && same(S(hr.file), S(next->file)) &&
             (!run.working || same_workdir(hr, *next)));
}

// The repository as printed: a last component equal to the module is "*".
std::string shown_repos(const hrec &hr) {
    std::string repos = S(hr.repos);
    if (mod_of(hr) && *mod_of(hr)) {
        size_t slash = repos.rfind('/');
        size_t start = slash == std::string::npos ? 0 : slash + 1;
        if (repos.compare(start, std::string::npos, mod_of(hr)) == 0)
            repos.replace(start, std::string::npos, "*");
    }
    return repos;
}

void pad(std::string &out, const std::string &text, size_t width) {
    out += text;
    if (text.size() < width)
        out.append(width - text.size(), ' ');
}

struct Widths {
    size_t user = 0, file = 0, mod = 0, repos = 0, rev = 0;
};

void report_line(const HistoryRun &run, const hrec &hr, const Widths &w, std::string &out) {
    time_t when = hr.date;
    struct tm tm {};
    std::string zone = run.zone.name;
    if (run.zone.local) {
        localtime_r(&when, &tm);
        zone = offset_name(tm.tm_gmtoff);
    } else {
        when += run.zone.offset;
        gmtime_r(&when, &tm);
    }
    char head[96];
    std::snprintf(head, sizeof head, "%c %04d-%02d-%02d %02d:%02d ", hr.type, tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
    out += head;
    out += zone;
    out += ' ';
    pad(out, S(hr.user), w.user);
    std::string workdir = std::string(S(hr.dir)) + S(hr.end);
    const char *mod = mod_of(hr) ? mod_of(hr) : "";
    switch (hr.type) {
    case 'A':
    case 'C':
    case 'G':
    case 'M':
    case 'R':
    case 'U':
    case 'W':
        out += ' ';
        pad(out, S(hr.rev), w.rev);
        out += ' ';
        pad(out, S(hr.file), w.file);
        out += ' ';
        pad(out, shown_repos(hr), w.repos);
        out += " =" + std::string(mod) + "= " + workdir;
        break;
    case 'E':
    case 'F':
    case 'O':
        if (*S(hr.rev))
            out += " [" + std::string(S(hr.rev)) + "]";
        out += ' ';
        pad(out, shown_repos(hr), w.repos);
        out += " =" + std::string(mod);
        pad(out, "=", w.mod - std::strlen(mod) + 1);
        out += " " + workdir;
        break;
    case 'T':
        out += ' ';
        pad(out, mod, w.mod);
        out += " [" + std::string(S(hr.rev)) + ":" + S(hr.repos) + "]";
        if (run.working)
            out += " {" + workdir + "}";
        break;
    default: {
        char junk[48];
        std::snprintf(junk, sizeof junk, "Hey! What is this junk? RecType[0x%2.2x]",
                      static_cast<unsigned char>(hr.type));
        out += junk;
    }
    }
    out += '\n';
}

int report(HistoryRun &run) {
    size_t start = 0;
    if (run.since_tag) {
        if (run.last_tag < 0) {
            jol_output("No tag found: " + *run.since_tag + "\n");
            return 0;
        }
        start = static_cast<size_t>(run.last_tag);
    } else if (run.backto) {
        if (run.last_backto < 0) {
            jol_output("No module, file or repository with: " + *run.backto + "\n");
            return 0;
        }
        start = static_cast<size_t>(run.last_backto);
    }
    std::vector<hrec> &recs = run.kept;
    recs.erase(recs.begin(), recs.begin() + static_cast<long>(start));
    std::sort(recs.begin(), recs.end(),
              [&run](const hrec &a, const hrec &b) { return sort_before(run, a, b); });

    size_t shown = 0;
    Widths w;
    for (size_t i = 0; i < recs.size(); ++i) {
        hrec &hr = recs[i];
        hr.shown = accept_hrec(run, hr, i + 1 < recs.size() ? &recs[i + 1] : nullptr);
        if (!hr.shown)
            continue;
        ++shown;
        w.user = std::max(w.user, std::strlen(S(hr.user)));
        w.file = std::max(w.file, std::strlen(S(hr.file)));
        w.mod = std::max(w.mod, std::strlen(mod_of(hr) ? mod_of(hr) : ""));
        if (hr.type != 'T') {
            w.repos = std::max(w.repos, shown_repos(hr).size());
            w.rev = std::max(w.rev, std::strlen(S(hr.rev)));
        }
    }
    if (shown == 0) {
        jol_output("No records selected.\n");
        return 0;
    }
    std::string out;
    for (const hrec &hr : recs) {
        if (!hr.shown)
            continue;
        report_line(run, hr, w, out);
        if (out.size() >= 64 * 1024) {
            jol_output(out);
            out.clear();
        }
    }
    jol_output(out);
    return 0;
}

}  // namespace

int history(int argc, char **argv) {
    if (argc == -1)
        usage(history_usage);
    HistoryRun run;
    parse_options(run, argc, argv);
    if (client_active)
        return send_history(run);
    // A file named by a peer could be any file the server can read.
    if (server_active && run.histfile)
        error(1, 0, "-X is not allowed in server mode");
    settle_report(run);
    std::string path = run.histfile ? *run.histfile : JOLroot_directory + "/JOLROOT/history";
    std::string buffer;
    read_hrecs(
        path, buffer,
        [&run, &buffer](size_t lines) {
            journal_base = buffer.data();
            run.kept.reserve(lines);
        },
        [&run](hrec &hr) { select_hrec(run, hr); });
    return report(run);
}
