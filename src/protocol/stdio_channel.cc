// Stream reads never ask for more than `need`: a stream read waits until it
// has all it asked for, which would stall a conversation.
#include "stdio_channel.h"

#include <algorithm>
#include <cerrno>

#include "sys_io.h"

namespace {

int stream_error() { return errno ? errno : EIO; }

}  // namespace

int stdio_channel::input(char *data, size_t need, size_t size, size_t &got) {
    if (!input_)
        return channel::input(data, need, size, got);
    got = 0;
    errno = 0;
    if (need > 1) {
        got = sys_fread(data, std::min(need, size), fp_.get());
    } else {
        int c = sys_getc(fp_.get());
        if (c != EOF) {
            data[0] = static_cast<char>(c);
            got = 1;
        }
    }
    if (got > 0)
        return 0;
    return std::feof(fp_.get()) ? buf_eof : stream_error();
}

int stdio_channel::output(const char *data, size_t have, size_t &wrote) {
    if (input_)
        return channel::output(data, have, wrote);
    errno = 0;
    wrote = sys_fwrite(data, have, fp_.get());
    return wrote == have ? 0 : stream_error();
}

int stdio_channel::flush() {
    if (input_)
        return channel::flush();
    return sys_fflush(fp_.get());
}

buffer_ptr stdio_buffer_initialize(unique_file fp, bool input, buffer_memory_error memory_error) {
    return buf_initialize(std::make_unique<stdio_channel>(std::move(fp), input), memory_error);
}
