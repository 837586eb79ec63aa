// Permission strings.
#include "src/protocol/file_modes.h"

#include <cerrno>
#include <sys/stat.h>

int file_gzip_level = 0;

std::string mode_to_string(mode_t mode) {
    std::string s;
    const mode_t bits[3][3] = {{S_IRUSR, S_IWUSR, S_IXUSR},
                               {S_IRGRP, S_IWGRP, S_IXGRP},
                               {S_IROTH, S_IWOTH, S_IXOTH}};
    const char *heads[3] = {"u=", ",g=", ",o="};
    for (int c = 0; c < 3; ++c) {
        s += heads[c];
        for (int k = 0; k < 3; ++k)
            if (mode & bits[c][k])
                s += "rwx"[k];
    }
    return s;
}

mode_t mode_from_string(std::string_view text) {
    mode_t mode = 0;
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (item.size() < 2 || item[1] != '=')
            continue;
        int shift;
        switch (item[0]) {
        case 'u': shift = 6; break;
        case 'g': shift = 3; break;
        case 'o': shift = 0; break;
        default: continue;
        }
        for (char c : item.substr(2)) {
            if (c == 'r')
                mode |= static_cast<mode_t>(4 << shift);
            else if (c == 'w')
                mode |= static_cast<mode_t>(2 << shift);
            else if (c == 'x')
                mode |= static_cast<mode_t>(1 << shift);
        }
    }
    return mode;
}

int change_mode(const char *file, std::string_view text, bool honour_umask) {
    mode_t mode = mode_from_string(text);
    if (honour_umask) {
        mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    return chmod(file, mode) == 0 ? 0 : errno;
}
