// The server's answers to the command code's server calls (see
// src/wc/server_hooks.h): the responses that report each change of a
// client's file, sent as counted records from the command child.
#pragma once

#include <optional>
#include <string>

#include "src/wc/server_hooks.h"

class ProtocolResults final : public ServerResults {
  public:
    void register_entry(const std::string &name, const std::string &version,
                        const std::string &timestamp, const std::string &options,
                        const opt_str &tag, const opt_str &date, const opt_str &conflict) override;
    void scratch(const std::string &name) override;
    void scratch_entry_only() override;
    void checked_in(const char *file, const char *update_dir, const char *repository) override;
    void update_entries(const char *file, const char *update_dir, const char *repository,
                        int updated) override;
    void updated(const file_info *finfo, const Vers_TS *vers, int updated, mode_t mode,
                 const unsigned char *checksum, buffer *filebuf) override;
    void copy_file(const char *file, const char *update_dir, const char *repository,
                   const char *newfile) override;
    void modtime(const file_info *finfo, const Vers_TS *vers) override;
    bool use_rcs_diff() override;
    void set_entstat(const char *update_dir, const char *repository) override;
    void clear_entstat(const char *update_dir, const char *repository) override;
    void set_sticky(const char *update_dir, const char *repository, const opt_str &tag,
                    const opt_str &date, int nonbranch) override;
    void template_file(const char *update_dir, const char *repository) override;
    void prog(const char *dir, const char *name, progs which) override;
    void pathname_check(const char *path) override;
    void pause_check() override;

  private:
    // A response's support, asked of the client's list once.
    struct cached_support {
        const char *name;
        int known = -1;  // -1 not asked yet, else 0 or 1
        bool get();
    };

    void new_entries_line();
    void checked_in_response(const char *file, const char *update_dir, const char *repository);
    bool send_file_response(const file_info *finfo, const Vers_TS *vers, int updated,
                            mode_t mode, const unsigned char *checksum, buffer *filebuf);
    void send_removal(const file_info *finfo);

    opt_str entries_line_;     // from the last register_entry, not yet sent
    opt_str scratched_file_;   // from the last scratch, not yet reported
    bool kill_scratched_file_ = false;
    cached_support checksum_{"Checksum"};
    cached_support set_static_{"Set-static-directory"};
    cached_support clear_static_{"Clear-static-directory"};
    cached_support set_sticky_{"Set-sticky"};
};

// The pathname and repository lines of a response, without the file name:
// server_dir and "/" when set, update_dir ("." when empty), "/", newline,
// the repository and "/".
std::string output_dir(const char *update_dir, const char *repository);


// Installs the one ProtocolResults of the process as the command code's
// server calls.
void server_install_results();
