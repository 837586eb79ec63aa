// Journal lines read back: the "*" suffix mark, and damaged lines that must
// be refused without reading past them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "src/repo/history.h"

namespace {

// Parses `text` as one line; the buffer outlives the record's fields.
bool parse(std::string &buffer, const std::string &text, hrec &hr) {
    buffer = text + '\n';
    return fill_hrec(buffer.data(), buffer.data(), text.size(), hr);
}

}  // namespace

TEST(HistoryRead, SuffixMarkPointsIntoTheRepositoryField) {
    std::string buf;
    hrec hr;
    ASSERT_TRUE(parse(buf, "  M5f5e1bb8| joltest|~/two*4|proj/sub|1.2|b.txt", hr));
    const char *base = buf.data();
    EXPECT_EQ(hr.type, 'M');
    EXPECT_EQ(hr.date, 0x5f5e1bb8);
    EXPECT_STREQ(hrec_text(base, hr.user), "joltest");
    EXPECT_STREQ(hrec_text(base, hr.dir), "~/two");
    EXPECT_STREQ(hrec_text(base, hr.end), "/sub");
    EXPECT_STREQ(hrec_text(base, hr.repos), "proj/sub");
    EXPECT_STREQ(hrec_text(base, hr.rev), "1.2");
    EXPECT_STREQ(hrec_text(base, hr.file), "b.txt");
    EXPECT_FALSE(hr.has_mod);

    ASSERT_TRUE(parse(buf, "O5f5e1000|u|~/*0|proj||proj", hr));
    EXPECT_STREQ(hrec_text(buf.data(), hr.end), "proj");
    EXPECT_TRUE(hr.has_mod);
}

TEST(HistoryRead, DamagedLinesAreRefused) {
    const std::vector<std::string> damaged = {
        "",
        "   ",
        "M",
        "M5f5e1708|u|~/*0|proj",
        "M|u|d|r|1.1|f",
        "Mzz|u|d|r|1.1|f",
        "M5f|u|d|r|1.1|f|extra",
        "M5f|u|~/*5|proj|1.1|f",
        "M5f|u|~/*|proj|1.1|f",
        "M5f|u|~/*x|proj|1.1|f",
        "M5f|u|~/*ffffffffffffffffffff|proj|1.1|f",
        "Mffffffffffffffffffff|u|d|r|1.1|f",
        std::string("M5f|u\0v|d|r|1.1|f", 17),
    };
    for (const std::string &line : damaged) {
        std::string buf;
        hrec hr;
        EXPECT_FALSE(parse(buf, line, hr)) << line;
    }
}

TEST(HistoryRead, AnUnfinishedLastLineIsNotARecord) {
    char path[] = "/tmp/history_read_testXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string text = "A5f|u|~/*0|proj|1.1|a\nbroken\nM60|u|~/*0|proj|1.2|a\nM61|u|d|proj|1.3|a";
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    std::string buffer;
    size_t lines = 0;
    std::vector<std::string> revs;
    std::vector<uint32_t> idx;
    read_hrecs(
        path, buffer, [&lines](size_t n) { lines = n; },
        [&](hrec &hr) {
            revs.emplace_back(hrec_text(buffer.data(), hr.rev));
            idx.push_back(hr.idx);
        });
    unlink(path);
    EXPECT_EQ(lines, 3u);
    EXPECT_EQ(revs, (std::vector<std::string>{"1.1", "1.2"}));
    EXPECT_EQ(idx, (std::vector<uint32_t>{0, 1}));
}
