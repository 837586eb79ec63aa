// The ignore list, built from built-in defaults, JOLROOT/jolignore,
// ~/.jolignore, JOLIGNORE and each directory's .jolignore.
#include "src/wc/ignore.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <vector>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/base/root.h"
#include "src/wc/entries.h"
#include "src/wc/wrapper.h"

int ign_inhibit_server = 0;
int ign_case = 0;

namespace {

const char ign_default[] =
    ". .. core RCSLOG tags TAGS RCS SCCS .make.state .nse_depinfo #* .#* jollog.* ,* JOL "
    "JOL.adm .del-* *.a *.olb *.o *.obj *.so *.Z *~ *.old *.elc *.ln *.bak *.BAK *.orig *.rej "
    "*.exe .DS_Store _$* *$";

std::vector<std::string> ign_list;
long ign_hold = -1;
std::vector<std::string> s_ign_list;
bool suspended = false;
std::vector<std::string> dir_ign_list;

std::string lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

void ign_add(const char *text, int hold) {
    if (!text)
        return;
    const char *p = text;
    while (*p) {
        while (*p && std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        const char *q = p;
        while (*q && !std::isspace(static_cast<unsigned char>(*q)))
            ++q;
        if (q == p)
            break;
        std::string pat(p, q);
        p = q;
        if (pat == "!" || pat == "*") {
            if (!hold) {
                ign_list.clear();
                if (pat == "!") {
                    ign_inhibit_server = 1;
                    continue;
                }
            } else if (pat == "!") {
                // Drop what this directory's file added, suspend the rest.
                if (ign_hold >= 0 && static_cast<size_t>(ign_hold) <= ign_list.size())
                    ign_list.resize(static_cast<size_t>(ign_hold));
                if (!suspended) {
                    s_ign_list = ign_list;
                    suspended = true;
                }
                ign_list.clear();
                ign_hold = 0;
                continue;
            }
        }
        ign_list.push_back(pat);
    }
}

// Format: doc/formats.md#jolignore
void ign_add_file(const char *file, int hold) {
    if (suspended) {
        ign_list = s_ign_list;
        s_ign_list.clear();
        suspended = false;
        ign_hold = static_cast<long>(ign_list.size());
    }
    if (hold) {
        if (ign_hold >= 0) {
            if (static_cast<size_t>(ign_hold) <= ign_list.size())
                ign_list.resize(static_cast<size_t>(ign_hold));
        } else {
            ign_hold = static_cast<long>(ign_list.size());
        }
    }
    FILE *fp = std::fopen(file, "r");
    if (!fp) {
        if (errno != ENOENT)
            error(0, errno, "cannot open %s", file);
        return;
    }
    LineReader lines(fp);
    while (auto line = lines.next())
        ign_add(std::string(*line).c_str(), hold);
    if (std::ferror(fp))
        error(0, errno, "cannot read %s", file);
    if (std::fclose(fp) == EOF)
        error(0, errno, "cannot close %s", file);
}

// Format: doc/formats.md#jolignore
void ign_setup() {
    ign_inhibit_server = 0;
    ign_list.clear();
    ign_hold = -1;
    ign_add(ign_default, 0);
    if (!client_active && !JOLroot_directory.empty()) {
        std::string f = JOLroot_directory + "/JOLROOT/jolignore";
        ign_add_file(f.c_str(), 0);
    }
    if (auto home = get_homedir()) {
        std::string f = *home + "/.jolignore";
        ign_add_file(f.c_str(), 0);
    }
    if (auto env = jolguiglue_getenv("JOLIGNORE"))
        ign_add(env->c_str(), 0);
}

int ign_name(const char *name) {
    if (ign_list.empty())
        return 0;
    if (ign_case) {
        std::string n = lower(name);
        for (const std::string &p : ign_list)
            if (fnmatch(lower(p).c_str(), n.c_str(), 0) == 0)
                return 1;
        return 0;
    }
    for (const std::string &p : ign_list)
        if (fnmatch(p.c_str(), name, 0) == 0)
            return 1;
    return 0;
}

void ign_dir_add(const char *dir) { dir_ign_list.emplace_back(dir); }

int ignore_directory(const char *dir) {
    // An excluded "mod/sub" covers "mod/sub" and what lies below it, not
    // "mod/subway".
    std::string_view d = dir;
    for (auto it = dir_ign_list.rbegin(); it != dir_ign_list.rend(); ++it) {
        const std::string &x = *it;
        if (d.compare(0, x.size(), x) == 0 && (d.size() == x.size() || d[x.size()] == '/'))
            return 1;
    }
    return 0;
}

void ignore_files(List *ilist, List *entries, const char *update_dir, Ignore_proc proc) {
    stickydirtag *sdt = entries_sticky(entries);
    bool subdirs = entries && (!sdt || sdt->subdirs);
    DIR *d = opendir(".");
    if (!d) {
        error(0, errno, "cannot open current directory");
        return;
    }
    ign_add_file(".jolignore", 1);
    wrap_add_file(".jolwrappers", 1);
    const char *dirname = std::strcmp(update_dir, ".") == 0 ? "" : update_dir;
    errno = 0;
    while (struct dirent *de = readdir(d)) {
        const char *name = de->d_name;
        if (!std::strcmp(name, ".") || !std::strcmp(name, ".."))
            continue;
        // The administrative directory is never reported, whatever the
        // patterns say.
        if (!std::strcmp(name, "JOL"))
            continue;
        if (ilist && findnode_fn(ilist, name))
            continue;
        std::string adm = std::string(name) + "/JOL";
        if (subdirs && entries) {
            if (Node *n = findnode_fn(entries, name)) {
                const Entnode *e = static_cast<const Entnode *>(n->data);
                if (e->type == ENT_SUBDIR && isdir(adm.c_str()))
                    continue;
            }
        }
        if (ign_name(name))
            continue;
        unsigned char type = de->d_type;
        if (type == DT_UNKNOWN) {
            struct stat sb;
            if (lstat(name, &sb) != 0)
                type = DT_REG;
            else if (S_ISLNK(sb.st_mode))
                type = DT_LNK;
            else if (S_ISDIR(sb.st_mode))
                type = DT_DIR;
            else
                type = DT_REG;
        }
        if (type == DT_LNK)
            continue;
        if (type == DT_DIR && !subdirs && isdir(adm.c_str()))
            continue;
        proc(name, dirname);
        errno = 0;
    }
    if (errno != 0)
        error(0, errno, "error reading current directory");
    closedir(d);
}
