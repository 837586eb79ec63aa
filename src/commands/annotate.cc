// The annotate command: every line of a revision with the revision, author
// and date that introduced it.
#include <getopt.h>
#include <optional>
#include <string>

#include "src/base/date_option.h"
#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/rcs/rcs.h"
#include "src/repo/tag_valid.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"

namespace {

const char *const annotate_usage[] = {
    "Usage: %s %s [-lRf] [-r rev|-D date] [files...]\n",
    "\t-l\tLocal directory only, no recursion.\n",
    "\t-R\tProcess directories recursively.\n",
    "\t-f\tUse head revision if tag/date not found.\n",
    "\t-r rev\tAnnotate file as of specified revision/tag.\n",
    "\t-D date\tAnnotate file as of specified date.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

struct annotate_request {
    std::optional<std::string> tag;
    std::optional<std::string> date;
    int force_tag_match = 1;
};

int annotate_fileproc(void *callerdat, file_info *finfo) {
    auto *req = static_cast<annotate_request *>(callerdat);
    if (!finfo->rcs)
        return 1;
    RCS_complete(finfo->rcs);
    std::optional<std::string> version =
        RCS_getversion(finfo->rcs, req->tag ? req->tag->c_str() : nullptr,
                       req->date ? req->date->c_str() : nullptr, req->force_tag_match, nullptr);
    if (!version)
        return 0;
    jol_outerr("Annotations for " + finfo->fullname + "\n***************\n");
    RCS_deltas(finfo->rcs, version->c_str(), RCS_ANNOTATE, nullptr, nullptr);
    return 0;
}

}  // namespace

int annotate(int argc, char **argv) {
    if (argc == -1)
        usage(annotate_usage);
    annotate_request req;
    int local = 0;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+lr:D:fR")) != -1) {
        switch (c) {
        case 'l': local = 1; break;
        case 'R': local = 0; break;
        case 'r': req.tag = optarg; break;
        case 'D': req.date = date_option(optarg); break;
        case 'f': req.force_tag_match = 0; break;
        default: usage(annotate_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (client_active) {
        start_server();
        ign_setup();
        if (local)
            send_arg("-l");
        if (!req.force_tag_match)
            send_arg("-f");
        option_with_arg("-r", req.tag ? req.tag->c_str() : nullptr);
        client_senddate(req.date ? req.date->c_str() : nullptr);
        send_files(argc, argv, local, 0, SEND_NO_CONTENTS);
        send_file_names(argc, argv, SEND_EXPAND_WILD);
        send_to_server("annotate\n");
        return get_responses_and_close();
    }
    if (req.tag)
        tag_check_valid(req.tag->c_str(), argc, argv, local, 0, nullptr);
    return start_recursion({.fileproc = annotate_fileproc,
                            .callerdat = &req,
                            .argc = argc,
                            .argv = argv,
                            .local = local,
                            .which = WHICH_LOCAL,
                            .readlock = 1,
                            .dosrcs = 1});
}
