// The stdio channel: a buffer over a stream, as the client's connection
// starts out. Streams have no nonblocking mode.
#pragma once

#include <cstdio>
#include <memory>

#include "buffer.h"

struct stdio_closer {
    void operator()(FILE *fp) const { std::fclose(fp); }
};
// An owned stream, closed when dropped.
using unique_file = std::unique_ptr<FILE, stdio_closer>;

class stdio_channel : public channel {
  public:
    stdio_channel(unique_file fp, bool input) : fp_(std::move(fp)), input_(input) {}

    // `need` above 1: one read of `need` bytes; otherwise a single byte.
    int input(char *data, size_t need, size_t size, size_t &got) override;
    int output(const char *data, size_t have, size_t &wrote) override;
    int flush() override;

  private:
    unique_file fp_;
    bool input_;
};

// A buffer over `fp`, which it owns.
buffer_ptr stdio_buffer_initialize(unique_file fp, bool input, buffer_memory_error memory_error);
