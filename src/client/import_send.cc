// import as a client: the files of the vendor tree go to the server as
// "Modified" requests in their directories, each with its keyword mode
// and, under -d, its modification time.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/getdate.h"
#include "src/client/client.h"
#include "src/client/client_state.h"
#include "src/client/send_modified.h"
#include "src/wc/vers_ts.h"
#include "src/wc/wrapper.h"

void client_import_setup(const std::string &repository) {
    if (!toplevel_repos)
        send_a_repository("", repository.c_str(), "");
}

int client_process_import_file(const std::string &file, const std::string &repository,
                               bool all_files_binary, bool use_file_modtime) {
    const std::string &top = *toplevel_repos;
    if (repository.compare(0, top.size(), top) != 0 ||
        (repository.size() > top.size() && repository[top.size()] != '/'))
        error(1, 0, "internal error: pathname `%s' doesn't specify file in `%s'", repository,
              top);
    std::string update_dir = repository.size() > top.size() ? repository.substr(top.size() + 1)
                                                             : std::string();
    // Only a regular file reached without a symbolic link is sent.
    int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat sb;
    if (fd < 0 || fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        int e = fd < 0 ? errno : 0;
        if (fd >= 0)
            close(fd);
        error(0, e, "cannot import %s%s%s: not a regular file", update_dir,
              update_dir.empty() ? "" : "/", file);
        return 1;
    }
    close(fd);
    send_a_repository("", repository.c_str(), update_dir.c_str());

    std::optional<std::string> options;
    if (all_files_binary)
        options = "-kb";
    else
        options = wrap_rcsoption(file.c_str(), 1);
    if (options) {
        if (supported_request("Kopt"))
            send_to_server("Kopt " + *options + "\n");
        else
            error(0, 0, "warning: ignoring -k options due to server limitations");
    }
    if (use_file_modtime) {
        if (supported_request("Checkin-time")) {
            std::string date = date_from_time_t(sb.st_mtime);
            send_to_server("Checkin-time " + date_to_internet(date.c_str()) + "\n");
        } else {
            error(0, 0, "warning: ignoring -d option due to server limitations");
        }
    }
    Vers_TS vers;
    vers.options = options.value_or("");
    std::string fullname = update_dir.empty() ? file : update_dir + "/" + file;
    send_modified(file, fullname, &vers);
    return 0;
}

void client_import_done() {
    if (toplevel_repos)
        send_repository("", toplevel_repos->c_str(), ".");
}
