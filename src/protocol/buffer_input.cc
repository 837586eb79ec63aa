// Reading into a buffer: what is available, a line, or counted data. Bytes
// are read straight into the free space of the last chunk.
#include "buffer.h"

#include <algorithm>
#include <cstring>

#include "src/base/error.h"

namespace {

// Reads into the free space of `room` (the last chunk), asking for `need`.
int read_into(buffer &buf, buffer_data *room, size_t need, size_t &got) {
    got = 0;
    int status = buf.chan->input(room->bufp + room->size, need, chunk_free(room), got);
    if (status == 0)
        room->size += static_cast<int>(got);
    return status;
}

// Hands the first `length` bytes of the queue to `line`, then drops the
// newline behind them.
void take_line(buffer &buf, std::string &line, size_t length) {
    line.clear();
    line.reserve(length);
    while (length > 0 || buf.data->size == 0) {
        buffer_data *d = buf.data;
        size_t n = std::min(length, static_cast<size_t>(d->size));
        line.append(d->bufp, n);
        length -= n;
        if (static_cast<size_t>(d->size) == n) {
            free_buffer_data(buf_pop_front(buf));
            continue;
        }
        d->bufp += n;
        d->size -= static_cast<int>(n);
    }
    buffer_data *d = buf.data;  // the newline is its first byte
    ++d->bufp;
    --d->size;
    if (d->size == 0 && d != buf.last)
        free_buffer_data(buf_pop_front(buf));
}

}  // namespace

int buf_input_data(buffer &buf, size_t *count, size_t limit) {
    jol_assert(buf.chan);
    if (count)
        *count = 0;
    for (size_t total = 0; total < limit;) {
        buffer_data *room = buf_room(buf);
        if (!room) {
            buf.memory_error(buf);
            return buf_nomem;
        }
        size_t space = chunk_free(room), got = 0;
        int status = read_into(buf, room, 0, got);
        if (status != 0)
            return status;
        if (count)
            *count += got;
        total += got;
        if (got < space)
            return 0;
    }
    return 0;
}

int buf_read_line(buffer &buf, std::string &line, size_t max_length) {
    jol_assert(buf.chan);
    // The search resumes where it stopped: `searched` bytes of `chunk` and
    // `length` bytes in all are known to hold no newline.
    buffer_data *chunk = buf.data;
    size_t searched = 0, length = 0;
    for (;;) {
        while (chunk) {
            const char *from = chunk->bufp + searched;
            size_t n = static_cast<size_t>(chunk->size) - searched;
            if (const void *nl = n ? std::memchr(from, '\n', n) : nullptr) {
                length += static_cast<size_t>(static_cast<const char *>(nl) - from);
                if (length > max_length)
                    return buf_line_too_long;
                take_line(buf, line, length);
                return 0;
            }
            length += n;
            searched = static_cast<size_t>(chunk->size);
            if (!chunk->next)
                break;
            chunk = chunk->next;
            searched = 0;
        }
        if (length > max_length)
            return buf_line_too_long;
        buffer_data *room = buf_room(buf);
        if (!room) {
            buf.memory_error(buf);
            return buf_nomem;
        }
        if (room != chunk) {  // a fresh chunk behind everything searched
            chunk = room;
            searched = 0;
        } else if (searched > static_cast<size_t>(room->size)) {
            searched = 0;  // buf_room rewound the emptied chunk
        }
        size_t got;
        int status = read_into(buf, room, 1, got);
        if (status != 0)
            return status;
        if (got == 0)
            return EAGAIN;  // nonblocking, and nothing came
    }
}

int buf_read_data(buffer &buf, size_t want, const char *&data, size_t &got) {
    jol_assert(buf.chan);
    while (buf.data && buf.data->size == 0)
        free_buffer_data(buf_pop_front(buf));
    if (!buf.data) {
        buffer_data *d = get_buffer_data();
        if (!d) {
            buf.memory_error(buf);
            return buf_nomem;
        }
        buf_append_data(buf, d, d);
        size_t n = 0;
        int status = read_into(buf, d, std::min(want, BUFFER_DATA_SIZE), n);
        if (status != 0)
            return status;
    }
    buffer_data *d = buf.data;
    got = std::min(want, static_cast<size_t>(d->size));
    data = d->bufp;
    d->bufp += got;
    d->size -= static_cast<int>(got);
    return 0;
}
