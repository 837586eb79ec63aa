// Keyword substitution ($Id$, $Revision$, $Log$, ...) in revision texts.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "src/base/filesubr.h"
#include "src/rcs/rcs.h"

namespace {

enum keyword {
    KEYWORD_AUTHOR = 0,
    KEYWORD_DATE,
    KEYWORD_HEADER,
    KEYWORD_ID,
    KEYWORD_LOCKER,
    KEYWORD_LOG,
    KEYWORD_NAME,
    KEYWORD_RCSFILE,
    KEYWORD_REVISION,
    KEYWORD_SOURCE,
    KEYWORD_STATE,
    KEYWORD_COUNT
};

const std::string_view rcs_keywords[KEYWORD_COUNT] = {
    "Author", "Date", "Header", "Id", "Locker", "Log", "Name", "RCSfile", "Revision", "Source",
    "State"};

int find_keyword(std::string_view word) {
    for (int k = 0; k < KEYWORD_COUNT; ++k)
        if (rcs_keywords[k] == word)
            return k;
    return -1;
}

std::string rtrim_blanks(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return std::string(s);
}

}  // namespace

std::string escape_keyword_value(std::string_view value) {
    if (value.find_first_of("\t\n\\ $") == std::string_view::npos)
        return std::string(value);
    std::string out;
    for (char c : value) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\\': out += "\\\\"; break;
        case ' ': out += "\\040"; break;
        case '$': out += "\\044"; break;
        default: out += c;
        }
    }
    return out;
}

void expand_keywords(RCSNode *rcs, const RCSVers *ver, const char *name, std::string_view log,
                     kflag expand, std::string &text) {
    if (expand == KFLAG_O || expand == KFLAG_B)
        return;
    if (std::memchr(text.data(), '$', text.size()) == nullptr)
        return;

    std::string locker;
    if (expand == KFLAG_KVL) {
        if (List *locks = RCS_getlocks(rcs))
            if (Node *n = findnode(locks, ver->version))
                locker = static_cast<const char *>(n->data);
    }
    const std::string path = escape_keyword_value(rcs->path);
    const std::string base = escape_keyword_value(last_component(rcs->path.c_str()));
    const std::string date = printable_date(ver->date);

    std::string out;
    out.reserve(text.size() + 256);
    size_t copied = 0;  // text[copied..] not yet in out
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const void *hit = std::memchr(text.data() + i, '$', n - i);
        if (!hit)
            break;
        size_t dollar = static_cast<size_t>(static_cast<const char *>(hit) - text.data());
        size_t w = dollar + 1;
        while (w < n && std::isalpha(static_cast<unsigned char>(text[w])))
            ++w;
        if (w >= n || (text[w] != '$' && text[w] != ':')) {
            i = dollar + 1;
            continue;
        }
        int kw = find_keyword(std::string_view(text).substr(dollar + 1, w - dollar - 1));
        if (kw < 0) {
            i = dollar + 1;
            continue;
        }
        size_t close = w;  // the closing "$"
        if (text[w] == ':') {
            size_t k = w + 1;
            while (k < n && text[k] != '\n' && text[k] != '$')
                ++k;
            if (k >= n || text[k] != '$') {
                i = dollar + 1;
                continue;
            }
            close = k;
        }

        std::string value;
        bool has_value = true;
        if (expand != KFLAG_K) {
            switch (kw) {
            case KEYWORD_AUTHOR: value = ver->author; break;
            case KEYWORD_DATE: value = date; break;
            case KEYWORD_HEADER:
            case KEYWORD_ID:
                value = (kw == KEYWORD_HEADER ? path : base) + " " + ver->version + " " + date +
                        " " + ver->author + " " + ver->state + (locker.empty() ? "" : " ") +
                        locker;
                break;
            case KEYWORD_LOCKER:
                value = locker;
                has_value = !locker.empty();
                break;
            case KEYWORD_LOG:
            case KEYWORD_RCSFILE: value = base; break;
            case KEYWORD_NAME:
                if (name && *name && !std::isdigit(static_cast<unsigned char>(*name)))
                    value = name;
                else
                    has_value = false;
                break;
            case KEYWORD_REVISION: value = ver->version; break;
            case KEYWORD_SOURCE: value = path; break;
            case KEYWORD_STATE: value = ver->state; break;
            }
        } else {
            has_value = false;
        }

        std::string repl;
        if (expand == KFLAG_V) {
            repl = value;
        } else if (expand == KFLAG_K) {
            repl = "$" + std::string(rcs_keywords[kw]) + "$";
        } else {
            repl = "$" + std::string(rcs_keywords[kw]) + ": " + (has_value ? value : "") + " $";
        }

        if (kw == KEYWORD_LOG && log != "checked in with -k by ") {
            size_t bol = text.rfind('\n', dollar);
            bol = bol == std::string::npos ? 0 : bol + 1;
            std::string leader = text.substr(bol, dollar - bol);
            std::string bare = rtrim_blanks(leader);
            repl += "\n";
            repl += leader;
            char head[512];
            std::snprintf(head, sizeof head, "Revision %s  %s  %s\n", ver->version.c_str(),
                          date.c_str(), ver->author.c_str());
            repl += head;
            size_t p = 0;
            while (p < log.size()) {
                size_t e = log.find('\n', p);
                std::string_view line = log.substr(p, e == std::string_view::npos ? e : e - p);
                repl += line.empty() ? bare : leader;
                repl += line;
                repl += '\n';
                if (e == std::string_view::npos)
                    break;
                p = e + 1;
            }
            repl += bare;
        }

        out.append(text, copied, dollar - copied);
        out += repl;
        copied = close + 1;
        i = close + 1;
    }
    if (copied == 0)
        return;
    out.append(text, copied, std::string::npos);
    text.swap(out);
}
