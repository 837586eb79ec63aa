// The line reader: lines exactly as stored, whether the last one had its
// newline, lines longer than the buffer or than a bound, and read errors.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "src/base/line_reader.h"

namespace {

using Lines = std::vector<std::pair<std::string, bool>>;  // text, had its newline

// A stream holding `text`, positioned at its start.
FILE *stream_of(const std::string &text) {
    FILE *fp = std::tmpfile();
    EXPECT_NE(fp, nullptr);
    EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), fp), text.size());
    std::rewind(fp);
    return fp;
}

Lines read_all(FILE *fp, size_t max_line = LineReader::no_limit) {
    Lines out;
    LineReader lines(fp, max_line);
    while (auto line = lines.next())
        out.emplace_back(std::string(*line), lines.newline());
    EXPECT_FALSE(lines.next());  // the end stays the end
    return out;
}

Lines lines_of(const std::string &text, size_t max_line = LineReader::no_limit) {
    FILE *fp = stream_of(text);
    Lines out = read_all(fp, max_line);
    EXPECT_FALSE(std::ferror(fp));
    std::fclose(fp);
    return out;
}

TEST(LineReader, EmptyFileAndEmptyLines) {
    EXPECT_EQ(lines_of(""), Lines{});
    EXPECT_EQ(lines_of("\n"), (Lines{{"", true}}));
    EXPECT_EQ(lines_of("\n\n"), (Lines{{"", true}, {"", true}}));
    EXPECT_EQ(lines_of("a\n\nb\n"), (Lines{{"a", true}, {"", true}, {"b", true}}));
}

TEST(LineReader, LastLineWithoutNewline) {
    EXPECT_EQ(lines_of("one\ntwo"), (Lines{{"one", true}, {"two", false}}));
    EXPECT_EQ(lines_of("x"), (Lines{{"x", false}}));
    EXPECT_EQ(lines_of("one\ntwo\n"), (Lines{{"one", true}, {"two", true}}));
}

TEST(LineReader, CarriageReturnsAndNulBytesStayInTheLine) {
    EXPECT_EQ(lines_of("a\r\nb\rc\r\n\r"), (Lines{{"a\r", true}, {"b\rc\r", true}, {"\r", false}}));
    const std::string nul("a\0b\n\0\n\0", 7);
    EXPECT_EQ(lines_of(nul), (Lines{{std::string("a\0b", 3), true},
                                    {std::string(1, '\0'), true},
                                    {std::string(1, '\0'), false}}));
}

TEST(LineReader, LinesLongerThanTheBufferAndAcrossBlocks) {
    const std::string huge(1 << 20, 'x');
    EXPECT_EQ(lines_of("a\n" + huge + "\nb"), (Lines{{"a", true}, {huge, true}, {"b", false}}));
    EXPECT_EQ(lines_of(huge), (Lines{{huge, false}}));

    // Many lines of varied length, so that lines straddle every block edge.
    std::string text;
    Lines want;
    for (int i = 0; i < 5000; ++i) {
        std::string line(static_cast<size_t>(i * 7 % 61), static_cast<char>('a' + i % 26));
        text += line + "\n";
        want.emplace_back(line, true);
    }
    EXPECT_EQ(lines_of(text), want);
}

TEST(LineReader, BoundedLinesComeInPieces) {
    EXPECT_EQ(lines_of("abcd\nabcdefghij\nab", 4),
              (Lines{{"abcd", true},
                     {"abcd", false},
                     {"efgh", false},
                     {"ij", true},
                     {"ab", false}}));
    EXPECT_EQ(lines_of("abcdefgh", 4), (Lines{{"abcd", false}, {"efgh", false}}));
    const std::string huge(100000, 'y');
    Lines pieces = lines_of(huge + "\n", 30000);
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[3], (std::pair<std::string, bool>{std::string(10000, 'y'), true}));
    // A bound of zero still makes progress.
    EXPECT_EQ(lines_of("ab\n", 0), (Lines{{"a", false}, {"b", true}}));
}

TEST(LineReader, StartsWhereTheStreamStands) {
    FILE *fp = stream_of("skip\nkeep\n");
    char buf[5];
    ASSERT_EQ(std::fread(buf, 1, 5, fp), 5u);
    EXPECT_EQ(read_all(fp), (Lines{{"keep", true}}));
    std::fclose(fp);
}

TEST(LineReader, PipesDeliverInShortReads) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        // Pieces written apart, each split inside a line.
        for (const char *piece : {"fir", "st\nsec", "ond\n", "third"}) {
            if (write(fds[1], piece, std::char_traits<char>::length(piece)) < 0)
                _exit(1);
            usleep(20000);
        }
        _exit(0);
    }
    close(fds[1]);
    FILE *fp = fdopen(fds[0], "r");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(read_all(fp), (Lines{{"first", true}, {"second", true}, {"third", false}}));
    std::fclose(fp);
    int status = 0;
    waitpid(pid, &status, 0);
}

TEST(LineReader, ReadErrorEndsTheLines) {
    FILE *fp = std::fopen("/", "r");  // opens, but reading fails
    ASSERT_NE(fp, nullptr);
    LineReader lines(fp);
    EXPECT_FALSE(lines.next());
    EXPECT_TRUE(std::ferror(fp));
    EXPECT_EQ(errno, EISDIR);
    std::fclose(fp);
}

}  // namespace
