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

// Names being expanded right now: a repeat is a loop through aliases or
// references, however long.
std::set<std::string> expanding;

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

std::string emptydir_path() {
    std::string d = JOLroot_directory + "/JOLROOT/Emptydir";
    if (!isdir(d.c_str())) {
        mode_t old = umask(jolumask);
        if (mkdir(d.c_str(), 0777) != 0 && errno != EEXIST)
            error(1, errno, "cannot create %s", d);
        umask(old);
    }
    return d;
}

int ignored_module(const char *mname) {
    error(0, 0, "cannot find module `%s' - ignored", mname);
    return 1;
}

}  // namespace

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

int do_module(DBM *db, const char *mname_in, mtype m_type, const char *msg,
              CALLBACKPROC callback_proc, const char *where, int shorten, int local_specified,
              int run_module_prog, const char *extra_arg) {
    if (trace)
        jol_outerr(std::string(server_active ? "S" : " ") + "-> do_module (" + mname_in + ", " +
                   msg + ", " + (where ? where : "") + ", " + (extra_arg ? extra_arg : "") +
                   ")\n");
    std::string mname = mname_in;
    if (mname.size() > 1 && mname[0] == '!') {
        ign_dir_add(mname.c_str() + 1);
        return 0;
    }
    while (mname.size() > 1 && mname.back() == '/')
        mname.pop_back();

    bool found;
    std::string value = definition_of(db, mname, found);
    std::string mwhere, mfile;
    if (found) {
        mwhere = mname;
    } else {
        // Not a module: a directory or an archive below the root. Such a
        // name must stay inside the repository.
        std::string trial = mname;
        bool leading_slash_file = trial.size() > 1 && trial[0] == '/' &&
                                  trial.find('/', 1) == std::string::npos;
        if (!contained_path(leading_slash_file ? trial.substr(1) : trial))
            return ignored_module(mname.c_str());
        std::string path = JOLroot_directory + "/" + mname;
        std::vector<std::string> words;
        if (isdir(path.c_str())) {
            words.push_back(mname);
        } else {
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
        }
        if (!words.empty()) {
            std::vector<char *> argv;
            for (auto &w : words)
                argv.push_back(w.data());
            argv.push_back(nullptr);
            SavedDir saved;
            return callback_proc(static_cast<int>(words.size()), argv.data(), where, nullptr,
                                 nullptr, shorten, local_specified, mname.c_str(), msg);
        }
        if (mname[0] == '/' || mname.find('/') == std::string::npos)
            return ignored_module(mname.c_str());
        size_t slash = mname.find('/');
        std::string head = mname.substr(0, slash);
        value = definition_of(db, head, found);
        if (!found)
            return ignored_module(mname.c_str());
        mwhere = head;
        mfile = mname.substr(slash + 1);
        if (!contained_path(mfile))
            return ignored_module(mname.c_str());
    }

    if (expanding.count(mname)) {
        error(0, 0, "module `%s' in modules file contains infinite loop", mname);
        return 1;
    }
    struct Guard {
        std::string name;
        explicit Guard(const std::string &n) : name(n) { expanding.insert(n); }
        ~Guard() { expanding.erase(name); }
    } guard(mname);

    int err = 0;
    std::string prog;
    {
        SavedDir saved;
        std::string spec_opt;
        size_t amp = value.find('&');
        if (amp != std::string::npos) {
            spec_opt = value.substr(amp + 1);
            value.resize(amp);
            while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
                value.pop_back();
        }
        if (!mfile.empty())
            spec_opt.clear();

        ModuleOptions o;
        o.mwhere = mwhere;
        o.local = local_specified;
        std::vector<std::string> w = split_words(value);
        if (!parse_module_options(w, o)) {
            error(0, 0, "modules file has invalid option for key %s value %s", mname, value);
            return 1;
        }
        local_specified = o.local;
        if (o.words.empty() && spec_opt.empty()) {
            error(0, 0, "modules file missing directory for module %s", mname);
            return 1;
        }
        if (o.alias && o.nonalias) {
            error(0, 0, "-a cannot be specified in the modules file along with other options");
            return 1;
        }
        if (o.alias) {
            for (const std::string &word : o.words) {
                if (word == mname) {
                    error(0, 0, "module `%s' in modules file contains infinite loop", mname);
                    ++err;
                    continue;
                }
                err += do_module(db, word.c_str(), m_type, msg, callback_proc, where, shorten,
                                 local_specified, run_module_prog, extra_arg);
            }
            return err;
        }
        // Directories and the -d target of a definition stay inside the
        // repository and the working area.
        bool unsafe = !contained_path(o.mwhere);
        for (const std::string &word : o.words)
            unsafe = unsafe || !contained_path(word);
        if (unsafe)
            return ignored_module(mname.c_str());
        if (!mfile.empty() && o.words.size() > 1) {
            error(0, 0, "module `%s' is a request for a file in a module which is not a directory",
                  mname);
            return 1;
        }

        std::string target = where ? where : (!o.mwhere.empty() ? o.mwhere : mname);
        if (!o.words.empty()) {
            std::vector<char *> argv;
            for (auto &word : o.words)
                argv.push_back(word.data());
            argv.push_back(nullptr);
            err += callback_proc(static_cast<int>(o.words.size()), argv.data(), where,
                                 o.mwhere.c_str(), mfile.empty() ? nullptr : mfile.c_str(),
                                 shorten, local_specified, mname.c_str(), msg);
        } else if (run_module_prog) {
            std::string dir = target;
            std::string cur;
            size_t i = 0;
            while (i <= dir.size()) {
                size_t slash = dir.find('/', i);
                if (slash == std::string::npos)
                    slash = dir.size();
                cur = dir.substr(0, slash);
                if (!cur.empty() && !noexec)
                    mkdir(cur.c_str(), 0777);
                i = slash + 1;
            }
            if (chdir(dir.c_str()) != 0) {
                error(0, errno, "cannot chdir to %s", dir);
                err = 1;
            } else if (!isdir("JOL")) {
                std::string empty = emptydir_path();
                Create_Admin(".", dir.c_str(), empty.c_str(), std::nullopt, std::nullopt, 0, 0, 1);
                if (!noexec) {
                    FILE *fp = std::fopen("JOL/Entries.Static", "w+");
                    if (!fp || std::fclose(fp) == EOF)
                        error(1, errno, "cannot close %s", "JOL/Entries.Static");
                }
            }
        }

        if (local_specified)
            spec_opt.clear();
        size_t start = 0;
        while (err == 0 && !spec_opt.empty() && start <= spec_opt.size()) {
            size_t next = spec_opt.find('&', start);
            std::string ref = trim(spec_opt.substr(start, next == std::string::npos ? std::string::npos : next - start));
            if (ref.empty())
                error(0, 0, "Mal-formed %c option for module %s - ignored", '&', mname);
            else
                err += do_module(db, ref.c_str(), m_type, msg, callback_proc, nullptr, 0,
                                 local_specified, run_module_prog, extra_arg);
            if (next == std::string::npos)
                break;
            start = next + 1;
        }

        if (err == 0 && !noexec && m_type == CHECKOUT && run_module_prog) {
            if (!o.checkin_prog.empty())
                write_prog_file("JOL/Checkin.prog", o.checkin_prog);
            if (!o.update_prog.empty())
                write_prog_file("JOL/Update.prog", o.update_prog);
        }
        mwhere = o.mwhere;

        // The module program of this kind of command, run from the start.
        prog = m_type == CHECKOUT ? o.checkout_prog
               : m_type == TAG   ? o.tag_prog
               : m_type == EXPORT ? o.export_prog
                                  : std::string();
    }
    if (err == 0 && run_module_prog && !prog.empty()) {
        std::string dir = where ? where : mwhere;
        if (prog[0] != '.' && prog[0] != '/') {
            std::string inside = dir + "/" + prog;
            if (isfile(inside.c_str()))
                prog = inside;
        }
        if (auto expanded = expand_path(prog.c_str(), "modules", 0)) {
            std::vector<std::string> cmd = split_words(*expanded);
            cmd.push_back(dir);
            if (extra_arg)
                cmd.push_back(extra_arg);
            if (!quiet) {
                jol_output(program_name + " " + command_name + ": Executing '" +
                           print_vector(cmd) + "'\n");
                jol_flushout();
            }
            int r = run_vector(cmd);
            err += r < 0 ? 1 : r;
        }
    }
    return err;
}

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
