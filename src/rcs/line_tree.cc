// Implicit treap of line pieces.
#include "src/rcs/line_tree.h"

#include <cstring>

LineSource::LineSource(std::string_view t) : text(t) {
    starts.push_back(0);
    const char *base = t.data();
    size_t i = 0;
    while (i < t.size()) {
        const void *nl = std::memchr(base + i, '\n', t.size() - i);
        if (!nl)
            break;
        i = static_cast<size_t>(static_cast<const char *>(nl) - base) + 1;
        starts.push_back(i);
    }
    if (starts.back() != t.size())
        starts.push_back(t.size());
}

uint32_t LineTree::next_prio() {
    seed_ ^= seed_ << 13;
    seed_ ^= seed_ >> 7;
    seed_ ^= seed_ << 17;
    return static_cast<uint32_t>(seed_ >> 16);
}

int32_t LineTree::make(Piece p, uint32_t prio) {
    nodes_.push_back(TNode{p, prio, p.count, -1, -1});
    return static_cast<int32_t>(nodes_.size() - 1);
}

void LineTree::update(int32_t t) {
    TNode &n = nodes_[t];
    n.size = size_of(n.left) + n.piece.count + size_of(n.right);
}

void LineTree::split(int32_t t, uint32_t k, int32_t &a, int32_t &b) {
    if (t < 0) {
        a = b = -1;
        return;
    }
    uint32_t ls = size_of(nodes_[t].left);
    uint32_t cnt = nodes_[t].piece.count;
    if (k <= ls) {
        int32_t l = nodes_[t].left, x, y;
        split(l, k, x, y);
        nodes_[t].left = y;
        update(t);
        a = x;
        b = t;
    } else if (k >= ls + cnt) {
        int32_t r = nodes_[t].right, x, y;
        split(r, k - ls - cnt, x, y);
        nodes_[t].right = x;
        update(t);
        a = t;
        b = y;
    } else {
        // The split falls inside this node's piece: its tail becomes a new
        // node that takes over the right subtree (same priority, so the
        // heap order holds).
        uint32_t off = k - ls;
        Piece tail{nodes_[t].piece.src, nodes_[t].piece.start + off, cnt - off};
        int32_t r = make(tail, nodes_[t].prio);
        nodes_[r].right = nodes_[t].right;
        nodes_[t].right = -1;
        nodes_[t].piece.count = off;
        update(r);
        update(t);
        a = t;
        b = r;
    }
}

int32_t LineTree::merge(int32_t a, int32_t b) {
    if (a < 0)
        return b;
    if (b < 0)
        return a;
    if (nodes_[a].prio > nodes_[b].prio) {
        int32_t m = merge(nodes_[a].right, b);
        nodes_[a].right = m;
        update(a);
        return a;
    }
    int32_t m = merge(a, nodes_[b].left);
    nodes_[b].left = m;
    update(b);
    return b;
}

void LineTree::insert(uint32_t pos, Piece p) {
    if (p.count == 0)
        return;
    int32_t a, b;
    split(root_, pos, a, b);
    root_ = merge(merge(a, make(p, next_prio())), b);
}

void LineTree::erase(uint32_t pos, uint32_t n, std::vector<Piece> *removed) {
    if (n == 0)
        return;
    int32_t a, rest, mid, b;
    split(root_, pos, a, rest);
    split(rest, n, mid, b);
    if (removed && mid >= 0) {
        // in-order walk of the removed subtree
        std::vector<int32_t> stack;
        int32_t t = mid;
        while (t >= 0 || !stack.empty()) {
            while (t >= 0) {
                stack.push_back(t);
                t = nodes_[t].left;
            }
            t = stack.back();
            stack.pop_back();
            removed->push_back(nodes_[t].piece);
            t = nodes_[t].right;
        }
    }
    root_ = merge(a, b);
}

void LineTree::flatten(std::vector<Piece> &out) const {
    out.clear();
    std::vector<int32_t> stack;
    int32_t t = root_;
    while (t >= 0 || !stack.empty()) {
        while (t >= 0) {
            stack.push_back(t);
            t = nodes_[t].left;
        }
        t = stack.back();
        stack.pop_back();
        out.push_back(nodes_[t].piece);
        t = nodes_[t].right;
    }
}

void LineTree::assign(const std::vector<Piece> &pieces) {
    // Builds a balanced tree over the sequence with a right-spine stack
    // (linear time), keeping the treap's heap order on priorities.
    root_ = -1;
    std::vector<int32_t> spine;
    for (const Piece &p : pieces) {
        if (p.count == 0)
            continue;
        int32_t n = make(p, next_prio());
        int32_t last = -1;
        while (!spine.empty() && nodes_[spine.back()].prio < nodes_[n].prio) {
            last = spine.back();
            spine.pop_back();
            update(last);
        }
        nodes_[n].left = last;
        if (!spine.empty())
            nodes_[spine.back()].right = n;
        spine.push_back(n);
    }
    // Sizes along the remaining spine, bottom up.
    for (size_t i = spine.size(); i-- > 0;)
        update(spine[i]);
    root_ = spine.empty() ? -1 : spine.front();
}
