// Fetching a revision into the working directory, merging repository
// changes into a modified file, joining changes between two revisions, and
// dropping files that left the repository.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/commands/update.h"
#include "src/protocol/buffer.h"
#include "src/protocol/file_modes.h"
#include "src/protocol/md5sum.h"
#include "src/rcs/diff_invoke.h"
#include "src/rcs/rcs.h"
#include "src/repo/history.h"
#include "src/wc/entries.h"
#include "src/wc/fileattr.h"
#include "src/wc/recurse.h"
#include "src/wc/register_clock.h"
#include "src/wc/server_hooks.h"
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

namespace {

const char *opt_c(const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; }

// Format: doc/formats.md#working-temporary-files
std::string moved_aside_name(const file_info *finfo) { return "JOL/,," + finfo->file; }

// Restoring a backup: untraced, and tried under -n too (it finds none there, as always).
constexpr rename_how put_back{.traced = false, .honour_noexec = false, .fatal = false};

void history_of(char type, const file_info *finfo, const std::string &rev) {
    history_write(type, finfo->update_dir.c_str(), rev.c_str(), finfo->file.c_str(),
                  finfo->repository);
}

}  // namespace



namespace {

void append_to_buffer(void *callerdat, const char *text, size_t len) {
    buf_output(*static_cast<buffer *>(callerdat), text, len);
}

// The mode a buffered checkout sends: the archive's, without write bits,
// with a write bit for each read bit when files are made writable.
mode_t buffered_mode(const Vers_TS *vers_ts, bool writable) {
    struct stat sb;
    if (stat(vers_ts->srcfile->path.c_str(), &sb) != 0)
        error(1, errno, "cannot stat %s", vers_ts->srcfile->path);
    mode_t mode = sb.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    if (writable)
        mode |= ((mode & S_IRUSR) ? S_IWUSR : 0) | ((mode & S_IRGRP) ? S_IWGRP : 0) |
                ((mode & S_IROTH) ? S_IWOTH : 0);
    return mode;
}

}  // namespace

