// The administrative files of JOLROOT: the table that init and mkmodules
// work from, and the rebuilding of their checked-out copies.
#pragma once

struct AdminFile {
    const char *name;
    const char *message;   // "%s" = the name; null: not rebuilt by the table
    const char *contents;  // default contents; null: not created by init
};

extern const AdminFile admin_files[];

// Rebuilds the checked-out copies in `dir` (the root's JOLROOT).
void mkmodules(const char *dir);
