// The responses of the command child: each change the command code makes to
// a client's file becomes a response queued in `protocol` and closed as one
// counted record, so the parent forwards it whole.
// Format: doc/protocol.md#file-responses
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/getdate.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/protocol/file_modes.h"
#include "src/protocol/gzip_file.h"
#include "src/protocol/protocol_tables.h"
#include "src/rcs/rcs.h"
#include "src/repo/parseinfo.h"
#include "src/server/server_results.h"
#include "src/server/server_state.h"
#include "src/wc/entries.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"

namespace {

// Files above this size are compressed when the client asked for it.
constexpr off_t gzip_threshold = 100;

void queue(std::string_view text) { buf_output(*protocol, text); }

void trace_register(const std::string &name, const std::string &version,
                    const std::string &timestamp, const std::string &options, const opt_str &tag,
                    const opt_str &date, const opt_str &conflict) {
    jol_outerr(std::string(server_active ? "S" : " ") + "-> server_register(" + name + ", " +
               version + ", " + timestamp + ", " + options + ", " + tag.value_or("") + ", " +
               date.value_or("") + ", " + conflict.value_or("") + ")\n");
}

// The whole file read into a chain of chunks.
void read_file_chain(const file_info *finfo, size_t size, buffer_data *&first,
                     buffer_data *&last) {
    FILE *fp = std::fopen(finfo->file.c_str(), "rb");
    if (!fp)
        error(1, errno, "reading %s", finfo->fullname);
    int status = buf_read_file(fp, size, first, last);
    std::fclose(fp);
    if (status == buf_nomem) {
        protocol->memory_error(*protocol);
        error(1, ENOMEM, "reading %s", finfo->fullname);
    }
    if (status != 0)
        error(1, status, "reading %s", finfo->fullname);
}

std::string gzip_file(const file_info *finfo, int level) {
    int fd = open(finfo->file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        error(1, errno, "reading %s", finfo->fullname);
    std::string out;
    int failed = read_and_gzip(fd, finfo->fullname.c_str(), out, level);
    if (close(fd) != 0 && !failed)
        error(1, errno, "reading %s", finfo->fullname);
    if (failed)
        error(1, 0, "aborting due to compression error");
    return out;
}

std::string hex_checksum(const unsigned char *checksum) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < 16; ++i) {
        hex += digits[checksum[i] >> 4];
        hex += digits[checksum[i] & 15];
    }
    return hex;
}

const char *update_response(const Vers_TS *vers, int updated) {
    switch (updated) {
    case SERVER_UPDATED:
        if (supported_response("Created") && supported_response("Update-existing")) {
            if (!vers)
                error(1, 0, "internal error: no version record in server_updated");
            return vers->ts_user ? "Update-existing " : "Created ";
        }
        return "Updated ";
    case SERVER_MERGED: return "Merged ";
    case SERVER_PATCHED: return "Patched ";
    case SERVER_RCS_DIFF: return "Rcs-diff ";
    }
    error(1, 0, "internal error: unknown update kind %d in server_updated", updated);
    return nullptr;
}

// The client now has the revision: later steps of the command must not
// take the file for changed.
void mark_sent_unchanged(const file_info *finfo) {
    if (!finfo->entries)
        return;
    if (Entnode *e = entries_find(finfo->entries, finfo->file))
        e->timestamp = "=";
}

struct template_data {
    const char *update_dir;
    const char *repository;
};

// Reads the template whole first, so that the size line is the size sent.
int template_proc(const char *, const char *template_file, void *closure) {
    if (!supported_response("Template"))
        return 0;
    const auto *data = static_cast<const template_data *>(closure);
    int fd = open(template_file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error(0, errno, "Couldn't open rcsinfo template file %s", template_file);
        return 1;
    }
    struct stat sb;
    if (fstat(fd, &sb) != 0) {
        error(0, errno, "cannot stat rcsinfo template file %s", template_file);
        close(fd);
        return 1;
    }
    std::string contents;
    char piece[1024];
    for (;;) {
        ssize_t n = read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error(0, errno, "cannot read rcsinfo template file %s", template_file);
            close(fd);
            return 1;
        }
        if (n == 0)
            break;
        contents.append(piece, static_cast<size_t>(n));
    }
    if (close(fd) != 0) {
        error(0, errno, "cannot close rcsinfo template file %s", template_file);
        return 1;
    }
    queue("Template " + output_dir(data->update_dir, data->repository) + "\n" +
          std::to_string(contents.size()) + "\n");
    queue(contents);
    return 0;
}

}  // namespace

