// Hostile and damaged archives: every truncation of every fixture, and
// hand-made faults, must end in a clean result or a clean fatal error that
// names the archive; never a crash, a hang or an out-of-bounds read.
#include "tests/unit/rcs/rcs_test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path &p) {
    std::stringstream ss;
    ss << std::ifstream(p, std::ios::binary).rdbuf();
    return ss.str();
}

// Reads everything the archive holds; runs in a child process.
void exercise(const std::string &dir, const char *name) {
    RCSNode *rcs = RCS_parse(name, dir.c_str());
    if (!rcs)
        _exit(0);
    RCS_fully_parse(rcs);
    RCS_symbols(rcs);
    RCS_getlocks(rcs);
    std::vector<std::string> revs;
    JOL_FOR_EACH_NODE(rcs->versions, p) revs.push_back(*p->key);
    for (const std::string &r : revs) {
        std::string text;
        RCS_checkout(
            rcs, nullptr, r.c_str(), nullptr, nullptr, nullptr,
            [](void *d, const char *t, size_t n) { static_cast<std::string *>(d)->append(t, n); },
            &text);
        RCS_deltas(rcs, r.c_str(), RCS_ANNOTATE, nullptr, nullptr);
        RCS_getversion(rcs, "br", nullptr, 0, nullptr);
        RCS_getdate(rcs, "2020.01.02.00.00.00", 0);
    }
    freercsnode(&rcs);
    _exit(0);
}

struct Outcome {
    bool exited;
    int code;
    std::string err;
};

Outcome run_child(const std::string &dir, const char *name) {
    int errpipe[2];
    if (pipe(errpipe) != 0)
        return {false, -1, "pipe"};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(errpipe[1], 2);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        alarm(20);
        exercise(dir, name);
    }
    close(errpipe[1]);
    std::string err;
    char buf[4096];
    ssize_t n;
    while ((n = read(errpipe[0], buf, sizeof buf)) > 0)
        err.append(buf, n);
    close(errpipe[0]);
    int status;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status), WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status), err};
}

class Scratch {
  public:
    Scratch() : dir_(fs::temp_directory_path() / ("jol-bad-" + std::to_string(getpid()))) {
        fs::create_directories(dir_);
    }
    ~Scratch() { fs::remove_all(dir_); }
    void write(const std::string &name, const std::string &bytes) {
        std::ofstream(dir_ / (name + ",v"), std::ios::binary) << bytes;
    }
    std::string dir() const { return dir_.string(); }

  private:
    fs::path dir_;
};

void expect_clean(const Outcome &o, const std::string &what) {
    EXPECT_TRUE(o.exited) << what << ": killed by signal " << o.code << "\n" << o.err;
    EXPECT_TRUE(o.code == 0 || o.code == 1) << what << ": exit " << o.code << "\n" << o.err;
    EXPECT_EQ(o.err.find("runtime error"), std::string::npos) << what << "\n" << o.err;
    EXPECT_EQ(o.err.find("AddressSanitizer"), std::string::npos) << what << "\n" << o.err;
}

}  // namespace

TEST(RcsMalformed, EveryTruncationOfEveryFixture) {
    Scratch s;
    int fatal = 0, total = 0;
    for (const char *fixture : {"trunk.c", "nonl.txt", "binary.bin", "keywords.c"}) {
        std::string bytes = read_file(rcs_repo() + "/" + fixture + ",v");
        for (size_t len = 0; len < bytes.size(); ++len) {
            s.write("t", bytes.substr(0, len));
            Outcome o = run_child(s.dir(), "t");
            std::string what = std::string(fixture) + " cut at " + std::to_string(len);
            expect_clean(o, what);
            ++total;
            if (o.code == 1) {
                ++fatal;
                EXPECT_NE(o.err.find("t,v"), std::string::npos)
                    << what << ": message does not name the archive:\n" << o.err;
            }
        }
    }
    EXPECT_GT(fatal, total / 2);  // most cuts leave a broken archive
}

TEST(RcsMalformed, HandMadeFaults) {
    Scratch s;
    std::string good = read_file(rcs_repo() + "/trunk.c,v");
    auto replace = [&](const std::string &from, const std::string &to) {
        std::string b = good;
        size_t at = b.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return b.replace(at, from.size(), to);
    };
    const std::pair<std::string, std::string> cases[] = {
        {"huge revision number", replace("1.2.2.2\ndate", std::string(10000, '7') + "\ndate")},
        {"symbol without colon", replace("rel1:1.1", "rel1")},
        {"next names a missing revision", replace("next\t1.1;", "next\t1.9;")},
        {"next loops to itself", replace("next\t1.1;", "next\t1.2;")},
        {"script past the text", replace("@d4 1\n@", "@d40 1\n@")},
        {"insert past the text", replace("@a0 1\nline0\n@", "@a99 1\nline0\n@")},
        {"unterminated string", good.substr(0, good.find("line4")) },
        {"missing author", replace("author alice;", "")},
        {"missing state", replace("state Exp;\nbranches;\nnext\t1.2;", "branches;\nnext\t1.2;")},
        {"garbage after string", replace("@third\n@", "@third\n@x")},
        {"zero-length deletes at line 0", replace("@d4 1\n@", "@d0 1\n@")},
        {"count overflow", replace("@d4 1\n@", "@d4 99999999999999999999\n@")},
        {"binary junk", std::string("\x01\x02\x03;\xff\xfe@@@;;;", 12)},
        {"only desc", "head 1.1;\ndesc @@\n"},
    };
    for (const auto &[what, bytes] : cases) {
        s.write("t", bytes);
        expect_clean(run_child(s.dir(), "t"), what);
    }
}
