// The descriptor channel: a buffer over a pipe, socket or file, with the
// nonblocking mode the server's relay uses.
#pragma once

#include "buffer.h"
#include "sys_io.h"

class fd_channel : public channel {
  public:
    // Starts in blocking mode; `input` chooses between the input and the
    // output kind.
    fd_channel(unique_fd fd, bool input);

    // Blocking: waits for at least one byte (and goes on until `need` came),
    // taking whatever else is already there up to `size`. Nonblocking: one
    // read, nothing when nothing is there. buf_eof at end of file.
    int input(char *data, size_t need, size_t size, size_t &got) override;
    int output(const char *data, size_t have, size_t &wrote) override;
    // Many chunks in one system call.
    int output_chunks(const buffer_data *first, size_t &wrote) override;
    int flush() override { return 0; }
    int block(bool blocking) override;

    int fd() const { return fd_.get(); }

  private:
    unique_fd fd_;
    bool input_;
    bool socket_;
    bool blocking_ = true;
};

// A buffer over `fd`, which it owns.
buffer_ptr fd_buffer_initialize(unique_fd fd, bool input, buffer_memory_error memory_error);
