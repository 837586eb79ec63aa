// The log command: archive headers, descriptions and the selected
// revisions of working files.
#include <algorithm>
#include <cstring>
#include <getopt.h>
#include <set>
#include <string>
#include <vector>

#include "src/base/date_option.h"
#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/getdate.h"
#include "src/base/globals.h"
#include "src/base/identity.h"
#include "src/base/output.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/rcs/rcs.h"
#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"

namespace {

struct option_revlist {
    std::optional<std::string> first, last;
    bool branchhead = false;
};

struct revrange {
    std::string first, last;
    int fields;
};

struct daterange {
    std::string start, end;
    bool inclusive;
};

struct log_data {
    int nameonly = 0, header = 0, long_header = 0, notags = 0, default_branch = 0;
    std::vector<option_revlist> revlist;
    std::vector<daterange> datelist;
    std::vector<std::string> singledates;
    std::vector<std::string> statelist, authorlist;
    bool have_revlist = false;
};

const char *const log_usage[] = {
    "Usage: %s %s [-lRhtNb] [-r[revisions]] [-d dates] [-s states]\n",
    "    [-w[logins]] [files...]\n",
    "\t-l\tLocal directory only, no recursion.\n",
    "\t-R\tOnly print name of RCS file.\n",
    "\t-h\tOnly print header.\n",
    "\t-t\tOnly print header and descriptive text.\n",
    "\t-N\tDo not list tags.\n",
    "\t-b\tOnly list revisions on the default branch.\n",
    "\t-r[revisions]\tSpecify revision(s)s to list.\n",
    "\t-d dates\tSpecify dates (D1<D2 for range, D for latest before).\n",
    "\t-s states\tOnly list revisions with specified states.\n",
    "\t-w[logins]\tOnly list revisions checked in by specified logins.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    size_t i = 0;
    for (;;) {
        size_t j = s.find(sep, i);
        out.push_back(s.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos)
            break;
        i = j + 1;
    }
    return out;
}

void add_unique(std::vector<std::string> &list, const std::string &name) {
    if (std::find(list.begin(), list.end(), name) == list.end())
        list.push_back(name);
}

int count_fields(std::string_view r) { return numdots(r) + 1; }

// Compares over n fields; a first operand that runs out is greater, a
// second that runs out is smaller.
int version_compare(std::string_view a, std::string_view b, int n) {
    size_t i = 0, j = 0;
    for (int f = 0; f < n; ++f) {
        if (i >= a.size())
            return 1;
        if (j >= b.size())
            return -1;
        size_t ie = a.find('.', i), je = b.find('.', j);
        if (ie == std::string_view::npos)
            ie = a.size();
        if (je == std::string_view::npos)
            je = b.size();
        std::string_view fa = a.substr(i, ie - i), fb = b.substr(j, je - j);
        while (fa.size() > 1 && fa[0] == '0')
            fa.remove_prefix(1);
        while (fb.size() > 1 && fb[0] == '0')
            fb.remove_prefix(1);
        if (fa.size() != fb.size())
            return fa.size() < fb.size() ? -1 : 1;
        int c = fa.compare(fb);
        if (c)
            return c < 0 ? -1 : 1;
        i = ie + 1;
        j = je + 1;
    }
    return 0;
}

std::string cut_last_field(const std::string &r) {
    size_t dot = r.rfind('.');
    return dot == std::string::npos ? std::string() : r.substr(0, dot);
}

std::vector<revrange> log_expand_revlist(RCSNode *rcs, const log_data &ld) {
    std::vector<revrange> out;
    for (const option_revlist &r : ld.revlist) {
        if (!r.first && !r.last) {
            out.push_back({rcs->head, rcs->head, count_fields(rcs->head)});
            continue;
        }
        if (r.branchhead) {
            std::string branch;
            if (std::isdigit(static_cast<unsigned char>((*r.first)[0]))) {
                branch = *r.first;
            } else if (auto b = RCS_whatbranch(rcs, r.first->c_str())) {
                branch = *b;
            } else {
                error(0, 0, "warning: `%s' is not a branch in `%s'", *r.first, rcs->path);
                continue;
            }
            auto h = RCS_getbranch(rcs, branch, 1);
            if (!h) {
                error(0, 0, "warning: no revision `%s' in `%s'", *r.first, rcs->path);
                continue;
            }
            out.push_back({*h, *h, count_fields(*h)});
            continue;
        }
        auto convert = [&](const std::optional<std::string> &v) -> std::optional<std::string> {
            if (!v)
                return std::nullopt;
            if (std::isdigit(static_cast<unsigned char>((*v)[0])))
                return v;
            if (RCS_nodeisbranch(rcs, v->c_str()))
                return RCS_whatbranch(rcs, v->c_str());
            return RCS_gettag(rcs, v->c_str(), 1, nullptr);
        };
        std::string first, last;
        if (r.first) {
            auto f = convert(r.first);
            if (!f) {
                error(0, 0, "warning: no revision `%s' in `%s'", *r.first, rcs->path);
                continue;
            }
            first = *f;
        }
        if (r.last) {
            auto l = convert(r.last);
            if (!l) {
                error(0, 0, "warning: no revision `%s' in `%s'", *r.last, rcs->path);
                continue;
            }
            last = *l;
        }
        if (!r.first) {
            size_t dot = last.rfind('.');
            first = dot == std::string::npos ? last + ".0" : last.substr(0, dot + 1) + "0";
        } else if (!r.last) {
            last = cut_last_field(first);
        } else {
            int nf = count_fields(first), nl = count_fields(last);
            bool ok = nf == nl;
            if (ok && nf > 2)
                ok = cut_last_field(first) == cut_last_field(last);
            if (!ok) {
                error(0, 0, "invalid branch or revision pair %s:%s in `%s'", *r.first, *r.last,
                      rcs->path);
                continue;
            }
            if (version_compare(first, last, nf) > 0)
                std::swap(first, last);
        }
        out.push_back({first, last, count_fields(first)});
    }
    if (ld.default_branch) {
        std::string b = !rcs->branch.empty() ? rcs->branch : cut_last_field(rcs->head);
        if (!b.empty())
            out.push_back({b, b, count_fields(b)});
    }
    return out;
}

bool in_dates(const RCSVers *v, const log_data &ld, const std::vector<std::string> &resolved) {
    if (ld.datelist.empty() && ld.singledates.empty())
        return true;
    for (const daterange &d : ld.datelist) {
        int s = RCS_datecmp(v->date, d.start), e = RCS_datecmp(v->date, d.end);
        if ((s > 0 || (d.inclusive && s == 0)) && (e < 0 || (d.inclusive && e == 0)))
            return true;
    }
    for (const std::string &r : resolved)
        if (!r.empty() && v->date == r)
            return true;
    return false;
}

bool version_requested(const RCSVers *v, const log_data &ld, const std::vector<revrange> &revs,
                       bool use_dates, const std::vector<std::string> &resolved) {
    if (!ld.statelist.empty() &&
        std::find(ld.statelist.begin(), ld.statelist.end(), v->state) == ld.statelist.end())
        return false;
    if (!ld.authorlist.empty() &&
        std::find(ld.authorlist.begin(), ld.authorlist.end(), v->author) == ld.authorlist.end())
        return false;
    if (use_dates && !in_dates(v, ld, resolved))
        return false;
    if (ld.have_revlist || ld.default_branch) {
        int vf = count_fields(v->version);
        for (const revrange &r : revs) {
            int want = (r.fields + 1) / 2 * 2;
            if (vf != want)
                continue;
            if (version_compare(v->version, r.first, r.fields) >= 0 &&
                version_compare(v->version, r.last, r.fields) <= 0)
                return true;
        }
        return false;
    }
    return true;
}

std::string field_of(List *l, const char *key) {
    if (Node *n = findnode(l, key))
        return static_cast<const char *>(n->data);
    return std::string();
}

struct Printer {
    RCSNode *rcs;
    const log_data &ld;
    const std::vector<revrange> &revs;
    const std::vector<std::string> &resolved;
    std::string out;

