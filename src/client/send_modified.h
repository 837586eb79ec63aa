// Sending one file's contents ("Modified"), shared by the working-copy pass
// and import.
#pragma once

#include <string>

struct Vers_TS;

// The file `file` of the current directory; `vers` (may be null) says
// whether it is binary. A file that cannot be read is fatal.
void send_modified(const std::string &file, const std::string &fullname, const Vers_TS *vers);
