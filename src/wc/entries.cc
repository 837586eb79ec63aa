// JOL/Entries and its journal, JOL/Tag, JOL/Baserev, Create_Admin.
//
// JOL/Entries is only ever replaced whole (a backup file renamed over it,
// after fsync); single changes are appended to the journal JOL/Entries.Log
// with one write each, so a crash leaves the old or the new state.
#include "src/wc/entries.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/wc/recurse.h"
#include "src/wc/server_hooks.h"
#include "src/wc/vers_ts.h"

int admin_write_failures = 0;

namespace {

const char entries_file[] = "JOL/Entries";
const char entries_log[] = "JOL/Entries.Log";
const char entries_backup[] = "JOL/Entries.Backup";

// What an entries list keeps on its header node besides the sticky record.
struct EntriesHeader {
    std::unique_ptr<stickydirtag> sticky;
    bool dirty = false;         // changes that only live in memory
    bool keep_journal = false;  // JOL/Entries could not be read: never rewrite
};

void header_delproc(Node *p) { delete static_cast<EntriesHeader *>(p->data); }

EntriesHeader *header(List *entries) {
    Node *h = entries->list;
    if (!h->data) {
        h->data = new EntriesHeader;
        h->delproc = header_delproc;
    }
    return static_cast<EntriesHeader *>(h->data);
}

void entnode_delproc(Node *p) { Entnode_Destroy(static_cast<Entnode *>(p->data)); }

void trace_out(const std::string &text) {
    if (trace)
        jol_outerr(std::string(server_active ? "S" : " ") + text);
}

std::string admin_path(const char *dir, const char *name) {
    return dir ? std::string(dir) + "/" + name : std::string(name);
}

// Adds or replaces the node of ent->user, at the end of the list.
void add_entry_node(List *list, Entnode *ent) {
    if (Node *old = findnode_fn(list, ent->user))
        delnode(old);
    Node *p = getnode();
    p->type = ENTRIES;
    p->key = ent->user;
    p->data = ent;
    p->delproc = entnode_delproc;
    addnode(list, p);
}

// Appends one journal line with a single write. A line cut short by an
// earlier crash is terminated first so that it cannot swallow this one.
// A last line without its line feed was cut short by a crash; readers skip
// it. Ending it with a line feed would make it look whole (a cut tag or
// date would become the entry's), so it is dropped before the append.
bool drop_cut_line(int fd, off_t size) {
    char buf[4096];
    off_t end = size;
    while (end > 0) {
        off_t start = end > static_cast<off_t>(sizeof buf) ? end - static_cast<off_t>(sizeof buf) : 0;
        ssize_t n = pread(fd, buf, static_cast<size_t>(end - start), start);
        if (n != end - start)
            return false;
        for (ssize_t i = n; i > 0; --i)
            if (buf[i - 1] == '\n')
                return ftruncate(fd, start + i) == 0;
        end = start;
    }
    return ftruncate(fd, 0) == 0;
}

// Format: doc/formats.md#entries-log
bool append_journal(const std::string &path, const std::string &line) {
    int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat sb;
    bool ok = true;
    if (fstat(fd, &sb) == 0 && sb.st_size > 0) {
        char last = '\n';
        if (pread(fd, &last, 1, sb.st_size - 1) == 1 && last != '\n')
            ok = drop_cut_line(fd, sb.st_size);
    }
    ok = ok && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    int saved = errno;
    if (close(fd) != 0)
        ok = false;
    else
        errno = saved;
    return ok;
}

// The local-time form ("Sun Dec  6 14:05:00 2026") of a modification time.
std::string local_ctime(time_t t) {
    char buf[64];
    struct tm tm;
    if (!localtime_r(&t, &tm) || !asctime_r(&tm, buf))
        return std::string();
    std::string s(buf, 24);
    if (s[8] == '0')
        s[8] = ' ';
    return s;
}

bool valid_entry_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('\0') == std::string_view::npos;
}

}  // namespace

Entnode *Entnode_Create(ent_type type, const std::string &user, const std::string &vn,
                        const std::string &ts, const std::string &options, const opt_str &tag,
                        const opt_str &date, const opt_str &ts_conflict) {
    auto *e = new Entnode;
    e->type = type;
    e->user = user;
    e->version = vn;
    e->timestamp = ts;
    e->options = options;
    e->tag = tag;
    e->date = date;
    e->conflict = ts_conflict;
    return e;
}

void Entnode_Destroy(Entnode *ent) { delete ent; }

