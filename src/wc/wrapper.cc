// Wrapper lines from jolwrappers files, the environment and -W options.
#include "src/wc/wrapper.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fnmatch.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/base/root.h"

namespace {

std::vector<std::unique_ptr<WrapperEntry>> wrap_list;
size_t wrap_count = 0;  // the first wrap_count entries are permanent
bool wrap_setup_already_done = false;
size_t unparse_pos = 0;

bool is_regular(const std::string &path) {
    struct stat sb;
    return stat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
}

}  // namespace

void wrap_kill_temp() { wrap_list.resize(wrap_count); }

void wrap_kill() {
    wrap_list.clear();
    wrap_count = 0;
}

void wrap_add(const char *line, int isTemp) {
    if (!line || line[0] == '#')
        return;
    const char *p = line;
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    std::string wild;
    if (*p == '"') {
        const char *q = std::strchr(p + 1, '"');
        if (!q)
            return;
        wild.assign(p + 1, q);
        p = q + 1;
    } else {
        const char *q = p;
        while (*q && !std::isspace(static_cast<unsigned char>(*q)))
            ++q;
        wild.assign(p, q);
        p = q;
    }
    if (wild.empty())
        return;
    auto e = std::make_unique<WrapperEntry>();
    e->wildCard = wild;
    for (;;) {
        while (*p && *p != '-')
            ++p;
        if (!*p)
            break;
        char opt = p[1];
        if (!opt || !std::isalpha(static_cast<unsigned char>(opt)))
            break;
        const char *q = std::strchr(p + 2, '\'');
        if (!q)
            break;
        ++q;
        std::string value;
        while (*q && *q != '\'') {
            if (*q == '\\' && q[1] == '\'') {
                value += "\\'";
                q += 2;
                continue;
            }
            value += *q++;
        }
        if (value.empty())
            break;
        p = *q ? q + 1 : q;
        switch (opt) {
        case 'k': e->rcsOption = value; break;
        case 'm': e->mergeMethod = (value[0] == 'C' || value[0] == 'c') ? WRAP_COPY : WRAP_MERGE; break;
        case 't':
        case 'f': error(1, 0, "-t/-f wrappers not supported by this version of JOL");
        default: break;
        }
    }
    if (isTemp) {
        wrap_list.push_back(std::move(e));
    } else {
        wrap_list.insert(wrap_list.begin() + static_cast<long>(wrap_count), std::move(e));
        ++wrap_count;
    }
}

// Format: doc/formats.md#jolwrappers
void wrap_add_file(const char *file, int isTemp) {
    wrap_kill_temp();
    FILE *fp = std::fopen(file, "r");
    if (!fp) {
        if (errno != ENOENT)
            error(0, errno, "cannot open %s", file);
        return;
    }
    LineReader lines(fp);
    while (auto line = lines.next())
        if (!line->empty())
            wrap_add(std::string(*line).c_str(), isTemp);
    if (std::ferror(fp))
        error(0, errno, "cannot read %s", file);
    if (std::fclose(fp) == EOF)
        error(0, errno, "cannot close %s", file);
}

// Format: doc/formats.md#jolwrappers
void wrap_setup() {
    if (wrap_setup_already_done)
        return;
    wrap_setup_already_done = true;
    if (!client_active && !JOLroot_directory.empty()) {
        std::string f = JOLroot_directory + "/JOLROOT/jolwrappers";
        if (is_regular(f))
            wrap_add_file(f.c_str(), 0);
    }
    if (auto home = get_homedir()) {
        std::string f = *home + "/.jolwrappers";
        if (is_regular(f))
            wrap_add_file(f.c_str(), 0);
    }
    if (auto env = jolguiglue_getenv("JOLWRAPPERS"))
        wrap_add(env->c_str(), 0);
}

const WrapperEntry *wrap_matching_entry(const char *name) {
    for (const auto &e : wrap_list)
        if (fnmatch(e->wildCard.c_str(), name, 0) == 0)
            return e.get();
    return nullptr;
}

int wrap_name_has(const char *name, WrapMergeHas has) {
    const WrapperEntry *e = wrap_matching_entry(name);
    if (!e)
        return 0;
    switch (has) {
    case WRAP_TOJOL: return e->tojolFilter.has_value();
    case WRAP_FROMJOL: return e->fromjolFilter.has_value();
    case WRAP_RCSOPTION: return e->rcsOption.has_value();
    }
    return 0;
}

std::optional<std::string> wrap_rcsoption(const char *name, int asflag) {
    const WrapperEntry *e = wrap_matching_entry(name);
    if (!e || !e->rcsOption)
        return std::nullopt;
    return asflag ? "-k" + *e->rcsOption : *e->rcsOption;
}

int wrap_merge_is_copy(const char *name) {
    const WrapperEntry *e = wrap_matching_entry(name);
    return e && e->mergeMethod == WRAP_COPY;
}

std::optional<std::string> wrap_unparse_rcs_options(int first_call) {
    if (first_call)
        unparse_pos = 0;
    while (unparse_pos < wrap_list.size()) {
        const WrapperEntry &e = *wrap_list[unparse_pos++];
        if (!e.rcsOption)
            continue;
        // A pattern with blanks is quoted so that it reads back as one.
        bool quote = e.wildCard.find_first_of(" \t") != std::string::npos;
        std::string w = quote ? "\"" + e.wildCard + "\"" : e.wildCard;
        return w + " -k '" + *e.rcsOption + "'";
    }
    return std::nullopt;
}

std::vector<const WrapperEntry *> wrap_entries() {
    std::vector<const WrapperEntry *> all;
    for (const auto &e : wrap_list)
        all.push_back(e.get());
    return all;
}
