// Version_TS, time stamps, No_Difference and Classify_File.
#include "src/wc/vers_ts.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <utime.h>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/rcs/rcs.h"
#include "src/wc/recurse.h"
#include "src/wc/server_hooks.h"

Vers_TS::~Vers_TS() { freercsnode(&srcfile); }

void freevers_ts(Vers_TS **versp) {
    delete *versp;
    *versp = nullptr;
}

namespace {

std::string format_stamp(time_t t) {
    struct tm tm;
    char buf[64];
    if (!gmtime_r(&t, &tm))
        localtime_r(&t, &tm);
    asctime_r(&tm, buf);
    std::string s(buf, 24);
    if (s[8] == '0')
        s[8] = ' ';
    return s;
}

// Server-side time stamp: the client sent the file only when it changed.
opt_str time_stamp_server(const char *file, Vers_TS *vers, Entnode *entdata) {
    struct stat sb;
    if (lstat(file, &sb) == 0)
        return format_stamp(sb.st_mtime);
    if (errno != ENOENT)
        error(1, errno, "cannot stat temp file");
    if (entdata && !entdata->timestamp.empty() && entdata->timestamp[0] == '=')
        return vers->ts_rcs;
    if (entdata && (entdata->timestamp == "M" || entdata->timestamp == "D"))
        return std::string("Is-modified");
    return std::nullopt;
}

}  // namespace

opt_str time_stamp(const char *file) {
    struct stat sb;
    if (lstat(file, &sb) != 0)
        return std::nullopt;
    return format_stamp(sb.st_mtime);
}

Vers_TS *Version_TS(const file_info *finfo, const char *options, const char *tag,
                    const char *date, int force_tag_match, int set_time) {
    auto *vers = new Vers_TS;
    Entnode *entdata = nullptr;
    stickydirtag *sdtp = nullptr;
    if (finfo->entries) {
        entdata = entries_find(finfo->entries, finfo->file);
        sdtp = entries_sticky(finfo->entries);
    }
    bool aflag = sdtp && sdtp->aflag;
    bool given = (tag && *tag) || (date && *date);
    if (entdata) {
        if (entdata->type == ENT_SUBDIR) {
            vers->entdata = entdata;
        } else if (!(server_active && entdata->timestamp == "D")) {
            vers->vn_user = entdata->version;
            vers->ts_rcs = entdata->timestamp;
            vers->ts_conflict = entdata->conflict;
            vers->entdata = entdata;
            if (!given && !aflag) {
                vers->tag = entdata->tag;
                vers->date = entdata->date;
            }
        }
        if (!(options && *options) && !aflag)
            vers->options = entdata->options;
    }
    if (options && *options)
        vers->options = options;
    else if (vers->options.empty() && finfo->rcs && !RCS_getexpand(finfo->rcs).empty())
        vers->options = "-k" + RCS_getexpand(finfo->rcs);

    if (given) {
        vers->tag = tag && *tag ? opt_str(tag) : std::nullopt;
        vers->date = date && *date ? opt_str(date) : std::nullopt;
    } else if (!vers->entdata && !aflag && sdtp) {
        // A server's "D" entry (modified, no entry sent) is no entry here.
        vers->tag = sdtp->tag;
        vers->date = sdtp->date;
        vers->nonbranch = sdtp->nonbranch;
    }

    if (finfo->rcs) {
        vers->srcfile = finfo->rcs;
        ++vers->srcfile->refcount;
    } else if (finfo->repository) {
        vers->srcfile = RCS_parse(finfo->file.c_str(), finfo->repository);
    }

    if (vers->srcfile) {
        if (vers->tag && *vers->tag == "BASE") {
            // The base revision of a file scheduled for removal is the
            // revision after the "-"; an added file has none.
            opt_str base = vers->vn_user;
            if (base && !base->empty() && (*base)[0] == '-')
                base = base->substr(1);
            if (base && *base == "0")
                base.reset();
            vers->vn_rcs = base;
            vers->vn_tag = base;
        } else {
            int simple = 0;
            vers->vn_rcs = RCS_getversion(vers->srcfile, vers->tag ? vers->tag->c_str() : nullptr,
                                          vers->date ? vers->date->c_str() : nullptr,
                                          force_tag_match, &simple);
            if (vers->vn_rcs)
                vers->vn_tag = simple && vers->tag ? vers->tag : vers->vn_rcs;
        }
        if (set_time && vers->vn_rcs) {
            if (server_active) {
                server_modtime(finfo, vers);
            } else {
                int64_t t = RCS_getrevtime(vers->srcfile, vers->vn_rcs->c_str(), nullptr, 0);
                if (t != -1) {
                    struct utimbuf ut;
                    ut.actime = ut.modtime = static_cast<time_t>(t);
                    utime(finfo->file.c_str(), &ut);
                }
            }
        }
    }

    if (finfo->entries) {
        if (server_active)
            vers->ts_user = time_stamp_server(finfo->file.c_str(), vers, entdata);
        else
            vers->ts_user = time_stamp(finfo->file.c_str());
    }
    return vers;
}

