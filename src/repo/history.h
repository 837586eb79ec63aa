// The repository's history journal (JOLROOT/history): one appended line per
// checkout, export, release, tag, update, merge and commit event.
#pragma once

// Appends one record of type `type` unless logging is off or LogHistory
// leaves the type out.
void history_write(char type, const char *update_dir, const char *revs, const char *name,
                   const char *repository);