    bool selected(const RCSVers *v) const { return version_requested(v, ld, revs, true, resolved); }

    void print_rev(const RCSVers *v, const RCSVers *older_trunk) {
        if (!selected(v))
            return;
        out += "----------------------------\nrevision " + v->version;
        if (List *locks = RCS_getlocks(rcs))
            if (Node *n = findnode(locks, v->version))
                out += "\tlocked by: " + std::string(static_cast<const char *>(n->data)) + ";";
        out += "\ndate: " + printable_date(v->date) + ";  author: " + v->author +
               ";  state: " + v->state + ";";
        bool trunk = numdots(v->version) == 1;
        const RCSVers *counts = trunk ? older_trunk : v;
        if (counts && counts->other) {
            std::string add = field_of(counts->other, ";add");
            std::string del = field_of(counts->other, ";delete");
            if (!add.empty() || !del.empty()) {
                if (trunk)
                    out += "  lines: +" + del + " -" + add;
                else
                    out += "  lines: +" + add + " -" + del;
            }
        }
        if (v->branches && !list_isempty(v->branches)) {
            out += "\nbranches:";
            JOL_FOR_EACH_NODE(v->branches, p) out += "  " + cut_last_field(*p->key) + ";";
        }
        out += "\n";
        std::string log = v->other ? field_of(v->other, "log") : std::string();
        if (log.empty())
            out += "*** empty log message ***\n";
        else {
            out += log;
            if (log.back() != '\n')
                out += "\n";
        }
        if (out.size() > 65536) {
            jol_output(out);
            out.clear();
        }
    }

