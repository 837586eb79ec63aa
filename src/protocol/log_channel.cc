// A failing log never stops the traffic: its errors are reported and the
// bytes go on to (or come from) the wrapped channel regardless.
#include "log_channel.h"

#include <cerrno>

#include "src/base/error.h"
#include "sys_io.h"

log_channel::log_channel(buffer_ptr wrapped, unique_file log, bool input)
    : wrapped_(std::move(wrapped)), log_(std::move(log)), input_(input) {
    jol_assert(wrapped_->chan);
}

void log_channel::log(const char *data, size_t len) {
    if (len > 0 && log_ && sys_fwrite(data, len, log_.get()) != len)
        error(0, errno, "writing to log file");
}

int log_channel::input(char *data, size_t need, size_t size, size_t &got) {
    if (!input_)
        return channel::input(data, need, size, got);
    got = 0;
    int status = wrapped_->chan->input(data, need, size, got);
    if (status == 0)
        log(data, got);
    return status;
}

int log_channel::output(const char *data, size_t have, size_t &wrote) {
    if (input_)
        return channel::output(data, have, wrote);
    wrote = 0;
    int status = wrapped_->chan->output(data, have, wrote);
    log(data, wrote);
    return status;
}

int log_channel::flush() {
    if (input_)
        return channel::flush();
    if (log_) {
        int status = sys_fflush(log_.get());
        if (status != 0)
            error(0, status, "flushing log file");
    }
    return wrapped_->chan->flush();
}

int log_channel::block(bool blocking) {
    return blocking ? set_block(*wrapped_) : set_nonblock(*wrapped_);
}

int log_channel::shutdown() {
    int status = buf_shutdown(*wrapped_);
    if (log_ && std::fclose(log_.release()) != 0)
        error(0, errno, "closing log file");
    return status;
}

buffer_ptr log_buffer_initialize(buffer_ptr wrapped, unique_file log, bool input,
                                 buffer_memory_error memory_error) {
    return buf_initialize(std::make_unique<log_channel>(std::move(wrapped), std::move(log), input),
                          memory_error);
}

void log_client_traffic(buffer_ptr &to_server, buffer_ptr &from_server, const std::string &base) {
    auto wrap = [&](buffer_ptr &buf, const char *suffix, bool input, const char *message) {
        std::string name = base + suffix;
        unique_file fp(std::fopen(name.c_str(), "wb"));
        if (!fp) {
            error(0, errno, message, name);
            return;
        }
        buffer_memory_error memory_error = buf->memory_error;
        buf = log_buffer_initialize(std::move(buf), std::move(fp), input, memory_error);
    };
    wrap(to_server, ".in", false, "opening to-server logfile %s");
    wrap(from_server, ".out", true, "opening from-server logfile %s");
}
