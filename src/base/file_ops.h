// Helpers that read or change files and directories with one policy for
// every caller: disk changes are traced with -t and left undone with -n,
// and failures that would leave things in an unknown state are fatal with
// a message naming the file.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <sys/types.h>

// The trace line prefix: "S" in the server, a blank otherwise, then "-> ".
void trace_op(const std::string &operation);

void copy_file(const char *from, const char *to);
// 0 when the two have the same type and contents (or link target, or
// device number), non-zero otherwise.
int xcmp(const char *file1, const char *file2);
// Whether the rest of two descriptors holds the same bytes: 0 when it
// does, 1 when not, -1 or -2 (errno set) when reading the first or the
// second failed.
int compare_contents(int fd1, int fd2);
// True when both files can be opened and read and hold the same bytes.
bool files_equal(const char *file1, const char *file2);

// Where a rename departs from the rule of rename_file.
struct rename_how {
    bool traced = true;         // the -t line "rename(from,to)"
    bool honour_noexec = true;  // false: done under -n too (the caller settled -n)
    bool fatal = true;          // false: a failure returns -1 with errno set
};
// Renames `from` to `to`, traced with -t, left undone with -n and fatal
// ("cannot rename file %s to %s") on failure, unless `how` says otherwise.
// 0 when renamed or left undone; -1 on a failure that is not fatal.
int rename_file(const char *from, const char *to, rename_how how = {});
int unlink_file(const char *name);
int unlink_file_dir(const char *name);
// Removes a directory with everything in it; symbolic links are removed,
// never followed. -1 (errno set) on the first failure.
int deep_remove_dir(const char *path);
void make_directory(const char *name);
void make_directories(const char *name);
// 0 when created, 1 when it already existed.
int mkdir_if_needed(const char *name);
void xchmod(const char *file, int writable);
ssize_t block_read(int fd, char *buf, size_t nchars);
// The target of a symbolic link; none when `link` is not one.
std::optional<std::string> xreadlink(const char *link);
// Follows symbolic links until the name is not one; a chain longer than
// `symlink_hop_limit` (a loop) is fatal.
constexpr int symlink_hop_limit = 40;
void resolve_symlink(std::string &filename);
// Copies `file` (when it exists) to ".#file.suffix" and returns that name.
std::string backup_file(const char *file, const char *suffix);
// The whole file (standard input when `name` is null); failures are fatal.
std::string get_file(const char *name, const char *fullname);
// 1 when a line of the file begins like a conflict marker; a carriage
// return ends a line there too.
int file_has_markers(const char *file, const char *fullname);
// Opens the file of `name`'s directory whose name matches its last
// component regardless of case. 0 or an error number (ENOENT: no match).
int fopen_case(const char *name, const char *mode, FILE **fp, std::string *pathp);
void strip_trailing_slashes(std::string &path);
std::optional<std::string> xgetwd();

struct saved_cwd {
    int desc = -1;
    std::optional<std::string> name;
    saved_cwd() = default;
    saved_cwd(const saved_cwd &) = delete;
    saved_cwd &operator=(const saved_cwd &) = delete;
    // Closes the directory if free_cwd did not (a fatal error on the way).
    ~saved_cwd();
};
int save_cwd(saved_cwd &cwd);
int restore_cwd(const saved_cwd &cwd, const char *name);
void free_cwd(saved_cwd &cwd);

// Goes back, when it ends, to the directory it was made in; failing to go
// back is fatal (the caller would work in the wrong place).
class SavedCwd {
  public:
    SavedCwd();
    ~SavedCwd();
    SavedCwd(const SavedCwd &) = delete;
    SavedCwd &operator=(const SavedCwd &) = delete;

  private:
    int fd_;
};
