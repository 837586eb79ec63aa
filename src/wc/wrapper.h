// Wrappers: options attached to file-name patterns (the keyword mode a new
// file gets, and whether an update replaces rather than merges).
#pragma once

#include <optional>
#include <string>
#include <vector>

enum WrapMergeMethod { WRAP_MERGE = 0, WRAP_COPY = 1 };
enum WrapMergeHas { WRAP_TOJOL = 0, WRAP_FROMJOL = 1, WRAP_RCSOPTION = 2 };

struct WrapperEntry {
    std::string wildCard;
    std::optional<std::string> tojolFilter;
    std::optional<std::string> fromjolFilter;
    std::optional<std::string> rcsOption;
    WrapMergeMethod mergeMethod = WRAP_MERGE;
};

void wrap_setup();
void wrap_add(const char *line, int isTemp);
void wrap_add_file(const char *file, int isTemp);
void wrap_kill();
void wrap_kill_temp();
int wrap_name_has(const char *name, WrapMergeHas has);
const WrapperEntry *wrap_matching_entry(const char *name);
std::optional<std::string> wrap_rcsoption(const char *name, int asflag);
int wrap_merge_is_copy(const char *name);
// The next wrapper with a keyword mode as "pattern -k 'mode'" (patterns
// with blanks in double quotes); none at the end. first_call restarts.
std::optional<std::string> wrap_unparse_rcs_options(int first_call);
// Every wrapper in effect, in the order they were added.
std::vector<const WrapperEntry *> wrap_entries();
