// The chunk queue: appending, line and data reading across chunks and
// reads, output lines turned into protocol lines, and counted records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "channel_test_util.h"
#include "src/protocol/buffer.h"

namespace {

using script = script_channel::state;

std::string counted(int32_t count, const std::string &data = "") {
    std::string s(reinterpret_cast<const char *>(&count), sizeof count);
    return s + data;
}

// A queue whose chunks hold exactly the given pieces, to place chunk
// boundaries where a test wants them.
buffer_ptr chunked(std::initializer_list<std::string> pieces) {
    buffer_ptr buf = buf_nonio_initialize(nullptr);
    for (const std::string &p : pieces) {
        EXPECT_LE(p.size(), BUFFER_DATA_SIZE);
        buffer_data *d = get_buffer_data();
        std::memcpy(d->bufp, p.data(), p.size());
        d->size = static_cast<int>(p.size());
        buf_append_data(*buf, d, d);
    }
    return buf;
}

}  // namespace

TEST(BufferQueue, DataThatDoesNotFitWholeStartsAFreshChunk) {
    buffer_ptr buf = buf_nonio_initialize(nullptr);
    buf_output(*buf, std::string(BUFFER_DATA_SIZE - 5, 'a'));
    buf_output(*buf, "0123456789");
    EXPECT_EQ(chunks(*buf), 2u);
    EXPECT_EQ(buf->data->size, static_cast<int>(BUFFER_DATA_SIZE - 5));
    buf_append_char(*buf, '!');
    buf_output0(*buf, "end");
    EXPECT_EQ(queued(*buf), std::string(BUFFER_DATA_SIZE - 5, 'a') + "0123456789!end");
    EXPECT_EQ(buf_length(*buf), BUFFER_DATA_SIZE + 9);

    buffer_ptr other = buf_nonio_initialize(nullptr);
    buf_output(*other, std::string(3 * BUFFER_DATA_SIZE + 1, 'b'));
    EXPECT_EQ(chunks(*other), 4u);
    buf_append_buffer(*buf, *other);
    EXPECT_TRUE(buf_empty_p(*other));
    EXPECT_EQ(chunks(*buf), 6u);
    EXPECT_EQ(buf_length(*buf), 4 * BUFFER_DATA_SIZE + 10);
}

TEST(BufferReadLine, LinesSplitAcrossChunksAndReads) {
    auto s = std::make_shared<script>();
    std::string long_line(10000, 'x');
    for (size_t i = 0; i < long_line.size(); ++i)
        long_line[i] = static_cast<char>('a' + i % 26);
    std::string all = "first\n" + long_line + "\nabc\r\nlast";
    for (size_t i = 0; i < all.size(); i += 777)
        s->pieces.push_back(all.substr(i, 777));
    buffer_ptr buf = script_buffer(s);

    std::string line;
    ASSERT_EQ(buf_read_line(*buf, line, request_line_max), 0);
    EXPECT_EQ(line, "first");
    ASSERT_EQ(buf_read_line(*buf, line, request_line_max), 0);
    EXPECT_TRUE(same_bytes(line, long_line));
    ASSERT_EQ(buf_read_line(*buf, line, request_line_max), 0);
    EXPECT_EQ(line, "abc\r");
    // A last line without its newline stays queued at the end of the input.
    EXPECT_EQ(buf_read_line(*buf, line, request_line_max), buf_eof);
    EXPECT_EQ(queued(*buf), "last");
}

TEST(BufferReadLine, ByteAtATimeInput) {
    auto s = std::make_shared<script>();
    for (char c : std::string("ab\n\ncd\n"))
        s->pieces.emplace_back(1, c);
    buffer_ptr buf = script_buffer(s);
    std::string line;
    for (const char *want : {"ab", "", "cd"}) {
        ASSERT_EQ(buf_read_line(*buf, line, 10), 0);
        EXPECT_EQ(line, want);
    }
    EXPECT_EQ(buf_read_line(*buf, line, 10), buf_eof);
}