int checkout_file(UpdateRun &run, file_info *finfo, Vers_TS *vers_ts, int adding, int merging,
                  int update_server) {
    const UpdateRequest &req = run.req;
    const int pipeout = req.pipeout;
    // The server sends a revision from memory unless the file itself is
    // needed: for compression, or for a join that follows.
    const bool server_notify = server_active && update_server;
    buffer_ptr filebuf;
    if (server_notify && !pipeout && file_gzip_level == 0 && !run.joining())
        filebuf = buf_nonio_initialize(nullptr);
    mode_t mode = SERVER_FILE_MODE;
    std::string backup;
    if (!pipeout && !server_active && isfile(finfo->file.c_str())) {
        backup = moved_aside_name(finfo);
        if (unlink(backup.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "error removing %s", backup);
        // Untraced: moving the old copy aside has never had a -t line.
        rename_file(finfo->file.c_str(), backup.c_str(), {.traced = false});
    }
    const bool dead = !vers_ts->vn_rcs || RCS_isdead(vers_ts->srcfile, vers_ts->vn_rcs->c_str());
    int status = 0;
    if (!dead) {
        if (pipeout && !quiet)
            jol_outerr("===================================================================\n"
                       "Checking out " +
                       finfo->fullname + "\nRCS:  " + vers_ts->srcfile->path +
                       "\nVERS: " + *vers_ts->vn_rcs + "\n***************\n");
        if (filebuf)
            status = RCS_checkout(vers_ts->srcfile, nullptr, vers_ts->vn_rcs->c_str(),
                                  opt_c(vers_ts->vn_tag), vers_ts->options.c_str(), nullptr,
                                  append_to_buffer, filebuf.get());
        else
            status = RCS_checkout(vers_ts->srcfile, pipeout ? nullptr : finfo->file.c_str(),
                                  vers_ts->vn_rcs->c_str(), opt_c(vers_ts->vn_tag),
                                  vers_ts->options.c_str(), nullptr, nullptr, nullptr);
        if (status != 0) {
            if (!backup.empty() && rename_file(backup.c_str(), finfo->file.c_str(), put_back) != 0)
                error(0, errno, "cannot rename file %s to %s", backup, finfo->file);
            error(0, 0, "could not check out %s", finfo->fullname);
            return status;
        }
    }
    if (!pipeout) {
        bool watched = fileattr_get(finfo->file.c_str(), "_watched").has_value();
        bool writable = jolwrite && !dead && !watched;
        if (filebuf && !noexec && !dead)
            mode = buffered_mode(vers_ts, writable);
        else if (writable)
            xchmod(finfo->file.c_str(), 1);
        bool set_time = !noexec && !dead &&
                        (!vers_ts->entdata || vers_ts->entdata->timestamp.rfind("Initial", 0) == 0);
        Vers_TS *fresh = Version_TS(finfo, opt_c(req.options), opt_c(req.tag), opt_c(req.date),
                                    req.force_tag_match, set_time);
        if (fresh->options == "-V4")
            fresh->options.clear();
        if (filebuf)
            fresh->ts_user = fresh->ts_rcs;
        if (!dead)
            run.last_register_time =
                std::max(run.last_register_time, register_second(fresh->ts_user));
        if (!dead) {
            Register(finfo->entries, finfo->file, adding ? std::string("0") : fresh->vn_rcs.value_or(""),
                     fresh->ts_user.value_or(""), fresh->options, fresh->tag, fresh->date,
                     std::nullopt);
            if (!server_active && !noexec && !adding)
                mark_up_to_date(finfo->file.c_str());
        } else {
            if (vers_ts->entdata)
                error(0, 0, "warning: %s is not (any longer) pertinent", finfo->fullname);
            Scratch_Entry(finfo->entries, finfo->file);
            if (server_active && !vers_ts->ts_user)
                server_scratch_entry_only();
            if (!noexec && unlink(finfo->file.c_str()) != 0 && errno != ENOENT)
                error(0, errno, "cannot remove %s", finfo->fullname);
        }
        if (run.joining()) {
            vers_ts->vn_user = fresh->vn_rcs;
            vers_ts->vn_rcs = fresh->vn_rcs;
        }
        if (command_name == "update")
            history_of('U', finfo, fresh->vn_rcs.value_or(""));
        freevers_ts(&fresh);
        if (!really_quiet && !dead)
            write_letter(finfo, 'U');
    }
    if (server_notify)
        server_updated(finfo, vers_ts, merging ? SERVER_MERGED : SERVER_UPDATED, mode, nullptr,
                       filebuf.get());
    if (!backup.empty() && unlink(backup.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "error removing %s", backup);
    return 0;
}

namespace {

// Writes a checked-out revision to a file, noting whether it ended with a
// newline and, when asked, feeding a digest.
struct revision_writer {
    FILE *fp;
    const std::string *name;
    md5_context *digest;
    bool ends_in_newline = false;
};

void write_revision(void *callerdat, const char *text, size_t len) {
    auto *w = static_cast<revision_writer *>(callerdat);
    if (len == 0)
        return;
    if (std::fwrite(text, 1, len, w->fp) != len)
        error(1, errno, "cannot write %s", *w->name);
    if (w->digest)
        w->digest->update(text, len);
    w->ends_in_newline = text[len - 1] == '\n';
}

// Checks `rev` out into `path`; true when it worked and ended in a newline.
bool checkout_for_patch(RCSNode *rcs, const std::string &path, const std::string &rev,
                        const char *nametag, const char *options, md5_context *digest) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp)
        error(1, errno, "cannot open %s", path);
    revision_writer w{fp, &path, digest};
    int status = RCS_checkout(rcs, nullptr, rev.c_str(), nametag, options, nullptr,
                              write_revision, &w);
    if (std::fclose(fp) == EOF)
        error(1, errno, "cannot close %s", path);
    return status == 0 && w.ends_in_newline;
}

// Whether the diff output in the working file can go to the client as a
// patch: it gets the archive's mode, and a binary difference cannot.
bool usable_patch(const file_info *finfo, const Vers_TS *vers_ts) {
    struct stat sb;
    if (stat(vers_ts->srcfile->path.c_str(), &sb) != 0)
        error(1, errno, "could not stat %s", vers_ts->srcfile->path);
    if (chmod(finfo->file.c_str(), sb.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) != 0)
        error(0, errno, "cannot change mode of file %s", finfo->file);
    if (jolwrite && !fileattr_get(finfo->file.c_str(), "_watched"))
        xchmod(finfo->file.c_str(), 1);
    FILE *fp = std::fopen(finfo->file.c_str(), "rb");
    if (!fp)
        error(1, errno, "could not open diff output file %s", finfo->fullname);
    char head[6];
    size_t n = std::fread(head, 1, sizeof head, fp);
    std::fclose(fp);
    return !(n == sizeof head && std::memcmp(head, "Binary", sizeof head) == 0);
}

}  // namespace