int No_Difference(const file_info *finfo, Vers_TS *vers) {
    if (vers->ts_user && *vers->ts_user == "Is-modified")
        return -1;
    if (!vers->srcfile || vers->srcfile->path.empty())
        return -1;
    const opt_str &rev = vers->vn_user ? vers->vn_user : vers->vn_rcs;
    if (!rev)
        return -1;
    std::string options = vers->entdata ? vers->entdata->options : std::string();
    if (RCS_cmp_file(vers->srcfile, rev->c_str(), options.c_str(), finfo->file.c_str()) != 0)
        return 1;
    opt_str ts = time_stamp(finfo->file.c_str());
    Register(finfo->entries, finfo->file, *rev, ts.value_or(""), options, vers->tag, vers->date,
             std::nullopt);
    if (server_active)
        server_update_entries(finfo->file.c_str(), finfo->update_dir.c_str(), finfo->repository,
                              SERVER_UPDATED);
    vers->entdata = entries_find(finfo->entries, finfo->file);
    vers->ts_rcs = ts;
    vers->ts_conflict.reset();
    return 0;
}

void sticky_ck(const file_info *finfo, int aflag, Vers_TS *vers) {
    if (!(aflag || vers->tag || vers->date))
        return;
    Entnode *ent = vers->entdata;
    if (!ent)
        return;
    if (ent->tag == vers->tag && ent->date == vers->date)
        return;
    Register(finfo->entries, finfo->file, vers->vn_user.value_or(""), vers->ts_rcs.value_or(""),
             vers->options, vers->tag, vers->date, vers->ts_conflict);
    vers->entdata = entries_find(finfo->entries, finfo->file);
    if (server_active)
        server_update_entries(finfo->file.c_str(), finfo->update_dir.c_str(), finfo->repository,
                              vers->ts_rcs == vers->ts_user ? SERVER_UPDATED : SERVER_MERGED);
}

namespace {

template <class... A>
void quiet_warning(const char *message, const A &...args) {
    if (!really_quiet)
        error(0, 0, message, args...);
}

}  // namespace

