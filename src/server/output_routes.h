// The server's two output routes (see src/base/output.h).
#pragma once

// Protocol lines to the client, for the server parent.
void install_net_output_route();
// Counted records to the parent, for the command child.
void install_child_output_route();
