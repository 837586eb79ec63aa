// BinHex: the CRC, run-length and six-bit layers, whole-file round trips,
// and streams that lie about their lengths or checksums.
#include "mac/binhex.h"

#include <gtest/gtest.h>

#include "mac_test_util.h"

namespace {

using mac_platform::fourcc;

// The uncoded stream of a file, with optional damage to the data CRC or the
// announced lengths.
struct Stream {
    std::string name;
    std::string data = "data fork";
    std::string rsrc = "resource fork";
    uint32_t type = fourcc("APPL"), creator = fourcc("abcd");
    uint16_t flags = 0x0100;
    std::optional<uint32_t> data_len, rsrc_len;
    bool bad_data_crc = false;

    std::string raw() const {
        std::string h = char(name.size()) + name + '\0' + be(type, 4) + be(creator, 4) + be(flags, 2) +
                        be(data_len.value_or(uint32_t(data.size())), 4) +
                        be(rsrc_len.value_or(uint32_t(rsrc.size())), 4);
        h += be(binhex::crc_of(h), 2);
        h += data + be(binhex::crc_of(data) ^ (bad_data_crc ? 1 : 0), 2);
        h += rsrc + be(binhex::crc_of(rsrc), 2);
        return h;
    }
};

class BinHexFile : public WithAndWithoutAttributes {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(, BinHexFile, testing::Bool(), attribute_mode_name);

TEST(BinHexCoding, CrcCoversThePartAndTwoZeroBytes) {
    // With the two closing zero bytes the register equals the usual
    // XMODEM check value.
    EXPECT_EQ(binhex::crc_of("123456789"), 0x31C3);
    EXPECT_EQ(binhex::crc_of(""), 0);
    binhex::Crc pieces;
    pieces.add("1234", 4);
    pieces.add("56789", 5);
    EXPECT_EQ(pieces.finish(), 0x31C3);
}

TEST(BinHexCoding, RunLengthCodes) {
    const std::string m(1, char(0x90)), z(1, '\0');
    EXPECT_EQ(binhex::run_length_encode("AAAAA"), "A\x90\x05");
    EXPECT_EQ(binhex::run_length_encode("AAA"), "AAA");
    EXPECT_EQ(binhex::run_length_encode("ABBC"), "ABBC");
    EXPECT_EQ(binhex::run_length_encode(m), m + z);
    EXPECT_EQ(binhex::run_length_encode(m + m), m + z + m + z);
    EXPECT_EQ(binhex::run_length_encode(m + m + m + m), m + z + m + "\x04");
    // Runs longer than 255 are cut into pieces.
    EXPECT_EQ(binhex::run_length_encode(std::string(300, 'x')),
              std::string("x\x90\xff") + "x\x90\x2d");

    for (const std::string &raw : {std::string("AAAAA"), m + m + m + "q" + m, std::string(1000, 'z'),
                                   varied_bytes(20000), std::string()}) {
        std::string back;
        ASSERT_TRUE(binhex::run_length_decode(binhex::run_length_encode(raw), back));
        EXPECT_EQ(back, raw);
    }
    std::string out;
    EXPECT_FALSE(binhex::run_length_decode("\x90\x05", out)) << "a repeat with nothing to repeat";
    EXPECT_FALSE(binhex::run_length_decode("A\x90", out)) << "a marker cut off";
}

TEST(BinHexCoding, TextLinesAndTolerantReading) {
    std::string raw = varied_bytes(500);
    std::string text = hqx_text(raw);
    std::string body = text.substr(binhex::header_line.size() + 1);
    ASSERT_EQ(body.front(), ':');
    ASSERT_TRUE(body.ends_with(":\n"));
    size_t first_end = body.find('\n');
    EXPECT_EQ(first_end, 64u) << "the colon and 63 coded characters";
    EXPECT_EQ(body.find('\n', first_end + 1) - first_end - 1, 64u);
    for (char c : body)
        EXPECT_TRUE(c == ':' || c == '\n' || binhex::alphabet.find(c) != std::string_view::npos);

    std::string expected;
    ASSERT_TRUE(binhex::run_length_decode(binhex::run_length_encode(raw), expected));
    // Mail headers in front, a false start of the header line, carriage
    // returns and blanks inside, and trailing text after the closing colon.
    std::string noisy = "From: someone\n(This file must be\n" + text;
    for (size_t at = noisy.size() - 40; at > noisy.size() - 400; at -= 50)
        noisy.insert(at, " \r\t");
    noisy += "-- trailing signature\n";
    std::string bytes;
    ASSERT_TRUE(binhex::decode_text(noisy, bytes));
    EXPECT_EQ(bytes, binhex::run_length_encode(raw));
    EXPECT_FALSE(binhex::decode_text("no header here :!!!!:", bytes));
}

TEST_P(BinHexFile, RoundTripRestoresBothForksAndFinderInformation) {
    MacScratch dir;
    const std::string data = varied_bytes(70000), rsrc = varied_bytes(1500).substr(100);
    const std::string src = dir / "orig.bin", hqx = dir / "orig.hqx", out = dir / "restored";
    bool kept = make_mac_file(src, data, "APPL", "wxyz", 0xFFFF, rsrc);
    ASSERT_EQ(kept, dir.attributes()) << "attributes kept iff the file system takes them";

    ASSERT_EQ(HQXEncode(src.c_str(), hqx.c_str()), 0);
    ASSERT_TRUE(read_bytes(hqx).starts_with("(This file must be converted with BinHex 4.0)\n:"));
    ASSERT_EQ(HQXDecode(hqx.c_str(), out.c_str()), 0);
    EXPECT_EQ(read_bytes(out), data);
    const auto info = mac_platform::get_finder_info(out.c_str());
    if (kept) {
        EXPECT_EQ(mac_platform::get_resource_fork(out.c_str()), rsrc);
        EXPECT_EQ(info.type(), fourcc("APPL"));
        EXPECT_EQ(info.creator(), fourcc("wxyz"));
        EXPECT_EQ(info.flags(), 0xEEFF);
    } else {
        // Without attributes a file has no type and an empty fork.
        EXPECT_EQ(mac_platform::get_resource_fork(out.c_str()), "");
        EXPECT_EQ(info.type(), 0u);
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"orig.bin", "orig.hqx", "restored"}));
}

