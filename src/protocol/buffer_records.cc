// Records carried by buffers: output lines turned into protocol lines,
// counted records (doc/protocol.md#counted-records) and files read into
// chains. Whole chunks are relinked; only a partial piece is copied.
#include "buffer.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "sys_io.h"

namespace {

// Moves `count` bytes from the front of `from` to the end of `to`; they
// are all queued.
void move_bytes(buffer &to, buffer &from, size_t count) {
    while (count > 0) {
        buffer_data *d = from.data;
        size_t size = static_cast<size_t>(d->size);
        if (size <= count) {
            buffer_data *whole = buf_pop_front(from);
            buf_append_data(to, whole, whole);
            count -= size;
        } else {
            buf_output(to, d->bufp, count);
            d->bufp += count;
            d->size -= static_cast<int>(count);
            count = 0;
        }
    }
}

// Drops `count` queued bytes from the front of `buf`.
void drop_bytes(buffer &buf, size_t count) {
    while (count > 0) {
        buffer_data *d = buf.data;
        size_t n = std::min(count, static_cast<size_t>(d->size));
        d->bufp += n;
        d->size -= static_cast<int>(n);
        count -= n;
        if (d->size == 0 && count > 0)
            free_buffer_data(buf_pop_front(buf));
    }
}

// Copies up to `want` bytes from the front of the queue to `out` without
// consuming them; the count copied.
size_t peek_bytes(const buffer &buf, char *out, size_t want) {
    size_t have = 0;
    for (const buffer_data *d = buf.data; d && have < want; d = d->next) {
        size_t n = std::min(want - have, static_cast<size_t>(d->size));
        std::memcpy(out + have, d->bufp, n);
        have += n;
    }
    return have;
}

// Whether at least `want` bytes follow the first `skip` queued bytes; if
// not, how many are missing.
size_t missing_after(const buffer &buf, size_t skip, size_t want) {
    size_t have = 0, target = skip + want;
    for (const buffer_data *d = buf.data; d && have < target; d = d->next)
        have += static_cast<size_t>(d->size);
    return have >= target ? 0 : target - have;
}

// Puts a chunk holding the count `count` in front of the queue.
bool push_count(buffer &buf, int32_t count) {
    buffer_data *d = get_buffer_data();
    if (!d)
        return false;
    std::memcpy(d->bufp, &count, sizeof count);
    d->size = sizeof count;
    d->next = buf.data;
    buf.data = d;
    if (!buf.last)
        buf.last = d;
    return true;
}

int send_with_count(buffer &buf, int32_t count) {
    if (!push_count(buf, count)) {
        buf.memory_error(buf);
        return ENOMEM;
    }
    return buf_send_output(buf);
}

}  // namespace

void buf_copy_lines(buffer &to, buffer &from, int command) {
    for (;;) {
        buffer_data *d = from.data;
        const char *nl = nullptr;
        for (; d; d = d->next)
            if ((nl = static_cast<const char *>(std::memchr(d->bufp, '\n', d->size))))
                break;
        if (!nl)
            return;
        buf_append_char(to, command);
        buf_append_char(to, ' ');
        while (from.data != d) {
            buffer_data *whole = buf_pop_front(from);
            buf_append_data(to, whole, whole);
        }
        move_bytes(to, from, static_cast<size_t>(nl - d->bufp) + 1);
    }
}

int buf_copy_counted(buffer &to, buffer &from, int &special) {
    special = 0;
    for (;;) {
        int32_t count;
        char bytes[sizeof count];
        size_t have = peek_bytes(from, bytes, sizeof count);
        if (have < sizeof count)
            return static_cast<int>(sizeof count - have);
        std::memcpy(&count, bytes, sizeof count);
        if (count >= 0) {
            size_t missing = missing_after(from, sizeof count, static_cast<size_t>(count));
            if (missing > 0)
                return static_cast<int>(missing);
        }
        drop_bytes(from, sizeof count);
        if (count < 0) {
            special = count;
            return 0;
        }
        move_bytes(to, from, static_cast<size_t>(count));
    }
}

int buf_send_counted(buffer &buf) {
    size_t total = buf_length(buf);
    if (total > INT32_MAX) {
        free_buffer_data(buf.data);
        buf.data = buf.last = nullptr;
        return EFBIG;
    }
    return send_with_count(buf, static_cast<int32_t>(total));
}

int buf_send_special_count(buffer &buf, int count) { return send_with_count(buf, count); }

namespace {

// Reads chunks from `fp` until `length` bytes came (`to_eof`: until the end).
int read_chain(FILE *fp, size_t length, bool to_eof, buffer_data *&first, buffer_data *&last) {
    first = last = nullptr;
    auto fail = [&](int status) {
        free_buffer_data(first);
        first = last = nullptr;
        return status;
    };
    while (to_eof || length > 0) {
        buffer_data *d = get_buffer_data();
        if (!d)
            return fail(buf_nomem);
        size_t want = to_eof ? BUFFER_DATA_SIZE : std::min(length, BUFFER_DATA_SIZE);
        errno = EIO;
        size_t n = sys_fread(d->bufp, want, fp);
        if (n < want && (!to_eof || ferror(fp))) {
            int status = errno ? errno : EIO;
            free_buffer_data(d);
            return fail(status);
        }
        if (n == 0) {
            free_buffer_data(d);
            break;
        }
        d->size = static_cast<int>(n);
        if (first)
            last->next = d;
        else
            first = d;
        last = d;
        if (n < want)
            break;
        if (!to_eof)
            length -= n;
    }
    return 0;
}

}  // namespace

int buf_read_file(FILE *fp, size_t length, buffer_data *&first, buffer_data *&last) {
    return read_chain(fp, length, false, first, last);
}

int buf_read_file_to_eof(FILE *fp, buffer_data *&first, buffer_data *&last) {
    return read_chain(fp, 0, true, first, last);
}
