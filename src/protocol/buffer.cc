// The chunk pool, the queue operations, sending and mode switching. Data is
// copied only into a chunk's free space; moving between buffers relinks.
#include "buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "src/base/error.h"

namespace {

constexpr int chunks_per_block = 16;

// The pool's free list; process-wide, like the memory it hands out.
buffer_data *free_list = nullptr;

bool grow_pool() {
    auto *headers = static_cast<buffer_data *>(std::malloc(chunks_per_block * sizeof(buffer_data)));
    if (!headers)
        return false;
    void *block = nullptr;
    if (posix_memalign(&block, BUFFER_DATA_SIZE, chunks_per_block * BUFFER_DATA_SIZE) != 0) {
        std::free(headers);
        return false;
    }
    for (int i = 0; i < chunks_per_block; ++i) {
        char *text = static_cast<char *>(block) + i * BUFFER_DATA_SIZE;
        headers[i] = buffer_data{free_list, text, 0, text};
        free_list = &headers[i];
    }
    return true;
}

void discard_queue(buffer &buf) {
    free_buffer_data(buf.data);
    buf.data = buf.last = nullptr;
}

}  // namespace

buffer_data *get_buffer_data() {
    if (!free_list && !grow_pool())
        return nullptr;
    buffer_data *d = free_list;
    free_list = d->next;
    d->next = nullptr;
    d->bufp = d->text;
    d->size = 0;
    return d;
}

buffer_data *buf_pop_front(buffer &buf) {
    buffer_data *d = buf.data;
    buf.data = d->next;
    if (!buf.data)
        buf.last = nullptr;
    d->next = nullptr;
    return d;
}

void free_buffer_data(buffer_data *first) {
    if (!first)
        return;
    buffer_data *end = first;
    while (end->next)
        end = end->next;
    end->next = free_list;
    free_list = first;
}

void buf_default_memory_error(buffer &) { fatal(0, "out of memory"); }

int channel::input(char *, size_t, size_t, size_t &) {
    eprintf_assert(__FILE__, __LINE__, "input on a channel that has none");
}
int channel::output(const char *, size_t, size_t &) {
    eprintf_assert(__FILE__, __LINE__, "output on a channel that has none");
}
int channel::output_chunks(const buffer_data *first, size_t &wrote) {
    wrote = 0;
    for (const buffer_data *d = first; d; d = d->next) {
        size_t size = static_cast<size_t>(d->size), n = 0;
        if (size == 0)
            continue;
        int status = output(d->bufp, size, n);
        wrote += n;
        if (status != 0 || n < size)
            return status;
    }
    return 0;
}

int channel::flush() { eprintf_assert(__FILE__, __LINE__, "flush on a channel that has none"); }
int channel::block(bool) {
    eprintf_assert(__FILE__, __LINE__, "mode switch on a channel that has none");
}

buffer_ptr buf_initialize(std::unique_ptr<channel> chan, buffer_memory_error memory_error) {
    return std::make_unique<buffer>(std::move(chan), memory_error);
}

buffer_ptr buf_nonio_initialize(buffer_memory_error memory_error) {
    return std::make_unique<buffer>(nullptr, memory_error);
}

void buf_output(buffer &buf, const char *data, size_t len) {
    if (len == 0)
        return;
    if (buf.last && chunk_free(buf.last) >= len) {
        std::memcpy(buf.last->bufp + buf.last->size, data, len);
        buf.last->size += static_cast<int>(len);
        return;
    }
    // What does not fit whole goes to fresh chunks, so that a piece of at
    // most one chunk's size is never split.
    while (len > 0) {
        buffer_data *d = get_buffer_data();
        if (!d) {
            buf.memory_error(buf);
            return;
        }
        size_t n = std::min(len, BUFFER_DATA_SIZE);
        std::memcpy(d->bufp, data, n);
        d->size = static_cast<int>(n);
        buf_append_data(buf, d, d);
        data += n;
        len -= n;
    }
}

void buf_output0(buffer &buf, const char *string) { buf_output(buf, string, std::strlen(string)); }

void buf_append_char(buffer &buf, int ch) {
    if (buf.last && chunk_free(buf.last) > 0) {
        buf.last->bufp[buf.last->size++] = static_cast<char>(ch);
        return;
    }
    char c = static_cast<char>(ch);
    buf_output(buf, &c, 1);
}

void buf_append_data(buffer &buf, buffer_data *first, buffer_data *last) {
    if (!first)
        return;
    if (buf.data)
        buf.last->next = first;
    else
        buf.data = first;
    buf.last = last;
}

void buf_append_buffer(buffer &to, buffer &from) {
    buf_append_data(to, from.data, from.last);
    from.data = from.last = nullptr;
}

bool buf_empty_p(const buffer &buf) {
    for (const buffer_data *d = buf.data; d; d = d->next)
        if (d->size > 0)
            return false;
    return true;
}

size_t buf_chain_length(const buffer_data *chain) {
    size_t total = 0;
    for (; chain; chain = chain->next)
        total += static_cast<size_t>(chain->size);
    return total;
}

size_t buf_length(const buffer &buf) { return buf_chain_length(buf.data); }

size_t buf_count_mem(const buffer &buf) {
    size_t chunks = 0;
    for (const buffer_data *d = buf.data; d; d = d->next)
        ++chunks;
    return chunks * BUFFER_DATA_SIZE;
}

buffer_data *buf_room(buffer &buf) {
    if (buf.last && buf.last->size == 0)
        buf.last->bufp = buf.last->text;  // an emptied chunk is whole again
    if (buf.last && chunk_free(buf.last) > 0)
        return buf.last;
    buffer_data *d = get_buffer_data();
    if (d)
        buf_append_data(buf, d, d);
    return d;
}

int buf_send_output(buffer &buf) {
    jol_assert(buf.chan);
    if (!buf.data)
        return 0;
    size_t wrote = 0;
    int status = buf.chan->output_chunks(buf.data, wrote);
    if (status != 0) {
        discard_queue(buf);
        return status;
    }
    // What went out is dropped; in nonblocking mode the rest stays queued.
    while (buf.data && static_cast<size_t>(buf.data->size) <= wrote) {
        wrote -= static_cast<size_t>(buf.data->size);
        free_buffer_data(buf_pop_front(buf));
    }
    if (buf.data) {
        buf.data->bufp += wrote;
        buf.data->size -= static_cast<int>(wrote);
    }
    return 0;
}

int buf_flush(buffer &buf, bool block) {
    jol_assert(buf.chan);
    bool switched = block && buf.nonblocking;
    if (switched) {
        int status = set_block(buf);
        if (status != 0)
            return status;
    }
    int status = buf_send_output(buf);
    if (status == 0)
        status = buf.chan->flush();
    if (switched) {
        int back = set_nonblock(buf);
        if (status == 0)
            status = back;
    }
    return status;
}

int set_block(buffer &buf) {
    if (!buf.nonblocking)
        return 0;
    jol_assert(buf.chan);
    int status = buf.chan->block(true);
    if (status == 0)
        buf.nonblocking = 0;
    return status;
}

int set_nonblock(buffer &buf) {
    if (buf.nonblocking)
        return 0;
    jol_assert(buf.chan);
    int status = buf.chan->block(false);
    if (status == 0)
        buf.nonblocking = 1;
    return status;
}

int buf_shutdown(buffer &buf) { return buf.chan ? buf.chan->shutdown() : 0; }
