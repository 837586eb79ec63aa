// Byte layout of the link's messages, the field encodings and the wire's
// behaviour against hostile input.
#include <gtest/gtest.h>

#include <csignal>

#include "gui/messages.h"
#include "gui/staging.h"
#include "gui/wire.h"
#include "wire_bytes.h"

namespace {

// A reader that serves a fixed byte string and records what was asked of it.
std::string scripted;
size_t scripted_pos = 0;
size_t largest_request = 0;
size_t total_requested = 0;

int scripted_read(int, uint8_t *buf, size_t count) {
    largest_request = std::max(largest_request, count);
    total_requested += count;
    if (scripted.size() - scripted_pos < count)
        return 0;
    std::memcpy(buf, scripted.data() + scripted_pos, count);
    scripted_pos += count;
    return 1;
}

class WireTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_wire_layer();
    }
    void TearDown() override {
        wire_set_reader(nullptr);
        wire_clear_error();
    }
    void script(const std::string &bytes) {
        scripted = bytes;
        scripted_pos = 0;
        largest_request = total_requested = 0;
        wire_set_reader(scripted_read);
    }
    Pipe p;
};

TEST_F(WireTest, ConsoleMessageLayout) {
    ASSERT_EQ(gp_console_write(p.w, "hello", 5, 0), 1);
    EXPECT_EQ(p.drain(), Bytes().i32(2).i8(0).i32(5).str("hello").b);

    // A zero byte inside the text does not cut it: len and the string's
    // length prefix both count every byte.
    ASSERT_EQ(gp_console_write(p.w, "ab\0cd", 5, 1), 1);
    EXPECT_EQ(p.drain(), Bytes().i32(2).i8(1).i32(5).str(std::string_view("ab\0cd", 5)).b);

    ASSERT_EQ(gp_console_write(p.w, "", 0, 0), 1);
    EXPECT_EQ(p.drain(), Bytes().i32(2).i8(0).i32(0).str("").b);
}

TEST_F(WireTest, QuitAndGetenvLayout) {
    ASSERT_EQ(gp_quit_write(p.w, 1), 1);
    EXPECT_EQ(p.drain(), Bytes().i32(0).i32(1).b);
    ASSERT_EQ(gp_quit_write(p.w, -1), 1);
    EXPECT_EQ(p.drain(), Bytes().i32(0).i32(0xffffffffu).b);

    ASSERT_EQ(gp_getenv_write(p.w, std::string("HOME")), 1);
    EXPECT_EQ(p.drain(), Bytes().i32(1).i8(0).str("HOME").b);
    // "Not set" travels as empty = 1 and a null string.
    ASSERT_EQ(gp_getenv_write(p.w, std::nullopt), 1);
    EXPECT_EQ(p.drain(), Bytes().i32(1).i8(1).i32(0).b);
}

TEST_F(WireTest, MessagesReadBackWhole) {
    gp_console_write(p.w, "x\0y", 3, 1);
    gp_getenv_write(p.w, std::nullopt);
    gp_getenv_write(p.w, std::string(""));
    gp_quit_write(p.w, 42);

    WireMessage m;
    ASSERT_EQ(wire_read_msg(p.r, &m), 1);
    ASSERT_EQ(m.type, GP_CONSOLE);
    auto *c = static_cast<GPT_CONSOLE *>(m.data);
    EXPECT_EQ(c->isStderr, 1);
    EXPECT_EQ(c->len, 3);
    EXPECT_EQ(*c->str, std::string("x\0y", 3));
    wire_destroy(&m);

    ASSERT_EQ(wire_read_msg(p.r, &m), 1);
    EXPECT_EQ(gp_getenv_value(*static_cast<GPT_GETENV *>(m.data)), std::nullopt);
    wire_destroy(&m);
    ASSERT_EQ(wire_read_msg(p.r, &m), 1);
    EXPECT_EQ(gp_getenv_value(*static_cast<GPT_GETENV *>(m.data)), std::string(""));
    wire_destroy(&m);

    ASSERT_EQ(wire_read_msg(p.r, &m), 1);
    ASSERT_EQ(m.type, GP_QUIT);
    EXPECT_EQ(static_cast<GPT_QUIT *>(m.data)->code, 42);
    wire_destroy(&m);
}

