// Module expansion (do_module), the module listing (cat_module), and the
// module programs.
#include "src/repo/modules.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/subprocess.h"
#include "src/repo/parseinfo.h"
#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/server_hooks.h"

namespace {

std::vector<std::string> split_words(const std::string &s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t')
            ++j;
        if (j > i)
            out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

// A path that stays inside the repository: relative, no ".." component.
bool contained_path(const std::string &p) {
    if (p.empty())
        return true;
    if (p[0] == '/')
        return false;
    size_t i = 0;
    while (i <= p.size()) {
        size_t slash = p.find('/', i);
        if (slash == std::string::npos)
            slash = p.size();
        if (p.compare(i, slash - i, "..") == 0 && slash - i == 2)
            return false;
        i = slash + 1;
    }
    return true;
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\n");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\n");
    return s.substr(b, e - b + 1);
}

class SavedDir {
  public:
    SavedDir() : fd_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ < 0) {
            error(0, errno, "cannot open current directory");
            error_exit();
        }
    }
    ~SavedDir() {
        if (fchdir(fd_) != 0) {
            error(0, errno, "cannot return to the saved directory");
            error_exit();
        }
        close(fd_);
    }

  private:
    int fd_;
};

// The definition of a module, cut at its comment, without trailing blanks.
std::string definition_of(DBM *db, const std::string &name, bool &found) {
    found = false;
    if (!db)
        return std::string();
    auto v = mydbm_fetch(db, name);
    if (!v)
        return std::string();
    found = true;
    std::string d = *v;
    size_t hash = d.find('#');
    if (hash != std::string::npos)
        d.resize(hash);
    while (!d.empty() && std::isspace(static_cast<unsigned char>(d.back())))
        d.pop_back();
    return d;
}

struct ModuleOptions {
    bool alias = false;
    bool nonalias = false;
    std::string mwhere;
    std::string checkin_prog, checkout_prog, export_prog, tag_prog, update_prog;
    bool local = false;
    std::vector<std::string> words;
};

// Options in the syntax "+ad:i:lo:e:s:t:u:"; false on an unknown one.
bool parse_module_options(const std::vector<std::string> &w, ModuleOptions &o) {
    size_t i = 0;
    while (i < w.size() && w[i].size() > 1 && w[i][0] == '-') {
        if (w[i] == "--") {
            ++i;
            break;
        }
        for (size_t k = 1; k < w[i].size(); ++k) {
            char c = w[i][k];
            const char *with_arg = "dioestu";
            if (c == 'a') {
                o.alias = true;
                continue;
            }
            if (c == 'l') {
                o.local = true;
                o.nonalias = true;
                continue;
            }
            if (!std::strchr(with_arg, c))
                return false;
            std::string arg;
            if (k + 1 < w[i].size()) {
                arg = w[i].substr(k + 1);
            } else if (i + 1 < w.size()) {
                arg = w[++i];
            } else {
                return false;
            }
            switch (c) {
            case 'd': o.mwhere = arg; break;
            case 'i': o.checkin_prog = arg; break;
            case 'o': o.checkout_prog = arg; break;
            case 'e': o.export_prog = arg; break;
            case 't': o.tag_prog = arg; break;
            case 'u': o.update_prog = arg; break;
            case 's': break;
            }
            if (c != 's')
                o.nonalias = true;
            break;
        }
        ++i;
    }
    o.words.assign(w.begin() + static_cast<long>(i), w.end());
    return true;
}

// Format: doc/formats.md#module-programs
void write_prog_file(const char *file, const std::string &prog) {
    FILE *fp = std::fopen(file, "w+");
    if (!fp) {
        error(0, errno, "cannot open %s", file);
        return;
    }
    std::fprintf(fp, "%s\n", prog.c_str());
    if (std::fclose(fp) == EOF)
        error(1, errno, "cannot close %s", file);
}

}  // namespace

// Format: doc/formats.md#repository-layout
std::string emptydir_name() {
    std::string d = JOLroot_directory + "/JOLROOT/Emptydir";
    if (!isdir(d.c_str())) {
        mode_t old = umask(jolumask);
        if (mkdir(d.c_str(), 0777) != 0 && errno != EEXIST)
            error(1, errno, "cannot create %s", d);
        umask(old);
    }
    return d;
}

