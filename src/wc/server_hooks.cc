// The server calls of the command code, forwarded to the answers the server
// installed.
#include "src/wc/server_hooks.h"

#include "src/base/error.h"

opt_str server_dir;
bool server_expanding = false;
bool server_joining = false;

namespace {

ServerResults *installed = nullptr;

ServerResults &results(const char *what) {
    if (!installed)
        error(1, 0, "internal error: %s called outside the server", what);
    return *installed;
}

}  // namespace

void set_server_results(ServerResults *r) { installed = r; }

void server_register(const std::string &name, const std::string &version,
                     const std::string &timestamp, const std::string &options, const opt_str &tag,
                     const opt_str &date, const opt_str &conflict) {
    results("server_register")
        .register_entry(name, version, timestamp, options, tag, date, conflict);
}
void server_scratch(const std::string &name) { results("server_scratch").scratch(name); }
void server_scratch_entry_only() { results("server_scratch_entry_only").scratch_entry_only(); }
void server_checked_in(const char *file, const char *update_dir, const char *repository) {
    results("server_checked_in").checked_in(file, update_dir, repository);
}
void server_update_entries(const char *file, const char *update_dir, const char *repository,
                           int updated) {
    results("server_update_entries").update_entries(file, update_dir, repository, updated);
}
void server_updated(const file_info *finfo, const Vers_TS *vers, int updated, mode_t mode,
                    const unsigned char *checksum, buffer *filebuf) {
    results("server_updated").updated(finfo, vers, updated, mode, checksum, filebuf);
}
void server_copy_file(const char *file, const char *update_dir, const char *repository,
                      const char *newfile) {
    results("server_copy_file").copy_file(file, update_dir, repository, newfile);
}
void server_modtime(const file_info *finfo, const Vers_TS *vers) {
    results("server_modtime").modtime(finfo, vers);
}
bool server_use_rcs_diff() { return results("server_use_rcs_diff").use_rcs_diff(); }
void server_set_entstat(const char *update_dir, const char *repository) {
    results("server_set_entstat").set_entstat(update_dir, repository);
}
void server_clear_entstat(const char *update_dir, const char *repository) {
    results("server_clear_entstat").clear_entstat(update_dir, repository);
}
void server_set_sticky(const char *update_dir, const char *repository, const opt_str &tag,
                       const opt_str &date, int nonbranch) {
    results("server_set_sticky").set_sticky(update_dir, repository, tag, date, nonbranch);
}
void server_template(const char *update_dir, const char *repository) {
    results("server_template").template_file(update_dir, repository);
}
void server_prog(const char *dir, const char *name, progs which) {
    results("server_prog").prog(dir, name, which);
}
void server_pathname_check(const char *path) {
    results("server_pathname_check").pathname_check(path);
}
void server_pause_check() { results("server_pause_check").pause_check(); }