stickydirtag *entries_sticky(List *entries) {
    if (!entries || !entries->list->data)
        return nullptr;
    return static_cast<EntriesHeader *>(entries->list->data)->sticky.get();
}

Entnode *entries_find(List *entries, const std::string &name) {
    Node *p = findnode_fn(entries, name);
    return p ? static_cast<Entnode *>(p->data) : nullptr;
}

// Format: doc/formats.md#entries
std::string entry_line(const Entnode &ent) {
    std::string s;
    s.reserve(ent.user.size() + ent.version.size() + ent.timestamp.size() + 32);
    if (ent.type == ENT_SUBDIR)
        s += 'D';
    s += '/';
    s += ent.user;
    s += '/';
    s += ent.version;
    s += '/';
    s += ent.timestamp;
    if (ent.conflict) {
        s += '+';
        s += *ent.conflict;
    }
    s += '/';
    s += ent.options;
    s += '/';
    if (ent.tag) {
        s += 'T';
        s += *ent.tag;
    } else if (ent.date) {
        s += 'D';
        s += *ent.date;
    }
    s += '\n';
    return s;
}

// Format: doc/formats.md#entries
std::optional<Entnode> parse_entries_line(std::string_view line, bool journal, char *cmd,
                                          bool *saw_dir) {
    if (cmd)
        *cmd = 'A';
    if (journal && line.size() >= 2 && line[1] == ' ') {
        if (cmd)
            *cmd = line[0];
        line.remove_prefix(2);
    }
    Entnode ent;
    if (!line.empty() && line[0] == 'D') {
        ent.type = ENT_SUBDIR;
        if (saw_dir)
            *saw_dir = true;
        line.remove_prefix(1);
    }
    if (line.empty() || line[0] != '/' || line.back() != '\n')
        return std::nullopt;
    line.remove_prefix(1);
    line.remove_suffix(1);
    std::string_view field[5];
    for (int i = 0; i < 4; ++i) {
        size_t slash = line.find('/');
        if (slash == std::string_view::npos)
            return std::nullopt;
        field[i] = line.substr(0, slash);
        line.remove_prefix(slash + 1);
    }
    if (line.find('\n') != std::string_view::npos)
        return std::nullopt;
    field[4] = line;
    if (!valid_entry_name(field[0])) {
        error(0, 0, "warning: ignoring entry with invalid name `%s'", std::string(field[0]));
        return std::nullopt;
    }
    ent.user = std::string(field[0]);
    ent.version = std::string(field[1]);
    std::string_view ts = field[2];
    size_t plus = ts.find('+');
    if (plus != std::string_view::npos) {
        ent.conflict = std::string(ts.substr(plus + 1));
        ts = ts.substr(0, plus);
    }
    ent.timestamp = std::string(ts);
    ent.options = std::string(field[3]);
    if (!field[4].empty() && field[4][0] == 'T')
        ent.tag = std::string(field[4].substr(1));
    else if (!field[4].empty() && field[4][0] == 'D')
        ent.date = std::string(field[4].substr(1));

    // Two-stamp form: "<old stamp> <file's local time>".
    if (ent.timestamp.size() > 30) {
        struct stat sb;
        if (lstat(ent.user.c_str(), &sb) == 0) {
            const std::string &f = ent.timestamp;
            if (f.size() >= 49 && f.compare(25, 24, local_ctime(sb.st_mtime)) == 0) {
                if (auto now = time_stamp(ent.user.c_str()))
                    ent.timestamp = *now;
            } else {
                ent.timestamp = "*" + f.substr(25);
            }
        }
    }
    return ent;
}

