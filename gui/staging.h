// The staging writer of the GUI link: the few small writes that make up one
// message are gathered in a 512-byte buffer and leave in as few write()
// calls as possible. Installed as the wire layer's writer and flusher.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kWriteStageSize = 512;

struct WriteStage {
    uint8_t bytes[kWriteStageSize];
    size_t used = 0;
};

// The process's own stage, and the stage in use (a front-end points this at
// the stage of the child it is answering).
extern WriteStage process_write_buffer;
extern WriteStage *current_write_buffer;

// Appends while the bytes fit without reaching 512; otherwise fills the
// stage to exactly 512 bytes and flushes it. 0 when a flush fails.
int jol_process_write(int fd, const uint8_t *buf, size_t count);
// Writes the staged bytes to `fd` (after partial writes and EAGAIN it goes
// on); the stage is empty afterwards, also after a failure. 1 on success.
int jol_process_flush(int fd);
