// Settings from the environment and the per-type encoding rules.
#include "mac/policy.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "src/base/console.h"
#include "src/base/error.h"

namespace {

std::optional<MacSettings> &settings_slot() {
    static std::optional<MacSettings> s;
    return s;
}

// The leading integer of `text` as "%d" reads it; 0 when there is none.
int scan_int(const std::string &text) {
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || v > 1000 || v < -1000)
        return 0;
    return static_cast<int>(v);
}

std::vector<OSType> type_list_from(const char *variable) {
    auto value = jolguiglue_getenv(variable);
    return value ? parse_type_list(*value) : std::vector<OSType>();
}

bool contains(const std::vector<OSType> &list, OSType type) {
    return std::find(list.begin(), list.end(), type) != list.end();
}

}  // namespace

std::vector<OSType> parse_type_list(std::string_view value) {
    std::vector<OSType> types;
    try {
        size_t start = 0;
        for (size_t semi; (semi = value.find(';', start)) != std::string_view::npos; start = semi + 1) {
            std::string_view piece = value.substr(start, semi - start);
            if (piece.size() != 4) {
                error(0, 0, "Warning unknown signature %s (variable : %s) !", piece, value);
                continue;
            }
            OSType t = 0;
            for (char c : piece)
                t = t << 8 | static_cast<unsigned char>(c);
            types.push_back(t);
        }
    } catch (const std::bad_alloc &) {
        error(1, 0, "Running out of memory !");
    }
    return types;
}

const MacSettings &mac_settings() {
    auto &slot = settings_slot();
    if (!slot) {
        MacSettings s;
        s.plain_types = type_list_from("MAC_BINARY_TYPES_PLAIN");
        s.hqx_types = type_list_from("MAC_BINARY_TYPES_HQX");
        s.single_types = type_list_from("MAC_BINARY_TYPES_SINGLE");
        s.default_encoding = jolguiglue_getenv("MAC_DEFAULT_RESOURCE_ENCODING");
        if (auto iso = jolguiglue_getenv("ISO8859")) {
            int which = scan_int(*iso);
            s.iso8859 = which == 1 || which == 2 ? which : 0;
        }
        s.maclf = jolguiglue_getenv("JOL_MACLF").has_value();
        s.ic_on_txt = jolguiglue_getenv("IC_ON_TXT").has_value();
        slot = std::move(s);
    }
    return *slot;
}

void mac_settings_reset() { settings_slot().reset(); }

bool isPlainBinary(OSType type) { return contains(mac_settings().plain_types, type); }
bool testHQXEncoding(OSType type) { return contains(mac_settings().hqx_types, type); }
bool testAppleSingleEncoding(OSType type) { return contains(mac_settings().single_types, type); }

void determineEncodingPolicy(OSType type, encodingPolicy &policy) {
    if (isPlainBinary(type))
        policy = eEncodePlainBinary;
    else if (testHQXEncoding(type))
        policy = eEncodeHQX;
    else if (testAppleSingleEncoding(type))
        policy = eEncodeAppleSingle;
    else
        policy = eEncodeDefault;
}

void getDefaultEncodingPolicy(encodingPolicy &policy) {
    const auto &setting = mac_settings().default_encoding;
    if (!setting || *setting == "HQX")
        policy = eEncodeHQX;
    else if (*setting == "AppleSingle")
        policy = eEncodeAppleSingle;
    else
        error(1, 0, "Unknown resource encoding '%s' !\n", *setting);
}