TEST(BufferReadLine, LongLinesAreRefusedWithoutReadingThemWhole) {
    auto s = std::make_shared<script>();
    s->forever = std::string(1000, 'z');  // a peer that never ends its line
    buffer_ptr buf = script_buffer(s);
    std::string line;
    EXPECT_EQ(buf_read_line(*buf, line, auth_line_max), buf_line_too_long);
    EXPECT_LE(s->delivered, auth_line_max + BUFFER_DATA_SIZE);
    EXPECT_LE(buf_count_mem(*buf), 2 * BUFFER_DATA_SIZE);

    // The limit counts the line without its newline.
    auto t = std::make_shared<script>();
    t->pieces = {std::string(8, 'a') + "\n" + std::string(9, 'b') + "\n"};
    buffer_ptr exact = script_buffer(t);
    EXPECT_EQ(buf_read_line(*exact, line, 8), 0);
    EXPECT_EQ(line, std::string(8, 'a'));
    EXPECT_EQ(buf_read_line(*exact, line, 8), buf_line_too_long);
}

TEST(BufferReadLine, NonblockingInputWithNothingMore) {
    auto s = std::make_shared<script>();
    s->more_later = true;
    s->pieces = {"par"};
    buffer_ptr buf = script_buffer(s);
    std::string line;
    EXPECT_EQ(buf_read_line(*buf, line, 100), EAGAIN);
    s->pieces = {"tial\nrest"};
    ASSERT_EQ(buf_read_line(*buf, line, 100), 0);
    EXPECT_EQ(line, "partial");
}

TEST(BufferReadData, NeverMoreThanTheFirstChunk) {
    auto s = std::make_shared<script>();
    s->pieces = {std::string(6000, 'q')};
    buffer_ptr buf = script_buffer(s);
    const char *data;
    size_t got = 0;
    ASSERT_EQ(buf_read_data(*buf, 10000, data, got), 0);
    EXPECT_EQ(got, BUFFER_DATA_SIZE);
    ASSERT_EQ(buf_read_data(*buf, 10, data, got), 0);
    EXPECT_EQ(std::string(data, got), std::string(10, 'q'));
    size_t total = BUFFER_DATA_SIZE + 10;
    while (buf_read_data(*buf, 10000, data, got) == 0)
        total += got;
    EXPECT_EQ(total, 6000u);
}

TEST(BufferCopyLines, CompleteLinesBecomeProtocolLines) {
    buffer_ptr to = buf_nonio_initialize(nullptr);
    buffer_ptr from = chunked({"one\ntw"});
    buf_copy_lines(*to, *from, 'M');
    EXPECT_EQ(queued(*to), "M one\n");
    EXPECT_EQ(queued(*from), "tw");
    buf_output(*from, "o\nthree\n");
    buf_copy_lines(*to, *from, 'E');
    EXPECT_EQ(queued(*to), "M one\nE two\nE three\n");
    EXPECT_TRUE(buf_empty_p(*from));
}

TEST(BufferCopyLines, LinesAcrossChunkBoundaries) {
    std::string big(5000, 'y');
    // A line over three chunks, a newline that ends a chunk, then a
    // trailing partial line split over two chunks.
    buffer_ptr from = chunked(
        {"ab", "cd", "e\n", big.substr(0, 3000), big.substr(3000) + "\nx", "yz\npart", "ial"});
    buffer_ptr to = buf_nonio_initialize(nullptr);
    buf_copy_lines(*to, *from, 'M');
    EXPECT_TRUE(same_bytes(queued(*to), "M abcde\nM " + big + "\nM xyz\n"));
    EXPECT_EQ(queued(*from), "partial");
    EXPECT_EQ(buf_length(*from), 7u);
}

TEST(BufferCounted, PartialRecordsWaitForTheirBytes) {
    buffer_ptr to = buf_nonio_initialize(nullptr);
    int special = 99;
    buffer_ptr empty = buf_nonio_initialize(nullptr);
    EXPECT_EQ(buf_copy_counted(*to, *empty, special), 4);
    EXPECT_EQ(special, 0);

    std::string rec = counted(10, "0123");
    buffer_ptr three = chunked({rec.substr(0, 3)});
    EXPECT_EQ(buf_copy_counted(*to, *three, special), 1);

    buffer_ptr partial = chunked({rec.substr(0, 2), rec.substr(2)});  // count split over chunks
    EXPECT_EQ(buf_copy_counted(*to, *partial, special), 6);
    EXPECT_EQ(queued(*partial), rec);  // nothing consumed
    buf_output(*partial, "456789");
    EXPECT_EQ(buf_copy_counted(*to, *partial, special), 4);
    EXPECT_EQ(queued(*to), "0123456789");
    EXPECT_TRUE(buf_empty_p(*partial));
}