// Format: doc/formats.md#entries
List *Entries_Open(int aflag, const char *update_dir) {
    List *entries = getlist();
    EntriesHeader *hdr = header(entries);
    opt_str tag, date;
    int nonbranch = 0;
    ParseTag(&tag, &date, &nonbranch);
    if (aflag || tag || date) {
        hdr->sticky = std::make_unique<stickydirtag>();
        hdr->sticky->aflag = aflag;
        hdr->sticky->tag = tag;
        hdr->sticky->date = date;
        hdr->sticky->nonbranch = nonbranch;
    }

    bool saw_dir = false;
    std::string text;
    int err = 0;
    if (!read_whole_file(entries_file, text, err)) {
        if (update_dir && *update_dir)
            error(0, 0, "in directory %s:", update_dir);
        error(0, err, "cannot open %s for reading", entries_file);
        // An existing file that cannot be read must not be replaced by what
        // little the journal knows.
        if (err != ENOENT)
            hdr->keep_journal = true;
        text.clear();
    }
    auto add_lines = [&](const std::string &t, bool journal) {
        size_t i = 0;
        while (i < t.size()) {
            size_t nl = t.find('\n', i);
            std::string_view line(t.data() + i, (nl == std::string::npos ? t.size() : nl + 1) - i);
            i = nl == std::string::npos ? t.size() : nl + 1;
            char cmd;
            auto ent = parse_entries_line(line, journal, &cmd, &saw_dir);
            if (!ent)
                continue;
            if (cmd == 'A')
                add_entry_node(entries, new Entnode(std::move(*ent)));
            else if (cmd == 'R')
                delnode(findnode_fn(entries, ent->user));
        }
    };
    add_lines(text, false);

    std::string journal;
    bool have_journal = read_whole_file(entries_log, journal, err);
    if (have_journal)
        add_lines(journal, true);

    if (hdr->sticky)
        hdr->sticky->subdirs = saw_dir;
    else if (!saw_dir) {
        hdr->sticky = std::make_unique<stickydirtag>();
        hdr->sticky->subdirs = 0;
    }
    if (have_journal && !noexec && !hdr->keep_journal)
        write_entries(entries);
    return entries;
}

// Format: doc/formats.md#entries
void write_entries(List *list) {
    EntriesHeader *hdr = header(list);
    if (hdr->keep_journal)
        return;
    std::string text;
    bool wrote_dir = false;
    JOL_FOR_EACH_NODE(list, p) {
        const Entnode *e = static_cast<const Entnode *>(p->data);
        if (e->type == ENT_SUBDIR)
            wrote_dir = true;
        text += entry_line(*e);
    }
    if (!wrote_dir && (!hdr->sticky || hdr->sticky->subdirs))
        text += "D\n";

    bool ok = false;
    int fd = open(entries_backup, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
             (!sync_admin_files || fsync(fd) == 0);
        ok = close(fd) == 0 && ok;
    }
    // The backup above was written whatever -n says (callers settle -n).
    if (ok)
        ok = rename_file(entries_backup, entries_file,
                         {.honour_noexec = false, .fatal = false}) == 0;
    if (!ok) {
        error(0, errno, "cannot rewrite %s", entries_file);
        unlink(entries_backup);
        ++admin_write_failures;
        return;
    }
    hdr->dirty = false;
    if (unlink(entries_log) != 0 && errno != ENOENT)
        error(0, errno, "cannot remove %s", entries_log);
}

// Format: doc/formats.md#entries
void Entries_Close(List *list) {
    if (!list)
        return;
    if (!noexec && (isfile(entries_log) || header(list)->dirty))
        write_entries(list);
    dellist(&list);
}

// Format: doc/formats.md#entries-log
void Register(List *list, const std::string &fname, const std::string &vn,
              const std::string &ts, const std::string &options, const opt_str &tag,
              const opt_str &date, const opt_str &ts_conflict) {
    if (server_active)
        server_register(fname, vn, ts, options, tag, date, ts_conflict);
    if (trace)
        trace_out("-> Register(" + fname + ", " + vn + ", " + ts + (ts_conflict ? "+" : "") +
                  ts_conflict.value_or("") + ", " + options + ", " + tag.value_or("") + " " +
                  date.value_or("") + ")\n");
    Entnode *ent = Entnode_Create(ENT_FILE, fname, vn, ts, options, tag, date, ts_conflict);
    std::string line = "A " + entry_line(*ent);
    add_entry_node(list, ent);
    if (noexec)
        return;
    if (!append_journal(entries_log, line)) {
        error(0, errno, "cannot open %s", entries_log);
        header(list)->dirty = true;
        ++admin_write_failures;
    }
}

// Format: doc/formats.md#entries-log
void Scratch_Entry(List *list, const std::string &fname) {
    if (trace)
        trace_out("-> Scratch_Entry(" + fname + ")\n");
    Node *p = findnode_fn(list, fname);
    if (!p)
        return;
    if (!noexec) {
        std::string line = "R " + entry_line(*static_cast<Entnode *>(p->data));
        if (!append_journal(entries_log, line))
            error(1, errno, "cannot open %s", entries_log);
    }
    delnode(p);
    if (server_active)
        server_scratch(fname);
}

bool sync_admin_files = true;