namespace {

int ignored_module(const char *mname) {
    error(0, 0, "cannot find module `%s' - ignored", mname);
    return 1;
}

// What stays the same through the expansion of one name, its aliases and
// references included.
struct Expansion {
    DBM *db;
    mtype m_type;
    const char *msg;
    const CALLBACKPROC &callback_proc;
    int run_module_prog;
    const char *extra_arg;
    // Names being expanded right now: a repeat is a loop through aliases
    // or references, however long.
    std::set<std::string> expanding;
};

// The definition a name is expanded by.
struct Definition {
    std::string value;   // without its comment
    std::string mwhere;  // the module it belongs to
    std::string mfile;   // for "module/path": the path inside the module
};

int expand_name(Expansion &x, const char *mname_in, const char *where, int shorten,
                int local_specified);

void trace_expansion(const Expansion &x, const char *mname, const char *where) {
    if (!trace)
        return;
    std::string line = std::string("-> do_module (") + mname + ", " + x.msg + ", " +
                       (where ? where : "") + ", " + (x.extra_arg ? x.extra_arg : "") + ")";
    // A module name from a client may hold a newline; it stays one line.
    std::replace(line.begin(), line.end(), '\n', '?');
    jol_outerr(std::string(server_active ? "S" : " ") + line + "\n");
}

int call_back(const Expansion &x, std::vector<std::string> &words, const char *where,
              const char *mwhere, const char *mfile, int shorten, int local_specified,
              const std::string &mname) {
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    return x.callback_proc(static_cast<int>(words.size()), argv.data(), where, mwhere, mfile,
                           shorten, local_specified, mname.c_str(), x.msg);
}

// A name that is not a module stays inside the repository; a single
// leading slash names a file at the top.
bool name_stays_inside(const std::string &mname) {
    bool leading_slash_file =
        mname.size() > 1 && mname[0] == '/' && mname.find('/', 1) == std::string::npos;
    return contained_path(leading_slash_file ? mname.substr(1) : mname);
}

// What a name that is not a module stands for below the root: a directory
// (one word) or an archive (its directory and its file); nothing else.
std::vector<std::string> repository_words(const std::string &mname) {
    std::string path = JOLroot_directory + "/" + mname;
    std::vector<std::string> words;
    if (isdir(path.c_str())) {
        words.push_back(mname);
        return words;
    }
    size_t slash = mname.rfind('/');
    std::string dir = slash == std::string::npos || slash == 0 ? "." : mname.substr(0, slash);
    std::string file = slash == std::string::npos ? mname : mname.substr(slash + 1);
    std::string attic = slash == std::string::npos || slash == 0
                            ? JOLroot_directory + "/Attic/" + file + ",v"
                            : JOLroot_directory + "/" + dir + "/Attic/" + file + ",v";
    if (isfile((path + ",v").c_str()) || isfile(attic.c_str())) {
        words.push_back(dir);
        words.push_back(file);
    }
    return words;
}

// "module/path": the module's definition and the path inside it; false
// when there is no such module or the path leaves it.
bool path_in_module(DBM *db, const std::string &mname, Definition &def) {
    if (mname[0] == '/' || mname.find('/') == std::string::npos)
        return false;
    size_t slash = mname.find('/');
    std::string head = mname.substr(0, slash);
    bool found;
    def.value = definition_of(db, head, found);
    if (!found)
        return false;
    def.mwhere = head;
    def.mfile = mname.substr(slash + 1);
    return contained_path(def.mfile);
}

// Cuts the "&module" references off the definition; a path inside a module
// takes none of them.
std::string split_references(Definition &def) {
    std::string refs;
    size_t amp = def.value.find('&');
    if (amp != std::string::npos) {
        refs = def.value.substr(amp + 1);
        def.value.resize(amp);
        while (!def.value.empty() && std::isspace(static_cast<unsigned char>(def.value.back())))
            def.value.pop_back();
    }
    if (!def.mfile.empty())
        refs.clear();
    return refs;
}

// Reads the options and words of a definition; the status to return when
// the definition cannot be used.
int read_definition(const std::string &mname, const std::string &value, bool has_references,
                    ModuleOptions &o) {
    std::vector<std::string> w = split_words(value);
    if (!parse_module_options(w, o)) {
        error(0, 0, "modules file has invalid option for key %s value %s", mname, value);
        return 1;
    }
    if (o.words.empty() && !has_references) {
        error(0, 0, "modules file missing directory for module %s", mname);
        return 1;
    }
    if (o.alias && o.nonalias) {
        error(0, 0, "-a cannot be specified in the modules file along with other options");
        return 1;
    }
    return 0;
}

int expand_alias(Expansion &x, const std::string &mname, const std::vector<std::string> &words,
                 const char *where, int shorten, int local_specified) {
    int err = 0;
    for (const std::string &word : words) {
        if (word == mname) {
            error(0, 0, "module `%s' in modules file contains infinite loop", mname);
            ++err;
            continue;
        }
        err += expand_name(x, word.c_str(), where, shorten, local_specified);
    }
    return err;
}

// Directories and the -d target of a definition stay inside the
// repository and the working area, and a path inside a module needs a
// module of one directory.
int check_targets(const std::string &mname, const Definition &def, const ModuleOptions &o) {
    bool unsafe = !contained_path(o.mwhere);
    for (const std::string &word : o.words)
        unsafe = unsafe || !contained_path(word);
    if (unsafe)
        return ignored_module(mname.c_str());
    if (!def.mfile.empty() && o.words.size() > 1) {
        error(0, 0, "module `%s' is a request for a file in a module which is not a directory",
              mname);
        return 1;
    }
    return 0;
}

// A module of no directories, whose program does the work: its directory
// is made, entered and given administrative files of its own.
int enter_program_dir(const std::string &dir) {
    size_t i = 0;
    while (i <= dir.size()) {
        size_t slash = dir.find('/', i);
        if (slash == std::string::npos)
            slash = dir.size();
        std::string cur = dir.substr(0, slash);
        if (!cur.empty() && !noexec)
            mkdir(cur.c_str(), 0777);
        i = slash + 1;
    }
    if (chdir(dir.c_str()) != 0) {
        error(0, errno, "cannot chdir to %s", dir);
        return 1;
    }
    if (!isdir("JOL")) {
        std::string empty = emptydir_name();
        Create_Admin(".", dir.c_str(), empty.c_str(), std::nullopt, std::nullopt, 0, 0, 1);
        if (!noexec) {
            FILE *fp = std::fopen("JOL/Entries.Static", "w+");
            if (!fp || std::fclose(fp) == EOF)
                error(1, errno, "cannot close %s", "JOL/Entries.Static");
            if (server_active)
                server_set_entstat(dir.c_str(), empty.c_str());
        }
    }
    return 0;
}

// Expands the "&module" references one by one until one fails.
int expand_references(Expansion &x, const std::string &mname, const std::string &refs, int err,
                      int local_specified) {
    size_t start = 0;
    while (err == 0 && !refs.empty() && start <= refs.size()) {
        size_t next = refs.find('&', start);
        std::string ref =
            trim(refs.substr(start, next == std::string::npos ? std::string::npos : next - start));
        if (ref.empty())
            error(0, 0, "Mal-formed %c option for module %s - ignored", '&', mname);
        else
            err += expand_name(x, ref.c_str(), nullptr, 0, local_specified);
        if (next == std::string::npos)
            break;
        start = next + 1;
    }
    return err;
}

// The module program of this kind of command.
std::string program_for(mtype m_type, const ModuleOptions &o) {
    return m_type == CHECKOUT ? o.checkout_prog
           : m_type == TAG    ? o.tag_prog
           : m_type == EXPORT ? o.export_prog
                              : std::string();
}

// Expands a module's definition; the current directory may be left
// anywhere (the caller returns to it). Sets `prog` to the module program
// to run afterwards, and the definition's mwhere to where it puts the
// module.
int expand_definition(Expansion &x, const std::string &mname, Definition &def, const char *where,
                      int shorten, int local_specified, std::string &prog) {
    std::string refs = split_references(def);
    ModuleOptions o;
    o.mwhere = def.mwhere;
    o.local = local_specified;
    if (int bad = read_definition(mname, def.value, !refs.empty(), o))
        return bad;
    local_specified = o.local;
    if (o.alias)
        return expand_alias(x, mname, o.words, where, shorten, local_specified);
    if (int bad = check_targets(mname, def, o))
        return bad;

    int err = 0;
    if (!o.words.empty()) {
        err += call_back(x, o.words, where, o.mwhere.c_str(),
                         def.mfile.empty() ? nullptr : def.mfile.c_str(), shorten, local_specified,
                         mname);
    } else if (x.run_module_prog) {
        err = enter_program_dir(where ? where : (!o.mwhere.empty() ? o.mwhere : mname));
    }
    if (!local_specified && !refs.empty()) {
        // The client places what the references bring below the module's
        // own directory.
        const opt_str outer_dir = server_dir;
        if (server_active) {
            std::string dir = where ? where : (!o.mwhere.empty() ? o.mwhere : mname);
            server_dir = outer_dir ? *outer_dir + "/" + dir : dir;
        }
        err = expand_references(x, mname, refs, err, local_specified);
        server_dir = outer_dir;
    }

    if (err == 0 && !noexec && x.m_type == CHECKOUT) {
        const char *dir = where ? where : mname.c_str();
        if (server_expanding) {
            if (!o.checkin_prog.empty())
                server_prog(dir, o.checkin_prog.c_str(), PROG_CHECKIN);
            if (!o.update_prog.empty())
                server_prog(dir, o.update_prog.c_str(), PROG_UPDATE);
        } else if (x.run_module_prog) {
            if (!o.checkin_prog.empty())
                write_prog_file("JOL/Checkin.prog", o.checkin_prog);
            if (!o.update_prog.empty())
                write_prog_file("JOL/Update.prog", o.update_prog);
        }
    }
    def.mwhere = o.mwhere;
    prog = program_for(x.m_type, o);
    return err;
}

// Runs the module program on the module's directory `dir`, from the start
// directory; a relative program name found inside `dir` is taken from there.
int run_module_program(const Expansion &x, std::string prog, const std::string &dir) {
    if (prog[0] != '.' && prog[0] != '/') {
        std::string inside = dir + "/" + prog;
        if (isfile(inside.c_str()))
            prog = inside;
    }
    auto expanded = expand_path(prog.c_str(), "modules", 0);
    if (!expanded)
        return 0;
    std::vector<std::string> cmd = split_words(*expanded);
    cmd.push_back(dir);
    if (x.extra_arg)
        cmd.push_back(x.extra_arg);
    if (!quiet) {
        jol_output(program_name + " " + command_name + ": Executing '" + print_vector(cmd) + "'\n");
        jol_flushout();
    }
    int r = run_vector(cmd);
    return r < 0 ? 1 : r;
}

int expand_name(Expansion &x, const char *mname_in, const char *where, int shorten,
                int local_specified) {
    trace_expansion(x, mname_in, where);
    std::string mname = mname_in;
    if (mname.size() > 1 && mname[0] == '!') {
        ign_dir_add(mname.c_str() + 1);
        return 0;
    }
    while (mname.size() > 1 && mname.back() == '/')
        mname.pop_back();

    Definition def;
    bool found;
    def.value = definition_of(x.db, mname, found);
    if (found) {
        def.mwhere = mname;
    } else {
        if (!name_stays_inside(mname))
            return ignored_module(mname.c_str());
        std::vector<std::string> words = repository_words(mname);
        if (!words.empty()) {
            SavedDir saved;
            return call_back(x, words, where, nullptr, nullptr, shorten, local_specified, mname);
        }
        if (!path_in_module(x.db, mname, def))
            return ignored_module(mname.c_str());
    }

    if (x.expanding.count(mname)) {
        error(0, 0, "module `%s' in modules file contains infinite loop", mname);
        return 1;
    }
    struct Guard {
        std::set<std::string> &names;
        std::string name;
        Guard(std::set<std::string> &s, const std::string &n) : names(s), name(n) {
            names.insert(n);
        }
        ~Guard() { names.erase(name); }
    } guard(x.expanding, mname);

    int err;
    std::string prog;
    {
        SavedDir saved;
        err = expand_definition(x, mname, def, where, shorten, local_specified, prog);
    }
    if (err == 0 && x.run_module_prog && !prog.empty())
        err += run_module_program(x, prog, where ? where : def.mwhere);
    return err;
}

}  // namespace