std::string output_dir(const char *update_dir, const char *repository) {
    std::string heading;
    if (server_dir)
        heading = *server_dir + "/";
    heading += update_dir && *update_dir ? update_dir : ".";
    heading += "/\n";
    heading += repository ? repository : "";
    heading += "/";
    return heading;
}

bool ProtocolResults::cached_support::get() {
    if (known < 0)
        known = supported_response(name) ? 1 : 0;
    return known == 1;
}

void ProtocolResults::register_entry(const std::string &name, const std::string &version,
                                     const std::string &timestamp, const std::string &options,
                                     const opt_str &tag, const opt_str &date,
                                     const opt_str &conflict) {
    if (trace)
        trace_register(name, version, timestamp, options, tag, date, conflict);
    scratched_file_.reset();
    // The client makes its own time stamp; only a conflict is marked.
    std::string line = "/" + name + "/" + version + "/" + (conflict ? "+=" : "") + "/" + options +
                       "/";
    if (tag)
        line += "T" + *tag;
    else if (date)
        line += "D" + *date;
    entries_line_ = std::move(line);
}

void ProtocolResults::scratch(const std::string &name) {
    entries_line_.reset();
    if (scratched_file_) {
        queue("E JOL server internal error: duplicate Scratch_Entry\n");
        buf_send_counted(*protocol);
        return;
    }
    scratched_file_ = name;
    kill_scratched_file_ = true;
}

void ProtocolResults::scratch_entry_only() { kill_scratched_file_ = false; }

void ProtocolResults::new_entries_line() {
    if (entries_line_)
        queue(*entries_line_ + "\n");
    else
        queue("JOL server internal error: Register missing\n");
    entries_line_.reset();
}

void ProtocolResults::checked_in_response(const char *file, const char *update_dir,
                                          const char *repository) {
    if (supported_response("Mode")) {
        struct stat sb;
        if (stat(file, &sb) == 0)
            queue("Mode " + mode_to_string(sb.st_mode) + "\n");
        else if (errno != ENOENT)
            error(0, errno, "cannot stat %s", file);
    }
    queue("Checked-in " + output_dir(update_dir, repository) + file + "\n");
    new_entries_line();
}

void ProtocolResults::checked_in(const char *file, const char *update_dir,
                                 const char *repository) {
    if (noexec)
        return;
    if (scratched_file_ && !entries_line_) {
        queue("Remove-entry " + output_dir(update_dir, repository) + file + "\n");
        scratched_file_.reset();
    } else {
        checked_in_response(file, update_dir, repository);
    }
    buf_send_counted(*protocol);
}

void ProtocolResults::update_entries(const char *file, const char *update_dir,
                                     const char *repository, int updated) {
    if (noexec)
        return;
    if (updated == SERVER_UPDATED) {
        checked_in_response(file, update_dir, repository);
    } else {
        if (!supported_response("New-entry"))
            return;
        queue("New-entry " + output_dir(update_dir, repository) + file + "\n");
        new_entries_line();
    }
    buf_send_counted(*protocol);
}

// The file response of server_updated, its data included; false when the
// file vanished and nothing was queued.
bool ProtocolResults::send_file_response(const file_info *finfo, const Vers_TS *vers,
                                         int updated, mode_t mode,
                                         const unsigned char *checksum, buffer *filebuf) {
    if (scratched_file_)
        error(1, 0, "JOL server internal error: Register *and* Scratch_Entry.");
    size_t size;
    if (filebuf) {
        size = buf_length(*filebuf);
        if (mode == SERVER_FILE_MODE)
            error(1, 0, "JOL server internal error: no mode in server_updated");
    } else {
        struct stat sb;
        if (stat(finfo->file.c_str(), &sb) != 0) {
            if (errno == ENOENT) {
                entries_line_.reset();
                return false;
            }
            error(1, errno, "reading %s", finfo->fullname);
        }
        size = static_cast<size_t>(sb.st_size);
        if (mode == SERVER_FILE_MODE)
            mode = sb.st_mode;
    }
    // The data is read before anything is queued: a failure to read it
    // is fatal, and must not leave half a response behind.
    const char *response = update_response(vers, updated);
    std::string compressed;
    bool gzipped = false;
    buffer_data *first = nullptr, *last = nullptr;
    if (size != 0 && ::file_gzip_level != 0 && size > static_cast<size_t>(gzip_threshold)) {
        if (filebuf)
            error(1, 0, "JOL server internal error: unhandled case in server_updated");
        compressed = gzip_file(finfo, ::file_gzip_level);
        gzipped = true;
        size = compressed.size();
    } else if (!filebuf && size != 0) {
        read_file_chain(finfo, size, first, last);
    }

    if (checksum && checksum_.get())
        queue("Checksum " + hex_checksum(checksum) + "\n");
    if (updated == SERVER_UPDATED)
        mark_sent_unchanged(finfo);
    queue(response + output_dir(finfo->update_dir.c_str(), finfo->repository) + finfo->file +
          "\n");
    new_entries_line();
    queue(mode_to_string(mode) + "\n");
    queue((gzipped ? "z" : "") + std::to_string(size) + "\n");
    if (gzipped)
        queue(compressed);
    else if (filebuf)
        buf_append_buffer(*protocol, *filebuf);
    else if (first)
        buf_append_data(*protocol, first, last);

    // The sent copy goes, unless a merge or a join still needs it.
    if (!filebuf && updated != SERVER_MERGED && !server_joining &&
        unlink(finfo->file.c_str()) != 0)
        error(0, errno, "cannot remove temp file for %s", finfo->fullname);
    return true;
}

