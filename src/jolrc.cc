// Reading ~/.jolrc and splicing its options into the argument vector.
#include "src/jolrc.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/line_reader.h"

namespace {

// The vector handed out by the previous call; it owns its strings.
std::vector<std::string> rc_strings;
std::vector<char *> rc_argv;

}  // namespace

// Format: doc/formats.md#jolrc
void read_jolrc(int *argc, char ***argv, const char *cmdname) {
    if (*argc == -1)
        return;
    auto home = get_homedir();
    if (!home)
        return;
    std::string path = *home + "/.jolrc";
    if (!isreadable(path.c_str()))
        return;
    FILE *fp = open_file(path.c_str(), "r");
    size_t cmdlen = std::strlen(cmdname);
    std::string found;
    bool have_line = false;
    LineReader lines(fp);
    while (auto next = lines.next()) {
        // The newline is kept: it is the blank that may end the command name.
        std::string line(*next);
        if (lines.newline())
            line += '\n';
        if (line[0] == '#')
            continue;
        if (line.compare(0, cmdlen, cmdname) == 0 && line.size() > cmdlen &&
            std::isspace(static_cast<unsigned char>(line[cmdlen]))) {
            found = line.substr(cmdlen);
            have_line = true;
            break;
        }
    }
    if (std::ferror(fp))
        error(0, errno, "cannot read %s", path);
    std::fclose(fp);

    std::vector<std::string> words;
    words.emplace_back((*argv)[0]);
    if (have_line) {
        size_t i = 0;
        while (i < found.size()) {
            while (i < found.size() && std::strchr("\t \n", found[i]))
                ++i;
            size_t start = i;
            while (i < found.size() && !std::strchr("\t \n", found[i]))
                ++i;
            if (i > start)
                words.push_back(found.substr(start, i - start));
        }
    }
    for (int i = 1; i < *argc; ++i)
        words.emplace_back((*argv)[i]);

    rc_strings = std::move(words);
    rc_argv.clear();
    for (std::string &w : rc_strings)
        rc_argv.push_back(w.data());
    rc_argv.push_back(nullptr);
    *argc = static_cast<int>(rc_strings.size());
    *argv = rc_argv.data();
}
