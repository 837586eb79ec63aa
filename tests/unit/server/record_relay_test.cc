// The streaming relay of the command child's counted records: data moves
// as it arrives, a record is never cut by other output, counts may be
// split anywhere, and a special count asks for a flush.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "src/protocol/buffer.h"
#include "src/server/record_relay.h"

namespace {

std::string count_bytes(int32_t n) {
    std::string s(sizeof n, '\0');
    std::memcpy(s.data(), &n, sizeof n);
    return s;
}

std::string record(const std::string &data) {
    return count_bytes(static_cast<int32_t>(data.size())) + data;
}

std::string drain(buffer &b) {
    std::string out;
    for (buffer_data *d = b.data; d; d = d->next)
        out.append(d->bufp, static_cast<size_t>(d->size));
    return out;
}

}  // namespace

TEST(RecordRelay, RecordsArrivingInPiecesPassOnAsTheyCome) {
    buffer_ptr from = buf_nonio_initialize(nullptr), to = buf_nonio_initialize(nullptr);
    RecordRelay relay;
    std::string big(10000, 'x');
    std::string stream = record("Checked-in ./\n") + record(big) + record("");
    // Fed one byte at a time: counts and data split everywhere.
    for (char c : stream) {
        buf_output(*from, &c, 1);
        relay.forward(*from, *to);
    }
    EXPECT_FALSE(relay.in_record());
    EXPECT_EQ(drain(*to), "Checked-in ./\n" + big);
    EXPECT_TRUE(buf_empty_p(*from));
}

TEST(RecordRelay, APartialRecordHoldsBackUntilComplete) {
    buffer_ptr from = buf_nonio_initialize(nullptr), to = buf_nonio_initialize(nullptr);
    RecordRelay relay;
    std::string r = record("M one\nM two\n");
    buf_output(*from, r.substr(0, 10));
    relay.forward(*from, *to);
    EXPECT_TRUE(relay.in_record());
    EXPECT_EQ(drain(*to), "M one\n");  // the data so far, already passed on
    buf_output(*from, r.substr(10));
    relay.forward(*from, *to);
    EXPECT_FALSE(relay.in_record());
    EXPECT_EQ(drain(*to), "M one\nM two\n");
}

TEST(RecordRelay, SpecialCountsCarryNoData) {
    buffer_ptr from = buf_nonio_initialize(nullptr), to = buf_nonio_initialize(nullptr);
    RecordRelay relay;
    // Without "F" support the flush request adds nothing to the stream.
    std::string s = record("a") + count_bytes(-1) + record("b") + count_bytes(-7);
    buf_output(*from, s);
    relay.forward(*from, *to);
    EXPECT_EQ(drain(*to), "ab");
    EXPECT_FALSE(relay.in_record());
    EXPECT_TRUE(buf_empty_p(*from));
}
