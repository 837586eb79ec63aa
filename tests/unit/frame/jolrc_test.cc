// Splicing of ~/.jolrc options into argument vectors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "src/jolrc.h"

namespace {

class JolrcTest : public testing::Test {
  protected:
    void SetUp() override {
        home_ = std::filesystem::temp_directory_path() / ("jol-rc-" + std::to_string(getpid()));
        std::filesystem::create_directories(home_);
        setenv("HOME", home_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(home_); }
    void write_rc(const std::string &text) { std::ofstream(home_ / ".jolrc") << text; }

    std::vector<std::string> splice(std::vector<std::string> args, const char *cmd) {
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(args.size());
        char **v = argv.data();
        read_jolrc(&argc, &v, cmd);
        return std::vector<std::string>(v, v + argc);
    }

    std::filesystem::path home_;
};

}  // namespace

TEST_F(JolrcTest, FirstMatchingLineOnlyAfterTheCommandWord) {
    write_rc("# update -q\nupdatex -x\nupdate -P\nupdate -d\n");
    EXPECT_EQ(splice({"update", "-C", "file"}, "update"),
              (std::vector<std::string>{"update", "-P", "-C", "file"}));
}

TEST_F(JolrcTest, WordsSplitAtBlanksAndTabs) {
    write_rc("jol  -q\t-z 3 \n");
    EXPECT_EQ(splice({"jol", "-n", "log"}, "jol"),
              (std::vector<std::string>{"jol", "-q", "-z", "3", "-n", "log"}));
}

TEST_F(JolrcTest, NoFileNoMatchOrHelpLeavesVectorAlone) {
    EXPECT_EQ(splice({"log", "-h"}, "log"), (std::vector<std::string>{"log", "-h"}));
    write_rc("log");  // no white space after the name: no match
    EXPECT_EQ(splice({"log"}, "log"), (std::vector<std::string>{"log"}));
    int argc = -1;
    char *none[] = {nullptr};
    char **v = none;
    read_jolrc(&argc, &v, "log");
    EXPECT_EQ(argc, -1);
    EXPECT_EQ(v, none);
}