// Format: doc/formats.md#modules
DBM *open_module() {
    if (JOLroot_original.empty()) {
        error(0, 0, "must set the JOLROOT environment variable");
        error(1, 0, "or specify the '-d' global option");
    }
    std::string path = JOLroot_directory + "/JOLROOT/modules";
    return mydbm_open(path.c_str(), O_RDONLY, 0666);
}

void close_module(DBM *db) {
    if (db)
        mydbm_close(db);
}

int do_module(DBM *db, const char *mname, mtype m_type, const char *msg,
              const CALLBACKPROC &callback_proc, const char *where, int shorten,
              int local_specified, int run_module_prog, const char *extra_arg) {
    Expansion x{db, m_type, msg, callback_proc, run_module_prog, extra_arg, {}};
    return expand_name(x, mname, where, shorten, local_specified);
}

bool module_program_listed(DBM *db, char option, const std::string &prog) {
    if (!db || prog.empty())
        return false;
    for (auto key = mydbm_firstkey(db); key; key = mydbm_nextkey(db)) {
        bool found;
        ModuleOptions o;
        if (!parse_module_options(split_words(definition_of(db, *key, found)), o))
            continue;
        if ((option == 'i' && o.checkin_prog == prog) || (option == 'u' && o.update_prog == prog))
            return true;
    }
    return false;
}

