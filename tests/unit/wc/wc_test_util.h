// Scratch working directories for the working-copy tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

// A fresh directory that is the current directory for the test's lifetime.
class ScratchDir {
  public:
    ScratchDir() {
        static int n = 0;
        dir_ = fs::temp_directory_path() /
               ("jol-wc-" + std::to_string(getpid()) + "-" + std::to_string(++n));
        fs::create_directories(dir_);
        old_ = fs::current_path();
        fs::current_path(dir_);
    }
    ~ScratchDir() {
        fs::current_path(old_);
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    const fs::path &path() const { return dir_; }

  private:
    fs::path dir_, old_;
};

inline void write_text(const fs::path &p, const std::string &text) {
    fs::create_directories(p.parent_path().empty() ? "." : p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

inline std::string read_text(const fs::path &p) {
    std::stringstream ss;
    ss << std::ifstream(p, std::ios::binary).rdbuf();
    return ss.str();
}
