// The status command: per file, its classification in words, the working
// and repository revisions, the sticky tag, date and options, and with -v
// every tag of the archive.
#include <cctype>
#include <getopt.h>
#include <string>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/rcs/rcs.h"
#include "src/wc/ignore.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"

namespace {

const char *const status_usage[] = {
    "Usage: %s %s [-vlR] [files...]\n",
    "\t-v\tVerbose format; includes tag information for the file\n",
    "\t-l\tProcess this directory only (not recursive).\n",
    "\t-R\tProcess directories recursively.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

const char *status_name(Ctype status, const Vers_TS *vers) {
    switch (status) {
    case T_UNKNOWN: return "Unknown";
    case T_CONFLICT: return "Unresolved Conflict";
    case T_NEEDS_MERGE: return "Needs Merge";
    case T_MODIFIED: return vers->ts_conflict ? "File had conflicts on merge" : "Locally Modified";
    case T_CHECKOUT: return "Needs Checkout";
    case T_ADDED: return "Locally Added";
    case T_REMOVED: return "Locally Removed";
    case T_REMOVE_ENTRY: return "Entry Invalid";
    case T_UPTODATE: return "Up-to-date";
    case T_PATCH: return "Needs Patch";
    default: return "Classify Error";
    }
}

// " (branch: N)" for a branch tag, " (revision: N)" for another symbolic
// tag, nothing for a numeric one.
std::string tag_kind(RCSNode *rcs, const std::string &tag, const std::string &rev) {
    if (std::isdigit(static_cast<unsigned char>(tag[0])))
        return std::string();
    if (RCS_nodeisbranch(rcs, tag.c_str())) {
        std::optional<std::string> branch = RCS_whatbranch(rcs, tag.c_str());
        return " (branch: " + branch.value_or("??") + ")";
    }
    return " (revision: " + rev + ")";
}

void append_tag_list(std::string &out, RCSNode *rcs) {
    out += "\n   Existing Tags:\n";
    List *symbols = RCS_symbols(rcs);
    bool any = false;
    char line[512];
    if (symbols)
        JOL_FOR_EACH_NODE(symbols, p) {
            any = true;
            const char *rev = static_cast<const char *>(p->data);
            std::string number = rev;
            const char *kind = "revision";
            if (RCS_nodeisbranch(rcs, p->key->c_str())) {
                kind = "branch";
                number = RCS_whatbranch(rcs, p->key->c_str()).value_or(rev);
            }
            // Tag names are limited by the writer, but a hand-edited archive
            // may hold longer ones: fall back to unpadded text then.
            int n = std::snprintf(line, sizeof line, "\t%-25s\t(%s: %s)\n", p->key->c_str(), kind,
                                  number.c_str());
            if (n > 0 && static_cast<size_t>(n) < sizeof line)
                out += line;
            else
                out += "\t" + *p->key + "\t(" + kind + ": " + number + ")\n";
        }
    if (!any)
        out += "\tNo Tags Exist\n";
}

int status_fileproc(void *callerdat, file_info *finfo) {
    bool long_format = *static_cast<bool *>(callerdat);
    Vers_TS *vers = nullptr;
    Ctype status = Classify_File(finfo, nullptr, nullptr, nullptr, 1, 0, &vers, 0);
    const char *sstat = status_name(status, vers);

    std::string out = "===================================================================\n";
    if (vers->ts_user) {
        char line[1024];
        int n = std::snprintf(line, sizeof line, "File: %-17s\tStatus: %s\n\n",
                              finfo->file.c_str(), sstat);
        if (n > 0 && static_cast<size_t>(n) < sizeof line)
            out += line;
        else
            out += "File: " + finfo->file + "\tStatus: " + sstat + "\n\n";
    } else {
        out += "File: no file " + finfo->file + "\t\tStatus: " + sstat + "\n\n";
    }

    if (!vers->vn_user) {
        out += "   Working revision:\tNo entry for " + finfo->file + "\n";
    } else if (*vers->vn_user == "0") {
        out += "   Working revision:\tNew file!\n";
    } else {
        out += "   Working revision:\t" + *vers->vn_user;
        if (!server_active)
            out += "\t" + vers->ts_rcs.value_or("");
        out += "\n";
    }

    if (vers->srcfile && vers->vn_rcs)
        out += "   Repository revision:\t" + *vers->vn_rcs + "\t" + vers->srcfile->path + "\n";
    else
        out += "   Repository revision:\tNo revision control file\n";

    if (vers->entdata) {
        Entnode *edata = vers->entdata;
        if (edata->tag) {
            if (!vers->vn_rcs)
                out += "   Sticky Tag:\t\t" + *edata->tag + " - MISSING from RCS file!\n";
            else
                out += "   Sticky Tag:\t\t" + *edata->tag +
                       tag_kind(vers->srcfile, *edata->tag, *vers->vn_rcs) + "\n";
        } else if (!really_quiet) {
            out += "   Sticky Tag:\t\t(none)\n";
        }
        if (edata->date)
            out += "   Sticky Date:\t\t" + *edata->date + "\n";
        else if (!really_quiet)
            out += "   Sticky Date:\t\t(none)\n";
        if (!edata->options.empty())
            out += "   Sticky Options:\t" + edata->options + "\n";
        else if (!really_quiet)
            out += "   Sticky Options:\t(none)\n";
    }

    if (long_format && vers->srcfile)
        append_tag_list(out, vers->srcfile);
    out += "\n";
    jol_output(out);
    freevers_ts(&vers);
    return 0;
}

Dtype status_dirproc(void *, const char *, const char *, const char *update_dir, List *) {
    if (!quiet)
        error(0, 0, "Examining %s", update_dir);
    return R_PROCESS;
}

}  // namespace

int jolstatus(int argc, char **argv) {
    if (argc == -1)
        usage(status_usage);
    bool long_format = false;
    int local = 0;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+vlR")) != -1) {
        switch (c) {
        case 'v': long_format = true; break;
        case 'l': local = 1; break;
        case 'R': local = 0; break;
        default: usage(status_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (client_active) {
        start_server();
        ign_setup();
        if (long_format)
            send_arg("-v");
        if (local)
            send_arg("-l");
        send_files(argc, argv, local, 0, 0);
        send_file_names(argc, argv, SEND_EXPAND_WILD);
        send_to_server("status\n");
        return get_responses_and_close();
    }
    return start_recursion({.fileproc = status_fileproc,
                            .direntproc = status_dirproc,
                            .callerdat = &long_format,
                            .argc = argc,
                            .argv = argv,
                            .local = local,
                            .which = WHICH_LOCAL,
                            .readlock = 1,
                            .dosrcs = 1});
}