// Format: doc/formats.md#modules
void cat_module(int status) {
    DBM *db = open_module();
    if (!db)
        error(1, 0, "failed to open the modules file");
    struct sortrec {
        std::string modname, status, rest, comment;
    };
    std::vector<sortrec> rows;
    for (auto key = mydbm_firstkey(db); key; key = mydbm_nextkey(db)) {
        std::string value = *mydbm_fetch(db, *key);
        if (status && value.compare(0, 2, "-a") == 0)
            continue;
        sortrec r;
        r.modname = *key;
        size_t s = value.find("-s ");
        if (s != std::string::npos) {
            size_t b = s + 3;
            size_t e = value.find_first_of(" \t", b);
            r.status = value.substr(b, e == std::string::npos ? std::string::npos : e - b);
        } else {
            r.status = "NONE";
        }
        size_t hash = value.find('#');
        std::string def = hash == std::string::npos ? value : value.substr(0, hash);
        if (hash != std::string::npos) {
            r.comment = value.substr(hash + 1);
            if (!r.comment.empty() && r.comment[0] == ' ')
                r.comment.erase(0, 1);
        }
        std::string collapsed;
        for (char c : def) {
            if ((c == ' ' || c == '\t') && !collapsed.empty() && collapsed.back() == ' ')
                continue;
            collapsed += (c == '\t') ? ' ' : c;
        }
        r.rest = collapsed;
        rows.push_back(r);
    }
    mydbm_close(db);
    std::sort(rows.begin(), rows.end(), [status](const sortrec &a, const sortrec &b) {
        if (status && a.status != b.status)
            return a.status < b.status;
        return a.modname < b.modname;
    });

    const size_t indent = status ? 24 : 12;
    const size_t width = 78 - indent;
    for (const sortrec &r : rows) {
        char buf[128];
        std::string line;
        std::snprintf(buf, sizeof buf, "%-12s", r.modname.c_str());
        line = buf;
        if (status) {
            std::snprintf(buf, sizeof buf, " %-11s", r.status.c_str());
            line += buf;
        }
        size_t col = 0;
        const std::string pad(indent, ' ');
        auto emit_word = [&](const std::string &piece) {
            if (col + piece.size() > width && col > 0) {
                line += "\n" + pad;
                col = 0;
            }
            line += piece;
            col += piece.size();
        };
        std::vector<std::string> w = split_words(r.rest);
        size_t i = 0;
        while (i < w.size() && w[i].size() > 1 && w[i][0] == '-') {
            char c = w[i][1];
            bool takes = std::strchr("dioestu", c) != nullptr;
            std::string arg;
            if (takes) {
                if (w[i].size() > 2)
                    arg = w[i].substr(2);
                else if (i + 1 < w.size())
                    arg = w[++i];
            }
            if (!status)
                emit_word(takes ? std::string(" -") + c + " " + arg : std::string(" -") + c);
            ++i;
        }
        for (; i < w.size(); ++i)
            emit_word(" " + w[i]);
        line += "\n";
        std::string comment = r.comment;
        while (!comment.empty()) {
            size_t room = width - 2;
            std::string piece = comment;
            if (piece.size() > room) {
                size_t cut = piece.rfind(' ', room);
                if (cut == std::string::npos || cut == 0)
                    cut = piece.find(' ', room);
                if (cut == std::string::npos)
                    cut = piece.size();
                piece = comment.substr(0, cut);
                comment = cut < comment.size() ? comment.substr(cut + 1) : std::string();
            } else {
                comment.clear();
            }
            line += pad + " # " + piece + "\n";
        }
        jol_output(line);
    }
}
