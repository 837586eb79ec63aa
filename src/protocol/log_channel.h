// The traffic log: a wrapper that copies everything its buffer reads or
// writes to a log stream, for watching a client's conversation.
#pragma once

#include <string>

#include "buffer.h"
#include "stdio_channel.h"

class log_channel : public channel {
  public:
    // Wraps `wrapped`, whose channel it calls directly (so the wrapped
    // queue stays unused), and owns both it and `log`.
    log_channel(buffer_ptr wrapped, unique_file log, bool input);

    int input(char *data, size_t need, size_t size, size_t &got) override;
    int output(const char *data, size_t have, size_t &wrote) override;
    int flush() override;
    int block(bool blocking) override;
    // Shuts the wrapped buffer down and closes the log; the wrapped status.
    int shutdown() override;

  private:
    void log(const char *data, size_t len);

    buffer_ptr wrapped_;
    unique_file log_;
    bool input_;
};

buffer_ptr log_buffer_initialize(buffer_ptr wrapped, unique_file log, bool input,
                                 buffer_memory_error memory_error);

// Logs a client's traffic into `base` + ".in" (what goes to the server) and
// `base` + ".out" (what comes back), wrapping the two buffers in place. A
// log that cannot be opened is reported and that direction goes unlogged.
void log_client_traffic(buffer_ptr &to_server, buffer_ptr &from_server, const std::string &base);
