// Channels for driving buffers in tests: one that delivers scripted pieces
// of input, one that collects output.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <gtest/gtest.h>
#include <string>

#include "src/protocol/buffer.h"

// Delivers its pieces one input call at a time (more pieces only when the
// caller needs more). When none are left: end of file, or, while
// `more_later`, nothing (as a nonblocking channel would).
class script_channel : public channel {
  public:
    struct state {
        std::deque<std::string> pieces;
        bool more_later = false;
        size_t calls = 0;
        size_t delivered = 0;
        // Handed out again and again once the script is used up, until
        // `forever_limit` bytes in all were delivered.
        std::string forever;
        size_t forever_limit = 64 << 20;
    };
    explicit script_channel(std::shared_ptr<state> s) : s_(std::move(s)) {}

    int input(char *data, size_t need, size_t size, size_t &got) override {
        ++s_->calls;
        got = 0;
        while (got < size && (got == 0 || got < need)) {
            if (s_->pieces.empty() && !s_->forever.empty() &&
                s_->delivered + got < s_->forever_limit)
                s_->pieces.push_back(s_->forever);
            if (s_->pieces.empty())
                break;
            std::string &piece = s_->pieces.front();
            size_t n = std::min(piece.size(), size - got);
            std::memcpy(data + got, piece.data(), n);
            got += n;
            piece.erase(0, n);
            if (piece.empty())
                s_->pieces.pop_front();
        }
        s_->delivered += got;
        if (got == 0 && !s_->more_later)
            return buf_eof;
        return 0;
    }
    int block(bool) override { return 0; }

  private:
    std::shared_ptr<state> s_;
};

// Appends what it is given to `out`; with a limit, takes at most that much
// per call, like a nonblocking descriptor whose peer is slow.
class sink_channel : public channel {
  public:
    struct state {
        std::string out;
        size_t limit = 0;  // 0: no limit
        int flushes = 0;
        bool blocking = true;
    };
    explicit sink_channel(std::shared_ptr<state> s) : s_(std::move(s)) {}

    int output(const char *data, size_t have, size_t &wrote) override {
        wrote = s_->limit && !s_->blocking ? std::min(have, s_->limit) : have;
        s_->out.append(data, wrote);
        return 0;
    }
    int flush() override {
        ++s_->flushes;
        return 0;
    }
    int block(bool blocking) override {
        s_->blocking = blocking;
        return 0;
    }

  private:
    std::shared_ptr<state> s_;
};

inline buffer_ptr script_buffer(std::shared_ptr<script_channel::state> s) {
    return buf_initialize(std::make_unique<script_channel>(std::move(s)), nullptr);
}

inline buffer_ptr sink_buffer(std::shared_ptr<sink_channel::state> s) {
    return buf_initialize(std::make_unique<sink_channel>(std::move(s)), nullptr);
}

// Everything queued in `buf`, without consuming it.
inline std::string queued(const buffer &buf) {
    std::string s;
    for (const buffer_data *d = buf.data; d; d = d->next)
        s.append(d->bufp, static_cast<size_t>(d->size));
    return s;
}

inline size_t chunks(const buffer &buf) { return buf_count_mem(buf) / BUFFER_DATA_SIZE; }

// Compares byte strings without printing megabytes when they differ.
inline testing::AssertionResult same_bytes(const std::string &got, const std::string &want) {
    if (got == want)
        return testing::AssertionSuccess();
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    return testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << "; they differ from byte " << at;
}