void ProtocolResults::send_removal(const file_info *finfo) {
    if (*scratched_file_ != finfo->file)
        error(1, 0, "JOL server internal error: `%s' vs. `%s' scratched", *scratched_file_,
              finfo->file);
    queue((kill_scratched_file_ ? "Removed " : "Remove-entry ") +
          output_dir(finfo->update_dir.c_str(), finfo->repository) + finfo->file + "\n");
    scratched_file_.reset();
}

void ProtocolResults::updated(const file_info *finfo, const Vers_TS *vers, int updated,
                              mode_t mode, const unsigned char *checksum, buffer *filebuf) {
    if (noexec) {
        scratched_file_.reset();
        return;
    }
    if (entries_line_) {
        if (!send_file_response(finfo, vers, updated, mode, checksum, filebuf))
            return;
    } else if (scratched_file_) {
        send_removal(finfo);
    }
    buf_send_counted(*protocol);
}

void ProtocolResults::copy_file(const char *file, const char *update_dir, const char *repository,
                                const char *newfile) {
    if (!supported_response("Copy-file"))
        return;
    queue("Copy-file " + output_dir(update_dir, repository) + file + "\n" + newfile + "\n");
}

void ProtocolResults::modtime(const file_info *, const Vers_TS *vers) {
    if (!vers->vn_rcs)
        error(1, 0, "internal error: server_modtime without a revision");
    if (!supported_response("Mod-time"))
        return;
    std::string date;
    if (RCS_getrevtime(vers->srcfile, vers->vn_rcs->c_str(), &date, 0) == -1)
        return;
    std::string wire = date_to_internet(date.c_str());
    if (!wire.empty())
        queue("Mod-time " + wire + "\n");
}

bool ProtocolResults::use_rcs_diff() { return supported_response("Rcs-diff"); }

void ProtocolResults::set_entstat(const char *update_dir, const char *repository) {
    if (!set_static_.get())
        return;
    queue("Set-static-directory " + output_dir(update_dir, repository) + "\n");
    buf_send_counted(*protocol);
}

void ProtocolResults::clear_entstat(const char *update_dir, const char *repository) {
    if (noexec || !clear_static_.get())
        return;
    queue("Clear-static-directory " + output_dir(update_dir, repository) + "\n");
    buf_send_counted(*protocol);
}

void ProtocolResults::set_sticky(const char *update_dir, const char *repository,
                                 const opt_str &tag, const opt_str &date, int nonbranch) {
    if (noexec)
        return;
    if (!update_dir)
        error(1, 0, "internal error: server_set_sticky without a directory");
    if (!set_sticky_.get())
        return;
    if (!tag && !date) {
        queue("Clear-sticky " + output_dir(update_dir, repository) + "\n");
    } else {
        queue("Set-sticky " + output_dir(update_dir, repository) + "\n");
        if (tag)
            queue((nonbranch ? "N" : "T") + *tag + "\n");
        else
            queue("D" + *date + "\n");
    }
    buf_send_counted(*protocol);
}

void ProtocolResults::template_file(const char *update_dir, const char *repository) {
    template_data data{update_dir, repository};
    Parse_Info("rcsinfo", repository, template_proc, 1, &data);
    buf_send_counted(*protocol);
}

void ProtocolResults::prog(const char *dir, const char *name, progs which) {
    // Announced while expanding modules, in the server process itself.
    buffer &to = buf_to_net ? *buf_to_net : *protocol;
    if (supported_response("Set-checkin-prog")) {
        buf_output(to, std::string(which == PROG_CHECKIN ? "Set-checkin-prog " : "Set-update-prog ") +
                           dir + "\n" + name + "\n");
    } else {
        buf_output(to, "E warning: this client does not support -i or -u flags in the modules "
                       "file.\n");
    }
    if (&to == protocol.get())
        buf_send_counted(to);
}
