// Fuzz target for the comparison engine: the input is split into two files
// at its first zero byte (the second file is the rest); every output style
// is run on the pair, and a three-way merge of the first file with itself.
// Checked invariants: "no differences" holds exactly for byte-equal files,
// and merging a file with itself gives it back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "diff/diffrun.h"

namespace {

std::string captured;

void capture(const char *text, size_t len) { captured.append(text, len); }
void flush() {}
void info(const char *) {}
void report(const char *, const char *, const char *) {}

const diff_callbacks callbacks = {capture, flush, info, report};

std::string scratch_dir() {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/jol-diff-fuzz-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    return dir;
}

void write_file(const std::string &path, std::string_view data) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp)
        std::abort();
    std::fwrite(data.data(), 1, data.size(), fp);
    std::fclose(fp);
}

int run(int (*engine)(int, char **, const char *, const diff_callbacks *),
        std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    captured.clear();
    return engine(static_cast<int>(args.size()), argv.data(), nullptr, &callbacks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    size_t cut = input.find('\0');
    std::string_view a = input.substr(0, cut);
    std::string_view b = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
    const std::string dir = scratch_dir();
    const std::string fa = dir + "/a", fb = dir + "/b";
    write_file(fa, a);
    write_file(fb, b);

    static const std::vector<std::vector<std::string>> styles = {
        {}, {"-c"}, {"-u"}, {"-U0"}, {"-e"}, {"-f"}, {"-n"}, {"-y", "-W", "60"},
        {"-D", "X"}, {"-a", "-p"}, {"-b", "-w", "-B", "-i"}, {"-d", "-H"},
        {"-I", "^#", "-u"}, {"-F", "^[a-z]", "-c"}, {"--horizon-lines=2", "-u"},
    };
    bool equal = a == b;
    for (const auto &style : styles) {
        std::vector<std::string> args{"diff"};
        args.insert(args.end(), style.begin(), style.end());
        args.push_back(fa);
        args.push_back(fb);
        int status = run(diff_run, args);
        if (status < 0 || status > 2)
            std::abort();
        // Without options that ignore anything, equal bytes mean status 0
        // and different bytes status 1 (or 2 for trouble).
        if (style.empty() && equal != (status == 0))
            std::abort();
    }

    int status = run(diff3_run, {"diff3", "-E", "-am", fa, fa, fa});
    if (status == 0 && captured != a)
        std::abort();
    run(diff3_run, {"diff3", "-E", "-am", "-L", "mine", "-L", "old", "-L", "yours", fa, fb, fa});
    return 0;
}
