// User variables: a list of VARIABLE nodes keyed by name.
#include "src/repo/variables.h"

#include <cctype>
#include <cstring>

#include "src/base/error.h"

List *variable_list = nullptr;

void variable_set(const char *nameval) {
    const char *p = nameval;
    while (*p && (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_'))
        ++p;
    if (*p != '=')
        error(1, 0, "illegal character in user variable name in %s", nameval);
    if (p == nameval)
        error(1, 0, "empty user variable name in %s", nameval);
    if (std::strchr(p + 1, '\n'))
        error(1, 0, "linefeed in user variable value in %s", nameval);
    std::string name(nameval, p - nameval);
    if (!variable_list)
        variable_list = getlist();
    if (Node *old = findnode(variable_list, name)) {
        std::free(old->data);
        node_set_string(old, p + 1);
        return;
    }
    Node *n = getnode();
    n->type = VARIABLE;
    n->key = name;
    node_set_string(n, p + 1);
    addnode(variable_list, n);
}

std::optional<std::string> variable_get(const std::string &name) {
    if (Node *n = findnode(variable_list, name))
        return std::string(static_cast<const char *>(n->data));
    return std::nullopt;
}
