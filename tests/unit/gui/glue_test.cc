// The child's side of the link: lookups answered by the front-end, yes/no
// questions, the final QUIT, and the protocol-error exit on hostile answers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "gui/gui_glue.h"
#include "gui/messages.h"
#include "gui/wire.h"
#include "src/base/console.h"
#include "src/base/error.h"
#include "wire_bytes.h"

namespace {

// `to_child` carries the front-end's answers, `from_child` the messages of
// the code under test.
class GlueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        _jolgui_readfd = to_child.r;
        _jolgui_writefd = from_child.w;
        jol_process_init();
        wire_clear_error();
    }
    void TearDown() override {
        _jolgui_readfd = 0;
        _jolgui_writefd = 0;
        wire_clear_error();
    }
    void answer(std::optional<std::string> value, bool empty) {
        Bytes b;
        b.i32(1).i8(empty ? 1 : 0);
        if (value)
            b.str(*value);
        else
            b.i32(0);
        to_child.put(b.b);
    }
    // The messages the child sent, decoded: "TYPE:text".
    std::vector<std::string> sent() {
        std::vector<std::string> out;
        from_child.close_w();
        wire_clear_error();
        for (;;) {
            WireMessage m;
            if (!wire_read_msg(from_child.r, &m))
                break;
            if (m.type == GP_QUIT)
                out.push_back("QUIT:" + std::to_string(static_cast<GPT_QUIT *>(m.data)->code));
            else if (m.type == GP_CONSOLE)
                out.push_back("CONSOLE:" + *static_cast<GPT_CONSOLE *>(m.data)->str);
            else
                out.push_back("GETENV:" + static_cast<GPT_GETENV *>(m.data)->str.value_or("(null)"));
            wire_destroy(&m);
        }
        wire_clear_error();
        return out;
    }
    Pipe to_child, from_child;
};

TEST_F(GlueTest, LookupsAskTheFrontEnd) {
    answer("/home/u", false);
    EXPECT_EQ(jolguiglue_getenv("HOME"), std::string("/home/u"));
    EXPECT_EQ(from_child.drain(), Bytes().i32(1).i8(0).str("HOME").b);

    // "empty" means not set, whatever string comes with it.
    answer(std::nullopt, true);
    EXPECT_EQ(jolguiglue_getenv("JOLROOT"), std::nullopt);
    answer("ignored", true);
    EXPECT_EQ(jolguiglue_getenv("JOLROOT"), std::nullopt);
    // An empty string is a value.
    answer("", false);
    EXPECT_EQ(jolguiglue_getenv("JOLROOT"), std::string(""));

    EXPECT_EQ(jolguiglue_getenv(nullptr), std::nullopt);
    from_child.drain();

    // The password comes from the front-end; the prompt stays here.
    answer("secret", false);
    EXPECT_EQ(jolguiglue_getpass("Password: "), std::string("secret"));
    EXPECT_EQ(from_child.drain(), Bytes().i32(1).i8(0).str("JOL_GETPASS").b);
}

TEST_F(GlueTest, YesNoTakesOnlyExactlyYes) {
    struct Case {
        const char *answer;
        int yes;
    } cases[] = {{"yes", 1}, {"Yes", 0}, {"y", 0}, {"", 0}, {"yes ", 0}};
    for (const Case &c : cases) {
        answer(c.answer, false);
        EXPECT_EQ(yesno(), c.yes) << c.answer;
        // The question's line ends first, then the lookup goes out.
        EXPECT_EQ(from_child.drain(),
                  Bytes().i32(2).i8(0).i32(1).str("\n").i32(1).i8(0).str("JOLLIB_YESNO").b);
    }
}

TEST_F(GlueTest, WithoutAReadDescriptorTheRealEnvironmentAnswers) {
    _jolgui_readfd = 0;
    setenv("JOL_GLUE_TEST", "plain", 1);
    EXPECT_EQ(jolguiglue_getenv("JOL_GLUE_TEST"), std::string("plain"));
    EXPECT_EQ(jolguiglue_getenv("JOL_GLUE_TEST_UNSET"), std::nullopt);
    setenv("JOLLIB_YESNO", "yes", 1);
    EXPECT_EQ(yesno(), 1);
    unsetenv("JOLLIB_YESNO");
    unsetenv("JOL_GLUE_TEST");
    // Only the question's newline went out.
    EXPECT_EQ(from_child.drain(), Bytes().i32(2).i8(0).i32(1).str("\n").b);
}

TEST_F(GlueTest, DescriptorsThatAreNotOpenMeanNoLink) {
    _jolgui_readfd = 1000;
    _jolgui_writefd = 1001;
    jol_process_init();
    EXPECT_EQ(_jolgui_readfd, 0);
    EXPECT_EQ(_jolgui_writefd, 0);
    EXPECT_FALSE(gui_link_active());
}

TEST_F(GlueTest, ExitSendsOneQuit) {
    EXPECT_EXIT(jolguiglue_exit(3), ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(sent(), std::vector<std::string>{"QUIT:3"});
}

TEST_F(GlueTest, FatalErrorSendsItsLineThenOneQuit) {
    EXPECT_EXIT(error(1, 0, "cannot %s", "go on"), ::testing::ExitedWithCode(1), "");
    std::vector<std::string> msgs = sent();
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ(msgs[msgs.size() - 3], "CONSOLE:cannot go on");
    EXPECT_EQ(msgs[msgs.size() - 2], "CONSOLE:\n");
    EXPECT_EQ(msgs.back(), "QUIT:1");
    EXPECT_EQ(std::count(msgs.begin(), msgs.end(), "QUIT:1"), 1);
}

void cleanup_marker() { std::fputs("cleanup ran\n", stderr); }

TEST_F(GlueTest, HostileAnswersEndInTheProtocolError) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const std::string hostile[] = {
        Bytes().i32(1).i8(0).i32(10).raw("abc").b,            // string cut short
        Bytes().i32(1).i8(0).i32(0x7fffffff).raw("abc").b,    // absurd length
        Bytes().i32(1).i8(0).i32(kWireStringMax + 1).b,       // over the cap
        Bytes().i32(0).i32(0).b,                               // a QUIT, not an answer
        Bytes().i32(7).i32(0).b,                               // an unknown type
        Bytes().i32(1).b,                                      // nothing after the type
        std::string(),                                         // the front-end is gone
    };
    register_cleanup(CleanupStage::temp_files, cleanup_marker);
    for (const std::string &bytes : hostile) {
        Pipe answers;
        answers.put(bytes);
        answers.close_w();
        _jolgui_readfd = answers.r;
        EXPECT_EXIT(jolguiglue_getenv("HOME"), ::testing::ExitedWithCode(255),
                    "^jolgui protocol error !\ncleanup ran\n$");
    }
    deregister_cleanup(CleanupStage::temp_files, cleanup_marker);
}

}  // namespace
