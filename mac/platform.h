// The Macintosh file services this system needs, on a Unix file system:
// Finder information and the resource fork live in two extended attributes
// of the file, and file names map to a type and creator through a small
// built-in table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mac_platform {

// Attribute names, as a Mac volume exports them to a Unix file system.
inline constexpr const char finder_info_attr[] = "user.com.apple.FinderInfo";
inline constexpr const char resource_fork_attr[] = "user.com.apple.ResourceFork";

// A four-character code from its four bytes in order ('TEXT' = 0x54455854).
constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
           uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

// The 32 bytes of Finder information: the 16-byte file information (type,
// creator, flags, location, folder) and the 16-byte extended information,
// all big-endian. A file without any has all zeros.
struct FinderInfo {
    std::array<uint8_t, 32> bytes{};

    uint32_t type() const { return get32(0); }
    uint32_t creator() const { return get32(4); }
    uint16_t flags() const { return uint16_t(bytes[8] << 8 | bytes[9]); }
    void set_type(uint32_t v) { put32(0, v); }
    void set_creator(uint32_t v) { put32(4, v); }
    void set_flags(uint16_t v) {
        bytes[8] = uint8_t(v >> 8);
        bytes[9] = uint8_t(v);
    }

  private:
    uint32_t get32(int at) const {
        return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
               uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
    }
    void put32(int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = uint8_t(v >> (24 - 8 * i));
    }
};

// The Finder information of `path`; all zeros when it has none, when its
// file system keeps none, or when the stored value is not 32 bytes.
FinderInfo get_finder_info(const char *path);

// Stores the Finder information of `path`. Returns 0 or an errno value
// (ENOTSUP when the file system refuses user attributes).
int set_finder_info(const char *path, const FinderInfo &info);

// The resource fork of `path` (empty when it has none or its file system
// keeps none).
std::string get_resource_fork(const char *path);

// Stores the resource fork of `path`; an empty fork removes it. Returns 0 or
// an errno value (ENOTSUP: no user attributes; E2BIG or ENOSPC: too large
// for the file system).
int set_resource_fork(const char *path, std::string_view fork);

// Whether files in directory `dir` can carry user attributes.
bool attributes_supported(const char *dir);

// Makes every file behave as on a file system without user attributes
// (for tests of that case on machines whose file systems have them).
void refuse_attributes_for_testing(bool refuse);

struct TypeCreator {
    uint32_t type = 0;
    uint32_t creator = 0;
};

// The file-name mapping service: the type and creator for a file name,
// chosen by its extension (case ignored); none for names it does not know.
std::optional<TypeCreator> map_file_name(std::string_view name);

}  // namespace mac_platform