bool write_file_atomically(const std::string &path, std::string_view contents, bool durable) {
    size_t slash = path.rfind('/');
    std::string tmp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                      ".#" + (slash == std::string::npos ? path : path.substr(slash + 1)) + "." +
                      std::to_string(getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    // The replacement keeps the permissions of the file it replaces.
    struct stat old;
    if (stat(path.c_str(), &old) == 0)
        fchmod(fd, old.st_mode & 07777);
    bool ok = write(fd, contents.data(), contents.size()) ==
                  static_cast<ssize_t>(contents.size()) &&
              (!durable || fsync(fd) == 0);
    int saved = errno;
    ok = close(fd) == 0 && ok;
    // Untraced and done under -n: callers settle -n, and -t output stays stable.
    if (ok && rename_file(tmp.c_str(), path.c_str(),
                          {.traced = false, .honour_noexec = false, .fatal = false}) == 0)
        return true;
    saved = errno ? errno : saved;
    unlink(tmp.c_str());
    errno = saved;
    return false;
}

// Format: doc/formats.md#tag
void WriteTag(const char *dir, const opt_str &tag, const opt_str &date, int nonbranch,
              const char *update_dir, const char *repository) {
    if (noexec)
        return;
    std::string file = admin_path(dir, "JOL/Tag");
    if (tag || date) {
        std::string line = tag ? std::string(nonbranch ? "N" : "T") + *tag : "D" + *date;
        line += '\n';
        if (!write_file_atomically(file, line, sync_admin_files))
            error(1, errno, "write to %s failed", file);
    } else if (unlink(file.c_str()) != 0 && errno != ENOENT) {
        error(1, errno, "cannot remove %s", file);
    }
    if (server_active)
        server_set_sticky(update_dir, repository, tag, date, nonbranch);
}

// Format: doc/formats.md#tag
void ParseTag(opt_str *tagp, opt_str *datep, int *nonbranchp) {
    if (tagp)
        tagp->reset();
    if (datep)
        datep->reset();
    if (nonbranchp)
        *nonbranchp = 0;
    FILE *fp = std::fopen("JOL/Tag", "r");
    if (!fp) {
        if (errno != ENOENT)
            error(0, errno, "cannot open %s", "JOL/Tag");
        return;
    }
    LineReader lines(fp);
    auto first = lines.next();
    std::string line(first.value_or(std::string_view()));
    bool failed = std::ferror(fp);
    bool empty = !first;
    std::fclose(fp);
    if (failed) {
        error(0, errno, "cannot read %s", "JOL/Tag");
        return;
    }
    if (empty) {
        error(0, 0, "cannot read %s: end of file", "JOL/Tag");
        return;
    }
    if (line[0] == 'T' && tagp) {
        *tagp = line.substr(1);
    } else if (line[0] == 'N') {
        if (tagp)
            *tagp = line.substr(1);
        if (nonbranchp)
            *nonbranchp = 1;
    } else if (line[0] == 'D' && datep) {
        *datep = line.substr(1);
    }
}

void Subdirs_Known(List *entries) {
    stickydirtag *sdt = entries_sticky(entries);
    if (!sdt || sdt->subdirs)
        return;
    sdt->subdirs = 1;
    if (noexec)
        return;
    int fd = open(entries_log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (isdir("JOL"))
            error(1, errno, "cannot open %s", entries_log);
        return;
    }
    close(fd);
}

namespace {

// Format: doc/formats.md#entries-log
void subdir_record(char cmd, const char *parent, const std::string &dir) {
    if (noexec)
        return;
    Entnode ent;
    ent.type = ENT_SUBDIR;
    ent.user = dir;
    std::string line = std::string(1, cmd) + " " + entry_line(ent);
    std::string log = admin_path(parent, entries_log);
    int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (!isdir(admin_path(parent, "JOL").c_str()))
            return;
        error(1, errno, "cannot open %s", log);
    }
    close(fd);
    if (!append_journal(log, line))
        error(1, errno, "cannot write %s", log);
}

}  // namespace

void Subdir_Register(List *entries, const char *parent, const std::string &dir) {
    if (dir == ".")
        return;
    subdir_record('A', parent, dir);
    if (entries && (!parent || std::strcmp(parent, ".") == 0))
        add_entry_node(entries, Entnode_Create(ENT_SUBDIR, dir, "", "", "", std::nullopt,
                                               std::nullopt, std::nullopt));
}

void Subdir_Deregister(List *entries, const char *parent, const std::string &dir) {
    subdir_record('R', parent, dir);
    if (entries && (!parent || std::strcmp(parent, ".") == 0))
        if (Node *p = findnode_fn(entries, dir))
            delnode(p);
}

