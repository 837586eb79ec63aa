// Where the output layer sends text in a server: the parent writes protocol
// lines to the client's stream, the command child writes them as counted
// records to the parent. Incomplete lines wait in saved_output and
// saved_outerr.
#include "src/server/output_routes.h"

#include <string>

#include "src/base/error.h"
#include "src/base/output.h"
#include "src/protocol/protocol_tables.h"
#include "src/server/server_state.h"

namespace {

buffer &saved(char kind) { return kind == 'E' ? *saved_outerr : *saved_output; }

// Mbinary or the refusal; the caller closes a record in the child.
void queue_binary(buffer &to, const char *str, size_t len) {
    if (!supported_response("Mbinary")) {
        error(0, 0, "this client does not support writing binary files to stdout");
        return;
    }
    buf_output0(to, "Mbinary\n");
    buf_output(to, std::to_string(len) + "\n");
    buf_output(to, str, len);
}

void queue_tagged(buffer &to, const char *tag, const char *text) {
    std::string line = std::string("MT ") + tag;
    if (text) {
        line += ' ';
        line += text;
    }
    line += '\n';
    buf_output(to, line);
}

class NetRoute final : public ServerOutputRoute {
  public:
    void text(char kind, const char *str, size_t len) override {
        buf_output(saved(kind), str, len);
        buf_copy_lines(*buf_to_net, saved(kind), kind);
    }
    void binary(const char *str, size_t len) override { queue_binary(*buf_to_net, str, len); }
    bool tagged(const char *tag, const char *text) override {
        if (!supported_response("MT"))
            return false;
        queue_tagged(*buf_to_net, tag, text);
        return true;
    }
    void flush_out() override { buf_flush(*buf_to_net, false); }
    void flush_err() override { buf_flush(*buf_to_net, false); }
};

class ChildRoute final : public ServerOutputRoute {
  public:
    void text(char kind, const char *str, size_t len) override {
        buf_output(saved(kind), str, len);
        buf_copy_lines(*protocol, saved(kind), kind);
        buf_send_counted(*protocol);
    }
    void binary(const char *str, size_t len) override {
        queue_binary(*protocol, str, len);
        buf_send_counted(*protocol);
    }
    bool tagged(const char *tag, const char *text) override {
        if (!supported_response("MT"))
            return false;
        queue_tagged(*protocol, tag, text);
        buf_send_counted(*protocol);
        return true;
    }
    void flush_out() override {}
    void flush_err() override { buf_send_special_count(*protocol, -1); }
};

NetRoute net_route;
ChildRoute child_route;

}  // namespace

void install_net_output_route() { set_net_output_route(&net_route); }
void install_child_output_route() { set_child_output_route(&child_route); }
