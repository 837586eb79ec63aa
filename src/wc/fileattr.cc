// JOL/fileattr: "F<file>\t<attrs>" lines, one "D\t<attrs>" line of
// defaults, and other lines kept as they are.
#include "src/wc/fileattr.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/hash/hash.h"
#include "src/wc/entries.h"

namespace {

std::string stored_repos;
List *attrlist = nullptr;
std::optional<std::string> defaults;
std::vector<std::string> unrecognized;
bool modified = false;
bool loaded = false;
// The database exists but could not be read in full: what is in memory is
// not the whole of it, so it must never be written back.
bool unreadable = false;

std::string db_path() { return stored_repos + "/JOL/fileattr"; }

// Format: doc/formats.md#fileattr
void fileattr_read() {
    if (loaded || stored_repos.empty())
        return;
    loaded = true;
    attrlist = getlist();
    std::string path = db_path();
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp) {
        if (errno != ENOENT) {
            error(0, errno, "cannot read %s", path);
            unreadable = true;
        }
        return;
    }
    // Closed however the reading ends, a corruption report included (a
    // caller that survives fatal errors must not run out of descriptors).
    std::unique_ptr<FILE, int (*)(FILE *)> closer(fp, std::fclose);
    LineReader lines(fp);
    while (auto next = lines.next()) {
        std::string line(*next);
        if (!line.empty() && line[0] == 'F') {
            size_t tab = line.find('\t');
            if (tab == std::string::npos)
                error(1, 0, "file attribute database corruption: tab missing in %s", path);
            Node *n = getnode();
            n->type = FILEATTR;
            n->key = line.substr(1, tab - 1);
            node_set_string(n, std::string_view(line).substr(tab + 1));
            if (addnode(attrlist, n) != 0)
                freenode(n);
        } else if (!line.empty() && line[0] == 'D') {
            size_t tab = line.find('\t');
            if (tab == std::string::npos)
                error(1, 0, "file attribute database corruption: tab missing in %s", path);
            defaults = line.substr(tab + 1);
        } else {
            unrecognized.push_back(line);
        }
    }
    if (std::ferror(fp)) {
        error(0, errno, "cannot read %s", path);
        unreadable = true;
    }
}

// The value of `name` within an attribute string.
std::optional<std::string> attr_value(const std::string &attrs, const char *name) {
    size_t len = std::strlen(name);
    size_t i = 0;
    while (i <= attrs.size()) {
        size_t end = attrs.find(';', i);
        if (end == std::string::npos)
            end = attrs.size();
        if (end - i >= len && attrs.compare(i, len, name) == 0 &&
            (end - i == len || attrs[i + len] == '='))
            return end - i == len ? std::string() : attrs.substr(i + len + 1, end - i - len - 1);
        i = end + 1;
    }
    return std::nullopt;
}

}  // namespace

void fileattr_startdir(const char *repos) {
    fileattr_free();
    stored_repos = repos;
}

const std::string &fileattr_dir() { return stored_repos; }

void fileattr_free() {
    dellist(&attrlist);
    defaults.reset();
    unrecognized.clear();
    modified = false;
    loaded = false;
    unreadable = false;
    stored_repos.clear();
}

std::optional<std::string> fileattr_getall(const char *file) {
    fileattr_read();
    if (!file)
        return defaults;
    if (Node *n = findnode(attrlist, file))
        return std::string(static_cast<const char *>(n->data));
    return std::nullopt;
}

std::optional<std::string> fileattr_get(const char *file, const char *name) {
    auto all = fileattr_getall(file);
    if (!all)
        return std::nullopt;
    return attr_value(*all, name);
}

std::optional<std::string> fileattr_get0(const char *file, const char *name) {
    return fileattr_get(file, name);
}

void fileattr_setall(const char *file, const char *attrs) {
    fileattr_read();
    if (stored_repos.empty())
        return;
    if (unreadable)
        error(1, 0, "cannot change file attributes: %s could not be read", db_path());
    modified = true;
    if (!file) {
        defaults = attrs ? std::optional<std::string>(attrs) : std::nullopt;
        return;
    }
    Node *n = findnode(attrlist, file);
    if (!attrs || !*attrs) {
        delnode(n);
        return;
    }
    if (n) {
        std::free(n->data);
        node_set_string(n, attrs);
    } else {
        n = getnode();
        n->type = FILEATTR;
        n->key = file;
        node_set_string(n, attrs);
        addnode(attrlist, n);
    }
}

std::optional<std::string> fileattr_modify(const std::optional<std::string> &list,
                                           const std::string &name, const char *value,
                                           char namesep, char entsep) {
    std::vector<std::string> parts;
    bool found = false;
    if (list) {
        size_t i = 0;
        while (i <= list->size()) {
            size_t end = list->find(entsep, i);
            if (end == std::string::npos)
                end = list->size();
            std::string entry = list->substr(i, end - i);
            std::string ename = entry.substr(0, entry.find(namesep));
            if (!entry.empty() && ename == name) {
                found = true;
                if (value)
                    parts.push_back(name + namesep + value);
            } else if (!entry.empty()) {
                parts.push_back(entry);
            }
            i = end + 1;
        }
    }
    if (!found && value)
        parts.push_back(name + namesep + value);
    if (parts.empty())
        return std::nullopt;
    std::string out;
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k)
            out += entsep;
        out += parts[k];
    }
    return out;
}

void fileattr_set(const char *file, const char *name, const char *value) {
    auto all = fileattr_getall(file);
    // An attribute without a value is written as the bare name.
    auto edited = fileattr_modify(all, name, value, '=', ';');
    if (edited && value && !*value) {
        std::string s = *edited, key = std::string(name) + "=";
        size_t at = s.find(key);
        if (at != std::string::npos && (at + key.size() == s.size() || s[at + key.size()] == ';'))
            s.erase(at + key.size() - 1, 1);
        edited = s;
    }
    fileattr_setall(file, edited ? edited->c_str() : nullptr);
}

void fileattr_newfile(const char *file) {
    fileattr_read();
    if (defaults && !defaults->empty())
        fileattr_setall(file, defaults->c_str());
}

// Format: doc/formats.md#fileattr
void fileattr_write() {
    if (noexec || !modified || stored_repos.empty())
        return;
    std::string path = db_path();
    std::string dir = stored_repos + "/JOL";
    if (list_isempty(attrlist) && !defaults && unrecognized.empty()) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "cannot remove %s", path);
        rmdir(dir.c_str());
        modified = false;
        return;
    }
    std::string text;
    if (attrlist)
        JOL_FOR_EACH_NODE(attrlist, p) {
            text += "F" + *p->key + "\t" + static_cast<const char *>(p->data) + "\n";
        }
    if (defaults)
        text += "D\t" + *defaults + "\n";
    for (const std::string &l : unrecognized)
        text += l + "\n";
    mode_t old = umask(jolumask);
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        umask(old);
        error(0, errno, "cannot make directory %s", dir);
        return;
    }
    bool ok = write_file_atomically(path, text);
    umask(old);
    if (!ok)
        error(0, errno, "cannot write %s", path);
    modified = false;
}
