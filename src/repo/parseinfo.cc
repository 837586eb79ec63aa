// JOLROOT/config, the info files and variable expansion.
#include "src/repo/parseinfo.h"

#include "src/base/identity.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <regex.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/rcs/rcs.h"
#include "src/repo/variables.h"
#include "src/wc/lock.h"

int system_auth = 1;
int top_level_admin = 0;
std::string logHistory = "TOEFWUCGMAR";

std::string shell_word(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += "'";
    return out;
}

// Format: doc/formats.md#config
int parse_config(const char *root) {
    static bool parsed = false;
    if (parsed)
        return 0;
    parsed = true;
    std::string path = std::string(root) + "/JOLROOT/config";
    FILE *fp = std::fopen(path.c_str(), "r");
    if (!fp) {
        if (errno != ENOENT)
            error(0, errno, "cannot open %s", path);
        return 0;
    }
    int result = 0;
    LineReader lines(fp);
    while (auto next = lines.next()) {
        std::string line(*next);
        if (line.empty() || line[0] == '#')
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error(0, 0, "syntax error in %s: line '%s' is missing '='", path, line);
            result = -1;
            break;
        }
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        auto yes_no = [&](int &var, const char *what) {
            if (value == "yes")
                var = 1;
            else if (value == "no")
                var = 0;
            else {
                std::string m = std::string("unrecognized value '%s' for ") + what;
                error(0, 0, m.c_str(), value);
                return false;
            }
            return true;
        };
        if (key == "RCSBIN") {
        } else if (key == "SystemAuth") {
            if (!yes_no(system_auth, "SystemAuth")) {
                result = -1;
                break;
            }
        } else if (key == "PreservePermissions") {
            if (value == "yes") {
                error(0, 0, "warning: this JOL does not support PreservePermissions");
            } else if (value != "no") {
                error(0, 0, "unrecognized value '%s' for PreservePermissions", value);
                result = -1;
                break;
            }
        } else if (key == "TopLevelAdmin") {
            if (!yes_no(top_level_admin, "TopLevelAdmin")) {
                result = -1;
                break;
            }
        } else if (key == "LockDir") {
            lock_dir = value;
        } else if (key == "LogHistory") {
            if (value != "all")
                logHistory = value;
        } else {
            error(0, 0, "%s: unrecognized keyword '%s'", path, key);
            result = -1;
            break;
        }
    }
    if (std::ferror(fp))
        error(0, errno, "cannot read %s", path);
    std::fclose(fp);
    return result;
}

