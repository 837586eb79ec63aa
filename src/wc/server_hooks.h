// Calls from the working-copy layer and the commands into the server, which
// turn local changes into responses for the client. The command code makes
// them only while server_active is set; the server installs the object that
// answers them (ServerResults) before it runs a command. Without one, a
// call is an internal error.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

struct file_info;
struct Vers_TS;
struct buffer;

using opt_str = std::optional<std::string>;

// Values of the `updated` argument of server_updated and
// server_update_entries.
constexpr int SERVER_UPDATED = 0;
constexpr int SERVER_MERGED = 1;
constexpr int SERVER_PATCHED = 2;
constexpr int SERVER_RCS_DIFF = 3;

// Which program server_prog announces.
enum progs { PROG_CHECKIN = 0, PROG_UPDATE = 1 };

// A mode of all ones asks server_updated to use the file's own.
constexpr mode_t SERVER_FILE_MODE = static_cast<mode_t>(-1);

class ServerResults {
  public:
    virtual ~ServerResults() = default;
    virtual void register_entry(const std::string &name, const std::string &version,
                                const std::string &timestamp, const std::string &options,
                                const opt_str &tag, const opt_str &date,
                                const opt_str &conflict) = 0;
    virtual void scratch(const std::string &name) = 0;
    virtual void scratch_entry_only() = 0;
    virtual void checked_in(const char *file, const char *update_dir, const char *repository) = 0;
    virtual void update_entries(const char *file, const char *update_dir, const char *repository,
                                int updated) = 0;
    virtual void updated(const file_info *finfo, const Vers_TS *vers, int updated, mode_t mode,
                         const unsigned char *checksum, buffer *filebuf) = 0;
    virtual void copy_file(const char *file, const char *update_dir, const char *repository,
                           const char *newfile) = 0;
    virtual void modtime(const file_info *finfo, const Vers_TS *vers) = 0;
    virtual bool use_rcs_diff() = 0;
    virtual void set_entstat(const char *update_dir, const char *repository) = 0;
    virtual void clear_entstat(const char *update_dir, const char *repository) = 0;
    virtual void set_sticky(const char *update_dir, const char *repository, const opt_str &tag,
                            const opt_str &date, int nonbranch) = 0;
    virtual void template_file(const char *update_dir, const char *repository) = 0;
    virtual void prog(const char *dir, const char *name, progs which) = 0;
    virtual void pathname_check(const char *path) = 0;
    virtual void pause_check() = 0;
};

// Installs the server's answers (not owned; null removes them).
void set_server_results(ServerResults *results);

// The module directory prefix of the directory headings, set by the module
// machinery while it expands a module for the server; none outside it.
extern opt_str server_dir;
// Set while the modules are expanded for the client ("expand-modules"):
// module programs are then announced with server_prog.
extern bool server_expanding;
// Set while an update joins revisions (-j): the files server_updated sends
// stay in the temporary tree for the join that follows.
extern bool server_joining;

void server_register(const std::string &name, const std::string &version,
                     const std::string &timestamp, const std::string &options, const opt_str &tag,
                     const opt_str &date, const opt_str &conflict);
void server_scratch(const std::string &name);
void server_scratch_entry_only();
void server_checked_in(const char *file, const char *update_dir, const char *repository);
void server_update_entries(const char *file, const char *update_dir, const char *repository,
                           int updated);
// `mode` SERVER_FILE_MODE: the file's own; `checksum` 16 bytes or null;
// `filebuf` the contents (moved out, the caller still owns the buffer) or
// null for the file itself.
void server_updated(const file_info *finfo, const Vers_TS *vers, int updated, mode_t mode,
                    const unsigned char *checksum, buffer *filebuf);
void server_copy_file(const char *file, const char *update_dir, const char *repository,
                      const char *newfile);
void server_modtime(const file_info *finfo, const Vers_TS *vers);
bool server_use_rcs_diff();
void server_set_entstat(const char *update_dir, const char *repository);
void server_clear_entstat(const char *update_dir, const char *repository);
void server_set_sticky(const char *update_dir, const char *repository, const opt_str &tag,
                       const opt_str &date, int nonbranch);
void server_template(const char *update_dir, const char *repository);
void server_prog(const char *dir, const char *name, progs which);
void server_pathname_check(const char *path);
void server_pause_check();
