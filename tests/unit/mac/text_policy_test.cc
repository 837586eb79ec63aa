// Character tables, text conversion of plain copies, type lists and the
// per-type encoding policy.
#include <gtest/gtest.h>

#include "mac_test_util.h"
#include "src/base/globals.h"

namespace {

using mac_platform::fourcc;

void expect_inverse_permutations(const unsigned char *to_mac, const unsigned char *to_iso) {
    bool seen[256] = {};
    for (int c = 0; c < 256; ++c) {
        EXPECT_FALSE(seen[to_mac[c]]) << "two codes map to " << int(to_mac[c]);
        seen[to_mac[c]] = true;
        EXPECT_EQ(to_iso[to_mac[c]], c) << c;
        EXPECT_EQ(to_mac[to_iso[c]], c) << c;
        if (c < 128) {
            EXPECT_EQ(to_mac[c], c);
        }
    }
}

class TextConversion : public MacEnv {
  protected:
    void SetUp() override {
        MacEnv::SetUp();
        quiet = 1;  // received binaries named "out" have no mapped type
    }
    // Converts `text` in the given direction and returns the result.
    std::string convert(const std::string &text, bool decoding, int binary = 0) {
        write_bytes(dir / "in", text);
        convert_file((dir / "in").c_str(), decoding ? mac_repository_form : 0, (dir / "out").c_str(),
                     decoding ? 0 : mac_repository_form, binary);
        return read_bytes(dir / "out");
    }
    MacScratch dir;
};

class Policy : public MacEnv {
  protected:
    void SetUp() override {
        MacEnv::SetUp();
        program_name = "jol";
        command_name.clear();
    }
};

}  // namespace

TEST(CharTables, PairsAreInversePermutationsKeepingAscii) {
    expect_inverse_permutations(iso_to_mac, mac_to_iso);
    expect_inverse_permutations(iso_to_mac_alt, mac_to_iso_alt);
    // Characters both sets share, and codes filled in by the tables' rules.
    EXPECT_EQ(iso_to_mac[0xE9], 0x8E);  // e acute
    EXPECT_EQ(iso_to_mac[0xC4], 0x80);  // A diaeresis
    EXPECT_EQ(iso_to_mac[0xA0], 0xCA);  // no-break space
    EXPECT_EQ(iso_to_mac[0xFF], 0xD8);  // y diaeresis
    EXPECT_EQ(iso_to_mac[0x80], 0xA5);
    EXPECT_EQ(iso_to_mac[0xDD], 0xA0);
    EXPECT_EQ(iso_to_mac[0xFE], 0xDF);
    EXPECT_EQ(iso_to_mac_alt[0x80], 0xC4);
    EXPECT_EQ(iso_to_mac_alt[0xBE], 0xA0);
    EXPECT_EQ(iso_to_mac_alt[0x91], iso_to_mac[0x91]);  // not among the differences
    EXPECT_EQ(iso_to_mac_alt[0xE9], 0x8E);
    EXPECT_EQ(convert_iso(1, 1), iso_to_mac);
    EXPECT_EQ(convert_iso(0, 1), mac_to_iso);
    EXPECT_EQ(convert_iso(1, 2), iso_to_mac_alt);
    EXPECT_EQ(convert_iso(0, 2), mac_to_iso_alt);
    EXPECT_EQ(convert_iso(1, 0), nullptr);
    EXPECT_EQ(convert_iso(0, 3), nullptr);
}

TEST_F(TextConversion, LineEndsOnlyWithTheSetting) {
    EXPECT_EQ(convert("one\rtwo\r\n", false), "one\rtwo\r\n");
    set("JOL_MACLF", "");
    EXPECT_EQ(convert("one\rtwo\r", false), "one\ntwo\n");
    EXPECT_EQ(convert("one\ntwo\n", true), "one\rtwo\r");
    // Binary files are never touched.
    EXPECT_EQ(convert("one\rtwo\n", false, 1), "one\rtwo\n");
    EXPECT_EQ(convert("one\rtwo\n", true, 1), "one\rtwo\n");
}