TEST_F(WireTest, FieldEncodings) {
    wire_set_writer(nullptr);
    uint16_t shorts[2] = {0x1234, 0xfffe};
    double d = -1234.5e-7;
    std::optional<std::string> strs[2] = {std::nullopt, std::string("abc")};
    ASSERT_EQ(wire_write_int16(p.w, shorts, 2), 1);
    ASSERT_EQ(wire_write_double(p.w, &d, 1), 1);
    ASSERT_EQ(wire_write_string(p.w, strs, 2), 1);

    std::string bytes = p.drain();
    char expect_double[128];
    std::snprintf(expect_double, sizeof expect_double, "%0.50e", d);
    std::string shorts_raw(reinterpret_cast<char *>(shorts), 4);
    EXPECT_EQ(bytes, Bytes().raw(shorts_raw).str(expect_double).i32(0).str("abc").b);

    p.put(bytes);
    uint16_t shorts_back[2];
    double d_back;
    std::optional<std::string> strs_back[2] = {std::string("junk"), std::nullopt};
    ASSERT_EQ(wire_read_int16(p.r, shorts_back, 2), 1);
    ASSERT_EQ(wire_read_double(p.r, &d_back, 1), 1);
    ASSERT_EQ(wire_read_string(p.r, strs_back, 2), 1);
    EXPECT_EQ(shorts_back[0], 0x1234);
    EXPECT_EQ(shorts_back[1], 0xfffe);
    EXPECT_DOUBLE_EQ(d_back, d);
    EXPECT_EQ(strs_back[0], std::nullopt);
    EXPECT_EQ(strs_back[1], std::string("abc"));
}

TEST_F(WireTest, UnknownTypesAreNeitherWrittenNorRead) {
    GPT_QUIT rec;
    WireMessage out{99, &rec};
    EXPECT_EQ(wire_write_msg(p.w, &out), 0);
    EXPECT_EQ(p.pending(), 0u);
    EXPECT_EQ(wire_error(), 0) << "nothing was sent, the stream is intact";

    script(Bytes().i32(99).i32(0).b);
    WireMessage in;
    EXPECT_EQ(wire_read_msg(p.r, &in), 0);
    EXPECT_EQ(in.data, nullptr);
}

TEST_F(WireTest, ErrorFlagIsSticky) {
    script(Bytes().i32(1).i8(0).i32(10).raw("abc").b);  // string cut short
    WireMessage m;
    EXPECT_EQ(wire_read_msg(p.r, &m), 0);
    EXPECT_EQ(m.data, nullptr);
    EXPECT_NE(wire_error(), 0);

    // Nothing moves until the flag is cleared.
    EXPECT_EQ(gp_console_write(p.w, "hi", 2, 0), 0);
    EXPECT_EQ(p.pending(), 0u);
    script(Bytes().i32(0).i32(5).b);
    EXPECT_EQ(wire_read_msg(p.r, &m), 0);
    EXPECT_EQ(scripted_pos, 0u);

    wire_clear_error();
    EXPECT_EQ(wire_read_msg(p.r, &m), 1);
    wire_destroy(&m);
    EXPECT_EQ(gp_console_write(p.w, "hi", 2, 0), 1);
    EXPECT_EQ(p.drain(), Bytes().i32(2).i8(0).i32(2).str("hi").b);
}

TEST_F(WireTest, HostileStringLengths) {
    std::optional<std::string> s;

    // Over the cap: refused before reading a single byte of it.
    script(Bytes().i32(kWireStringMax + 1).raw("xxxx").b);
    EXPECT_EQ(wire_read_string(p.r, &s, 1), 0);
    EXPECT_EQ(scripted_pos, 4u);
    wire_clear_error();

    script(Bytes().i32(0xffffffffu).b);
    EXPECT_EQ(wire_read_string(p.r, &s, 1), 0);
    wire_clear_error();

    // Within the cap but mostly missing: memory follows what arrives, asked
    // for in bounded pieces.
    script(Bytes().i32(kWireStringMax).raw(std::string(100, 'x')).b);
    EXPECT_EQ(wire_read_string(p.r, &s, 1), 0);
    EXPECT_LE(largest_request, 64u * 1024);
    EXPECT_LE(total_requested, 4u + 64 * 1024);
    wire_clear_error();

    // The last byte must be the terminator.
    script(Bytes().i32(3).raw("abc").b);
    EXPECT_EQ(wire_read_string(p.r, &s, 1), 0);
    wire_clear_error();

    // A string spanning several pieces arrives whole.
    std::string big(200000, 'q');
    big[150000] = '\0';
    script(Bytes().str(big).b);
    ASSERT_EQ(wire_read_string(p.r, &s, 1), 1);
    EXPECT_EQ(*s, big);
}

TEST_F(WireTest, TruncatedMessagesFailAtEveryCut) {
    std::string whole = Bytes().i32(2).i8(0).i32(5).str("hello").b;
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        script(whole.substr(0, cut));
        WireMessage m;
        EXPECT_EQ(wire_read_msg(p.r, &m), 0) << "cut at " << cut;
        EXPECT_EQ(m.data, nullptr);
        wire_clear_error();
    }
    script(whole);
    WireMessage m;
    EXPECT_EQ(wire_read_msg(p.r, &m), 1);
    wire_destroy(&m);
}

TEST_F(WireTest, RawReadSeesEndOfFile) {
    wire_set_writer(nullptr);
    p.put(Bytes().i32(0).b);
    p.close_w();
    WireMessage m;
    EXPECT_EQ(wire_read_msg(p.r, &m), 0);
    EXPECT_NE(wire_error(), 0);
}

}  // namespace
