// Packet framing over a buffer, for a translation that works on whole
// packets (integrity wrapping of an authenticated connection).
// Format: doc/protocol.md#packets
#pragma once

#include <memory>
#include <vector>

#include "buffer.h"

// At most this much payload goes into one packet, and a translation may
// add at most packet_translation_slack bytes to what it is given.
constexpr size_t packet_payload_max = BUFFER_DATA_SIZE;
constexpr size_t packet_translation_slack = 100;

// The translation of whole packets; its failures are its own to report.
class packet_translation {
  public:
    virtual ~packet_translation() = default;
    // Translates the `size` bytes at `in` into `out`, which has room for
    // size + packet_translation_slack bytes; `translated` is the count.
    virtual int translate_output(const char *in, size_t size, char *out, size_t &translated) = 0;
    // Translates a received packet of `size` bytes into `out`, which has
    // room for `size` bytes; the result must fit.
    virtual int translate_input(const char *in, size_t size, char *out) = 0;
};

class packetizing_channel : public channel {
  public:
    packetizing_channel(buffer_ptr wrapped, std::unique_ptr<packet_translation> translation,
                        bool input);

    int input(char *data, size_t need, size_t size, size_t &got) override;
    // Writes one packet; `have` is at most packet_payload_max.
    int output(const char *data, size_t have, size_t &wrote) override;
    int flush() override;
    int block(bool blocking) override;
    int shutdown() override;

  private:
    // Gathers the next packet in hold_; false when the wrapped buffer has
    // nothing more for now (status 0) or failed (status set).
    bool gather_packet(int &status);

    buffer_ptr wrapped_;
    std::unique_ptr<packet_translation> translation_;
    bool input_;
    // Input side: the packet being gathered, or (translated_) the payload
    // bytes from held_from_ on that the reader had no room for.
    std::vector<char> hold_;
    size_t held_ = 0;
    size_t held_from_ = 0;
    bool translated_ = false;
    std::vector<char> inner_;  // translated packet
};

buffer_ptr packetizing_buffer_initialize(buffer_ptr wrapped,
                                         std::unique_ptr<packet_translation> translation,
                                         bool input, buffer_memory_error memory_error);
