// Buffers: queues of fixed-size chunks that carry every byte of the
// client/server connection and of the server's command child. A buffer's
// channel (descriptor, stdio stream, or a wrapper over another buffer)
// moves bytes in and out; a buffer without one is a pure in-memory queue.
// Format of counted records: doc/protocol.md#counted-records
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

// Status of every buffer operation and channel function: 0 success,
// buf_eof (input only, nothing could be read), buf_nomem, or an errno value.
constexpr int buf_eof = -1;
constexpr int buf_nomem = -2;
// buf_read_line's answer to a line longer than the caller allows.
constexpr int buf_line_too_long = EMSGSIZE;

// Longest lines callers accept: the authentication exchange, and requests
// a server reads from its client.
constexpr size_t auth_line_max = 1024;
constexpr size_t request_line_max = 1 << 20;

constexpr size_t BUFFER_DATA_SIZE = 4096;

// One chunk. Its BUFFER_DATA_SIZE bytes of storage begin at `text`; the
// valid bytes are the `size` bytes at `bufp`; behind them is free space.
struct buffer_data {
    buffer_data *next;
    char *bufp;
    int size;
    char *text;
};

inline size_t chunk_free(const buffer_data *d) {
    return static_cast<size_t>(d->text + BUFFER_DATA_SIZE - (d->bufp + d->size));
}

// Chunks come from one process-wide pool, made 16 at a time from one
// page-aligned block and never given back to the system. Null when no
// chunk can be made. A chunk comes back empty with bufp at text.
buffer_data *get_buffer_data();
// Returns a chain (and everything linked behind `first`) to the pool.
void free_buffer_data(buffer_data *first);

struct buffer;
// Called when no chunk can be had for `buf`; the default reports the fatal
// "out of memory". The operation then gives up (buf_nomem).
using buffer_memory_error = void (*)(buffer &buf);
void buf_default_memory_error(buffer &buf);

// What a buffer reads from and writes to. A kind overrides the functions it
// has; calling one it lacks (reading from an output channel, switching the
// mode of a stdio stream) is a programming error and aborts.
class channel {
  public:
    virtual ~channel() = default;
    // Stores at least `need` bytes (0: whatever is there without waiting,
    // possibly nothing) and at most `size` at `data`; `got` is the count.
    // buf_eof only when not a byte could be read because the input ended.
    virtual int input(char *data, size_t need, size_t size, size_t &got);
    // Writes up to `have` bytes, `wrote` the count: blocking, all of them
    // or an error; nonblocking, a short count with status 0 means the
    // channel would block.
    virtual int output(const char *data, size_t have, size_t &wrote);
    // Writes the chunks from `first` on as output() would write them one
    // after another, stopping at a short count; `wrote` is the total. A
    // kind that can write several pieces in one call overrides it.
    virtual int output_chunks(const buffer_data *first, size_t &wrote);
    virtual int flush();
    // Blocking (true) or nonblocking (false) mode.
    virtual int block(bool blocking);
    // Ends the channel's use (wrappers shut down what they wrap); 0 when
    // the kind has nothing to do.
    virtual int shutdown() { return 0; }
};

// A queue of chunks and, unless it is a pure queue, the channel it uses.
// The fields belong to the buffer functions and the channel kinds of this
// library; everyone else goes through the functions below.
struct buffer {
    buffer(std::unique_ptr<channel> chan, buffer_memory_error memory_error)
        : chan(std::move(chan)),
          memory_error(memory_error ? memory_error : buf_default_memory_error) {}
    buffer(const buffer &) = delete;
    buffer &operator=(const buffer &) = delete;
    // Returns every chunk to the pool; the channel goes with the buffer.
    ~buffer() { free_buffer_data(data); }

    buffer_data *data = nullptr;  // first chunk, none when empty
    buffer_data *last = nullptr;  // last chunk
    int nonblocking = 0;          // changed only by set_block and set_nonblock
    std::unique_ptr<channel> chan;
    buffer_memory_error memory_error;
};
using buffer_ptr = std::unique_ptr<buffer>;

