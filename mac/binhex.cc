// Reading and writing BinHex 4.0 files.
#include "mac/binhex.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "mac/big_endian.h"
#include "mac/binhex_coding.h"
#include "mac/mac_file.h"
#include "mac/platform.h"
#include "mac/temp_output.h"
#include "src/base/filesubr.h"

namespace {

constexpr size_t piece = 4096;

bool write_all(FILE *fp, const std::string &text) {
    return std::fwrite(text.data(), 1, text.size(), fp) == text.size();
}

}  // namespace

int HQXEncode(const char *file, const char *outfile) {
    int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 1;
    struct stat sb;
    if (fstat(fd, &sb) != 0 || uint64_t(sb.st_size) > UINT32_MAX) {
        close(fd);
        return 1;
    }
    const uint32_t data_len = uint32_t(sb.st_size);
    const mac_platform::FinderInfo info = mac_platform::get_finder_info(file);
    const std::string rsrc = mac_platform::get_resource_fork(file);
    if (rsrc.size() > UINT32_MAX) {
        close(fd);
        return 1;
    }

    mac_io::TempOutput out(outfile);
    if (!out.ok()) {
        close(fd);
        return 1;
    }
    std::string text = std::string(binhex::header_line) + "\n";
    binhex::TextWriter coder(text);
    binhex::RunWriter runs(coder);

    std::string header;
    header += '\0';  // empty name: the decoder names the file itself
    header += '\0';  // version
    put_be(header, info.type(), 4);
    put_be(header, info.creator(), 4);
    put_be(header, info.flags() & binhex::flags_mask, 2);
    put_be(header, data_len, 4);
    put_be(header, uint32_t(rsrc.size()), 4);
    put_be(header, binhex::crc_of(header), 2);
    runs.put(header.data(), header.size());

    bool ok = true;
    binhex::Crc data_crc;
    uint64_t copied = 0;
    char buf[piece];
    while (ok) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        copied += uint64_t(n);
        if (copied > data_len) {  // the file grew while we read it
            ok = false;
            break;
        }
        data_crc.add(buf, size_t(n));
        runs.put(buf, size_t(n));
        if (text.size() >= piece) {
            ok = write_all(out.fp(), text);
            text.clear();
        }
    }
    close(fd);
    if (!ok || copied != data_len)
        return 1;

    std::string tail;
    put_be(tail, data_crc.finish(), 2);
    runs.put(tail.data(), tail.size());
    for (size_t at = 0; at < rsrc.size(); at += piece) {
        runs.put(rsrc.data() + at, std::min(piece, rsrc.size() - at));
        if (text.size() >= piece) {
            if (!write_all(out.fp(), text))
                return 1;
            text.clear();
        }
    }
    tail.clear();
    put_be(tail, binhex::crc_of(rsrc), 2);
    runs.put(tail.data(), tail.size());
    runs.finish();
    coder.finish();
    if (!write_all(out.fp(), text))
        return 1;
    return out.commit() == 0 ? 0 : 1;
}

int HQXDecode(const char *source, const char *outfile) {
    std::string text;
    int err = 0;
    if (!read_whole_file(source, text, err))
        return 1;
    std::string coded;
    if (!binhex::decode_text(text, coded))
        return 1;
    text.clear();
    text.shrink_to_fit();
    binhex::RunReader in(coded);
    if (!in.valid())
        return 1;

    // Header: name length and name, then the fixed part.
    uint8_t name_len;
    if (!in.read(&name_len, 1))
        return 1;
    std::string header(1, char(name_len));
    constexpr size_t fixed = 1 + 4 + 4 + 2 + 4 + 4;
    if (in.remaining() < uint64_t(name_len) + fixed + 2)
        return 1;
    header.resize(1 + name_len + fixed);
    if (!in.read(header.data() + 1, name_len + fixed))
        return 1;
    uint8_t crc_bytes[2];
    if (!in.read(crc_bytes, 2) || get_be(crc_bytes, 2) != binhex::crc_of(header))
        return 1;
    const uint8_t *h = reinterpret_cast<const uint8_t *>(header.data()) + 1 + name_len + 1;
    const uint32_t type = get_be(h, 4), creator = get_be(h + 4, 4);
    const uint16_t flags = uint16_t(get_be(h + 8, 2));
    const uint32_t data_len = get_be(h + 10, 4), rsrc_len = get_be(h + 14, 4);
    // Both forks and their CRCs must be present before anything is written.
    if (uint64_t(data_len) + rsrc_len + 4 > in.remaining())
        return 1;

    mac_io::TempOutput out(outfile);
    if (!out.ok())
        return 1;
    binhex::Crc crc;
    char buf[piece];
    for (uint32_t left = data_len; left > 0;) {
        size_t n = std::min<size_t>(piece, left);
        if (!in.read(buf, n) || std::fwrite(buf, 1, n, out.fp()) != n)
            return 1;
        crc.add(buf, n);
        left -= uint32_t(n);
    }
    if (!in.read(crc_bytes, 2) || get_be(crc_bytes, 2) != crc.finish())
        return 1;
    std::string rsrc(rsrc_len, '\0');
    if (!in.read(rsrc.data(), rsrc.size()) || !in.read(crc_bytes, 2) ||
        get_be(crc_bytes, 2) != binhex::crc_of(rsrc))
        return 1;
    if (std::fflush(out.fp()) != 0)
        return 1;

    mac_platform::FinderInfo info;
    info.set_type(type);
    info.set_creator(creator);
    info.set_flags(flags & binhex::flags_mask);
    mac_io::restore_mac_attributes(out.temp_path().c_str(), outfile, rsrc, info);
    return out.commit() == 0 ? 0 : 1;
}
