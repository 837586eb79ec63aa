// Stream compression: a wrapper that sends a buffer's bytes as one zlib
// stream and reads them back. Format: doc/protocol.md#compressed-stream
#pragma once

#include <zlib.h>

#include "buffer.h"

class compress_channel : public channel {
  public:
    // Wraps `wrapped`, which it owns. An input channel first decodes what
    // `wrapped` has already queued, however many chunks that is. zlib
    // failing to start is fatal.
    compress_channel(buffer_ptr wrapped, bool input, int level);
    ~compress_channel() override;

    int input(char *data, size_t need, size_t size, size_t &got) override;
    int output(const char *data, size_t have, size_t &wrote) override;
    // Ends what was written so far with a sync flush, so that the peer can
    // decode all of it.
    int flush() override;
    int block(bool blocking) override;
    // Input: reads up to the end of the stream. Output: finishes it.
    int shutdown() override;

  private:
    // Deflates with `flush_mode` into the wrapped queue until zlib has
    // nothing more to give; `text` names the step in reports.
    int deflate_into_queue(int flush_mode, const char *text);
    int shutdown_input();
    int shutdown_output();

    buffer_ptr wrapped_;
    bool input_;
    z_stream zs_{};
    bool ended_ = false;       // zlib state released
    bool stream_end_ = false;  // input: the peer finished its stream
};

buffer_ptr compress_buffer_initialize(buffer_ptr wrapped, bool input, int level,
                                      buffer_memory_error memory_error);