    // A branch's revisions newest first, then the branches sprouting from
    // its revisions, oldest revision first.
    void print_branch(const std::string &first) {
        std::vector<const RCSVers *> chain;
        std::set<std::string> seen;
        std::string cur = first;
        while (!cur.empty() && seen.insert(cur).second) {
            const RCSVers *v = RCS_findvers(rcs, cur);
            if (!v)
                error(1, 0, "missing version `%s' in RCS file `%s'", cur, rcs->path);
            chain.push_back(v);
            cur = v->next;
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it)
            print_rev(*it, nullptr);
        for (const RCSVers *v : chain)
            if (v->branches)
                JOL_FOR_EACH_NODE(v->branches, p) print_branch(*p->key);
    }

    void print_all() {
        std::vector<const RCSVers *> trunk;
        std::set<std::string> seen;
        std::string cur = rcs->head;
        while (!cur.empty() && seen.insert(cur).second) {
            const RCSVers *v = RCS_findvers(rcs, cur);
            if (!v)
                error(1, 0, "can not find next revision `%s' in `%s'", cur, rcs->path);
            trunk.push_back(v);
            cur = v->next;
        }
        for (size_t i = 0; i < trunk.size(); ++i)
            print_rev(trunk[i], i + 1 < trunk.size() ? trunk[i + 1] : nullptr);
        for (auto it = trunk.rbegin(); it != trunk.rend(); ++it)
            if ((*it)->branches)
                JOL_FOR_EACH_NODE((*it)->branches, p) print_branch(*p->key);
    }
};

int log_fileproc(void *callerdat, file_info *finfo) {
    const log_data &ld = *static_cast<log_data *>(callerdat);
    RCSNode *rcs = finfo->rcs;
    if (!rcs) {
        Entnode *e = finfo->entries ? entries_find(finfo->entries, finfo->file) : nullptr;
        if (e && e->version == "0") {
            if (!really_quiet)
                error(0, 0, "%s has been added, but not committed", finfo->file);
            return 0;
        }
        if (!really_quiet)
            error(0, 0, "nothing known about %s", finfo->file);
        return 1;
    }
    if (ld.nameonly) {
        jol_output(rcs->path + "\n");
        return 0;
    }
    RCS_fully_parse(rcs);
    std::vector<revrange> revs = log_expand_revlist(rcs, ld);

    // Each single date selects the latest revision at or before it.
    std::vector<std::string> resolved(ld.singledates.size());
    JOL_FOR_EACH_NODE(rcs->versions, p) {
        const RCSVers *v = static_cast<const RCSVers *>(p->data);
        if (!version_requested(v, ld, revs, false, resolved))
            continue;
        for (size_t i = 0; i < ld.singledates.size(); ++i)
            if (RCS_datecmp(ld.singledates[i], v->date) >= 0 &&
                (resolved[i].empty() || RCS_datecmp(v->date, resolved[i]) > 0))
                resolved[i] = v->date;
    }

    std::string out = "\nRCS file: " + rcs->path + "\nWorking file: " +
                      (finfo->update_dir.empty() ? "" : finfo->update_dir + "/") + finfo->file;
    out += "\nhead:";
    if (!rcs->head.empty())
        out += " " + rcs->head;
    out += "\nbranch:";
    if (!rcs->branch.empty())
        out += " " + rcs->branch;
    out += "\nlocks:";
    if (rcs->strict_locks)
        out += " strict";
    if (List *locks = RCS_getlocks(rcs))
        JOL_FOR_EACH_NODE(locks, p) {
            out += "\n\t" + std::string(static_cast<const char *>(p->data)) + ": " + *p->key;
        }
    out += "\naccess list:";
    for (const std::string &name : split(rcs->access, ' '))
        if (!name.empty())
            out += "\n\t" + name;
    if (!ld.notags) {
        out += "\nsymbolic names:";
        if (List *syms = RCS_symbols(rcs))
            JOL_FOR_EACH_NODE(syms, p) {
                out += "\n\t" + *p->key + ": " + static_cast<const char *>(p->data);
            }
    }
    out += "\nkeyword substitution: " + (rcs->expand.empty() ? std::string("kv") : rcs->expand);
    size_t total = 0, selected = 0;
    JOL_FOR_EACH_NODE(rcs->versions, p) {
        ++total;
        if (version_requested(static_cast<const RCSVers *>(p->data), ld, revs, true, resolved))
            ++selected;
    }
    out += "\ntotal revisions: " + std::to_string(total);
    if (!ld.header && !ld.long_header)
        out += ";\tselected revisions: " + std::to_string(selected);
    out += "\n";
    if (!ld.header || ld.long_header)
        out += "description:\n" + rcs->desc;
    jol_output(out);
    if (!ld.header && !ld.long_header) {
        Printer pr{rcs, ld, revs, resolved, std::string()};
        pr.print_all();
        jol_output(pr.out);
    }
    jol_output("=============================================================================\n");
    return 0;
}

Dtype log_dirproc(void *, const char *dir, const char *, const char *update_dir, List *) {
    if (!isdir(dir))
        return R_SKIP_ALL;
    if (!quiet)
        error(0, 0, "Logging %s", update_dir);
    return R_PROCESS;
}

// The options as arguments, then the working files, the names and "log".
int send_log_to_server(const log_data &ld, int local, int argc, char **argv) {
    start_server();
    ign_setup();
    if (ld.default_branch)
        send_arg("-b");
    for (const daterange &d : ld.datelist) {
        send_arg("-d");
        send_arg(date_to_internet(d.start.c_str()) + (d.inclusive ? "<=" : "<") +
                 date_to_internet(d.end.c_str()));
    }
    for (const std::string &d : ld.singledates) {
        send_arg("-d");
        send_arg(date_to_internet(d.c_str()));
    }
    const std::pair<int, const char *> flags[] = {{ld.header, "-h"},   {local, "-l"},
                                                  {ld.notags, "-N"},   {ld.nameonly, "-R"},
                                                  {ld.long_header, "-t"}};
    for (auto [on, flag] : flags)
        if (on)
            send_arg(flag);
    for (const option_revlist &r : ld.revlist) {
        if (r.branchhead)
            send_arg("-r" + r.first.value_or("") + ".");
        else
            send_arg("-r" + r.first.value_or("") + ":" + r.last.value_or(""));
    }
    for (const std::string &s : ld.statelist)
        send_arg("-s" + s);
    for (const std::string &w : ld.authorlist)
        send_arg(w == "@@MYSELF" ? std::string("-w") : "-w" + w);
    send_files(argc, argv, local, 0, SEND_NO_CONTENTS);
    send_file_names(argc, argv, SEND_EXPAND_WILD);
    send_to_server("log\n");
    return get_responses_and_close();
}

}  // namespace

