// AppleSingle: round trips, the entry layout, and headers or descriptors
// that do not fit the file.
#include "mac/applesingle.h"

#include <gtest/gtest.h>

#include "mac_test_util.h"

namespace {

using mac_platform::fourcc;

uint32_t get_be(const std::string &s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | uint8_t(s[at + i]);
    return v;
}

struct Entry {
    Entry(uint32_t i, std::string b, std::optional<uint32_t> o = std::nullopt,
          std::optional<uint32_t> l = std::nullopt)
        : id(i), body(std::move(b)), offset(o), length(l) {}
    uint32_t id;
    std::string body;
    std::optional<uint32_t> offset, length;  // lies about where it is
};

std::string as_file(const std::vector<Entry> &entries, uint32_t magic = 0x00051600,
                    uint32_t version = 0x00020000) {
    std::string head = be(magic, 4) + be(version, 4) + std::string(16, '\0') + be(uint32_t(entries.size()), 2);
    uint32_t at = uint32_t(26 + 12 * entries.size());
    std::string bodies;
    for (const Entry &e : entries) {
        head += be(e.id, 4) + be(e.offset.value_or(at), 4) + be(e.length.value_or(uint32_t(e.body.size())), 4);
        at += uint32_t(e.body.size());
        bodies += e.body;
    }
    return head + bodies;
}

std::string finder_bytes(const char (&type)[5], const char (&creator)[5]) {
    mac_platform::FinderInfo info;
    info.set_type(fourcc(type));
    info.set_creator(fourcc(creator));
    info.set_flags(0x0100);
    return std::string(info.bytes.begin(), info.bytes.end());
}

int decode(const MacScratch &dir, const std::string &bytes, std::string &err) {
    write_bytes(dir / "in.as", bytes);
    testing::internal::CaptureStderr();
    int r = decodeAppleSingle((dir / "in.as").c_str(), (dir / "out").c_str(), applesingle::converter_entries);
    err = testing::internal::GetCapturedStderr();
    return r;
}

class AppleSingleFile : public WithAndWithoutAttributes {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(, AppleSingleFile, testing::Bool(), attribute_mode_name);

TEST_P(AppleSingleFile, RoundTripAndLayout) {
    MacScratch dir;
    const std::string data = varied_bytes(30000), rsrc = varied_bytes(900);
    const std::string src = dir / "orig", enc = dir / "orig.as", out = dir / "back";
    bool kept = make_mac_file(src, data, "PICT", "abcd", 0x1100, rsrc);
    ASSERT_EQ(kept, dir.attributes());
    ASSERT_EQ(encodeAppleSingle(src.c_str(), enc.c_str(), applesingle::converter_entries), 0);

    const std::string bytes = read_bytes(enc);
    ASSERT_GE(bytes.size(), 26u);
    EXPECT_EQ(get_be(bytes, 0, 4), 0x00051600u);
    EXPECT_EQ(get_be(bytes, 4, 4), 0x00020000u);
    EXPECT_EQ(bytes.substr(8, 16), std::string(16, '\0'));
    // Finder information, data fork, then the resource fork if there is one.
    const uint32_t count = get_be(bytes, 24, 2);
    ASSERT_EQ(count, kept ? 3u : 2u);
    const uint32_t ids[] = {9, 1, 2};
    uint32_t at = 26 + 12 * count;
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(get_be(bytes, 26 + 12 * i, 4), ids[i]);
        EXPECT_EQ(get_be(bytes, 30 + 12 * i, 4), at);
        at += get_be(bytes, 34 + 12 * i, 4);
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(bytes.substr(26 + 12 * count + 32, data.size()), data);

    ASSERT_EQ(decodeAppleSingle(enc.c_str(), out.c_str(), applesingle::converter_entries), 0);
    EXPECT_EQ(read_bytes(out), data);
    if (kept) {
        EXPECT_EQ(mac_platform::get_resource_fork(out.c_str()), rsrc);
        // All 32 bytes travel, flags unmasked and extended information too.
        EXPECT_EQ(mac_platform::get_finder_info(out.c_str()).bytes,
                  mac_platform::get_finder_info(src.c_str()).bytes);
    } else {
        EXPECT_EQ(mac_platform::get_finder_info(out.c_str()).type(), 0u);
    }
}

TEST_P(AppleSingleFile, SelectedEntriesOnly) {
    MacScratch dir;
    std::string err;
    // The comment is read but not applied; an unknown id and an unselected
    // icon are skipped; the data fork may come after other entries.
    ASSERT_EQ(decode(dir, as_file({{4, "a comment"}, {77, "junk"}, {5, "icon"}, {1, "payload"}}), err), 0);
    EXPECT_EQ(read_bytes(dir / "out"), "payload");
    EXPECT_EQ(err, "");
    // A selected icon entry is reported and otherwise ignored.
    write_bytes(dir / "in.as", as_file({{5, "icon"}, {1, "payload"}}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(decodeAppleSingle((dir / "in.as").c_str(), (dir / "icon-out").c_str(), 0x11), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't decode AS_ICONBW...\n");
    if (dir.attributes()) {
        ASSERT_EQ(decode(dir, as_file({{9, finder_bytes("TEXT", "ttxt")}, {1, "x"}}), err), 0);
        EXPECT_EQ(mac_platform::get_finder_info((dir / "out").c_str()).creator(), fourcc("ttxt"));
    }
}

TEST(AppleSingle, RefusedInputsFailWithTheMessageAndLeaveNothing) {
    const std::string fi = finder_bytes("APPL", "abcd");
    struct Case {
        const char *what;
        std::string bytes;
    };
    const Case cases[] = {
        {"wrong magic", as_file({{1, "x"}}, 0x00051607)},
        {"wrong version", as_file({{1, "x"}}, 0x00051600, 0x00010000)},
        {"no entries", as_file({})},
        {"short header", as_file({{1, "x"}}).substr(0, 20)},
        {"more descriptors than the file holds", as_file({{1, "x"}}).substr(0, 26) + be(1, 4)},
        {"data fork longer than the file", as_file({{1, "abc", std::nullopt, 0xFFFFFF00u}})},
        {"offset outside the file", as_file({{1, "abc", 0xFFFFFFF0u, 4u}})},
        {"resource fork past the end", as_file({{2, "abc", std::nullopt, 4u}})},
        {"Finder information of the wrong size", as_file({{9, fi.substr(0, 16)}})},
        {"second data fork", as_file({{1, "one"}, {1, "two"}})},
        {"second resource fork", as_file({{2, "one"}, {2, "two"}})},
        {"second Finder information", as_file({{9, fi}, {9, fi}})},
    };
    for (const Case &c : cases) {
        MacScratch dir;
        std::string err;
        EXPECT_EQ(decode(dir, c.bytes, err), 1) << c.what;
        EXPECT_EQ(err, "AppleSingle decoding has failed: " + (dir / "in.as") + "\n") << c.what;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.as"}) << c.what;

        write_bytes(dir / "out", "kept");
        EXPECT_EQ(decode(dir, c.bytes, err), 1) << c.what;
        EXPECT_EQ(read_bytes(dir / "out"), "kept") << c.what;
    }
}

TEST(AppleSingle, EncodeFailureReportsAndLeavesNothing) {
    MacScratch dir;
    testing::internal::CaptureStderr();
    EXPECT_EQ(encodeAppleSingle((dir / "missing").c_str(), (dir / "out").c_str(), 0x30B), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unexpected AppleSingle encoding error " + (dir / "out") + "\n");
    EXPECT_TRUE(dir.entries().empty());
}
