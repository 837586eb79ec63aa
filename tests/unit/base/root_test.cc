// Root strings, repository names and the allowed-roots list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "src/base/globals.h"
#include "src/base/root.h"

namespace {

struct Parsed {
    int result;
    std::string err;
};

Parsed parse(const char *root) {
    testing::internal::CaptureStderr();
    int r = parse_jolroot(root);
    return {r, testing::internal::GetCapturedStderr()};
}

}  // namespace

TEST(Root, LocalAndExtForms) {
    ASSERT_EQ(parse("/repo").result, 0);
    EXPECT_EQ(JOLroot_method, local_method);
    EXPECT_EQ(JOLroot_directory, "/repo");
    EXPECT_EQ(client_active, 0);

    ASSERT_EQ(parse("user@host:/repo").result, 0);
    EXPECT_EQ(JOLroot_method, ext_method);
    EXPECT_EQ(JOLroot_username, "user");
    EXPECT_EQ(JOLroot_hostname, "host");
    EXPECT_EQ(JOLroot_directory, "/repo");
    EXPECT_EQ(client_active, 1);

    ASSERT_EQ(parse(":ext:host:/repo").result, 0);
    EXPECT_EQ(JOLroot_method, ext_method);
    EXPECT_TRUE(JOLroot_username.empty());
    EXPECT_EQ(JOLroot_hostname, "host");
}

TEST(Root, PserverWithUserHostAndNoPortInsideTheRest) {
    ASSERT_EQ(parse(":pserver:user@host:/repo").result, 0);
    EXPECT_EQ(JOLroot_method, pserver_method);
    EXPECT_EQ(JOLroot_username, "user");
    EXPECT_EQ(JOLroot_hostname, "host");
    EXPECT_EQ(JOLroot_directory, "/repo");
    // there is no port field in the rest: "2401/repo" is the directory
    ASSERT_EQ(parse(":pserver:user@host:2401/repo").result, 0);
    EXPECT_EQ(JOLroot_directory, "2401/repo");
    // a ":" in the user part stays in the user name
    ASSERT_EQ(parse(":pserver:us:er@host:/r").result, 0);
    EXPECT_EQ(JOLroot_username, "us:er");
    EXPECT_EQ(JOLroot_hostname, "host");
}

TEST(Root, Options) {
    ASSERT_EQ(parse(":pserver;port=2402;proxy=gw;proxyport=8080:u@h:/r").result, 0);
    EXPECT_EQ(JOLroot_port, 2402);
    EXPECT_EQ(JOLroot_proxy, "gw");
    EXPECT_EQ(JOLroot_proxy_port, 8080);
    EXPECT_EQ(JOLroot_directory, "/r");
    ASSERT_EQ(parse(":pserver#port=1:u@h:/r").result, 0);
    EXPECT_EQ(JOLroot_port, 1);
}

TEST(RootDeathTest, FatalOptionErrors) {
    EXPECT_EXIT(parse_jolroot(":pserver;port=:h:/r"), testing::ExitedWithCode(1),
                "no port specified in JOLROOT: port=");
    EXPECT_EXIT(parse_jolroot(":pserver;proxy=:h:/r"), testing::ExitedWithCode(1),
                "no proxy specified in JOLROOT: proxy=");
    EXPECT_EXIT(parse_jolroot(":pserver;proxyport=:h:/r"), testing::ExitedWithCode(1),
                "no proxy port specified in JOLROOT: proxyport=");
    EXPECT_EXIT(parse_jolroot(":pserver;colour=red:h:/r"), testing::ExitedWithCode(1),
                "invalid semicolon expression in JOLROOT: colour=red");
    EXPECT_EXIT(parse_jolroot("relative/dir"), testing::ExitedWithCode(1),
                "JOLROOT relative/dir must be an absolute pathname");
    // the local method takes its rest whole, so a user part is no absolute path
    EXPECT_EXIT(parse_jolroot(":local:u@h:/r"), testing::ExitedWithCode(1),
                "JOLROOT u@h:/r must be an absolute pathname");
}

TEST(Root, RefusedRoots) {
    auto p = parse(":pserver:/repo");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.err, "jol: didn't specify hostname in JOLROOT: :pserver:/repo\n");
    p = parse(":bogus:/repo");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.err, "jol: unknown method in JOLroot: :bogus:/repo\n");
    p = parse(":pserver");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.err, "jol: bad JOLroot: :pserver\n");
    p = parse(":kserver:h:/r");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.err,
              "jol: Your JOLROOT is set for a kerberos access method\n"
              "jol: but your JOL executable doesn't support it\n"
              "jol: (:kserver:h:/r)\n");
    p = parse(":ext:u@:/r");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.err, "jol: missing hostname in JOLROOT: :ext:u@:/r\n");
    p = parse(":ext:host:");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.err, "jol: missing directory in JOLROOT: :ext:host:\n");
}

TEST(Root, ForkKeepsEverythingAsTheDirectory) {
    ASSERT_EQ(parse(":fork:/repo").result, 0);
    EXPECT_EQ(JOLroot_method, fork_method);
    EXPECT_EQ(client_active, 1);
    EXPECT_EQ(JOLroot_directory, "/repo");
    ASSERT_EQ(parse(":fork:u@h:/repo").result, 0);
    EXPECT_EQ(JOLroot_directory, "u@h:/repo");
    EXPECT_TRUE(JOLroot_username.empty());
}

TEST(Root, RepositoryNames) {
    ASSERT_EQ(parse("/r").result, 0);
    EXPECT_EQ(Short_Repository("/r/mod/sub"), "mod/sub");
    EXPECT_EQ(Short_Repository("/r"), "");
    EXPECT_EQ(Short_Repository("/elsewhere/x"), "/elsewhere/x");
    std::string s = "/r/mod/./";
    Sanitize_Repository_Name(s);
    EXPECT_EQ(s, "/r/mod");
    s = "/";
    Sanitize_Repository_Name(s);
    EXPECT_EQ(s, "/");

    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("jol-root-test-" + std::to_string(getpid()));
    fs::create_directories(dir / "JOL");
    std::ofstream(dir / "JOL/Repository") << "mod/sub\n";
    EXPECT_EQ(Name_Repository(dir.c_str(), "wc"), "/r/mod/sub");
    std::ofstream(dir / "JOL/Repository") << "/abs/mod/./\n";
    EXPECT_EQ(Name_Repository(dir.c_str(), "wc"), "/abs/mod");
    std::ofstream(dir / "JOL/Repository") << "../up\n";
    EXPECT_EXIT(Name_Repository(dir.c_str(), "wc"), testing::ExitedWithCode(1),
                "`..'-relative repositories are not supported.\n.*illegal source repository");
    fs::remove_all(dir);
}

TEST(Root, AllowList) {
    root_allow_add("/a");
    root_allow_add("/b");
    EXPECT_EQ(root_allow_ok("/b"), 1);
    EXPECT_EQ(root_allow_ok("/b/"), 0);
    root_allow_free();
    EXPECT_EXIT(root_allow_ok("/a"), testing::ExitedWithCode(1),
                "");
}
