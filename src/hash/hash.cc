// List and hash-table container: insertion-ordered circular lists with a
// per-list 151-bucket index. Nodes and lists are recycled through caches.
#include "src/hash/hash.h"

#include "src/base/xalloc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

Node *nodecache = nullptr;
List *listcache = nullptr;

void release_payload(Node *p) {
    if (p->delproc)
        p->delproc(p);
    else
        std::free(p->data);
    p->data = nullptr;
    p->delproc = nullptr;
    p->key.reset();
}

void cache_node(Node *p) {
    p->type = NT_UNKNOWN;
    p->prev = p->hashnext = p->hashprev = nullptr;
    p->next = nodecache;
    nodecache = p;
}

int insert_before(List *list, Node *marker, Node *p) {
    if (p->key) {
        int b = hashp(*p->key);
        Node *head = list->hasharray[b];
        if (!head) {
            head = getnode();
            head->type = HEADER;
            head->hashnext = head->hashprev = head;
            list->hasharray[b] = head;
        }
        for (Node *q = head->hashnext; q != head; q = q->hashnext)
            if (*q->key == *p->key)
                return -1;
        p->hashprev = head->hashprev;
        p->hashnext = head;
        head->hashprev->hashnext = p;
        head->hashprev = p;
    }
    p->next = marker;
    p->prev = marker->prev;
    marker->prev->next = p;
    marker->prev = p;
    return 0;
}

}  // namespace

int hashp(std::string_view key) {
    uint32_t h = 0;
    for (char ch : key) {
        h = (h << 4) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(ch)));
        uint32_t g = h & 0xF0000000u;
        if (g)
            h = h ^ (g >> 24) ^ g;
    }
    return static_cast<int>(h % HASHSIZE);
}

Node *getnode() {
    Node *p = nodecache;
    if (p) {
        nodecache = p->next;
        *p = Node{};
    } else {
        p = new Node;
    }
    return p;
}

List *getlist() {
    List *l = listcache;
    if (l) {
        listcache = l->next;
        l->next = nullptr;
        std::fill(std::begin(l->hasharray), std::end(l->hasharray), nullptr);
    } else {
        l = new List;
        l->list = getnode();
        l->list->type = HEADER;
        l->list->next = l->list->prev = l->list;
    }
    return l;
}

void freenode(Node *p) {
    if (!p)
        return;
    release_payload(p);
    cache_node(p);
}

void delnode(Node *p) {
    if (!p)
        return;
    if (p->next) {
        p->next->prev = p->prev;
        p->prev->next = p->next;
    }
    if (p->hashnext) {
        p->hashnext->hashprev = p->hashprev;
        p->hashprev->hashnext = p->hashnext;
    }
    freenode(p);
}

void dellist(List **listp) {
    if (!listp || !*listp)
        return;
    List *l = *listp;
    Node *head = l->list;
    while (head->next != head)
        delnode(head->next);
    release_payload(head);
    head->type = HEADER;
    for (Node *&bucket : l->hasharray) {
        if (bucket) {
            cache_node(bucket);
            bucket = nullptr;
        }
    }
    l->next = listcache;
    listcache = l;
    *listp = nullptr;
}

int addnode(List *list, Node *p) { return insert_before(list, list->list, p); }

int addnode_at_front(List *list, Node *p) { return insert_before(list, list->list->next, p); }

Node *findnode(List *list, std::string_view key) {
    if (!list)
        return nullptr;
    Node *head = list->hasharray[hashp(key)];
    if (!head)
        return nullptr;
    for (Node *q = head->hashnext; q != head; q = q->hashnext)
        if (*q->key == key)
            return q;
    return nullptr;
}

Node *findnode_fn(List *list, std::string_view key) { return findnode(list, key); }

int walklist(List *list, int (*proc)(Node *, void *), void *closure) {
    if (!list)
        return 0;
    int sum = 0;
    Node *head = list->list;
    for (Node *p = head->next; p != head; p = p->next)
        sum += proc(p, closure);
    return sum;
}

int list_isempty(List *list) { return list == nullptr || list->list->next == list->list; }

void sortlist(List *list, int (*comp)(const Node *, const Node *)) {
    Node *head = list->list;
    std::vector<Node *> nodes;
    for (Node *p = head->next; p != head; p = p->next)
        nodes.push_back(p);
    std::sort(nodes.begin(), nodes.end(),
              [comp](const Node *a, const Node *b) { return comp(a, b) < 0; });
    Node *prev = head;
    for (Node *p : nodes) {
        prev->next = p;
        p->prev = prev;
        prev = p;
    }
    prev->next = head;
    head->prev = prev;
}

int fsortcmp(const Node *p, const Node *q) {
    const char *a = p->key ? p->key->c_str() : "";
    const char *b = q->key ? q->key->c_str() : "";
    return std::strcmp(a, b);
}

const char *nodetypestring(ntype type) {
    static const char *const names[] = {
        "UNKNOWN", "HEADER", "ENTRIES",  "FILES",    "LIST",     "RCSNODE",  "RCSVERS",  "DIRS",
        "UPDATE",  "LOCK",   "NDBMNODE", "FILEATTR", "VARIABLE", "RCSFIELD", "RCSCMPFLD"};
    if (type < 0 || static_cast<size_t>(type) >= sizeof names / sizeof names[0])
        return "<trash>";
    return names[type];
}

void node_set_string(Node *p, std::string_view text) {
    char *copy = static_cast<char *>(xmalloc(text.size() + 1));
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    p->data = copy;
    p->delproc = nullptr;
}
