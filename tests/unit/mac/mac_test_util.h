// Scratch directories, file helpers and a clean conversion environment for
// the Macintosh conversion tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "mac/binhex_coding.h"
#include "mac/convert.h"
#include "mac/platform.h"

namespace fs = std::filesystem;

// A fresh directory removed with everything in it at the end of the test.
class MacScratch {
  public:
    MacScratch() {
        static int n = 0;
        dir_ = fs::temp_directory_path() /
               ("jol-mac-" + std::to_string(getpid()) + "-" + std::to_string(++n));
        fs::create_directories(dir_);
    }
    ~MacScratch() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string operator/(const std::string &name) const { return (dir_ / name).string(); }
    const fs::path &path() const { return dir_; }
    // Names of everything in the directory, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool attributes() const { return mac_platform::attributes_supported(dir_.c_str()); }

  private:
    fs::path dir_;
};

inline void write_bytes(const std::string &p, const std::string &bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string read_bytes(const std::string &p) {
    std::stringstream ss;
    ss << std::ifstream(p, std::ios::binary).rdbuf();
    return ss.str();
}

inline bool exists(const std::string &p) { return access(p.c_str(), F_OK) == 0; }

// `v` as `bytes` big-endian bytes.
inline std::string be(uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i)
        s += char(uint8_t(v >> (8 * i)));
    return s;
}

// The BinHex text of an uncoded stream.
inline std::string hqx_text(const std::string &raw) {
    std::string text = std::string(binhex::header_line) + "\n";
    binhex::TextWriter coder(text);
    binhex::RunWriter runs(coder);
    runs.put(raw.data(), raw.size());
    runs.finish();
    coder.finish();
    return text;
}

// Every byte value, several times, with runs and 0x90 bytes mixed in.
inline std::string varied_bytes(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; ++i) {
        s += char(i * 37 % 256);
        if (i % 50 == 0)
            s.append(i % 300, char(i % 7 == 0 ? 0x90 : i % 256));
    }
    s.resize(n);
    return s;
}

// Clears every conversion setting before and after a test.
class MacEnv : public testing::Test {
  protected:
    static constexpr const char *variables[] = {
        "MAC_BINARY_TYPES_PLAIN", "MAC_BINARY_TYPES_HQX", "MAC_BINARY_TYPES_SINGLE",
        "MAC_DEFAULT_RESOURCE_ENCODING", "ISO8859", "JOL_MACLF", "IC_ON_TXT"};
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        for (const char *v : variables)
            unsetenv(v);
        mac_settings_reset();
    }
    static void set(const char *name, const char *value) {
        setenv(name, value, 1);
        mac_settings_reset();
    }
};

// Runs each test twice: with the file system's own attributes, and as on a
// file system that refuses them.
class WithAndWithoutAttributes : public MacEnv, public testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        MacEnv::SetUp();
        mac_platform::refuse_attributes_for_testing(GetParam());
    }
    void TearDown() override {
        mac_platform::refuse_attributes_for_testing(false);
        MacEnv::TearDown();
    }
};

inline std::string attribute_mode_name(const testing::TestParamInfo<bool> &info) {
    return info.param ? "AttributesRefused" : "FileSystemAttributes";
}

// A Macintosh file with a type, creator, flags and resource fork; false when
// the file system cannot keep them.
inline bool make_mac_file(const std::string &path, const std::string &data, const char (&type)[5],
                          const char (&creator)[5], uint16_t flags, const std::string &rsrc) {
    write_bytes(path, data);
    mac_platform::FinderInfo info;
    info.set_type(mac_platform::fourcc(type));
    info.set_creator(mac_platform::fourcc(creator));
    info.set_flags(flags);
    info.bytes[20] = 0x5A;  // something in the extended information too
    return mac_platform::set_finder_info(path.c_str(), info) == 0 &&
           mac_platform::set_resource_fork(path.c_str(), rsrc) == 0;
}