namespace {

// Format: doc/formats.md#baserev
opt_str base_walk(base_op code, const file_info *finfo, const std::string *rev) {
    const char *baserev = "JOL/Baserev";
    const char *baserev_tmp = "JOL/Baserev.tmp";
    std::string text;
    int err = 0;
    if (!read_whole_file(baserev, text, err)) {
        if (err != ENOENT) {
            std::string where = finfo->update_dir.empty() ? std::string(baserev)
                                                          : finfo->update_dir + "/" + baserev;
            error(0, err, "cannot open %s for reading", where);
            return std::nullopt;
        }
        text.clear();
    }
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t nl = text.find('\n', i);
        std::string_view line(text.data() + i, (nl == std::string::npos ? text.size() : nl) - i);
        i = nl == std::string::npos ? text.size() : nl + 1;
        if (line.empty() || line[0] != 'B')
            continue;
        size_t s1 = line.find('/', 1);
        size_t s2 = s1 == std::string_view::npos ? s1 : line.find('/', s1 + 1);
        if (s2 == std::string_view::npos)
            continue;
        if (line.substr(1, s1 - 1) == finfo->file) {
            if (code == BASE_GET)
                return std::string(line.substr(s1 + 1, s2 - s1 - 1));
            continue;
        }
        out.append(line);
        out += '\n';
    }
    if (code == BASE_GET)
        return std::nullopt;
    if (code == BASE_REGISTER)
        out += "B" + finfo->file + "/" + *rev + "/\n";
    if (noexec)
        return std::nullopt;
    // A failed write leaves the old file as it was.
    if (!write_file_atomically(baserev, out, sync_admin_files)) {
        error(0, errno, "error writing %s", baserev_tmp);
        ++admin_write_failures;
    }
    return std::nullopt;
}

}  // namespace

opt_str base_get(const file_info *finfo) { return base_walk(BASE_GET, finfo, nullptr); }
void base_register(const file_info *finfo, const std::string &rev) {
    base_walk(BASE_REGISTER, finfo, &rev);
}
void base_deregister(const file_info *finfo) { base_walk(BASE_DEREGISTER, finfo, nullptr); }

