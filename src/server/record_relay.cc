// The streaming relay of counted records.
#include "src/server/record_relay.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "src/protocol/protocol_tables.h"

namespace {

// The 4-byte count at the front of `from`, when all four bytes are there
// (they may span chunks); consumed.
bool take_count(buffer &from, int32_t &count) {
    if (buf_length(from) < sizeof count)
        return false;
    char bytes[sizeof count];
    size_t have = 0;
    while (have < sizeof count) {
        buffer_data *d = from.data;
        size_t n = std::min(sizeof count - have, static_cast<size_t>(d->size));
        std::memcpy(bytes + have, d->bufp, n);
        have += n;
        d->bufp += n;
        d->size -= static_cast<int>(n);
        if (d->size == 0)
            free_buffer_data(buf_pop_front(from));
    }
    std::memcpy(&count, bytes, sizeof count);
    return true;
}

}  // namespace

void RecordRelay::forward(buffer &from, buffer &to) {
    for (;;) {
        if (!in_record_) {
            int32_t count;
            if (!take_count(from, count))
                return;
            if (count < 0) {
                if (count == -1) {
                    if (supported_response("F"))
                        buf_output0(to, "F\n");
                    if (to.chan)
                        buf_flush(to, false);
                }
                continue;
            }
            remaining_ = static_cast<size_t>(count);
            in_record_ = true;
        }
        while (remaining_ > 0 && from.data) {
            buffer_data *first = from.data;
            size_t size = static_cast<size_t>(first->size);
            if (size == 0) {
                free_buffer_data(buf_pop_front(from));
                continue;
            }
            if (size <= remaining_) {
                buffer_data *chunk = buf_pop_front(from);
                buf_append_data(to, chunk, chunk);
                remaining_ -= size;
            } else {
                buf_output(to, first->bufp, remaining_);
                first->bufp += remaining_;
                first->size -= static_cast<int>(remaining_);
                remaining_ = 0;
            }
        }
        if (remaining_ > 0)
            return;
        in_record_ = false;
    }
}