TEST(BufferCounted, SeveralRecordsAndASpecialCount) {
    std::string big(9000, 'r');
    std::string all = counted(3, "abc") + counted(0) +
                      counted(static_cast<int32_t>(big.size()), big) + counted(-1) +
                      counted(2, "zz") + counted(5, "x");
    // The same bytes cut into chunks at odd places.
    for (size_t cut : {size_t{1}, size_t{5}, size_t{7}, size_t{4096}}) {
        buffer_ptr from = buf_nonio_initialize(nullptr);
        for (size_t i = 0; i < all.size(); i += cut) {
            buffer_ptr piece = chunked({all.substr(i, cut)});
            buf_append_buffer(*from, *piece);
        }
        buffer_ptr to = buf_nonio_initialize(nullptr);
        int special = 0;
        EXPECT_EQ(buf_copy_counted(*to, *from, special), 0) << cut;
        EXPECT_EQ(special, -1);
        EXPECT_TRUE(same_bytes(queued(*to), "abc" + big));
        EXPECT_EQ(buf_copy_counted(*to, *from, special), 4);  // the record of 5 misses 4
        EXPECT_EQ(special, 0);
        EXPECT_TRUE(same_bytes(queued(*to), "abc" + big + "zz"));
    }
}

TEST(BufferCounted, SendCountedRoundTrip) {
    auto sink = std::make_shared<sink_channel::state>();
    buffer_ptr out = sink_buffer(sink);
    EXPECT_EQ(buf_send_counted(*out), 0);
    EXPECT_EQ(sink->out, counted(0));

    std::string data(7000, 'd');
    buf_output(*out, data);
    EXPECT_EQ(buf_send_counted(*out), 0);
    EXPECT_EQ(buf_send_special_count(*out, -1), 0);
    EXPECT_TRUE(same_bytes(sink->out, counted(0) + counted(7000, data) + counted(-1)));

    buffer_ptr from = buf_nonio_initialize(nullptr);
    buf_output(*from, sink->out);
    buffer_ptr to = buf_nonio_initialize(nullptr);
    int special = 0;
    EXPECT_EQ(buf_copy_counted(*to, *from, special), 0);
    EXPECT_EQ(special, -1);
    EXPECT_TRUE(same_bytes(queued(*to), data));
}

TEST(BufferSend, NonblockingKeepsWhatWasNotTaken) {
    auto sink = std::make_shared<sink_channel::state>();
    sink->limit = 1000;
    buffer_ptr out = sink_buffer(sink);
    ASSERT_EQ(set_nonblock(*out), 0);
    std::string data(10000, 'n');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 251);
    buf_output(*out, data);
    ASSERT_EQ(buf_send_output(*out), 0);
    EXPECT_TRUE(same_bytes(sink->out, data.substr(0, 1000)));
    EXPECT_TRUE(same_bytes(queued(*out), data.substr(1000)));
    // A blocking flush sends the rest and puts the mode back.
    ASSERT_EQ(buf_flush(*out, true), 0);
    EXPECT_TRUE(same_bytes(sink->out, data));
    EXPECT_EQ(sink->flushes, 1);
    EXPECT_EQ(out->nonblocking, 1);
    EXPECT_FALSE(sink->blocking);
}

TEST(BufferReadFile, ExactLengthsAndEndOfFile) {
    FILE *fp = std::tmpfile();
    ASSERT_TRUE(fp);
    std::string data(9000, 'f');
    std::fwrite(data.data(), 1, data.size(), fp);
    std::rewind(fp);
    buffer_data *first, *last;
    ASSERT_EQ(buf_read_file(fp, 8192, first, last), 0);
    EXPECT_EQ(buf_chain_length(first), 8192u);
    buffer_ptr buf = buf_nonio_initialize(nullptr);
    buf_append_data(*buf, first, last);
    // Asking for more than is left fails and keeps nothing.
    EXPECT_EQ(buf_read_file(fp, 1000, first, last), EIO);
    EXPECT_EQ(first, nullptr);

    std::rewind(fp);
    ASSERT_EQ(buf_read_file_to_eof(fp, first, last), 0);
    EXPECT_EQ(buf_chain_length(first), 9000u);
    buf_append_data(*buf, first, last);
    ASSERT_EQ(buf_read_file_to_eof(fp, first, last), 0);  // already at the end
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(buf_length(*buf), 8192u + 9000u);
    std::fclose(fp);
}
