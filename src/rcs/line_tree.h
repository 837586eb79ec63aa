// The text of a revision being rebuilt, as a sequence of pieces: runs of
// consecutive lines of some source text (the head's text or the inserted
// lines of an edit script). Pieces sit in an implicit treap keyed by line
// position, so inserting or deleting a run of lines costs O(log n) whatever
// the file's size, and rebuilding a revision through thousands of edit
// scripts never copies the line array.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

struct RCSVers;

// A text split into lines; line i is bytes [starts[i], starts[i+1]) and
// includes its line feed when it has one.
struct LineSource {
    std::string_view text;
    std::vector<uint64_t> starts;
    std::vector<const RCSVers *> attrib;  // per line, only while annotating

    explicit LineSource(std::string_view t);
    uint32_t nlines() const { return static_cast<uint32_t>(starts.size() - 1); }
    std::string_view line(uint32_t i) const {
        return text.substr(starts[i], starts[i + 1] - starts[i]);
    }
};

struct Piece {
    uint32_t src;
    uint32_t start;
    uint32_t count;
};

class LineTree {
  public:
    uint32_t size() const { return size_of(root_); }
    void clear() { root_ = -1; }
    void insert(uint32_t pos, Piece p);
    // Removes `n` lines at `pos`, appending the removed pieces to `removed`
    // when it is given.
    void erase(uint32_t pos, uint32_t n, std::vector<Piece> *removed);
    void flatten(std::vector<Piece> &out) const;
    void assign(const std::vector<Piece> &pieces);

  private:
    struct TNode {
        Piece piece;
        uint32_t prio;
        uint32_t size;
        int32_t left = -1, right = -1;
    };
    uint32_t size_of(int32_t t) const { return t < 0 ? 0 : nodes_[t].size; }
    void update(int32_t t);
    int32_t make(Piece p, uint32_t prio);
    void split(int32_t t, uint32_t k, int32_t &a, int32_t &b);
    int32_t merge(int32_t a, int32_t b);
    uint32_t next_prio();

    std::vector<TNode> nodes_;
    int32_t root_ = -1;
    uint64_t seed_ = 0x9E3779B97F4A7C15ull;
};
