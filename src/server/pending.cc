// The pending error of a request sequence.
#include "src/server/pending.h"

#include <cstring>

#include "src/server/server_state.h"

int pending_error = 0;
std::string pending_error_text;

bool alloc_pending() { return pending_error == 0 && pending_error_text.empty(); }

void set_pending(std::string text, int errnum) {
    if (!alloc_pending())
        return;
    pending_error_text = std::move(text);
    pending_error = errnum;
}

void set_pending_errno(int errnum) {
    if (pending_error == 0)
        pending_error = errnum;
}

bool error_pending() { return !alloc_pending(); }

void print_error(int errnum) {
    std::string line = "error  ";
    if (const char *text = errnum ? std::strerror(errnum) : nullptr)
        line += text;
    line += '\n';
    buf_output(*buf_to_net, line);
    buf_flush(*buf_to_net, false);
}

bool print_pending_error() {
    if (alloc_pending())
        return false;
    if (!pending_error_text.empty()) {
        buf_output(*buf_to_net, pending_error_text);
        buf_append_char(*buf_to_net, '\n');
        if (pending_error)
            print_error(pending_error);
        else
            buf_output0(*buf_to_net, "error  \n");
    } else {
        print_error(pending_error);
    }
    buf_flush(*buf_to_net, false);
    pending_error = 0;
    pending_error_text.clear();
    return true;
}