void mark_up_to_date(const char *file) {
    std::string base = std::string("JOL/Base/") + file;
    if (unlink(base.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "cannot remove %s", base);
}

// Format: doc/formats.md#entries
int Create_Admin(const char *dir, const char *update_dir, const char *repository,
                 const opt_str &tag, const opt_str &date, int nonbranch, int warn,
                 int dotemplate) {
    if (trace)
        trace_out(std::string("-> Create_Admin (") + dir + ", " + update_dir + ", " + repository +
                  ", " + tag.value_or("") + ", " + date.value_or("") + ", " +
                  std::to_string(nonbranch) + ", " + std::to_string(warn) + ")\n");
    if (noexec)
        return 0;
    std::string adm = admin_path(dir, "JOL");
    if (isfile(adm.c_str()))
        error(1, 0, "there is a version in %s already", update_dir);
    if (mkdir(adm.c_str(), 0777) != 0) {
        if (warn) {
            error(0, 0, "warning: cannot make directory %s in %s", "JOL", update_dir);
            return 1;
        }
        error(1, errno, "cannot make directory %s in %s", "JOL", update_dir);
    }
    const std::string &root = current_root ? *current_root : JOLroot_original;
    Create_Root(dir, root.empty() ? nullptr : root.c_str());

    std::string repos = repository;
    Sanitize_Repository_Name(repos);
    if (repos == JOLroot_directory)
        repos += "/.";
    if (repos.size() > JOLroot_directory.size() &&
        repos.compare(0, JOLroot_directory.size(), JOLroot_directory) == 0 &&
        repos[JOLroot_directory.size()] == '/')
        repos.erase(0, JOLroot_directory.size() + 1);

    auto fail = [&](const char *fmt_plain, const char *fmt_dir, const char *file) {
        if (update_dir && *update_dir)
            error(1, errno, fmt_dir, update_dir, file);
        error(1, errno, fmt_plain, file);
    };
    std::string repo_file = admin_path(dir, "JOL/Repository");
    FILE *fp = std::fopen(repo_file.c_str(), "w+");
    if (!fp)
        fail("cannot open %s", "cannot open %s/%s", "JOL/Repository");
    if (std::fprintf(fp, "%s\n", repos.c_str()) < 0)
        fail("write to %s failed", "write to %s/%s failed", "JOL/Repository");
    if (std::fclose(fp) == EOF)
        fail("cannot close %s", "cannot close %s/%s", "JOL/Repository");

    std::string ent_file = admin_path(dir, "JOL/Entries");
    fp = std::fopen(ent_file.c_str(), "w+");
    if (!fp)
        fail("cannot open %s", "cannot open %s/%s", "JOL/Entries");
    if (std::fclose(fp) == EOF)
        fail("cannot close %s", "cannot close %s/%s", "JOL/Entries");

    WriteTag(dir, tag, date, nonbranch, update_dir, repository);
    if (server_active && dotemplate)
        server_template(update_dir, repository);
    if (trace)
        trace_out("<- Create_Admin\n");
    return 0;
}

int mkdir_p(const char *path) {
    std::string p = path;
    size_t i = 0;
    for (;;) {
        size_t slash = p.find('/', i);
        if (slash == std::string::npos)
            break;
        if (slash > 0 && p[slash - 1] != '/') {
            std::string part = p.substr(0, slash);
            if (mkdir(part.c_str(), 0777) != 0) {
                int e = errno;
                if (e != EEXIST && !((e == EACCES || e == EROFS) && isdir(part.c_str())))
                    return e;
            }
        }
        i = slash + 1;
    }
    if (mkdir(p.c_str(), 0777) != 0)
        return errno;
    return 0;
}

// Format: doc/formats.md#entries
int create_adm_p(const char *base_dir, const char *dir) {
    if (std::strcmp(dir, ".") == 0)
        return 0;
    std::string rel = dir;
    std::string child;
    for (;;) {
        std::string level = rel.empty() ? std::string(base_dir) : std::string(base_dir) + "/" + rel;
        std::string adm = level + "/JOL";
        if (mkdir(adm.c_str(), 0777) != 0 && errno != EEXIST)
            return errno;
        std::string repo_file = adm + "/Repository";
        if (!isfile(repo_file.c_str())) {
            std::string empty = JOLroot_directory + "/JOLROOT/Emptydir";
            mode_t old = umask(jolumask);
            int r = mkdir(empty.c_str(), 0777);
            int e = errno;
            umask(old);
            if (r != 0 && e != EEXIST)
                return e;
            if (!write_file_atomically(repo_file, empty + "\n", sync_admin_files))
                return errno;
        }
        std::string ent = adm + "/Entries";
        int fd = open(ent.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            return errno;
        close(fd);
        if (!child.empty())
            Subdir_Register(nullptr, level.c_str(), child);
        if (rel.empty())
            break;
        size_t slash = rel.rfind('/');
        child = slash == std::string::npos ? rel : rel.substr(slash + 1);
        rel = slash == std::string::npos ? std::string() : rel.substr(0, slash);
    }
    return 0;
}

int isemptydir(const char *dir, int might_not_exist) {
    DIR *d = opendir(dir);
    if (!d) {
        if (!(might_not_exist && errno == ENOENT))
            error(0, errno, "cannot open directory %s for empty check", dir);
        return 0;
    }
    bool empty = true;
    int read_errno = 0;
    for (;;) {
        // Reading the entries of JOL below sets errno on its own, so the end
        // of the listing is told from an error only right after readdir.
        errno = 0;
        struct dirent *de = readdir(d);
        if (!de) {
            read_errno = errno;
            break;
        }
        if (!std::strcmp(de->d_name, ".") || !std::strcmp(de->d_name, ".."))
            continue;
        if (!std::strcmp(de->d_name, "JOL")) {
            std::string adm = std::string(dir) + "/JOL";
            if (isdir(adm.c_str())) {
                int cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (chdir(dir) != 0)
                    error(1, errno, "cannot change directory to %s", dir);
                List *l = Entries_Open(0, nullptr);
                JOL_FOR_EACH_NODE(l, p) {
                    const Entnode *e = static_cast<const Entnode *>(p->data);
                    if (e->type == ENT_FILE && !e->version.empty() && e->version[0] == '-')
                        empty = false;
                }
                Entries_Close(l);
                if (fchdir(cwd) != 0)
                    error(1, errno, "cannot change directory back from %s", dir);
                close(cwd);
                continue;
            }
        }
        empty = false;
        break;
    }
    if (read_errno != 0 && empty) {
        error(0, read_errno, "cannot read directory %s", dir);
        empty = false;
    }
    closedir(d);
    return empty;
}