// Format: doc/formats.md#info-files
std::optional<std::string> expand_path(const char *name, const char *file, int line,
                                       bool quote_values) {
    auto where = [&](const std::string &fmt_line, const std::string &fmt_noline,
                     const std::string &arg) {
        if (line)
            error(0, 0, fmt_line.c_str(), file, line, arg);
        else
            error(0, 0, fmt_noline.c_str(), file, arg);
    };
    std::string out;
    const char *p = name;
    while (*p) {
        if (*p != '$') {
            out += *p++;
            continue;
        }
        ++p;
        std::string var;
        if (*p == '{') {
            const char *close = std::strchr(p + 1, '}');
            if (!close) {
                where("%s:%d: unrecognized variable syntax %s", "%s: unrecognized variable syntax %s",
                      std::string("$") + p);
                return std::nullopt;
            }
            var.assign(p + 1, close);
            p = close + 1;
        } else {
            while (*p && (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_'))
                var += *p++;
        }
        if (var == "JOLROOT") {
            out += JOLroot_original;
        } else if (var == "RCSBIN") {
            error(0, 0, "RCSBIN internal variable is no longer supported");
            return std::nullopt;
        } else if (var == "JOLEDITOR" || var == "VISUAL" || var == "EDITOR") {
            out += Editor;
        } else if (var == "USER") {
            out += getcaller();
        } else if (!var.empty() && var[0] == '=') {
            auto value = variable_get(var.substr(1));
            if (!value) {
                where("%s:%d: no such user variable ${%s}", "%s: no such user variable ${%s}",
                      var.substr(1));
                return std::nullopt;
            }
            out += quote_values ? shell_word(*value) : *value;
        } else if (!var.empty() && std::isalpha(static_cast<unsigned char>(var[0]))) {
            where("%s:%d: no such internal variable $%s", "%s: no such internal variable $%s",
                  var);
            return std::nullopt;
        } else {
            where("%s:%d: unrecognized variable syntax %s", "%s: unrecognized variable syntax %s",
                  "$" + var);
            return std::nullopt;
        }
    }
    if (!out.empty() && out[0] == '~') {
        size_t end = out.find('/');
        std::string user = out.substr(1, end == std::string::npos ? std::string::npos : end - 1);
        std::string rest = end == std::string::npos ? std::string() : out.substr(end);
        std::string home;
        if (user.empty()) {
            auto h = get_homedir();
            if (!h)
                error(1, 0, "cannot find home directory");
            home = *h;
        } else {
            struct passwd *pw = getpwnam(user.c_str());
            if (!pw) {
                where("%s:%d: no such user %s", "%s: no such user %s", user);
                return std::nullopt;
            }
            home = pw->pw_dir;
        }
        out = home + rest;
    }
    return out;
}

// Format: doc/formats.md#info-files
int Parse_Info(const char *infofile, const char *repository, CALLPROC callproc, int all,
               void *closure) {
    if (JOLroot_original.empty()) {
        error(0, 0, "JOLROOT variable not set");
        return 1;
    }
    std::string path = JOLroot_directory + "/JOLROOT/" + infofile;
    FILE *fp = std::fopen(path.c_str(), "r");
    if (!fp) {
        if (errno == ENOENT)
            return 0;
        // A hook file that exists but cannot be read must not let the
        // operation through unchecked.
        error(0, errno, "cannot open %s", path);
        return 1;
    }
    std::string srepos = Short_Repository(repository);
    if (trace)
        jol_outerr(std::string(" -> ParseInfo(") + path + ", " + srepos + ", " +
                   (all ? "ALL" : "not ALL") + ")\n");
    const bool quote = std::strcmp(infofile, "loginfo") == 0;
    std::optional<std::optional<std::string>> deflt;
    bool matched = false;
    int err = 0;
    int lineno = 0;
    LineReader lines(fp);
    while (auto next = lines.next()) {
        std::string_view line = *next;
        ++lineno;
        if (!line.empty() && line[0] == '#')
            continue;
        size_t i = 0;
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i == line.size())
            continue;
        size_t e = i;
        while (e < line.size() && !std::isspace(static_cast<unsigned char>(line[e])))
            ++e;
        std::string exp(line.substr(i, e - i));
        while (e < line.size() && std::isspace(static_cast<unsigned char>(line[e])))
            ++e;
        if (e == line.size()) {
            error(0, 0, "syntax error at line %d file %s; ignored", lineno, path);
            continue;
        }
        std::string value(line.substr(e));
        if (exp == "DEFAULT") {
            deflt = expand_path(value.c_str(), infofile, lineno, quote);
            continue;
        }
        if (exp == "ALL") {
            if (all) {
                auto v = expand_path(value.c_str(), infofile, lineno, quote);
                err += v ? callproc(repository, v->c_str(), closure) : 1;
            } else {
                error(0, 0, "Keyword `ALL' is ignored at line %d in %s file", lineno, infofile);
            }
            continue;
        }
        if (matched)
            continue;
        regex_t re;
        int rc = regcomp(&re, exp.c_str(), REG_NOSUB);
        if (rc != 0) {
            char msg[256];
            regerror(rc, &re, msg, sizeof msg);
            error(0, 0, "bad regular expression at line %d file %s: %s", lineno, path, msg);
            continue;
        }
        bool hit = regexec(&re, srepos.c_str(), 0, nullptr, 0) == 0;
        regfree(&re);
        if (!hit)
            continue;
        auto v = expand_path(value.c_str(), infofile, lineno, quote);
        err += v ? callproc(repository, v->c_str(), closure) : 1;
        matched = true;
    }
    if (std::ferror(fp))
        error(0, errno, "cannot read %s", path);
    std::fclose(fp);
    if (!matched && deflt)
        err += *deflt ? callproc(repository, (*deflt)->c_str(), closure) : 1;
    return err;
}
