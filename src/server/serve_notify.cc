// "Notify", which queues an edit notification of a file in the current
// directory, and server_notify, which carries the queued ones out and
// answers each with "Notified" so that the client drops it from its queue.
#include <cerrno>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/identity.h"
#include "src/base/root.h"
#include "src/commands/watch.h"
#include "src/protocol/buffer.h"
#include "src/wc/fileattr.h"
#include "src/wc/lock.h"
#include "src/server/pending.h"
#include "src/server/requests.h"
#include "src/server/server_state.h"
#include "src/server/tree_requests.h"

namespace {

constexpr char misformed[] = "E Protocol error; misformed Notify request";

// What a field may not hold: the separators of the attribute database the
// value ends up in ("+" joins the parts of the value), and control
// characters.
bool clean_field(std::string_view field) {
    for (char c : field)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f ||
            std::string_view("+,>;=").find(c) != std::string_view::npos)
            return false;
    return true;
}

// The tab-separated fields of a notification line: type, time, host,
// working directory, watches, and possibly ignored text.
std::optional<notify_note> parse_notification(const std::string &line) {
    std::vector<std::string_view> fields;
    std::string_view rest(line);
    for (int i = 0; i < 5; ++i) {
        size_t tab = rest.find('\t');
        fields.push_back(rest.substr(0, tab));
        if (tab == std::string_view::npos) {
            rest = std::string_view();
            break;
        }
        rest.remove_prefix(tab + 1);
    }
    if (fields.size() != 5 || line.find('+') != std::string::npos)
        return std::nullopt;
    for (std::string_view f : fields)
        if (!clean_field(f))
            return std::nullopt;
    std::string_view type = fields[0];
    if (type.size() != 1 || type[0] < 'A' || type[0] > 'Z')
        return std::nullopt;
    if (fields[4].find_first_not_of("EUC") != std::string_view::npos)
        return std::nullopt;
    notify_note note;
    note.type = type[0];
    note.val = std::string(fields[1]) + "+" + std::string(fields[2]) + "+" + std::string(fields[3]);
    note.watches = fields[4];
    return note;
}

size_t note_cost(const notify_note &note) {
    return sizeof note + note.dir.size() + note.filename.size() + note.val.size() +
           note.watches.size();
}

// The note's directory as the client names it ("." for the top).
std::string client_directory(const notify_note &note) {
    if (note.dir == server_temp_dir)
        return ".";
    if (note.dir.compare(0, server_temp_dir.size() + 1, server_temp_dir + "/") == 0)
        return note.dir.substr(server_temp_dir.size() + 1);
    return note.dir;
}

}  // namespace

// Format: doc/protocol.md#tree-requests
void serve_notify(const std::string &arg) {
    std::string line;
    if (!read_request_data("notification", arg, line))
        return;
    if (!file_request_allowed(arg))
        return;
    std::optional<notify_note> note = parse_notification(line);
    if (!note) {
        set_pending(misformed);
        return;
    }
    note->dir = *dir_name;
    note->filename = arg;
    if (!charge_request_memory(note_cost(*note))) {
        set_pending_errno(ENOMEM);
        return;
    }
    notify_list.push_back(std::move(*note));
}

int server_notify() {
    if (notify_list.empty())
        return 0;
    saved_cwd cwd;
    if (save_cwd(cwd) != 0)
        error(1, errno, "cannot get working directory");
    size_t done = 0;
    int failed = 0;
    for (; done < notify_list.size(); ++done) {
        const notify_note &note = notify_list[done];
        // A note that cannot be carried out stays queued with the ones
        // after it; the client keeps them all.
        if (chdir(note.dir.c_str()) != 0) {
            error(0, errno, "cannot change to %s", note.dir);
            failed += static_cast<int>(notify_list.size() - done);
            break;
        }
        std::string repos = Name_Repository(nullptr, nullptr);
        if (lock_dir_for_write(repos.c_str()) != 0) {
            error(0, 0, "cannot lock %s; %s/%s not notified", repos, client_directory(note),
                  shown(note.filename));
            Lock_Cleanup();
            failed += static_cast<int>(notify_list.size() - done);
            break;
        }
        fileattr_startdir(repos.c_str());
        // A failing filter is reported, but the change it announced is
        // recorded: the note is done and the client may drop it.
        if (notify_do(note.type, note.filename, getcaller(), note.val, note.watches,
                      repos.c_str()) != 0)
            ++failed;
        buf_output0(*buf_to_net, ("Notified " + client_directory(note) + "/\n" + repos + "/" +
                                  note.filename + "\n")
                                     .c_str());
        fileattr_write();
        fileattr_free();
        Lock_Cleanup();
        release_request_memory(note_cost(note));
    }
    notify_list.erase(notify_list.begin(), notify_list.begin() + done);
    if (restore_cwd(cwd, nullptr) != 0)
        error(1, errno, "cannot return to the server's directory");
    free_cwd(cwd);
    return failed;
}
