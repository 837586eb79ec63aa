// The file responses: new copies, patches and diffs, entries, removals,
// and the directory-level settings (static, sticky, template, notified).
#include "src/client/response_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "mac/convert.h"
#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/client/call_in_directory.h"
#include "src/client/client.h"
#include "src/client/client_state.h"
#include "src/client/response_state.h"
#include "src/client/server_paths.h"
#include "src/client/temp_beside.h"
#include "src/protocol/file_modes.h"
#include "src/protocol/gzip_file.h"
#include "src/protocol/md5sum.h"
#include "src/protocol/protocol_size.h"
#include "src/rcs/rcs.h"
#include "src/wc/entries.h"
#include "src/wc/register_clock.h"
#include "src/wc/vers_ts.h"

namespace {

enum class Contents { checkin, update, patch, rcs_diff };
enum class Exist { existing, is_new, existing_or_new };

struct update_entries_data {
    Contents contents;
    Exist existp;
    const char *timestamp;  // null: the file's own
};

// A size line: decimal, or "z" and the compressed size.
struct SizeLine {
    off_t size;
    bool compressed;
};

SizeLine read_size_line(const std::string &file) {
    std::string line = read_line();
    bool z = !line.empty() && line[0] == 'z';
    std::optional<off_t> size = parse_protocol_size(z ? std::string_view(line).substr(1) : line);
    if (!size)
        error(1, 0, "protocol error: bad size `%s' for %s", line, file);
    return {*size, z};
}

void discard_data(off_t size) {
    char buf[8192];
    while (size > 0) {
        size_t n = size > static_cast<off_t>(sizeof buf) ? sizeof buf : static_cast<size_t>(size);
        read_from_server(buf, n);
        size -= static_cast<off_t>(n);
    }
}

void forget_stored() {
    ResponseState &rs = client_response_state;
    rs.stored_mode.reset();
    rs.stored_modtime.reset();
    rs.stored_checksum.reset();
    rs.updated_fname.reset();
}

void print_updated_fname(char letter) {
    if (client_response_state.updated_fname) {
        jol_output(std::string(1, letter) + " " + *client_response_state.updated_fname + "\n");
        client_response_state.updated_fname.reset();
    }
}

// The parts of an entries line from the server; fatal when it is not one.
struct EntryParts {
    std::string name, version, timestamp, options, tagdate;
};

EntryParts parse_entry(const std::string &line) {
    EntryParts e;
    std::string *fields[] = {&e.name, &e.version, &e.timestamp, &e.options, &e.tagdate};
    bool ok = !line.empty() && line[0] == '/';
    size_t pos = 1;
    for (int i = 0; ok && i < 5; ++i) {
        size_t slash = i < 4 ? line.find('/', pos) : std::string::npos;
        if (i < 4 && slash == std::string::npos) {
            ok = false;
            break;
        }
        *fields[i] = line.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        pos = slash + 1;
    }
    if (!ok)
        error(1, 0, "bad entries line `%s' from server", line);
    if (!e.tagdate.empty() && e.tagdate.back() == '/')
        e.tagdate.pop_back();
    return e;
}

// Plain data into the temporary file; false when it could not be created
// (the data is consumed all the same).
bool write_plain(TempBeside &temp, off_t size) {
    if (!temp.ok()) {
        error(0, temp.error_number(), "cannot write %s", temp.name());
        discard_data(size);
        return false;
    }
    char buf[8192];
    for (off_t left = size; left > 0;) {
        size_t n = left > static_cast<off_t>(sizeof buf) ? sizeof buf : static_cast<size_t>(left);
        read_from_server(buf, n);
        if (write(temp.fd(), buf, n) != static_cast<ssize_t>(n))
            error(1, errno, "writing %s", temp.name());
        left -= static_cast<off_t>(n);
    }
    if (int err = temp.close_fd())
        error(1, err, "writing %s", temp.name());
    return true;
}

bool write_compressed(TempBeside &temp, off_t size) {
    if (!temp.ok()) {
        error(0, temp.error_number(), "cannot write %s", temp.name());
        discard_data(size);
        return false;
    }
    temp.close_fd();
    int read_status = 0;
    const char *path = temp.name().c_str();
    gunzip_request req{from_server.get(), size, path, 0666, path};
    int r = gunzip_and_write(req, read_status);
    if (read_status != 0)
        error(1, read_status == buf_nomem ? ENOMEM : 0, "reading from server");
    if (r != 0)
        error(1, 0, "aborting due to compression error");
    return true;
}

std::string read_counted_text(off_t size) {
    std::string text(static_cast<size_t>(size), '\0');
    read_from_server(text.data(), text.size());
    return text;
}

bool checksum_matches(const std::string &data) {
    bool ok = md5_of(data) == *client_response_state.stored_checksum;
    client_response_state.stored_checksum.reset();
    return ok;
}

// The stored digest against the received data, before it becomes the
// working file: on a mismatch the working file stays as it was.
void check_received_checksum(TempBeside &temp, const std::string &short_pathname) {
    if (!client_response_state.stored_checksum)
        return;
    int fd = open(temp.name().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        error(1, errno, "could not open %s", short_pathname);
    md5_context ctx;
    char buf[8192];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        ctx.update(buf, static_cast<size_t>(n));
    if (n < 0)
        error(1, errno, "could not read %s", short_pathname);
    close(fd);
    bool ok = ctx.final() == *client_response_state.stored_checksum;
    client_response_state.stored_checksum.reset();
    if (!ok) {
        temp.remove();
        error(1, 0, "checksum failure on %s", short_pathname);
    }
}

// The working file from the temporary one the data went into.
void install_file(TempBeside &temp, const std::string &file, bool binary) {
    // Most files need no conversion: the temporary file becomes the
    // working file, without a second copy.
    if (conversion_is_plain_copy(temp.name().c_str(), O_RDONLY | mac_repository_form,
                                 binary ? 1 : 0)) {
        if (int err = temp.rename_to(file))
            error(1, err, "cannot rename %s to %s", temp.name(), file);
        return;
    }
    convert_file(temp.name().c_str(), O_RDONLY | mac_repository_form, file.c_str(),
                 O_WRONLY | O_CREAT | O_TRUNC, binary ? 1 : 0);
    if (int err = temp.remove())
        error(0, err, "warning: can't remove temp file %s", temp.name());
}

// Applies an RCS-format diff to the working file; false when it does not
// apply or the result's checksum is wrong.
bool apply_rcs_diff(const std::string &file, TempBeside &temp,
                    const std::string &short_pathname, const std::string &diff, bool binary) {
    if (!isfile(file.c_str()))
        error(1, 0, "patch original file %s does not exist", short_pathname);
    if (!temp.ok())
        error(1, temp.error_number(), "cannot write %s", temp.name());
    temp.close_fd();
    convert_file(file.c_str(), O_RDONLY, temp.name().c_str(),
                 O_WRONLY | O_CREAT | O_TRUNC | mac_repository_form, binary ? 1 : 0);
    std::string text;
    int err = 0;
    if (!read_whole_file(temp.name().c_str(), text, err))
        error(1, err, "reading %s", temp.name());
    std::string result;
    if (!rcs_change_text(short_pathname.c_str(), text, diff, result))
        return false;
    if (client_response_state.stored_checksum && !checksum_matches(result)) {
        error(0, 0, "checksum failure after patch to %s; will refetch", short_pathname);
        return false;
    }
    FILE *fp = std::fopen(temp.name().c_str(), "wb");
    if (!fp || std::fwrite(result.data(), 1, result.size(), fp) != result.size())
        error(1, errno, "cannot write %s", temp.name());
    if (std::fclose(fp) == EOF)
        error(1, errno, "cannot close %s", temp.name());
    install_file(temp, file, binary);
    return true;
}

// Receives the data of an UPDATE, PATCH or RCS_DIFF response. False when
// nothing was written (the data was consumed all the same).
bool receive_file_data(const update_entries_data &d, const EntryParts &e, const std::string &file,
                       const std::string &short_pathname, bool &failed) {
    std::string mode = read_line();
    SizeLine size = read_size_line(short_pathname);
    const bool binary = e.options == "-kb";
    if (d.existp == Exist::existing && !isfile(file.c_str()))
        error(0, 0, "warning: %s unexpectedly disappeared", short_pathname);
    if (d.existp == Exist::is_new && isfile(file.c_str())) {
        error(0, 0, "move away %s; it is in the way", short_pathname);
        print_updated_fname('C');
        failure_exit = 1;
        discard_data(size.size);
        forget_stored();
        return false;
    }
    TempBeside temp(".new." + file.substr(0, 9));
    if (d.contents == Contents::rcs_diff) {
        if (size.compressed)
            error(1, 0, "server error: gzip invalid with RCS change text");
        std::string diff = read_counted_text(size.size);
        print_updated_fname('U');
        failed = !apply_rcs_diff(file, temp, short_pathname, diff, binary);
    } else {
        bool written = size.compressed ? write_compressed(temp, size.size)
                                       : write_plain(temp, size.size);
        if (!written)
            return false;
        print_updated_fname('U');
        if (d.contents == Contents::patch) {
            temp.remove();
            failed = true;
        } else {
            check_received_checksum(temp, short_pathname);
            install_file(temp, file, binary);
        }
    }
    if (!failed) {
        if (int err = change_mode(file.c_str(), mode, true))
            error(0, err, "cannot change mode of %s", short_pathname);
    }
    return true;
}

void apply_stored_mode_and_time(const std::string &file, const std::string &short_pathname) {
    ResponseState &rs = client_response_state;
    if (rs.stored_mode) {
        if (int err = change_mode(file.c_str(), *rs.stored_mode, true))
            error(0, err, "cannot change mode of %s", short_pathname);
        rs.stored_mode.reset();
    }
    if (rs.stored_modtime) {
        struct utimbuf t {*rs.stored_modtime, *rs.stored_modtime};
        if (utime(file.c_str(), &t) != 0)
            error(0, errno, "cannot set time on %s", short_pathname);
        rs.stored_modtime.reset();
    }
}

void register_entry(const update_entries_data &d, const EntryParts &e, List *entries,
                    const std::string &file) {
    std::string stamp;
    if (e.version.empty() || e.version[0] == '0' || e.version[0] == '-')
        stamp = "dummy timestamp";
    else if (d.timestamp)
        stamp = d.timestamp;
    else
        stamp = time_stamp(file.c_str()).value_or("");
    // A committed file, or one the server sent whole or as a patch (not a
    // merge), is its revision again: an edit's copy is done with.
    if (!e.version.empty() && e.version[0] != '0' && e.version[0] != '-' &&
        (command_name == "commit" || (d.contents != Contents::checkin && !d.timestamp)))
        mark_up_to_date(file.c_str());
    // A stamp of an earlier second (a file given its revision's time, a
    // committed file edited before) cannot be shared by a later change:
    // only a stamp of the current second makes the close wait.
    client_last_register_time =
        std::max(client_last_register_time,
                 register_second(stamp.empty() ? std::nullopt : opt_str(stamp)));
    opt_str conflict;
    if (!e.timestamp.empty() && e.timestamp[0] == '+')
        conflict = time_stamp(file.c_str()).value_or("");
    opt_str tag, date;
    if (!e.tagdate.empty() && e.tagdate[0] == 'T')
        tag = e.tagdate.substr(1);
    else if (!e.tagdate.empty() && e.tagdate[0] == 'D')
        date = e.tagdate.substr(1);
    Register(entries, file, e.version, stamp, e.options, tag, date, conflict);
}

void update_entries(const update_entries_data &d, List *entries,
                    const std::string &short_pathname, const std::string &file) {
    EntryParts e = parse_entry(read_line());
    if (e.name != file)
        error(1, 0, "protocol error: entry for `%s' names `%s'", file, e.name);
    bool failed = false;
    if (d.contents != Contents::checkin) {
        if (!receive_file_data(d, e, file, short_pathname, failed))
            return;
    }
    if (failed) {
        failed_patches.push_back(short_pathname);
        client_response_state.stored_checksum.reset();
        return;
    }
    apply_stored_mode_and_time(file, short_pathname);
    if (command_name == "export")
        return;
    register_entry(d, e, entries, file);
}

void with_entries_data(std::string_view pathname, update_entries_data d) {
    call_in_directory(std::string(pathname),
                      [&](List *entries, const std::string &short_pathname,
                          const std::string &file) { update_entries(d, entries, short_pathname, file); });
}

// The top of a working tree made from the root's own level has no
// administrative directory to write.
bool at_root_level(const std::string &pathname) {
    return toplevel_repos && *toplevel_repos == JOLroot_directory &&
           (pathname == "./" || pathname == "/");
}

}  // namespace

void handle_checked_in(std::string_view p) {
    with_entries_data(p, {Contents::checkin, Exist::existing_or_new, nullptr});
}
void handle_new_entry(std::string_view p) {
    with_entries_data(p, {Contents::checkin, Exist::existing_or_new,
                          "dummy timestamp from new-entry"});
}
void handle_updated(std::string_view p) {
    with_entries_data(p, {Contents::update, Exist::existing_or_new, nullptr});
}
void handle_created(std::string_view p) {
    with_entries_data(p, {Contents::update, Exist::is_new, nullptr});
}
void handle_update_existing(std::string_view p) {
    with_entries_data(p, {Contents::update, Exist::existing, nullptr});
}
void handle_merged(std::string_view p) {
    with_entries_data(p, {Contents::update, Exist::existing_or_new, "Result of merge"});
}
void handle_patched(std::string_view p) {
    with_entries_data(p, {Contents::patch, Exist::existing_or_new, nullptr});
}
void handle_rcs_diff(std::string_view p) {
    with_entries_data(p, {Contents::rcs_diff, Exist::existing_or_new, nullptr});
}

void handle_copy_file(std::string_view p) {
    call_in_directory(std::string(p), [](List *, const std::string &, const std::string &file) {
        std::string newname = read_line();
        if (!safe_file_name(newname))
            error(1, 0, "protocol error: Copy-file tried to specify directory");
        if (unlink(newname.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "unable to remove %s", newname);
        copy_file(file.c_str(), newname.c_str());
    });
}

void handle_removed(std::string_view p) {
    call_in_directory(std::string(p), [](List *entries, const std::string &short_pathname,
                                         const std::string &file) {
        if (entries)
            Scratch_Entry(entries, file);
        if (unlink(file.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "unable to remove %s", short_pathname);
    });
}

void handle_remove_entry(std::string_view p) {
    call_in_directory(std::string(p), [](List *entries, const std::string &, const std::string &file) {
        if (entries)
            Scratch_Entry(entries, file);
    });
}

void handle_set_static_directory(std::string_view p) {
    if (command_name == "export") {
        read_line();
        return;
    }
    call_in_directory(std::string(p), [](List *, const std::string &, const std::string &) {
        FILE *fp = std::fopen("JOL/Entries.Static", "w+");
        if (!fp || std::fclose(fp) == EOF)
            error(1, errno, "cannot close %s", "JOL/Entries.Static");
    }, ResponseTarget::directory);
}

void handle_clear_static_directory(std::string_view p) {
    std::string path(p);
    if (command_name == "export" || at_root_level(path)) {
        read_line();
        return;
    }
    call_in_directory(path, [](List *, const std::string &, const std::string &) {
        if (unlink("JOL/Entries.Static") != 0 && errno != ENOENT)
            error(1, errno, "cannot remove file %s", "JOL/Entries.Static");
    }, ResponseTarget::directory);
}

void handle_set_sticky(std::string_view p) {
    std::string path(p);
    if (command_name == "export" || at_root_level(path)) {
        read_line();
        read_line();
        return;
    }
    call_in_directory(path, [](List *, const std::string &, const std::string &) {
        std::string tagline = read_line();
        FILE *fp = std::fopen("JOL/Tag", "w+");
        if (!fp) {
            error(0, errno, "cannot open %s", "JOL/Tag");
            return;
        }
        if (std::fprintf(fp, "%s\n", tagline.c_str()) < 0)
            error(1, errno, "writing %s", "JOL/Tag");
        if (std::fclose(fp) == EOF)
            error(1, errno, "closing %s", "JOL/Tag");
    }, ResponseTarget::directory);
}

void handle_clear_sticky(std::string_view p) {
    std::string path(p);
    if (command_name == "export" || at_root_level(path)) {
        read_line();
        return;
    }
    call_in_directory(path, [](List *, const std::string &, const std::string &) {
        if (unlink("JOL/Tag") != 0 && errno != ENOENT)
            error(1, errno, "cannot remove %s", "JOL/Tag");
    }, ResponseTarget::directory);
}

void handle_template(std::string_view p) {
    call_in_directory(std::string(p), [](List *, const std::string &, const std::string &) {
        SizeLine size = read_size_line("JOL/Template");
        if (size.compressed)
            error(1, 0, "protocol error: compressed files not supported for that operation");
        std::string text = read_counted_text(size.size);
        FILE *fp = std::fopen("JOL/Template", "wb");
        if (!fp || std::fwrite(text.data(), 1, text.size(), fp) != text.size())
            error(1, errno, "cannot write %s", "<JOL/Template file>");
        if (std::fclose(fp) == EOF)
            error(1, errno, "cannot close %s", "<JOL/Template file>");
    }, ResponseTarget::directory);
}

void handle_notified(std::string_view p) {
    call_in_directory(std::string(p), [](List *, const std::string &, const std::string &file) {
        std::string text;
        int err = 0;
        if (!read_whole_file("JOL/Notify", text, err)) {
            error(0, err, "cannot read %s", "JOL/Notify");
            return;
        }
        size_t nl = text.find('\n');
        if (nl == std::string::npos) {
            error(0, 0, "cannot read %s: end of file", "JOL/Notify");
            return;
        }
        std::string first = text.substr(0, nl);
        size_t tab = first.find('\t');
        if (tab == std::string::npos) {
            error(0, 0, "malformed %s file", "JOL/Notify");
            return;
        }
        if (first.substr(1, tab - 1) != file) {
            error(0, 0, "protocol error: notified %s, expected %s", file, first.substr(1, tab - 1));
            return;
        }
        std::string rest = text.substr(nl + 1);
        if (rest.empty()) {
            if (unlink("JOL/Notify") != 0)
                error(0, errno, "cannot remove %s", "JOL/Notify");
            return;
        }
        if (!write_file_atomically("JOL/Notify", rest))
            error(0, errno, "cannot write %s", "JOL/Notify.tmp");
    });
}
