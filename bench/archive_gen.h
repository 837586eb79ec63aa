// Generates archive files of a chosen shape for the benchmarks: a text file
// edited over many trunk revisions (reverse edit scripts built from the
// known edits, no diff needed), optional branch revisions, or one large
// binary revision.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace bench {

inline std::string escape_at(const std::string &s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        out += c;
        if (c == '@')
            out += '@';
    }
    return out;
}

inline std::string join_lines(const std::vector<std::string> &lines) {
    std::string t;
    for (const auto &l : lines) {
        t += l;
        t += '\n';
    }
    return t;
}

struct Delta {
    std::string rev, next, text, branches;
};

inline std::string archive_text(const std::string &head, const std::vector<Delta> &deltas_in_text_order,
                                const std::string &symbols) {
    std::string out = "head\t" + head + ";\naccess;\nsymbols" + symbols + ";\nlocks; strict;\ncomment\t@# @;\n\n\n";
    for (const Delta &d : deltas_in_text_order) {
        out += d.rev + "\ndate\t2020.01.01.00.00.00;\tauthor bench;\tstate Exp;\nbranches" +
               (d.branches.empty() ? "" : "\n\t" + d.branches) + ";\nnext\t" + d.next + ";\n\n";
    }
    out += "\ndesc\n@@\n";
    for (const Delta &d : deltas_in_text_order)
        out += "\n\n" + d.rev + "\nlog\n@bench revision " + d.rev + "\n@\ntext\n@" + escape_at(d.text) + "@\n";
    return out;
}

// A text of `lines` lines edited `revisions` times on the trunk, with
// `branch_revs` revisions on a branch rooted at 1.`branch_at`.
inline std::string text_archive(int lines, int revisions, int branch_at, int branch_revs,
                                uint32_t seed = 42) {
    std::mt19937 rng(seed);
    auto random_line = [&]() {
        std::string s;
        int n = 20 + rng() % 60;
        for (int i = 0; i < n; ++i)
            s += static_cast<char>('a' + rng() % 26);
        return s;
    };
    std::vector<std::string> cur, branch_base;
    for (int i = 0; i < lines; ++i)
        cur.push_back(random_line());
    if (branch_at == 1)
        branch_base = cur;
    // reverse scripts: script[k] turns 1.(k+2) into 1.(k+1)
    std::vector<std::string> scripts;
    for (int r = 1; r < revisions; ++r) {
        int p = rng() % cur.size();
        int m = std::min<int>(rng() % 4, static_cast<int>(cur.size()) - p);
        int q = rng() % 4;
        std::vector<std::string> old(cur.begin() + p, cur.begin() + p + m);
        std::vector<std::string> ins;
        for (int i = 0; i < q; ++i)
            ins.push_back(random_line());
        cur.erase(cur.begin() + p, cur.begin() + p + m);
        cur.insert(cur.begin() + p, ins.begin(), ins.end());
        std::string s;
        if (q > 0)
            s += "d" + std::to_string(p + 1) + " " + std::to_string(q) + "\n";
        if (m > 0) {
            s += "a" + std::to_string(p + q) + " " + std::to_string(m) + "\n";
            for (auto &l : old)
                s += l + "\n";
        }
        scripts.push_back(s);
        if (r + 1 == branch_at)
            branch_base = cur;
    }
    // forward scripts on the branch, from 1.branch_at
    std::vector<std::string> bscripts;
    if (branch_revs > 0) {
        std::vector<std::string> b = branch_base;
        for (int r = 0; r < branch_revs; ++r) {
            int p = rng() % b.size();
            int m = std::min<int>(1 + rng() % 3, static_cast<int>(b.size()) - p);
            std::string s = "d" + std::to_string(p + 1) + " " + std::to_string(m) + "\na" +
                            std::to_string(p + m) + " 1\n";
            std::string nl = random_line();
            s += nl + "\n";
            b.erase(b.begin() + p, b.begin() + p + m);
            b.insert(b.begin() + p, nl);
            bscripts.push_back(s);
        }
    }
    std::vector<Delta> ds;
    for (int r = revisions; r >= 1; --r) {
        Delta d;
        d.rev = "1." + std::to_string(r);
        d.next = r > 1 ? "1." + std::to_string(r - 1) : "";
        d.text = r == revisions ? join_lines(cur) : scripts[r - 1];
        if (r == branch_at && branch_revs > 0)
            d.branches = "1." + std::to_string(r) + ".2.1";
        ds.push_back(d);
        if (r == branch_at)
            for (int b = 1; b <= branch_revs; ++b) {
                Delta bd;
                bd.rev = "1." + std::to_string(r) + ".2." + std::to_string(b);
                bd.next = b < branch_revs ? "1." + std::to_string(r) + ".2." + std::to_string(b + 1) : "";
                bd.text = bscripts[b - 1];
                ds.push_back(bd);
            }
    }
    std::string symbols = branch_revs > 0 ? "\n\tbr:1." + std::to_string(branch_at) + ".0.2" : "";
    return archive_text("1." + std::to_string(revisions), ds, symbols);
}

inline std::string binary_archive(size_t bytes, uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::string data(bytes, '\0');
    for (auto &c : data)
        c = static_cast<char>(rng());
    std::vector<Delta> ds{{"1.2", "1.1", data, ""}, {"1.1", "", "d1 1\n", ""}};
    std::string a = archive_text("1.2", ds, "");
    return a.insert(a.find("comment"), "expand\t@b@;\n");
}

inline bool write_file(const std::string &path, const std::string &bytes) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
    return std::fclose(fp) == 0 && ok;
}

}  // namespace bench