TEST_F(TextConversion, CharacterSetsByTablePair) {
    const std::string mac = "caf\x8E \x80", iso1 = "caf\xE9 \xC4";
    EXPECT_EQ(convert(mac, false), mac) << "no conversion without ISO8859";
    set("ISO8859", "1");
    EXPECT_EQ(convert(mac, false), iso1);
    EXPECT_EQ(convert(iso1, true), mac);
    set("ISO8859", "2");
    EXPECT_EQ(convert("\xC4", false), "\x80");
    EXPECT_EQ(convert("\x80", true), "\xC4");
    set("ISO8859", "1 trailing");  // read like "%d"
    EXPECT_EQ(convert(mac, false), iso1);
    set("ISO8859", "3");
    EXPECT_EQ(convert(mac, false), mac);
    // Both settings: characters first, then line ends; large input crosses blocks.
    set("ISO8859", "1");
    set("JOL_MACLF", "1");
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += "l\x8E\r";
    std::string expected;
    for (int i = 0; i < 5000; ++i)
        expected += "l\xE9\n";
    EXPECT_EQ(convert(big, false), expected);
    EXPECT_EQ(convert(expected, true), big);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in", "out"}));
}

TEST_F(Policy, TypeLists) {
    EXPECT_EQ(parse_type_list("TEXT;APPL;"), (std::vector<OSType>{fourcc("TEXT"), fourcc("APPL")}));
    EXPECT_EQ(parse_type_list("JPEG"), std::vector<OSType>{}) << "no trailing separator";
    EXPECT_EQ(parse_type_list("PDF ;rest"), std::vector<OSType>{fourcc("PDF ")});
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse_type_list("ABC;JPEG;TOOLONG;"), std::vector<OSType>{fourcc("JPEG")});
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "jol: Warning unknown signature ABC (variable : ABC;JPEG;TOOLONG;) !\n"
              "jol: Warning unknown signature TOOLONG (variable : ABC;JPEG;TOOLONG;) !\n");
}

TEST_F(Policy, FirstListDecidesThenTheDefault) {
    set("MAC_BINARY_TYPES_PLAIN", "JPEG;");
    set("MAC_BINARY_TYPES_HQX", "JPEG;APPL;");
    set("MAC_BINARY_TYPES_SINGLE", "APPL;PICT;");
    encodingPolicy p;
    determineEncodingPolicy(fourcc("JPEG"), p);
    EXPECT_EQ(p, eEncodePlainBinary);
    determineEncodingPolicy(fourcc("APPL"), p);
    EXPECT_EQ(p, eEncodeHQX);
    determineEncodingPolicy(fourcc("PICT"), p);
    EXPECT_EQ(p, eEncodeAppleSingle);
    determineEncodingPolicy(fourcc("MooV"), p);
    EXPECT_EQ(p, eEncodeDefault);
    EXPECT_TRUE(isPlainBinary(fourcc("JPEG")));
    EXPECT_FALSE(testAppleSingleEncoding(fourcc("JPEG")));

    getDefaultEncodingPolicy(p);
    EXPECT_EQ(p, eEncodeHQX);
    set("MAC_DEFAULT_RESOURCE_ENCODING", "AppleSingle");
    getDefaultEncodingPolicy(p);
    EXPECT_EQ(p, eEncodeAppleSingle);
    set("MAC_DEFAULT_RESOURCE_ENCODING", "HQX");
    getDefaultEncodingPolicy(p);
    EXPECT_EQ(p, eEncodeHQX);
}

TEST_F(Policy, UnknownDefaultEncodingIsFatal) {
    set("MAC_DEFAULT_RESOURCE_ENCODING", "hqx");
    encodingPolicy p;
    EXPECT_EXIT(getDefaultEncodingPolicy(p), testing::ExitedWithCode(1),
                "Unknown resource encoding 'hqx' !\n");
}
