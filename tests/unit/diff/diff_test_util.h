// Running the engines on texts written to a scratch directory and
// capturing what they print.
#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <unistd.h>
#include <vector>

#include "diff/diffrun.h"

struct EngineRun {
    int status = -1;
    std::string out;     // compared output
    std::string info;    // version and help
    std::string errors;  // one message per line
};

namespace diff_test {

inline EngineRun *current = nullptr;

inline void on_output(const char *text, size_t len) { current->out.append(text, len); }
inline void on_flush() {}
inline void on_stdout(const char *text) { current->info += text; }
inline void on_error(const char *format, const char *a1, const char *a2) {
    char buf[4096];
    std::snprintf(buf, sizeof buf, format, a1, a2);
    current->errors += buf;
    current->errors += '\n';
}

}  // namespace diff_test

class Scratch {
  public:
    Scratch() {
        char templ[] = "/tmp/jol-difftest-XXXXXX";
        dir_ = mkdtemp(templ);
    }
    ~Scratch() { std::filesystem::remove_all(dir_); }
    std::string file(const std::string &name, const std::string &text) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

template <class Engine>
EngineRun run_engine(Engine engine, const std::vector<std::string> &args, const char *out = nullptr) {
    EngineRun r;
    diff_test::current = &r;
    diff_callbacks cb{out ? nullptr : diff_test::on_output, out ? nullptr : diff_test::on_flush,
                      diff_test::on_stdout, diff_test::on_error};
    std::vector<std::string> copy = args;
    std::vector<char *> argv;
    for (std::string &s : copy)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    r.status = engine(static_cast<int>(copy.size()), argv.data(), out, &cb);
    diff_test::current = nullptr;
    return r;
}

inline EngineRun run_diff(std::vector<std::string> args) {
    args.insert(args.begin(), "diff");
    return run_engine(diff_run, args);
}

inline EngineRun run_diff3(std::vector<std::string> args) {
    args.insert(args.begin(), "diff3");
    return run_engine(diff3_run, args);
}

// Compares two texts with `options`.
inline EngineRun diff_texts(const std::string &a, const std::string &b,
                            std::vector<std::string> options = {}) {
    Scratch s;
    options.push_back(s.file("a", a));
    options.push_back(s.file("b", b));
    return run_diff(options);
}
