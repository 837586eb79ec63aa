// Reading and writing AppleSingle version 2 files.
#include "mac/applesingle.h"

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "mac/big_endian.h"
#include "mac/mac_file.h"
#include "mac/platform.h"
#include "mac/temp_output.h"
#include "src/base/output.h"

namespace {

constexpr size_t piece = 8192;
constexpr size_t header_size = 26;
constexpr size_t descriptor_size = 12;

enum EntryId : uint32_t { data_fork = 1, resource_fork = 2, comment = 4, icon_bw = 5, icon_color = 6, finder_info = 9 };

bool selected(uint32_t entries, uint32_t id) { return id >= 1 && id <= 32 && (entries >> (id - 1)) & 1; }

struct Descriptor {
    uint32_t id, offset, length;
};

// Copies `length` bytes of `fd` from `offset` to `out`.
bool copy_range(int fd, uint64_t offset, uint64_t length, FILE *out) {
    char buf[piece];
    while (length > 0) {
        size_t n = size_t(std::min<uint64_t>(piece, length));
        if (!mac_io::read_exact_at(fd, buf, n, offset) || std::fwrite(buf, 1, n, out) != n)
            return false;
        offset += n;
        length -= n;
    }
    return true;
}

bool encode(const char *file, mac_io::TempOutput &out, uint32_t entries) {
    if (!out.ok())
        return false;
    int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat sb;
    bool ok = fstat(fd, &sb) == 0;
    const uint64_t data_len = ok ? uint64_t(sb.st_size) : 0;
    const mac_platform::FinderInfo info = mac_platform::get_finder_info(file);
    const std::string rsrc = mac_platform::get_resource_fork(file);

    // The comment (id 4) would come first, but files here never have one.
    std::vector<Descriptor> list;
    if (selected(entries, finder_info))
        list.push_back({finder_info, 0, uint32_t(info.bytes.size())});
    if (data_len > 0 && selected(entries, data_fork))
        list.push_back({data_fork, 0, uint32_t(data_len)});
    if (!rsrc.empty() && selected(entries, resource_fork))
        list.push_back({resource_fork, 0, uint32_t(rsrc.size())});
    uint64_t offset = header_size + descriptor_size * list.size();
    for (Descriptor &d : list) {
        d.offset = uint32_t(offset);
        offset += d.id == data_fork ? data_len : d.id == resource_fork ? rsrc.size() : d.length;
    }
    if (offset > UINT32_MAX)
        ok = false;

    std::string head;
    put_be(head, applesingle::magic, 4);
    put_be(head, applesingle::version, 4);
    head.append(16, '\0');
    put_be(head, uint32_t(list.size()), 2);
    for (const Descriptor &d : list) {
        put_be(head, d.id, 4);
        put_be(head, d.offset, 4);
        put_be(head, d.length, 4);
    }
    ok = ok && std::fwrite(head.data(), 1, head.size(), out.fp()) == head.size();
    for (const Descriptor &d : list) {
        if (!ok)
            break;
        if (d.id == finder_info)
            ok = std::fwrite(info.bytes.data(), 1, info.bytes.size(), out.fp()) == info.bytes.size();
        else if (d.id == data_fork)
            ok = copy_range(fd, 0, data_len, out.fp());
        else
            ok = std::fwrite(rsrc.data(), 1, rsrc.size(), out.fp()) == rsrc.size();
    }
    close(fd);
    return ok && out.commit() == 0;
}

bool decode(int fd, uint64_t size, mac_io::TempOutput &out, const char *outfile, uint32_t entries) {
    uint8_t head[header_size];
    if (size < header_size || !mac_io::read_exact_at(fd, head, header_size, 0))
        return false;
    if (get_be(head, 4) != applesingle::magic || get_be(head + 4, 4) != applesingle::version)
        return false;
    const uint32_t count = get_be(head + 24, 2);
    if (count == 0 || header_size + uint64_t(descriptor_size) * count > size)
        return false;
    std::vector<uint8_t> raw(descriptor_size * count);
    if (!mac_io::read_exact_at(fd, raw.data(), raw.size(), header_size))
        return false;
    std::vector<Descriptor> list;
    bool seen[10] = {};
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *p = raw.data() + descriptor_size * i;
        Descriptor d{get_be(p, 4), get_be(p + 4, 4), get_be(p + 8, 4)};
        if (d.id == data_fork || d.id == resource_fork || d.id == finder_info) {
            if (seen[d.id])
                return false;  // a second fork or Finder information is ambiguous
            seen[d.id] = true;
        }
        list.push_back(d);
    }

    if (!out.ok())
        return false;
    std::string rsrc;
    std::optional<mac_platform::FinderInfo> info;
    for (const Descriptor &d : list) {
        if (!selected(entries, d.id))
            continue;
        if (uint64_t(d.offset) + d.length > size)
            return false;
        switch (d.id) {
        case data_fork:
            if (!copy_range(fd, d.offset, d.length, out.fp()))
                return false;
            break;
        case resource_fork:
            rsrc.resize(d.length);
            if (!mac_io::read_exact_at(fd, rsrc.data(), rsrc.size(), d.offset))
                return false;
            break;
        case comment: {
            char text[32];
            if (!mac_io::read_exact_at(fd, text, std::min<size_t>(d.length, sizeof text), d.offset))
                return false;
            break;
        }
        case finder_info:
            info.emplace();
            if (d.length != info->bytes.size() ||
                !mac_io::read_exact_at(fd, info->bytes.data(), info->bytes.size(), d.offset))
                return false;
            break;
        case icon_bw:
        case icon_color:
            jol_outerr("Can't decode AS_ICONBW...\n");
            break;
        default:
            break;
        }
    }
    if (std::fflush(out.fp()) != 0)
        return false;
    mac_io::restore_mac_attributes(out.temp_path().c_str(), outfile, rsrc,
                                   info.value_or(mac_platform::FinderInfo()));
    return out.commit() == 0;
}

}  // namespace

int encodeAppleSingle(const char *file, const char *outfile, uint32_t entries) {
    mac_io::TempOutput out(outfile);
    if (encode(file, out, entries))
        return 0;
    out.discard();
    jol_outerr(std::string("Unexpected AppleSingle encoding error ") + outfile + "\n");
    return 1;
}

int decodeAppleSingle(const char *infile, const char *outfile, uint32_t entries) {
    bool ok = false;
    int fd = open(infile, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat sb;
        if (fstat(fd, &sb) == 0) {
            mac_io::TempOutput out(outfile);
            ok = decode(fd, uint64_t(sb.st_size), out, outfile, entries);
        }
        close(fd);
    }
    if (!ok)
        jol_outerr(std::string("AppleSingle decoding has failed: ") + infile + "\n");
    return ok ? 0 : 1;
}
