// commit as a client of a remote repository.
#pragma once

#include <optional>
#include <string>

struct CommitClientRequest {
    int local = 0;
    bool force = false;                          // -f
    bool run_module_prog = true;                 // cleared by -n
    std::optional<std::string> saved_tag;        // -r
    std::optional<std::string> saved_message;    // -m, -F, or the editor's
    bool use_editor = true;                      // neither -m nor -F
};

// Finds what would be committed, obtains the message, and lets the server
// commit it; the result of the server's answer (0 also when nothing was
// found).
int commit_through_server(CommitClientRequest &req, int argc, char **argv);
