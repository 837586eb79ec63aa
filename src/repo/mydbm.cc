// Reading and writing key/value database files.
#include "src/repo/mydbm.h"

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "src/base/error.h"
#include "src/base/line_reader.h"
#include "src/wc/entries.h"

namespace {

void load(DBM *db, FILE *fp) {
    std::string logical;
    auto finish = [&](std::string &text) {
        if (text.empty() || text[0] == '#')
            return;
        size_t i = 0;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        if (i == text.size())
            return;
        size_t e = i;
        while (e < text.size() && !std::isspace(static_cast<unsigned char>(text[e])))
            ++e;
        std::string key = text.substr(i, e - i);
        while (e < text.size() && std::isspace(static_cast<unsigned char>(text[e])))
            ++e;
        std::string value = text.substr(e);
        if (value.empty()) {
            error(0, 0, "warning: NULL value for key `%s'", key);
            return;
        }
        if (findnode(db->dbm_list, key)) {
            error(0, 0, "duplicate key found for `%s'", key);
            return;
        }
        Node *n = getnode();
        n->type = NDBMNODE;
        n->key = key;
        node_set_string(n, value);
        addnode(db->dbm_list, n);
    };
    LineReader lines(fp);
    while (auto next = lines.next()) {
        std::string_view line = *next;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        // A backslash at the end continues the line on the next one.
        if (line.ends_with('\\')) {
            line.remove_suffix(1);
            logical += line;
            continue;
        }
        logical += line;
        finish(logical);
        logical.clear();
    }
    if (!logical.empty())
        finish(logical);
    if (std::ferror(fp))
        error(0, errno, "cannot read file in mydbm_load_file");
}

}  // namespace

// Format: doc/formats.md#key-value-database
DBM *mydbm_open(const char *file, int flags, int) {
    FILE *fp = std::fopen(file, "r");
    if (!fp && !(errno == ENOENT && (flags & O_CREAT)))
        return nullptr;
    DBM *db = new DBM;
    db->dbm_list = getlist();
    db->name = file;
    if (fp) {
        load(db, fp);
        std::fclose(fp);
    }
    return db;
}

std::optional<std::string> mydbm_fetch(DBM *db, std::string_view key) {
    if (Node *n = findnode(db->dbm_list, key))
        return std::string(static_cast<const char *>(n->data));
    return std::nullopt;
}

std::optional<std::string> mydbm_firstkey(DBM *db) {
    db->dbm_next = db->dbm_list->list->next;
    return mydbm_nextkey(db);
}

std::optional<std::string> mydbm_nextkey(DBM *db) {
    if (!db->dbm_next || db->dbm_next == db->dbm_list->list)
        return std::nullopt;
    std::string key = *db->dbm_next->key;
    db->dbm_next = db->dbm_next->next;
    return key;
}

int mydbm_store(DBM *db, std::string_view key, std::string_view value) {
    if (findnode(db->dbm_list, key)) {
        error(0, 0, "attempt to insert duplicate key `%s'", std::string(key));
        return 1;
    }
    Node *n = getnode();
    n->type = NDBMNODE;
    n->key = std::string(key);
    node_set_string(n, value);
    addnode(db->dbm_list, n);
    db->modified = true;
    return 0;
}

// Format: doc/formats.md#key-value-database
void mydbm_close(DBM *db) {
    if (db->modified) {
        std::string text;
        JOL_FOR_EACH_NODE(db->dbm_list, p) {
            text += *p->key;
            text += ' ';
            text += static_cast<const char *>(p->data);
            text += '\n';
        }
        // Readers see the old or the new file, never a partial one.
        if (!write_file_atomically(db->name, text))
            error(0, errno, "cannot write %s", db->name);
    }
    dellist(&db->dbm_list);
    delete db;
}
