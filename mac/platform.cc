// Finder information and resource forks as extended attributes, and the
// built-in extension table of the file-name mapping service.
#include "mac/platform.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace mac_platform {

namespace {

bool refused = false;

// Attribute value of `path`, or nullopt when it is absent or unreadable.
std::optional<std::string> read_attr(const char *path, const char *name) {
    if (refused)
        return std::nullopt;
    for (int attempt = 0; attempt < 3; ++attempt) {
        ssize_t size = getxattr(path, name, nullptr, 0);
        if (size < 0)
            return std::nullopt;
        std::string value(static_cast<size_t>(size), '\0');
        ssize_t got = getxattr(path, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return value;
        }
        if (errno != ERANGE)  // ERANGE: the value grew between the calls
            return std::nullopt;
    }
    return std::nullopt;
}

int unsupported(int err) { return err == ENOTSUP || err == EOPNOTSUPP ? ENOTSUP : err; }

}  // namespace

FinderInfo get_finder_info(const char *path) {
    FinderInfo info;
    auto value = read_attr(path, finder_info_attr);
    if (value && value->size() == info.bytes.size())
        std::copy(value->begin(), value->end(), info.bytes.begin());
    return info;
}

void refuse_attributes_for_testing(bool refuse) { refused = refuse; }

int set_finder_info(const char *path, const FinderInfo &info) {
    if (refused)
        return ENOTSUP;
    if (setxattr(path, finder_info_attr, info.bytes.data(), info.bytes.size(), 0) != 0)
        return unsupported(errno);
    return 0;
}

std::string get_resource_fork(const char *path) {
    return read_attr(path, resource_fork_attr).value_or(std::string());
}

int set_resource_fork(const char *path, std::string_view fork) {
    if (refused)
        return fork.empty() ? 0 : ENOTSUP;
    if (fork.empty()) {
        // Nothing to keep: a file system without attributes is fine here.
        if (removexattr(path, resource_fork_attr) != 0 && errno != ENODATA &&
            unsupported(errno) != ENOTSUP)
            return errno;
        return 0;
    }
    if (setxattr(path, resource_fork_attr, fork.data(), fork.size(), 0) != 0)
        return unsupported(errno);
    return 0;
}

bool attributes_supported(const char *dir) {
    if (refused)
        return false;
    std::string templ = std::string(dir) + "/.jolattrXXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return false;
    bool ok = fsetxattr(fd, "user.jol.probe", "1", 1, 0) == 0;
    close(fd);
    unlink(name.data());
    return ok;
}

std::optional<TypeCreator> map_file_name(std::string_view name) {
    struct Mapping {
        const char *extension;
        TypeCreator tc;
    };
    static const Mapping table[] = {
        {"txt", {fourcc("TEXT"), fourcc("ttxt")}},  {"c", {fourcc("TEXT"), fourcc("ttxt")}},
        {"h", {fourcc("TEXT"), fourcc("ttxt")}},    {"cc", {fourcc("TEXT"), fourcc("ttxt")}},
        {"cpp", {fourcc("TEXT"), fourcc("ttxt")}},  {"html", {fourcc("TEXT"), fourcc("ttxt")}},
        {"htm", {fourcc("TEXT"), fourcc("ttxt")}},  {"jpg", {fourcc("JPEG"), fourcc("prvw")}},
        {"jpeg", {fourcc("JPEG"), fourcc("prvw")}}, {"png", {fourcc("PNGf"), fourcc("prvw")}},
        {"gif", {fourcc("GIFf"), fourcc("prvw")}},  {"tif", {fourcc("TIFF"), fourcc("prvw")}},
        {"tiff", {fourcc("TIFF"), fourcc("prvw")}}, {"pdf", {fourcc("PDF "), fourcc("prvw")}},
        {"zip", {fourcc("ZIP "), fourcc("SITx")}},  {"sit", {fourcc("SIT!"), fourcc("SITx")}},
        {"hqx", {fourcc("TEXT"), fourcc("SITx")}},
    };
    size_t slash = name.rfind('/');
    std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
    size_t dot = base.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::nullopt;
    std::string ext(base.substr(dot + 1));
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    for (const Mapping &m : table)
        if (ext == m.extension)
            return m.tc;
    return std::nullopt;
}

}  // namespace mac_platform
