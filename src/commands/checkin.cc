// Checkin: the per-file step of commit that wraps RCS_checkin and refreshes
// the working file and its entry.
#include "src/commands/checkin.h"

#include <cerrno>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/commands/update.h"
#include "src/rcs/rcs_admin.h"
#include "src/rcs/rcs_checkin.h"
#include "src/rcs/rcs_write.h"
#include "src/repo/history.h"
#include "src/wc/entries.h"
#include "src/wc/fileattr.h"
#include "src/wc/recurse.h"
#include "src/wc/server_hooks.h"
#include "src/wc/vers_ts.h"

int Checkin(char type, file_info *finfo, const char *rev, const char *tag, std::string &options,
            const std::string &message) {
    jol_output("Checking in " + finfo->fullname + ";\n");
    if (!finfo->rcs)
        finfo->rcs = RCS_parse(finfo->file.c_str(), finfo->repository);
    if (!finfo->rcs) {
        error(0, 0, "could not check in %s", finfo->fullname);
        return 1;
    }
    if (RCS_checkin(finfo->rcs, finfo->file.c_str(), message.c_str(), rev, CHECKIN_KEEPFILE) != 0) {
        if (!noexec)
            error(0, 0, "could not check in %s", finfo->fullname);
        return 1;
    }
    if (options == "-V4")
        options.clear();
    bool set_time = false;
    if (options != "-ko" && options != "-kb") {
        auto head = RCS_head(finfo->rcs);
        Vers_TS *tmp = Version_TS(finfo, nullptr, tag, nullptr, 1, 0);
        const char *newrev = tmp->vn_rcs ? tmp->vn_rcs->c_str() : nullptr;
        if (newrev &&
            RCS_cmp_file(finfo->rcs, newrev, options.c_str(), finfo->file.c_str()) != 0) {
            // Keywords were expanded: the working file becomes the stored
            // revision as it checks out.
            if (RCS_checkout(finfo->rcs, finfo->file.c_str(), newrev, nullptr, options.c_str(),
                             nullptr, nullptr, nullptr) != 0)
                error(1, 0, "failed when checking out new copy of %s", finfo->fullname);
            xchmod(finfo->file.c_str(), 1);
            set_time = true;
        }
        (void)head;
        freevers_ts(&tmp);
    }
    bool watched = fileattr_get(finfo->file.c_str(), "_watched").has_value();
    xchmod(finfo->file.c_str(), jolwrite && !watched);
    Vers_TS *vers = Version_TS(finfo, nullptr, tag, nullptr, 1, set_time);
    if (vers->options == "-V4")
        vers->options.clear();
    Register(finfo->entries, finfo->file, vers->vn_rcs.value_or(""), vers->ts_user.value_or(""),
             vers->options, vers->tag, vers->date, std::nullopt);
    history_write(type, finfo->update_dir.c_str(), vers->vn_rcs.value_or("").c_str(),
                  finfo->file.c_str(), finfo->repository);
    if (rev) {
        RCS_unlock(finfo->rcs, nullptr, 1);
        RCS_rewrite(finfo->rcs, nullptr, nullptr);
    }
    if (!server_active)
        mark_up_to_date(finfo->file.c_str());
    if (server_active) {
        // A file whose keywords were expanded goes back whole.
        if (set_time)
            server_updated(finfo, vers, SERVER_UPDATED, SERVER_FILE_MODE, nullptr, nullptr);
        else
            server_checked_in(finfo->file.c_str(), finfo->update_dir.c_str(), finfo->repository);
    }
    freevers_ts(&vers);
    return 0;
}
