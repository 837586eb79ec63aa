// The password check against JOLROOT/passwd and the switch to the system
// user. The switch runs in a child process (it cannot be undone): as root
// it becomes "nobody", otherwise it switches to the user it already is.
#include <gtest/gtest.h>

#include <crypt.h>
#include <cstdlib>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/identity.h"
#include "src/server/auth.h"

namespace {

std::string hash_of(const char *password) {
    return crypt(password, crypt_gensalt("$6$", 0, nullptr, 0));
}

class RepositoryPasswords : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/jol-auth-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        repo_ = tmpl;
        mkdir((repo_ + "/JOLROOT").c_str(), 0755);
    }
    void TearDown() override { std::system(("rm -rf " + repo_).c_str()); }
    void accounts(const std::string &text) {
        std::ofstream(repo_ + "/JOLROOT/passwd") << text;
    }
    int check(const std::string &user, const std::string &password) {
        host_user_ = "unset";
        return check_repository_password(user, password, repo_, host_user_);
    }

    std::string repo_, host_user_;
};

TEST_F(RepositoryPasswords, NoFileOrNoLineIsNotFound) {
    EXPECT_EQ(check("alice", "pw"), 0);
    accounts("alice2:" + hash_of("pw") + "\nbob::\n");
    EXPECT_EQ(check("alice", "pw"), 0) << "a longer name is another user";
}

TEST_F(RepositoryPasswords, TheHashDecides) {
    accounts("alice:" + hash_of("pw") + ":sysalice\nalice:" + hash_of("second") + "\n");
    EXPECT_EQ(check("alice", "pw"), 1);
    EXPECT_EQ(host_user_, "sysalice");
    EXPECT_EQ(check("alice", "second"), 2) << "only the first line counts";
    EXPECT_EQ(check("alice", ""), 2);
}

TEST_F(RepositoryPasswords, LinesWithoutAHash) {
    accounts("open::\nblank: \t \nmapped::sysuser\nplain\n");
    EXPECT_EQ(check("open", "anything"), 1);
    EXPECT_EQ(host_user_, "open");
    EXPECT_EQ(check("blank", ""), 1);
    EXPECT_EQ(host_user_, "blank");
    EXPECT_EQ(check("mapped", "x"), 1);
    EXPECT_EQ(host_user_, "sysuser");
    EXPECT_EQ(check("plain", "x"), 0) << "no colon: not an account line";
}

TEST_F(RepositoryPasswords, DisabledAndDamagedHashesNeverMatch) {
    std::string good = hash_of("pw");
    accounts("star:*:\nbang:!:\nfail0:*0:\nfail1:*1:\ncut:" + good.substr(0, 20) + ":\n");
    for (const char *user : {"star", "bang", "fail0", "fail1", "cut"})
        for (const char *pw : {"", "pw", "*", "*0", "*1", "!"})
            EXPECT_EQ(check(user, pw), 2) << user << " with " << pw;
}

TEST(CryptMatches, LengthThenEveryByte) {
    std::string h = hash_of("pw");
    EXPECT_TRUE(crypt_matches("pw", h));
    EXPECT_FALSE(crypt_matches("pw", h + "x"));
    EXPECT_FALSE(crypt_matches("pw", h.substr(0, h.size() - 1)));
    std::string other = h;
    other.back() = other.back() == 'a' ? 'b' : 'a';
    EXPECT_FALSE(crypt_matches("pw", other));
    EXPECT_FALSE(crypt_matches("pw", ""));
}

// In the child: the ids, groups, environment and umask after the switch.
bool switched_to(const passwd &pw) {
    uid_t ru, eu, su;
    gid_t rg, eg, sg;
    getresuid(&ru, &eu, &su);
    getresgid(&rg, &eg, &sg);
    bool ok = ru == pw.pw_uid && eu == pw.pw_uid && su == pw.pw_uid && rg == pw.pw_gid &&
              eg == pw.pw_gid && sg == pw.pw_gid;
    ok = ok && setuid(0) != 0;
    ok = ok && std::string(getenv("HOME")) == pw.pw_dir &&
         std::string(getenv("LOGNAME")) == pw.pw_name && std::string(getenv("USER")) == pw.pw_name;
    mode_t mask = umask(022);
    ok = ok && mask == 0;
    if (getuid() != 0) {
        // The groups are the user's own: initgroups' list, nothing more.
        int n = 64;
        std::vector<gid_t> want(64);
        getgrouplist(pw.pw_name, pw.pw_gid, want.data(), &n);
        want.resize(static_cast<size_t>(n));
        std::vector<gid_t> have(static_cast<size_t>(getgroups(0, nullptr)));
        getgroups(static_cast<int>(have.size()), have.data());
        for (gid_t g : have)
            ok = ok && (g == pw.pw_gid || std::find(want.begin(), want.end(), g) != want.end());
    }
    return ok;
}

TEST(SwitchToUserDeathTest, BecomesTheUserForGood) {
    const bool root = geteuid() == 0;
    passwd *p = root ? getpwnam("nobody") : getpwuid(getuid());
    ASSERT_NE(p, nullptr);
    passwd pw = *p;
    std::string name = pw.pw_name, dir = pw.pw_dir;
    pw.pw_name = name.data();
    pw.pw_dir = dir.data();
    EXPECT_EXIT(
        {
            jol_authenticated_user.clear();
            switch_to_user(name);
            std::exit(switched_to(pw) && jol_authenticated_user == name ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
}

TEST(SwitchToUserDeathTest, NeverTheSuperUser) {
    EXPECT_TRUE(is_superuser_account("root"));
    EXPECT_FALSE(is_superuser_account("nobody"));
    EXPECT_EXIT(switch_to_user("root"), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(switch_to_user("no-such-user-here"), testing::ExitedWithCode(1), "");
}

}  // namespace