// A buffer over `chan`; a null memory_error is buf_default_memory_error.
// Releasing the buffer (dropping the pointer) releases the channel and,
// through it, whatever the channel owns.
buffer_ptr buf_initialize(std::unique_ptr<channel> chan, buffer_memory_error memory_error);
// A pure in-memory queue.
buffer_ptr buf_nonio_initialize(buffer_memory_error memory_error);

// Queue operations, no I/O. On pool exhaustion they call memory_error and
// store nothing more.
void buf_output(buffer &buf, const char *data, size_t len);
inline void buf_output(buffer &buf, std::string_view s) { buf_output(buf, s.data(), s.size()); }
void buf_output0(buffer &buf, const char *string);
void buf_append_char(buffer &buf, int ch);
// Links the ready chain first..last behind the queue.
void buf_append_data(buffer &buf, buffer_data *first, buffer_data *last);
// Moves every chunk of `from` behind `to`, leaving `from` empty.
void buf_append_buffer(buffer &to, buffer &from);
bool buf_empty_p(const buffer &buf);
size_t buf_length(const buffer &buf);
size_t buf_chain_length(const buffer_data *chain);
// Memory the queue holds: its chunks times BUFFER_DATA_SIZE.
size_t buf_count_mem(const buffer &buf);
// Unlinks the first chunk of a queue that is not empty and returns it.
buffer_data *buf_pop_front(buffer &buf);
// A last chunk with free space, appended from the pool when needed; null
// when the pool is exhausted (memory_error not called).
buffer_data *buf_room(buffer &buf);

// Reads exactly `length` bytes (buf_read_file) or everything up to the end
// (buf_read_file_to_eof; nothing at all gives an empty chain) from `fp` into
// a new chain. 0, buf_nomem, or the errno of the failed read (EIO when the
// stream ended early); on failure nothing is kept.
int buf_read_file(FILE *fp, size_t length, buffer_data *&first, buffer_data *&last);
int buf_read_file_to_eof(FILE *fp, buffer_data *&first, buffer_data *&last);

// Writes out what is queued. A failure discards the whole queue and is
// returned; in nonblocking mode what the channel does not take stays
// queued (status 0).
int buf_send_output(buffer &buf);
// buf_send_output, then the channel's flush; with `block` a nonblocking
// buffer is switched to blocking for the time of the flush.
int buf_flush(buffer &buf, bool block);
int set_block(buffer &buf);
int set_nonblock(buffer &buf);
int buf_shutdown(buffer &buf);

// Reads whatever is available, until a read gives less than the room it
// was offered or `limit` bytes came; `count` (when given) is set to the
// number of bytes added to the queue. Meant for nonblocking buffers: a
// blocking one waits for input whenever a read filled its room. A writer
// that keeps the channel full is read only up to `limit` per call.
int buf_input_data(buffer &buf, size_t *count, size_t limit = static_cast<size_t>(-1));
// The next line, without its newline (carriage returns are kept), into
// `line`. A line longer than `max_length` bytes is buf_line_too_long, found
// before more than one chunk beyond the limit has been read; the bytes stay
// queued. At the end of the input a partial line stays queued (buf_eof); a
// nonblocking buffer with nothing more to read gives EAGAIN.
int buf_read_line(buffer &buf, std::string &line, size_t max_length);
// Up to `want` bytes, never more than the first chunk holds: `data` points
// into the queue and stays valid until the next operation on `buf`.
int buf_read_data(buffer &buf, size_t want, const char *&data, size_t &got);

// Turns each complete line of `from` into `command`, a blank and the line
// in `to`, moving whole chunks where it can; a partial last line stays.
void buf_copy_lines(buffer &to, buffer &from, int command);
// Moves the data of the complete counted records queued in `from` to `to`.
// Returns 0 when a special (negative) count was met, stored in `special`;
// otherwise the number of bytes still missing for the next record.
int buf_copy_counted(buffer &to, buffer &from, int &special);
// Sends everything queued as one counted record. EFBIG (queue discarded)
// when it does not fit in a count.
int buf_send_counted(buffer &buf);
// Sends the special `count` in front of whatever is queued.
int buf_send_special_count(buffer &buf, int count);
