// The front-end's side, driven by scripted children that write raw message
// bytes: lookups answered, console text relayed, QUIT ends the process, and
// a child that sends garbage is dropped.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

#include "gui/frontend.h"
#include "wire_bytes.h"

namespace {

// printf format that writes exactly these bytes.
std::string printf_bytes(const std::string &bytes) {
    std::string out;
    char buf[8];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "\\%03o", c);
        out += buf;
    }
    return out;
}

struct Seen {
    std::vector<std::string> out, err, lookups, trace;
    std::vector<int> exits;
};

class FrontendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        char tmpl[] = "/tmp/jolgui-frontend.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // A child that runs `body` with $2 and $3 the link's descriptors.
    std::string script(const std::string &body) {
        std::string path = dir + "/peer.sh";
        std::ofstream(path) << "#!/bin/sh\n" << body;
        chmod(path.c_str(), 0755);
        return path;
    }
    JolProcessCallbacks callbacks() {
        JolProcessCallbacks cb;
        cb.consoleout = [this](const char *t, size_t n) { seen.out.emplace_back(t, n); };
        cb.consoleerr = [this](const char *t, size_t n) { seen.err.emplace_back(t, n); };
        cb.getenv = [this](const char *name) -> std::optional<std::string> {
            seen.lookups.push_back(name);
            if (std::string(name) == "FOO")
                return std::string("bar");
            return std::nullopt;
        };
        cb.exit = [this](int code) { seen.exits.push_back(code); };
        cb.trace = [this](std::string_view line) { seen.trace.emplace_back(line); };
        return cb;
    }
    void run_to_end(JolProcess *p) {
        auto start = std::chrono::steady_clock::now();
        while (p->open && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
            jol_process_give_time();
        ASSERT_FALSE(p->open);
    }
    std::string dir;
    Seen seen;
};

TEST_F(FrontendTest, ServesAChildThroughToItsQuit) {
    std::string answer_file = dir + "/answers";
    std::string unset_answer = dir + "/unset";
    std::string body =
        "printf '" + printf_bytes(Bytes().i32(1).i8(0).str("FOO").b) + "' >&$3\n" +
        "head -c 13 <&$2 >'" + answer_file + "'\n" +
        "printf '" + printf_bytes(Bytes().i32(1).i8(0).str("NOPE").b) + "' >&$3\n" +
        "head -c 9 <&$2 >'" + unset_answer + "'\n" +
        "printf '" + printf_bytes(Bytes().i32(2).i8(0).i32(5).str("hello").b) + "' >&$3\n" +
        // A len beyond the bytes that came is not believed.
        "printf '" + printf_bytes(Bytes().i32(2).i8(1).i32(100).str(std::string_view("a\0b", 3)).b) + "' >&$3\n" +
        "printf '" + printf_bytes(Bytes().i32(0).i32(7).b) + "' >&$3\n" + "echo \"$1\" >'" + dir +
        "/arg1'\n";
    const char *args[] = {"extra"};
    JolProcess *p = jol_process_run(script(body).c_str(), 1, args, callbacks(), nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->args[1], "-jolgui");
    EXPECT_EQ(p->args.back(), "extra");
    run_to_end(p);

    EXPECT_TRUE(p->quit_received);
    EXPECT_EQ(seen.exits, std::vector<int>{7});
    EXPECT_EQ(seen.lookups, (std::vector<std::string>{"FOO", "NOPE"}));
    EXPECT_EQ(seen.out, std::vector<std::string>{"hello"});
    EXPECT_EQ(seen.err, std::vector<std::string>{std::string("a\0b", 3)});

    std::stringstream a, u;
    a << std::ifstream(answer_file).rdbuf();
    u << std::ifstream(unset_answer).rdbuf();
    EXPECT_EQ(a.str(), Bytes().i32(1).i8(0).str("bar").b);
    EXPECT_EQ(u.str(), Bytes().i32(1).i8(1).i32(0).b);
    EXPECT_EQ(seen.trace.back(), "QUIT 7");
    EXPECT_TRUE(WIFEXITED(p->wait_status));
    jol_process_forget(p);
}

TEST_F(FrontendTest, GarbageDropsTheChild) {
    std::string body = "printf '" + printf_bytes(Bytes().i32(9).i32(0).b) + "' >&$3\nexec sleep 30\n";
    auto start = std::chrono::steady_clock::now();
    JolProcess *p = jol_process_run(script(body).c_str(), 0, nullptr, callbacks(), nullptr);
    ASSERT_NE(p, nullptr);
    run_to_end(p);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(p->quit_received);
    EXPECT_TRUE(seen.exits.empty());
    EXPECT_TRUE(WIFSIGNALED(p->wait_status));
    EXPECT_EQ(seen.trace, std::vector<std::string>{"CLOSED"});
    jol_process_forget(p);
}

TEST_F(FrontendTest, AProgramThatCannotStartEndsWithStatusOne) {
    JolProcess *p = jol_process_run((dir + "/missing").c_str(), 0, nullptr, callbacks(), nullptr);
    ASSERT_NE(p, nullptr);
    run_to_end(p);
    EXPECT_FALSE(p->quit_received);
    EXPECT_TRUE(WIFEXITED(p->wait_status));
    EXPECT_EQ(WEXITSTATUS(p->wait_status), 1);
    jol_process_forget(p);
}

}  // namespace
