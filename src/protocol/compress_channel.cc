// Compressed bytes live in the wrapped buffer's chunks: deflate writes into
// their free space and inflate reads them where they lie, so nothing is
// copied on the way and bytes the wrapped buffer had already read (however
// many chunks) are decoded first.
#include "compress_channel.h"

#include "compress_error.h"
#include "src/base/error.h"

namespace {

constexpr int window_bits = 15;
constexpr int memory_level = 8;

// The first queued chunk that holds bytes, dropping emptied ones before it
// (the last chunk is kept for its free space); null when none does.
buffer_data *first_with_data(buffer &buf) {
    while (buf.data && buf.data->size == 0 && buf.data != buf.last)
        free_buffer_data(buf_pop_front(buf));
    return buf.data && buf.data->size > 0 ? buf.data : nullptr;
}

}  // namespace

compress_channel::compress_channel(buffer_ptr wrapped, bool input, int level)
    : wrapped_(std::move(wrapped)), input_(input) {
    int status = input_ ? inflateInit2(&zs_, window_bits)
                        : deflateInit2(&zs_, level, Z_DEFLATED, window_bits, memory_level,
                                       Z_DEFAULT_STRATEGY);
    if (status != Z_OK)
        compress_error(1, status, &zs_, "compression initialization");
}

compress_channel::~compress_channel() {
    if (!ended_)
        input_ ? inflateEnd(&zs_) : deflateEnd(&zs_);
}

int compress_channel::input(char *data, size_t need, size_t size, size_t &got) {
    if (!input_)
        return channel::input(data, need, size, got);
    got = 0;
    if (stream_end_)
        return buf_eof;
    jol_assert(wrapped_->chan);
    zs_.next_out = reinterpret_cast<Bytef *>(data);
    zs_.avail_out = static_cast<uInt>(size);
    for (;;) {
        buffer_data *d = first_with_data(*wrapped_);
        zs_.next_in = d ? reinterpret_cast<Bytef *>(d->bufp) : nullptr;
        zs_.avail_in = d ? static_cast<uInt>(d->size) : 0;
        int status = inflate(&zs_, Z_NO_FLUSH);
        if (d) {
            size_t used = static_cast<size_t>(d->size) - zs_.avail_in;
            d->bufp += used;
            d->size -= static_cast<int>(used);
        }
        got = size - zs_.avail_out;
        if (status == Z_STREAM_END) {
            stream_end_ = true;
            return got > 0 ? 0 : buf_eof;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            compress_error(0, status, &zs_, "inflate");
            return EIO;
        }
        if (zs_.avail_out == 0)
            return 0;
        if (first_with_data(*wrapped_))
            continue;  // decode all that is queued before returning
        if (got > 0 && got >= need)
            return 0;
        // Everything queued is decoded: read more compressed bytes.
        buffer_data *room = buf_room(*wrapped_);
        if (!room)
            return buf_nomem;
        size_t n = 0;
        status =
            wrapped_->chan->input(room->bufp + room->size, need > 0 ? 1 : 0, chunk_free(room), n);
        if (status != 0)
            return got > 0 ? 0 : status;  // a failure shows on the next call
        room->size += static_cast<int>(n);
        if (n == 0)
            return 0;
    }
}

int compress_channel::deflate_into_queue(int flush_mode, const char *text) {
    for (;;) {
        buffer_data *room = buf_room(*wrapped_);
        if (!room) {
            wrapped_->memory_error(*wrapped_);
            return ENOMEM;
        }
        size_t space = chunk_free(room);
        zs_.next_out = reinterpret_cast<Bytef *>(room->bufp + room->size);
        zs_.avail_out = static_cast<uInt>(space);
        int status = deflate(&zs_, flush_mode);
        room->size += static_cast<int>(space - zs_.avail_out);
        if (status == Z_STREAM_END || status == Z_BUF_ERROR)
            return 0;  // finished, or nothing more to give
        if (status != Z_OK) {
            compress_error(0, status, &zs_, text);
            return EIO;
        }
        if (zs_.avail_out > 0 && flush_mode != Z_FINISH)
            return 0;  // all input taken and all output given
    }
}

int compress_channel::output(const char *data, size_t have, size_t &wrote) {
    if (input_)
        return channel::output(data, have, wrote);
    zs_.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    zs_.avail_in = static_cast<uInt>(have);
    int status = deflate_into_queue(Z_NO_FLUSH, "deflate");
    if (status != 0)
        return status;
    wrote = have;
    return buf_send_output(*wrapped_);
}

int compress_channel::flush() {
    if (input_)
        return channel::flush();
    zs_.next_in = nullptr;
    zs_.avail_in = 0;
    int status = deflate_into_queue(Z_SYNC_FLUSH, "deflate flush");
    if (status != 0)
        return status;
    return buf_flush(*wrapped_, false);
}

int compress_channel::block(bool blocking) {
    return blocking ? set_block(*wrapped_) : set_nonblock(*wrapped_);
}

int compress_channel::shutdown() { return input_ ? shutdown_input() : shutdown_output(); }

int compress_channel::shutdown_input() {
    if (!ended_) {
        // The rest of the peer's stream is read and dropped, up to its end.
        char scratch[BUFFER_DATA_SIZE];
        while (!stream_end_) {
            size_t got = 0;
            int status = input(scratch, 0, sizeof scratch, got);
            if (status == buf_eof)
                break;
            if (status != 0)
                return status;
            if (got == 0)
                break;  // nonblocking, and nothing more has come
        }
        ended_ = true;
        int status = inflateEnd(&zs_);
        if (status != Z_OK) {
            compress_error(0, status, &zs_, "inflateEnd");
            return EIO;
        }
    }
    return buf_shutdown(*wrapped_);
}

int compress_channel::shutdown_output() {
    if (!ended_) {
        zs_.next_in = nullptr;
        zs_.avail_in = 0;
        int status = deflate_into_queue(Z_FINISH, "deflate finish");
        if (status != 0)
            return status;
        ended_ = true;
        status = deflateEnd(&zs_);
        if (status != Z_OK) {
            compress_error(0, status, &zs_, "deflateEnd");
            return EIO;
        }
    }
    int status = buf_flush(*wrapped_, true);
    if (status != 0)
        return status;
    return buf_shutdown(*wrapped_);
}

buffer_ptr compress_buffer_initialize(buffer_ptr wrapped, bool input, int level,
                                      buffer_memory_error memory_error) {
    return buf_initialize(std::make_unique<compress_channel>(std::move(wrapped), input, level),
                          memory_error);
}