int jollog(int argc, char **argv) {
    if (argc == -1)
        usage(log_usage);
    log_data ld;
    int local = 0;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+bd:hlNRr::s:tw::")) != -1) {
        switch (c) {
        case 'b': ld.default_branch = 1; break;
        case 'd':
            for (const std::string &el : split(optarg, ';')) {
                size_t gt = el.find('>'), lt = el.find('<');
                if (gt == std::string::npos && lt == std::string::npos) {
                    ld.singledates.push_back(date_option(el.c_str()));
                    continue;
                }
                bool greater = gt != std::string::npos;
                size_t at = greater ? gt : lt;
                bool inclusive = at + 1 < el.size() && el[at + 1] == '=';
                std::string a = el.substr(0, at), b = el.substr(at + (inclusive ? 2 : 1));
                std::string start = greater ? b : a, end = greater ? a : b;
                daterange d;
                d.start = start.empty() ? std::string("1970.01.01.00.00.00") : date_option(start.c_str());
                d.end = end.empty() ? std::string("2038.01.01.00.00.00") : date_option(end.c_str());
                d.inclusive = inclusive;
                ld.datelist.push_back(d);
            }
            break;
        case 'h': ld.header = 1; break;
        case 'l': local = 1; break;
        case 'N': ld.notags = 1; break;
        case 'R': ld.nameonly = 1; break;
        case 'r':
            ld.have_revlist = true;
            for (const std::string &el : split(optarg ? optarg : "", ',')) {
                option_revlist r;
                size_t colon = el.find(':');
                if (colon != std::string::npos) {
                    std::string a = el.substr(0, colon), b = el.substr(colon + 1);
                    if (!a.empty())
                        r.first = a;
                    if (!b.empty())
                        r.last = b;
                } else if (!el.empty() && el.back() == '.') {
                    r.first = el.substr(0, el.size() - 1);
                    r.last = r.first;
                    r.branchhead = true;
                } else if (!el.empty()) {
                    r.first = r.last = el;
                }
                ld.revlist.push_back(r);
            }
            break;
        case 's':
            for (const std::string &s : split(optarg, ','))
                add_unique(ld.statelist, s);
            break;
        case 't': ld.long_header = 1; break;
        case 'w':
            if (optarg)
                for (const std::string &s : split(optarg, ','))
                    add_unique(ld.authorlist, s);
            else
                add_unique(ld.authorlist, "@@MYSELF");
            break;
        default: usage(log_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (client_active)
        return send_log_to_server(ld, local, argc, argv);
    auto me = std::find(ld.authorlist.begin(), ld.authorlist.end(), "@@MYSELF");
    if (me != ld.authorlist.end())
        *me = getcaller();
    return start_recursion({.fileproc = log_fileproc,
                            .direntproc = log_dirproc,
                            .callerdat = &ld,
                            .argc = argc,
                            .argv = argv,
                            .local = local,
                            .which = WHICH_LOCAL | WHICH_REPOSITORY | WHICH_ATTIC,
                            .readlock = 1,
                            .dosrcs = 1});
}