TEST_P(BinHexFile, HeaderFieldsAndNameAreReadButTheNameIsNotUsed) {
    MacScratch dir;
    Stream s;
    s.name = "Some Name";
    s.flags = 0x1234;
    s.rsrc.clear();
    write_bytes(dir / "in.hqx", hqx_text(s.raw()));
    ASSERT_EQ(HQXDecode((dir / "in.hqx").c_str(), (dir / "out").c_str()), 0);
    EXPECT_EQ(read_bytes(dir / "out"), s.data);
    EXPECT_FALSE(exists(dir / "Some Name"));
    if (dir.attributes()) {
        EXPECT_EQ(mac_platform::get_finder_info((dir / "out").c_str()).flags(), 0x0234);
        EXPECT_EQ(mac_platform::get_finder_info((dir / "out").c_str()).type(), fourcc("APPL"));
    }
}

TEST_P(BinHexFile, DamagedStreamsFailAndLeaveNothing) {
    struct Case {
        const char *what;
        std::string text;
    };
    std::vector<Case> cases;
    Stream bad_crc;
    bad_crc.bad_data_crc = true;
    cases.push_back({"data CRC", hqx_text(bad_crc.raw())});
    Stream long_data;
    long_data.data_len = 0xFFFFFFF0u;
    cases.push_back({"data fork longer than the stream", hqx_text(long_data.raw())});
    Stream long_rsrc;
    long_rsrc.rsrc_len = 0x7FFFFFFFu;
    cases.push_back({"resource fork longer than the stream", hqx_text(long_rsrc.raw())});
    Stream off_by_one;
    off_by_one.rsrc_len = uint32_t(off_by_one.rsrc.size() + 1);
    cases.push_back({"resource fork one byte too long", hqx_text(off_by_one.raw())});
    std::string raw = Stream().raw();
    cases.push_back({"name longer than the stream", hqx_text("\xff" + raw.substr(1, 10))});
    cases.push_back({"truncated", hqx_text(raw.substr(0, raw.size() - 3))});
    std::string flipped = raw;
    flipped[3] ^= 0x40;  // inside the type: the header CRC no longer matches
    cases.push_back({"header CRC", hqx_text(flipped)});
    cases.push_back({"no header line", hqx_text(raw).substr(10)});
    cases.push_back({"empty", ""});

    for (const Case &c : cases) {
        MacScratch dir;
        write_bytes(dir / "in.hqx", c.text);
        EXPECT_EQ(HQXDecode((dir / "in.hqx").c_str(), (dir / "out").c_str()), 1) << c.what;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.hqx"}) << c.what;

        // An existing working file survives a failed decode untouched.
        write_bytes(dir / "out", "previous contents");
        EXPECT_EQ(HQXDecode((dir / "in.hqx").c_str(), (dir / "out").c_str()), 1) << c.what;
        EXPECT_EQ(read_bytes(dir / "out"), "previous contents") << c.what;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.hqx", "out"})) << c.what;
    }
}
