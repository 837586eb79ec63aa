// The repository's history journal (JOLROOT/history): one appended line per
// checkout, export, release, tag, update, merge and commit event.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>

// Appends one record of type `type` unless logging is off or LogHistory
// leaves the type out.
void history_write(char type, const char *update_dir, const char *revs, const char *name,
                   const char *repository);

// One record read back. The text fields point into the buffer the journal
// was read into; `end` is the expanded suffix of the working directory (a
// tail of `repos`), `mod` the module of the record (the name field for
// "F", "O", "E" and "T" records, else none).
struct hrec {
    const char *user = "";
    const char *dir = "";
    const char *repos = "";
    const char *rev = "";
    const char *file = "";
    const char *end = "";
    const char *mod = nullptr;
    time_t date = 0;
    long idx = 0;
    char type = 0;
};

// Longest journal line accepted; longer ones are skipped.
constexpr size_t kMaxHistoryLine = 64 * 1024;

// Parses one journal line (without its newline) in place. False when the
// line is damaged: too few or too many fields, no hexadecimal time, a "*"
// offset outside the repository field, a NUL byte.
bool fill_hrec(char *line, size_t len, hrec &hr);

// Reads the journal at `path` into `buffer` and hands every well-formed
// record, in file order, to `take`. Damaged lines, and a last line without
// its newline, are skipped. Fatal when the file cannot be read.
void read_hrecs(const std::string &path, std::string &buffer,
                const std::function<void(hrec &)> &take);
