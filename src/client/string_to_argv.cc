// Splitting JOL_RSA_OPTIONS into words.
#include "src/client/string_to_argv.h"

std::vector<std::string> string_to_argv(std::string_view text) {
    constexpr size_t max_words = 40;
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size() && words.size() < max_words) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        if (i == text.size())
            break;
        std::string word;
        char quote = 0;
        for (; i < text.size(); ++i) {
            char c = text[i];
            if (c == '\\' && i + 1 < text.size()) {
                word += text[++i];
            } else if (quote) {
                if (c == quote)
                    quote = 0;
                else
                    word += c;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == ' ') {
                break;
            } else {
                word += c;
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}
