// The remove command: schedules files for removal at the next commit.
#include <cerrno>
#include <cstring>
#include <getopt.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/wc/entries.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"
#include "src/wc/server_hooks.h"
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

namespace {

const char *const remove_usage[] = {
    "Usage: %s %s [-flR] [files...]\n",
    "\t-f\tDelete the file before removing it.\n",
    "\t-l\tProcess this directory only (not recursive).\n",
    "\t-R\tProcess directories recursively.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

struct RemoveState {
    int force = 0;
    int existing_files = 0;
    int removed_files = 0;
};

int remove_fileproc(void *callerdat, file_info *finfo) {
    auto *st = static_cast<RemoveState *>(callerdat);
    if (st->force && !noexec && unlink(finfo->file.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "unable to remove %s", finfo->fullname);
    Vers_TS *vers = Version_TS(finfo, nullptr, nullptr, nullptr, 0, 0);
    if (vers->ts_user) {
        ++st->existing_files;
        if (!quiet)
            error(0, 0, "file `%s' still in working directory", finfo->fullname);
    } else if (!vers->vn_user) {
        if (!quiet)
            error(0, 0, "nothing known about `%s'", finfo->fullname);
    } else if (*vers->vn_user == "0") {
        Scratch_Entry(finfo->entries, finfo->file);
        std::string desc = "JOL/" + finfo->file + ",t";
        if (unlink(desc.c_str()) != 0 && errno != ENOENT)
            error(0, errno, "cannot remove %s", desc);
        if (!quiet)
            error(0, 0, "removed `%s'", finfo->fullname);
        if (server_active)
            server_checked_in(finfo->file.c_str(), finfo->update_dir.c_str(), finfo->repository);
    } else if ((*vers->vn_user)[0] == '-') {
        if (!quiet)
            error(0, 0, "file `%s' already scheduled for removal", finfo->fullname);
    } else if (vers->tag && std::isdigit(static_cast<unsigned char>((*vers->tag)[0]))) {
        error(0, 0, "cannot remove file `%s' which has a numeric sticky tag of `%s'",
              finfo->fullname, *vers->tag);
    } else {
        Entnode *e = vers->entdata;
        Register(finfo->entries, finfo->file, "-" + *vers->vn_user, e->timestamp, e->options,
                 e->tag, e->date, e->conflict);
        if (!quiet)
            error(0, 0, "scheduling `%s' for removal", finfo->fullname);
        ++st->removed_files;
        if (server_active)
            server_checked_in(finfo->file.c_str(), finfo->update_dir.c_str(), finfo->repository);
    }
    freevers_ts(&vers);
    return 0;
}

// Client -f: the working files go before the server is asked.
int remove_force_fileproc(void *, file_info *finfo) {
    if (unlink(finfo->file.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "unable to remove %s", finfo->fullname);
    return 0;
}

Dtype remove_dirproc(void *, const char *, const char *, const char *update_dir, List *) {
    if (!quiet)
        error(0, 0, "Removing %s", update_dir);
    return R_PROCESS;
}

}  // namespace

int jolremove(int argc, char **argv) {
    if (argc == -1)
        usage(remove_usage);
    RemoveState st;
    int local = 0;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+flR")) != -1) {
        switch (c) {
        case 'f': st.force = 1; break;
        case 'l': local = 1; break;
        case 'R': local = 0; break;
        default: usage(remove_usage);
        }
    }
    argc -= optind;
    argv += optind;
    wrap_setup();
    if (client_active) {
        if (st.force && !noexec)
            start_recursion({.fileproc = remove_force_fileproc,
                             .argc = argc,
                             .argv = argv,
                             .local = local,
                             .which = WHICH_LOCAL,
                             .dosrcs = 0});
        start_server();
        ign_setup();
        if (local)
            send_arg("-l");
        send_files(argc, argv, local, 0, 0);
        send_file_names(argc, argv, SEND_EXPAND_WILD);
        send_to_server("remove\n");
        return get_responses_and_close();
    }
    int err = start_recursion({.fileproc = remove_fileproc,
                               .direntproc = remove_dirproc,
                               .callerdat = &st,
                               .argc = argc,
                               .argv = argv,
                               .local = local,
                               .which = WHICH_LOCAL,
                               .readlock = 1,
                               .dosrcs = 1});
    if (st.removed_files && !quiet)
        error(0, 0, "use '%s commit' to remove %s permanently", program_name,
              st.removed_files == 1 ? "this file" : "these files");
    if (st.existing_files)
        error(0, 0, st.existing_files == 1 ? "%d file exists; remove it first"
                                           : "%d files exist; remove them first",
              st.existing_files);
    return err;
}
