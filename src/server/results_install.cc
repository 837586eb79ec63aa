// The server calls that belong to the server process itself, and the
// installation of its answers.
#include "src/server/flow_control.h"
#include "src/server/path_checks.h"
#include "src/server/server_results.h"

void ProtocolResults::pathname_check(const char *path) { server_pathname_check_impl(path); }
void ProtocolResults::pause_check() { server_pause_check_impl(); }

void server_install_results() {
    static ProtocolResults results;
    set_server_results(&results);
}