int patch_file(UpdateRun &run, file_info *finfo, Vers_TS *vers_ts, int *docheckout,
               struct stat *file_info, unsigned char *checksum) {
    const UpdateRequest &req = run.req;
    *docheckout = 0;
    if (noexec || req.pipeout || run.joining() || vers_ts->options == "-kb" || !vers_ts->vn_user ||
        !RCS_exist_rev(vers_ts->srcfile, vers_ts->vn_user->c_str()) ||
        RCS_isdead(vers_ts->srcfile, vers_ts->vn_rcs->c_str())) {
        *docheckout = 1;
        return 0;
    }
    std::string backup = moved_aside_name(finfo);
    if (isfile(finfo->file.c_str()))
        rename_file(finfo->file.c_str(), backup.c_str(), {.traced = false});
    else if (unlink(backup.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "error removing %s", backup);
    std::string file1 = backup + "-1", file2 = backup + "-2";
    md5_context digest;
    bool ok = checkout_for_patch(vers_ts->srcfile, file1, *vers_ts->vn_user, nullptr,
                                 vers_ts->options.c_str(), nullptr);
    ok = checkout_for_patch(vers_ts->srcfile, file2, *vers_ts->vn_rcs, opt_c(vers_ts->vn_tag),
                            vers_ts->options.c_str(), &digest) &&
         ok;
    int retcode = 0;
    if (ok) {
        retcode = diff_exec(file1.c_str(), file2.c_str(), run.rcs_diff_patches ? "-n" : "-c",
                            finfo->file.c_str());
        ok = (retcode == 0 || retcode == 1) && usable_patch(finfo, vers_ts);
    }
    if (ok) {
        md5_digest sum = digest.final();
        std::memcpy(checksum, sum.data(), sum.size());
        Vers_TS *fresh = Version_TS(finfo, opt_c(req.options), opt_c(req.tag), opt_c(req.date),
                                    req.force_tag_match, 0);
        if (fresh->options == "-V4")
            fresh->options.clear();
        run.last_register_time = std::max(run.last_register_time, register_second(fresh->ts_user));
        Register(finfo->entries, finfo->file, fresh->vn_rcs.value_or(""),
                 fresh->ts_user.value_or(""), fresh->options, fresh->tag, fresh->date,
                 std::nullopt);
        if (stat(finfo->file.c_str(), file_info) != 0)
            error(1, errno, "could not stat %s", finfo->file);
        if (command_name == "update")
            history_of('P', finfo, fresh->vn_rcs.value_or(""));
        freevers_ts(&fresh);
        if (!really_quiet)
            write_letter(finfo, 'P');
    } else {
        if (isfile(backup.c_str()) && rename_file(backup.c_str(), finfo->file.c_str(), put_back) != 0)
            error(0, errno, "cannot rename file %s to %s", backup, finfo->file);
        if (retcode < 0)
            error(1, errno, "could not diff %s", finfo->fullname);
        if (retcode > 1)
            error(0, 0, "could not diff %s", finfo->fullname);
        *docheckout = 1;
    }
    for (const std::string &tmp : {backup, file1, file2})
        if (unlink(tmp.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "cannot remove %s", tmp);
    return ok ? 0 : retcode;
}

int scratch_file(file_info *finfo) {
    history_write('W', finfo->update_dir.c_str(), "", finfo->file.c_str(), finfo->repository);
    Scratch_Entry(finfo->entries, finfo->file);
    if (!noexec && unlink(finfo->file.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "unable to remove %s", finfo->fullname);
    return 0;
}

namespace {

// ".#file.rev", a copy of the working file made before merging into it.
std::string make_backup(const file_info *finfo, const std::string &rev, const char *rm_message) {
    std::string backup = ".#" + finfo->file + "." + rev;
    if (unlink(backup.c_str()) != 0 && errno != ENOENT)
        error(0, errno, rm_message, backup);
    copy_file(finfo->file.c_str(), backup.c_str());
    xchmod(finfo->file.c_str(), 1);
    return backup;
}

// The client backs up its copy, then takes the merged file.
void send_merge_result(const file_info *finfo, const Vers_TS *vers, const std::string &backup) {
    server_copy_file(finfo->file.c_str(), finfo->update_dir.c_str(), finfo->repository,
                     backup.c_str());
    server_updated(finfo, vers, SERVER_MERGED, SERVER_FILE_MODE, nullptr, nullptr);
}

void nonmergeable_warnings(const file_info *finfo, const std::string &rev,
                           const std::string &backup) {
    error(0, 0, "nonmergeable file needs merge");
    error(0, 0, "revision %s from repository is now in %s", rev, finfo->fullname);
    error(0, 0, "file from working directory is now in %s", backup);
}

}  // namespace

int merge_file(UpdateRun &run, file_info *finfo, Vers_TS *vers) {
    std::string backup = make_backup(finfo, *vers->vn_user, "unable to remove %s");
    if (vers->options == "-kb" || wrap_merge_is_copy(finfo->file.c_str())) {
        if (server_active)
            server_copy_file(finfo->file.c_str(), finfo->update_dir.c_str(), finfo->repository,
                             backup.c_str());
        checkout_file(run, finfo, vers, 0, 1, 1);
        nonmergeable_warnings(finfo, *vers->vn_rcs, backup);
        write_letter(finfo, 'C');
        history_of('C', finfo, vers->vn_rcs.value_or(""));
        return 0;
    }
    int status = RCS_merge(vers->srcfile, vers->srcfile->path.c_str(), finfo->file.c_str(),
                           vers->options.c_str(), vers->vn_user->c_str(), vers->vn_rcs->c_str());
    if (status != 0 && status != 1) {
        error(0, status == -1 ? errno : 0, "could not merge revision %s of %s", *vers->vn_user,
              finfo->fullname);
        error(status == -1 ? 1 : 0, 0, "restoring %s from backup file %s", finfo->fullname, backup);
        rename_file(backup.c_str(), finfo->file.c_str(), put_back);
        return 1;
    }
    if (vers->options == "-V4")
        vers->options.clear();
    opt_str conflict;
    if (status == 1) {
        run.last_register_time = time(nullptr);
        conflict = time_stamp(finfo->file.c_str());
    }
    Register(finfo->entries, finfo->file, *vers->vn_rcs, "Result of merge", vers->options,
             vers->tag, vers->date, conflict);
    if (run.joining())
        vers->vn_user = vers->vn_rcs;
    if (server_active)
        send_merge_result(finfo, vers, backup);
    if (!noexec && files_equal(backup.c_str(), finfo->file.c_str())) {
        jol_output(finfo->fullname + " already contains the differences between " +
                   *vers->vn_user + " and " + *vers->vn_rcs + "\n");
        history_of('G', finfo, *vers->vn_rcs);
        return 0;
    }
    if (status == 1) {
        error(0, 0, "conflicts found in %s", finfo->fullname);
        write_letter(finfo, 'C');
        history_of('C', finfo, *vers->vn_rcs);
    } else {
        write_letter(finfo, 'M');
        history_of('G', finfo, *vers->vn_rcs);
    }
    return 0;
}

int join_file(UpdateRun &run, file_info *finfo, Vers_TS *vers) {
    if (!vers->srcfile || vers->srcfile->path.empty())
        return 0;
    RCSNode *rcs = vers->srcfile;
    auto rev_of = [&](const std::optional<std::string> &t, const std::optional<std::string> &d)
        -> std::optional<std::string> {
        return RCS_getversion(rcs, opt_c(t), opt_c(d), 1, nullptr);
    };
    std::optional<std::string> jrev1 = run.join_rev1, jdate1 = run.date_rev1;
    std::optional<std::string> jrev2 = run.join_rev2, jdate2 = run.date_rev2;
    if (!jrev2) {
        jrev2 = jrev1;
        jdate2 = jdate1;
        jrev1.reset();
        jdate1.reset();
    }
    std::optional<std::string> rev2 = rev_of(jrev2, jdate2);
    std::optional<std::string> rev1;
    if (jrev1) {
        rev1 = rev_of(jrev1, jdate1);
    } else if (vers->vn_rcs) {
        if (!rev2)
            return 0;
        rev1 = gca(*vers->vn_rcs, *rev2);
    }
    auto alive = [&](const std::optional<std::string> &r) {
        return r && !RCS_isdead(rcs, r->c_str());
    };
    auto with_date = [&](const char *plain, const char *dated) {
        if (jdate2)
            error(0, 0, dated, finfo->fullname, *jrev2, *jdate2);
        else
            error(0, 0, plain, finfo->fullname, *jrev2);
    };

    if (alive(rev2)) {
        if ((vers->vn_user && *vers->vn_user == *rev2) || (rev1 && *rev1 == *rev2))
            return 0;
        if (alive(rev1) && vers->vn_user) {
            // The client did not send a file it has unchanged.
            if (server_active && !isfile(finfo->file.c_str()) &&
                RCS_checkout(rcs, finfo->file.c_str(), vers->vn_user->c_str(), nullptr,
                             vers->options.c_str(), nullptr, nullptr, nullptr) != 0)
                error(1, 0, "failed to check out %s file", finfo->fullname);
            std::string backup = make_backup(finfo, vers->vn_user.value_or(*rev1), "cannot remove %s");
            int status;
            bool copy = vers->options == "-kb" || wrap_merge_is_copy(finfo->file.c_str());
            if (*vers->vn_user == *rev1 && copy) {
                status = RCS_checkout(rcs, finfo->file.c_str(), rev2->c_str(), nullptr,
                                      vers->options.c_str(), nullptr, nullptr, nullptr) == 0
                             ? 0
                             : 2;
                xchmod(finfo->file.c_str(), 1);
                write_letter(finfo, 'U');
            } else if (!copy) {
                status = RCS_merge(rcs, rcs->path.c_str(), finfo->file.c_str(),
                                   vers->options.c_str(), rev1->c_str(), rev2->c_str());
            } else {
                status = RCS_checkout(rcs, finfo->file.c_str(), rev2->c_str(), nullptr,
                                      vers->options.c_str(), nullptr, nullptr, nullptr) == 0
                             ? 0
                             : 2;
                xchmod(finfo->file.c_str(), 1);
                nonmergeable_warnings(finfo, *rev2, backup);
                write_letter(finfo, 'C');
            }
            if (status != 0 && status != 1) {
                error(0, status == -1 ? errno : 0, "could not merge revision %s of %s", *rev2,
                      finfo->fullname);
                error(status == -1 ? 1 : 0, 0, "restoring %s from backup file %s",
                      finfo->fullname, backup);
                rename_file(backup.c_str(), finfo->file.c_str(), put_back);
                return 1;
            }
            // Every successful merge is recorded; a conflict also marks the
            // entry.
            opt_str conflict;
            if (status != 0) {
                run.last_register_time = time(nullptr);
                conflict = time_stamp(finfo->file.c_str());
            }
            Register(finfo->entries, finfo->file, vers->vn_rcs.value_or("0"), "Result of merge",
                     vers->options, vers->tag, vers->date, conflict);
            if (server_active)
                send_merge_result(finfo, vers, backup);
            return 0;
        }
        if (alive(rev1) && !vers->vn_user) {
            with_date("file %s does not exist, but is present in revision %s",
                      "file %s does not exist, but is present in revision %s as of %s");
            return 0;
        }
        if (!vers->vn_user) {
            // Added between the two revisions; an unversioned file of that
            // name is never overwritten.
            if (isfile(finfo->file.c_str())) {
                error(0, 0, "move away %s; it is in the way", finfo->fullname);
                write_letter(finfo, 'C');
                return 1;
            }
            run.req.options.reset();
            Vers_TS *xvers = Version_TS(finfo, vers->options.c_str(), opt_c(jrev2), opt_c(jdate2),
                                        1, 0);
            int r = checkout_file(run, finfo, xvers, 1, 0, 1);
            freevers_ts(&xvers);
            return r;
        }
        with_date("file %s exists, but has been added in revision %s",
                  "file %s exists, but has been added in revision %s as of %s");
        return 0;
    }

    if (alive(rev1) && vers->vn_user && (*vers->vn_user)[0] != '-' &&
        !(vers->vn_rcs && RCS_isdead(rcs, vers->vn_rcs->c_str()))) {
        bool unchanged = !vers->ts_user || (vers->ts_rcs && *vers->ts_user == *vers->ts_rcs);
        if (*vers->vn_user != "0" && unchanged) {
            if (!run.join_rev2 && *rev1 != *vers->vn_user) {
                with_date("file %s has been modified, but has been removed in revision %s",
                          "file %s has been modified, but has been removed in revision %s as of %s");
                return 0;
            }
            if (server_active) {
                server_scratch(finfo->file);
                server_updated(finfo, vers, SERVER_UPDATED, SERVER_FILE_MODE, nullptr, nullptr);
            }
            Register(finfo->entries, finfo->file, "-" + *vers->vn_user, vers->ts_rcs.value_or(""),
                     vers->options, vers->tag, vers->date, vers->ts_conflict);
            if (!noexec && unlink(finfo->file.c_str()) != 0 && errno != ENOENT)
                error(0, errno, "cannot remove file %s", finfo->fullname);
            if (server_active)
                server_checked_in(finfo->file.c_str(), finfo->update_dir.c_str(),
                                  finfo->repository);
            if (!really_quiet)
                error(0, 0, "scheduling %s for removal", finfo->fullname);
            return 0;
        }
        with_date("file %s is locally modified, but has been removed in revision %s",
                  "file %s is locally modified, but has been removed in revision %s as of %s");
    }
    return 0;
}
