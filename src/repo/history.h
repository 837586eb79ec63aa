// The repository's history journal (JOLROOT/history): one appended line per
// checkout, export, release, tag, update, merge and commit event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

// Appends one record of type `type` unless logging is off or LogHistory
// leaves the type out.
void history_write(char type, const char *update_dir, const char *revs, const char *name,
                   const char *repository);

// One record read back. The text fields are offsets into the buffer the
// journal was read into (see hrec_text), which keeps a record small: a
// report holds every selected record of the journal at once. `end` is the
// expanded suffix of the working directory (a tail of `repos`); a record of
// type "F", "O", "E" or "T" has its name field as its module (`has_mod`).
struct hrec {
    uint32_t user = 0;
    uint32_t dir = 0;
    uint32_t repos = 0;
    uint32_t rev = 0;
    uint32_t file = 0;
    uint32_t end = 0;
    int64_t date = 0;
    uint32_t idx = 0;
    char type = 0;
    bool has_mod = false;
    bool shown = false;  // for the report's own use
};

inline const char *hrec_text(const char *base, uint32_t field) { return base + field; }

// Longest journal line accepted; longer ones are skipped.
constexpr size_t kMaxHistoryLine = 64 * 1024;

// Parses one journal line (without its newline) in place; `base` is the
// start of the buffer that holds it. False when the line is damaged: too
// few or too many fields, no hexadecimal time, a "*" offset outside the
// repository field, a NUL byte.
bool fill_hrec(char *base, char *line, size_t len, hrec &hr);

// Reads the journal at `path` into `buffer`, tells `lines` how many lines
// it holds, and hands every well-formed record, in file order, to `take`.
// Damaged lines, and a last line without its newline, are skipped. Fatal
// when the file cannot be read.
void read_hrecs(const std::string &path, std::string &buffer,
                const std::function<void(size_t)> &lines,
                const std::function<void(hrec &)> &take);
