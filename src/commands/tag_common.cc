// The parts of tag and rtag that do not depend on where the files come
// from: option checks, the permission pass with its taginfo filters, the
// directory write locks of the second pass, and setting a tag.
#include "src/client/client.h"
#include "src/commands/tag_common.h"

#include <cerrno>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/subprocess.h"
#include "src/rcs/rcs.h"
#include "src/rcs/rcs_admin.h"
#include "src/rcs/rcs_write.h"
#include "src/repo/parseinfo.h"
#include "src/wc/entries.h"
#include "src/wc/lock.h"
#include "src/wc/vers_ts.h"

namespace tagging {

namespace {

std::optional<std::string> symbol_value(RCSNode *rcs, const std::string &tag) {
    List *symbols = RCS_symbols(rcs);
    if (!symbols)
        return std::nullopt;
    Node *n = findnode(symbols, tag);
    if (!n || !n->data)
        return std::nullopt;
    return std::string(static_cast<const char *>(n->data));
}

// What a taginfo filter of one directory is told.
struct PretagCall {
    const Options &opts;
    const Collected &files;
};

// Format: doc/formats.md#info-files
int pretag_proc(const char *repository, const char *filter, void *closure) {
    const auto &[opts, files] = *static_cast<const PretagCall *>(closure);
    std::vector<std::string> cmd = split_command(filter);
    if (cmd.empty())
        return 0;
    if (cmd[0][0] == '/' && !isfile(cmd[0].c_str())) {
        error(0, errno, "cannot find pre-tag filter '%s'", cmd[0]);
        return 1;
    }
    cmd.push_back(opts.symtag);
    cmd.push_back(opts.delete_flag ? "del" : opts.force_tag_move ? "mov" : "add");
    cmd.push_back(repository);
    for (const auto &[file, rev] : files)
        if (rev) {
            cmd.push_back(file);
            cmd.push_back(*rev);
        }
    jol_flushout();
    int r = run_vector(cmd);
    return r < 0 ? 1 : r;
}

}  // namespace

void quiet_option() {
    if (!server_active)
        error(1, 0, "-q or -Q must be specified before \"%s\"", command_name);
}

void check_options(const Options &opts) {
    if (opts.numtag && opts.date)
        error(1, 0, "-r and -D options are mutually exclusive");
    if (opts.delete_flag && opts.branch_mode)
        error(0, 0, "warning: -b ignored with -d options");
    RCS_check_tag(opts.symtag.c_str());
}

std::optional<std::string> resolve(const Options &opts, RCSNode *rcs) {
    return RCS_getversion(rcs, opts.numtag ? opts.numtag->c_str() : nullptr,
                          opts.date ? opts.date->c_str() : nullptr, opts.force_tag_match,
                          nullptr);
}

int check_fileproc(void *callerdat, file_info *finfo) {
    Run &run = run_of(callerdat);
    const Options &opts = run.opts;
    if (!opts.is_rtag && opts.check_uptodate) {
        Vers_TS *vers = nullptr;
        Ctype status = Classify_File(finfo, nullptr, nullptr, nullptr, 1, 0, &vers, 0);
        freevers_ts(&vers);
        if (status != T_UPTODATE && status != T_CHECKOUT) {
            error(0, 0, "%s is locally modified", finfo->fullname);
            return 1;
        }
    }

    Collected &files = run.collected[finfo->update_dir.empty() ? "." : finfo->update_dir];
    RCSNode *rcs = finfo->rcs;
    std::optional<std::string> rev;
    if (opts.is_rtag) {
        if (!rcs)
            return 0;
        rev = resolve(opts, rcs);
    } else {
        Entnode *entry = finfo->entries ? entries_find(finfo->entries, finfo->file) : nullptr;
        if (!rcs) {
            // An added file has no archive yet; the second pass says why
            // it is not tagged.
            if (entry && entry->type == ENT_FILE && entry->version == "0") {
                files.emplace_back(finfo->file, std::nullopt);
                return 0;
            }
            if (!really_quiet)
                error(0, 0, "nothing known about %s", finfo->fullname);
            return 1;
        }
        if (opts.numtag || opts.date)
            rev = resolve(opts, rcs);
        else if (entry && entry->type == ENT_FILE && !entry->version.empty() &&
                 entry->version != "0" && entry->version[0] != '-')
            rev = entry->version;
    }

    std::optional<std::string> report;
    if (rev) {
        std::optional<std::string> old = symbol_value(rcs, opts.symtag);
        if (opts.delete_flag)
            report = old;
        else if (!old || (*old != *rev && opts.force_tag_move))
            report = rev;
    }
    files.emplace_back(finfo->file, report);
    return 0;
}

int check_filesdoneproc(void *callerdat, int err, const char *repository, const char *update_dir,
                        List *) {
    Run &run = run_of(callerdat);
    auto it = run.collected.find(update_dir);
    if (it == run.collected.end() || it->second.empty() || !repository)
        return err;
    PretagCall call{run.opts, it->second};
    int n = Parse_Info("taginfo", repository, pretag_proc, 1, &call);
    if (n > 0) {
        error(0, 0, "Pre-tag check failed");
        err += n;
    }
    return err;
}

void clear_collected(Run &run) { run.collected.clear(); }

bool lock_and_parse(Run &run, file_info *finfo, int &err) {
    const char *repository = finfo->repository;
    if (!repository)
        return true;
    if (!run.unlocked_dir.empty() && run.unlocked_dir == repository)
        return false;
    if (lock_dir_for_write(repository) != 0) {
        run.unlocked_dir = repository;
        error(0, 0, "skipping directory %s", finfo->update_dir.empty() ? "." : finfo->update_dir);
        ++err;
        return false;
    }
    if (!finfo->rcs)
        finfo->rcs = RCS_parse(finfo->file.c_str(), repository);
    return true;
}

int tag_filesdoneproc(void *callerdat, int err, const char *, const char *, List *) {
    Lock_Cleanup();
    run_of(callerdat).unlocked_dir.clear();
    return err;
}

SetResult set_tag(const Options &opts, RCSNode *rcs, const std::string &file,
                  const std::string &target, bool new_is_branch, const char *fail_format) {
    const std::string &tag = opts.symtag;
    if (std::optional<std::string> old = symbol_value(rcs, tag)) {
        // The same value again changes nothing, branch or not.
        if (*old == target)
            return SetResult::unchanged;
        if (!opts.force_tag_move) {
            bool old_is_branch = RCS_nodeisbranch(rcs, tag.c_str()) != 0;
            jol_output("W " + file + " : " + tag + " already exists on " +
                       (old_is_branch ? "branch" : "version") + " " + *old +
                       " : NOT MOVING tag to " + (new_is_branch ? "branch" : "version") + " " +
                       target + "\n");
            return SetResult::refused;
        }
    }
    if (RCS_settag(rcs, tag.c_str(), target.c_str()) != 0)
        error(1, 0, fail_format, tag, target, rcs->path);
    RCS_rewrite(rcs, nullptr, nullptr);
    return SetResult::set;
}

}  // namespace tagging

void tagging::send_options(const Options &opts) {
    const std::pair<bool, const char *> flags[] = {
        {!opts.force_tag_match, "-f"},
        {opts.local, "-l"},
        {opts.delete_flag, "-d"},
        {opts.check_uptodate && !opts.is_rtag, "-c"},
        {opts.branch_mode, "-b"},
        {opts.force_tag_move, "-F"},
        {!opts.run_module_prog && opts.is_rtag, "-n"},
        {opts.attic_too && opts.is_rtag, "-a"},
    };
    for (auto [on, flag] : flags)
        if (on)
            send_arg(flag);
    option_with_arg("-r", opts.numtag ? opts.numtag->c_str() : nullptr);
    client_senddate(opts.date ? opts.date->c_str() : nullptr);
    send_arg(opts.symtag);
}