Ctype Classify_File(const file_info *finfo, const char *tag, const char *date,
                    const char *options, int force_tag_match, int aflag, Vers_TS **versp,
                    int pipeout) {
    Vers_TS *vers = Version_TS(finfo, options, tag, date, force_tag_match, 0);
    Ctype ret = T_UNKNOWN;
    const char *full = finfo->fullname.c_str();
    bool present = vers->ts_user.has_value();
    bool rcs_live = vers->vn_rcs && !RCS_isdead(vers->srcfile, vers->vn_rcs->c_str());
    bool rcs_dead = vers->vn_rcs && !rcs_live;
    bool in_effect = vers->tag || vers->date;

    if (!vers->vn_user) {
        if (!vers->vn_rcs) {
            if (force_tag_match && in_effect)
                ret = T_UNKNOWN;
            else if (present)
                quiet_warning("use `%s add' to create an entry for %s", program_name, full);
            else
                quiet_warning("nothing known about %s", full);
            ret = T_UNKNOWN;
        } else if (rcs_dead) {
            if (present) {
                error(0, 0, "use `%s add' to create an entry for %s", program_name, full);
                ret = T_UNKNOWN;
            } else {
                ret = T_UPTODATE;
            }
        } else if (!present || pipeout) {
            ret = T_CHECKOUT;
        } else if (No_Difference(finfo, vers) == 0) {
            ret = T_CHECKOUT;
        } else {
            quiet_warning("move away %s; it is in the way", full);
            ret = T_CONFLICT;
        }
    } else if (*vers->vn_user == "0") {
        if (!present) {
            quiet_warning("warning: new-born %s has disappeared", full);
            ret = T_REMOVE_ENTRY;
        } else if (!rcs_live) {
            ret = T_ADDED;
        } else if ((vers->srcfile->flags & ARCHIVE_IN_ATTIC) &&
                   (vers->srcfile->flags & ARCHIVE_VALID)) {
            quiet_warning("conflict: %s has been added, but already exists", full);
            ret = T_CONFLICT;
        } else {
            quiet_warning("conflict: %s created independently by second party", full);
            ret = T_CONFLICT;
        }
    } else if ((*vers->vn_user)[0] == '-') {
        std::string removed = vers->vn_user->substr(1);
        bool moved_on = rcs_live && *vers->vn_rcs != removed;
        if (moved_on) {
            // Checked whether or not the file was re-created meanwhile.
            quiet_warning("conflict: removed %s was modified by second party", full);
            ret = T_CONFLICT;
        } else if (present) {
            quiet_warning("%s should be removed and is still there", full);
            ret = T_REMOVED;
        } else if (!rcs_live) {
            ret = T_REMOVE_ENTRY;
        } else {
            ret = T_REMOVED;
        }
    } else {
        bool stamps_equal = vers->ts_user && vers->ts_rcs && *vers->ts_user == *vers->ts_rcs;
        std::string entry_options = vers->entdata ? vers->entdata->options : std::string();
        bool options_match = entry_options == vers->options;
        if (!vers->vn_rcs) {
            if (!present) {
                quiet_warning("warning: %s is not (any longer) pertinent", full);
                ret = T_REMOVE_ENTRY;
            } else if (stamps_equal) {
                quiet_warning("%s is no longer in the repository", full);
                ret = T_REMOVE_ENTRY;
            } else if (No_Difference(finfo, vers) != 0) {
                quiet_warning("conflict: %s is modified but no longer in the repository", full);
                ret = T_CONFLICT;
            } else {
                quiet_warning("warning: %s is not (any longer) pertinent", full);
                ret = T_REMOVE_ENTRY;
            }
        } else if (!present) {
            if (command_name == "update")
                quiet_warning("warning: %s was lost", full);
            ret = T_CHECKOUT;
        } else if (*vers->vn_rcs == *vers->vn_user) {
            if (stamps_equal) {
                if (!entry_options.empty() && !options_match) {
                    ret = T_CHECKOUT;
                } else {
                    sticky_ck(finfo, aflag, vers);
                    ret = T_UPTODATE;
                }
            } else if (No_Difference(finfo, vers) != 0) {
                sticky_ck(finfo, aflag, vers);
                ret = T_MODIFIED;
            } else {
                ret = options_match ? T_UPTODATE : T_CHECKOUT;
            }
        } else {
            if (!stamps_equal && No_Difference(finfo, vers) != 0) {
                if (rcs_dead) {
                    // Merging into a revision that no longer exists makes
                    // no sense; the user must decide.
                    quiet_warning("conflict: %s is modified but no longer in the repository",
                                  full);
                    ret = T_CONFLICT;
                } else {
                    ret = T_NEEDS_MERGE;
                }
            } else if (options_match && !(vers->srcfile->flags & ARCHIVE_IN_ATTIC)) {
                ret = T_PATCH;
            } else {
                ret = T_CHECKOUT;
            }
        }
    }

    if (versp)
        *versp = vers;
    else
        freevers_ts(&vers);
    return ret;
}
