// Packets are built straight in a pool chunk when the translation is sure
// to fit, and received packets are gathered whole before translation; a
// payload the reader has no room for is held for the next call.
#include "packetizing_channel.h"

#include <algorithm>
#include <cstring>

#include "src/base/error.h"

namespace {

constexpr size_t length_bytes = 2;
// Room for a received packet before it has to grow: the largest payload
// in its inner form, with the translation's slack.
constexpr size_t initial_hold = packet_payload_max + length_bytes + packet_translation_slack;

void put_length(char *to, size_t length) {
    to[0] = static_cast<char>((length >> 8) & 0xff);
    to[1] = static_cast<char>(length & 0xff);
}

size_t get_length(const char *from) {
    return static_cast<size_t>(static_cast<unsigned char>(from[0])) << 8 |
           static_cast<unsigned char>(from[1]);
}

}  // namespace

packetizing_channel::packetizing_channel(buffer_ptr wrapped,
                                         std::unique_ptr<packet_translation> translation,
                                         bool input)
    : wrapped_(std::move(wrapped)), translation_(std::move(translation)), input_(input) {
    if (input_) {
        hold_.resize(initial_hold);
        inner_.resize(initial_hold);
    }
}

int packetizing_channel::output(const char *data, size_t have, size_t &wrote) {
    if (input_)
        return channel::output(data, have, wrote);
    jol_assert(have <= packet_payload_max);
    char inner[length_bytes + packet_payload_max];
    put_length(inner, have);
    std::memcpy(inner + length_bytes, data, have);
    size_t inner_size = have + length_bytes;
    size_t room = inner_size + packet_translation_slack;

    size_t translated = 0;
    if (room + length_bytes <= BUFFER_DATA_SIZE) {
        buffer_data *d = get_buffer_data();
        if (!d) {
            wrapped_->memory_error(*wrapped_);
            return ENOMEM;
        }
        int status =
            translation_->translate_output(inner, inner_size, d->bufp + length_bytes, translated);
        if (status != 0) {
            free_buffer_data(d);
            return status;
        }
        jol_assert(translated <= room);
        put_length(d->bufp, translated);
        d->size = static_cast<int>(translated + length_bytes);
        buf_append_data(*wrapped_, d, d);
    } else {
        char packet[length_bytes + length_bytes + packet_payload_max + packet_translation_slack];
        int status =
            translation_->translate_output(inner, inner_size, packet + length_bytes, translated);
        if (status != 0)
            return status;
        jol_assert(translated <= room);
        put_length(packet, translated);
        buf_output(*wrapped_, packet, translated + length_bytes);
    }
    wrote = have;
    return buf_send_output(*wrapped_);
}

bool packetizing_channel::gather_packet(int &status) {
    status = 0;
    for (;;) {
        size_t want;
        if (held_ < length_bytes) {
            want = length_bytes - held_;
        } else {
            size_t total = get_length(hold_.data()) + length_bytes;
            if (held_ == total)
                return true;
            if (hold_.size() < total)
                hold_.resize(total);
            want = total - held_;
        }
        const char *piece;
        size_t got = 0;
        status = buf_read_data(*wrapped_, want, piece, got);
        if (status == buf_nomem)
            status = ENOMEM;
        if (status != 0 || got == 0)
            return false;
        std::memcpy(hold_.data() + held_, piece, got);
        held_ += got;
    }
}

int packetizing_channel::input(char *data, size_t need, size_t size, size_t &got) {
    if (!input_)
        return channel::input(data, need, size, got);
    got = 0;
    if (translated_) {
        got = std::min(held_, size);
        std::memcpy(data, hold_.data() + held_from_, got);
        held_from_ += got;
        held_ -= got;
        if (held_ > 0)
            return 0;
        translated_ = false;
    }
    while (got == 0 || got < need) {
        int status;
        if (!gather_packet(status))
            return got > 0 ? 0 : status;  // a failure shows on the next call
        size_t packet = held_ - length_bytes;
        held_ = 0;
        if (inner_.size() < packet)
            inner_.resize(packet);
        status = translation_->translate_input(hold_.data() + length_bytes, packet, inner_.data());
        if (status != 0)
            return status;
        size_t payload = packet >= length_bytes ? get_length(inner_.data()) : packet;
        if (payload + length_bytes > packet)
            fatal(0, "Input translation failure");
        const char *from = inner_.data() + length_bytes;
        size_t n = std::min(payload, size - got);
        std::memcpy(data + got, from, n);
        got += n;
        if (n < payload) {
            held_ = payload - n;
            std::memcpy(hold_.data(), from + n, held_);
            held_from_ = 0;
            translated_ = true;
            return 0;
        }
    }
    return 0;
}

int packetizing_channel::flush() { return buf_flush(*wrapped_, false); }

int packetizing_channel::block(bool blocking) {
    return blocking ? set_block(*wrapped_) : set_nonblock(*wrapped_);
}

int packetizing_channel::shutdown() { return buf_shutdown(*wrapped_); }

buffer_ptr packetizing_buffer_initialize(buffer_ptr wrapped,
                                         std::unique_ptr<packet_translation> translation,
                                         bool input, buffer_memory_error memory_error) {
    return buf_initialize(
        std::make_unique<packetizing_channel>(std::move(wrapped), std::move(translation), input),
        memory_error);
}
