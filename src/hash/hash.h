// The one container of the program: a circular doubly linked list of nodes
// in insertion order, with a fixed 151-bucket hash index over string keys.
// Lists and nodes own their keys and data; freed ones are recycled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum ntype : int32_t {
    NT_UNKNOWN = 0,
    HEADER,
    ENTRIES,
    FILES,
    LIST,
    RCSNODE,
    RCSVERS,
    DIRS,
    UPDATE,
    LOCK,
    NDBMNODE,
    FILEATTR,
    VARIABLE,
    RCSFIELD,
    RCSCMPFLD,
};

struct Node;
using NodeDelProc = void (*)(Node *);

struct Node {
    ntype type = NT_UNKNOWN;
    Node *next = nullptr;
    Node *prev = nullptr;
    Node *hashnext = nullptr;
    Node *hashprev = nullptr;
    std::optional<std::string> key;
    // Owned payload; released by delproc, or with free() when delproc is null.
    void *data = nullptr;
    NodeDelProc delproc = nullptr;
};

constexpr int HASHSIZE = 151;

struct List {
    Node *list = nullptr;            // header of the circular list
    Node *hasharray[HASHSIZE] = {};  // bucket chain headers, made lazily
    List *next = nullptr;            // link while on the free-list cache
};

List *getlist();
void dellist(List **listp);
Node *getnode();
void delnode(Node *p);
void freenode(Node *p);
int addnode(List *list, Node *p);
int addnode_at_front(List *list, Node *p);
Node *findnode(List *list, std::string_view key);
Node *findnode_fn(List *list, std::string_view key);
int walklist(List *list, int (*proc)(Node *, void *), void *closure);
int list_isempty(List *list);
void sortlist(List *list, int (*comp)(const Node *, const Node *));
int fsortcmp(const Node *p, const Node *q);
const char *nodetypestring(ntype type);
int hashp(std::string_view key);

// Payload helpers: a node owning a C++ object deletes it with `delete`;
// a node owning text keeps a malloc'd copy that the default release frees.
template <class T>
void node_set_owned(Node *p, T *obj) {
    p->data = obj;
    p->delproc = [](Node *n) { delete static_cast<T *>(n->data); };
}
void node_set_string(Node *p, std::string_view text);

template <class T>
T *node_data(const Node *p) {
    return static_cast<T *>(p->data);
}

// Iteration in list order; the body must not delete the current node.
#define JOL_FOR_EACH_NODE(listp, var) \
    for (Node *var = (listp)->list->next; var != (listp)->list; var = var->next)

// Owning handle for lists created by getlist().
struct ListDeleter {
    void operator()(List *l) const { dellist(&l); }
};
