// The requests that describe a command to the server: arguments and
// options, the file names, directories with their settings, init and
// notifications.
#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/getdate.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/base/root.h"
#include "src/client/client.h"
#include "src/client/client_state.h"

void send_arg(std::string_view text) {
    std::string out = "Argument ";
    for (char c : text) {
        if (c == '\n')
            out += "\nArgumentx ";
        else
            out += c;
    }
    out += '\n';
    send_to_server(out);
}

void option_with_arg(const char *option, const char *value) {
    if (!value)
        return;
    send_to_server(std::string("Argument ") + option + "\n");
    send_arg(value);
}

void client_senddate(const char *date) {
    if (!date)
        return;
    std::string text = date_to_internet(date);
    option_with_arg("-D", text.c_str());
}

void send_option_string(const char *text) {
    std::string_view rest(text);
    while (!rest.empty()) {
        size_t sp = rest.find(' ');
        std::string_view word = rest.substr(0, sp);
        if (!word.empty())
            send_arg(word);
        rest = sp == std::string_view::npos ? std::string_view() : rest.substr(sp + 1);
    }
}

namespace {

// Leading ".." levels of a path.
int leading_dotdots(std::string_view path) {
    int n = 0;
    while (path == ".." || path.rfind("../", 0) == 0) {
        ++n;
        path = path.size() > 3 ? path.substr(3) : std::string_view();
    }
    return n;
}

bool starts_with_dir(const std::string &dir, std::string_view prefix) {
    return dir.size() >= prefix.size() && dir.compare(0, prefix.size(), prefix) == 0;
}

// When several repositories are involved, an argument goes only to the
// server of the repository it belongs to.
bool arg_should_not_be_sent_to_server(const std::string &arg) {
    if (dirs_sent_to_server.empty() || arg == ".")
        return false;
    if (isdir(arg.c_str())) {
        for (const std::string &d : dirs_sent_to_server)
            if (starts_with_dir(d, arg))
                return false;
        return true;
    }
    size_t slash = arg.rfind('/');
    std::optional<std::string> root;
    if (slash != std::string::npos) {
        std::string dir = arg.substr(0, slash);
        for (const std::string &d : dirs_sent_to_server)
            if (starts_with_dir(d, dir))
                return false;
        root = Name_Root(dir.c_str(), nullptr);
    } else {
        root = Name_Root(nullptr, nullptr);
    }
    return root && current_root && *root != *current_root;
}

// The first line of `path` in the working copy's administrative files,
// with its newline; none when the file is missing.
std::optional<std::string> first_line(const std::string &path) {
    FILE *fp = std::fopen(path.c_str(), "r");
    if (!fp) {
        if (errno == ENOENT)
            return std::nullopt;
        error(1, errno, "reading %s", path);
    }
    LineReader lines(fp);
    std::string line(lines.next().value_or(""));
    if (std::fclose(fp) == EOF)
        error(0, errno, "closing %s", path);
    return line + "\n";
}

}  // namespace

void send_file_names(int argc, char **argv, int flags) {
    (void)flags;  // wildcards are the shell's on this system
    int max_dotdot = 0;
    for (int i = 0; i < argc; ++i)
        max_dotdot = std::max(max_dotdot, leading_dotdots(argv[i]));
    if (max_dotdot > 0) {
        if (!supported_request("Max-dotdot"))
            error(1, 0, "leading .. not supported by old (pre-Max-dotdot) servers");
        send_to_server("Max-dotdot " + std::to_string(max_dotdot) + "\n");
    }
    for (int i = 0; i < argc; ++i)
        if (!arg_should_not_be_sent_to_server(argv[i]))
            send_arg(argv[i]);
}

void send_repository(const char *dir, const char *repository, const char *update_dir) {
    if (!repository)
        error(1, 0, "no repository");
    std::string ud = update_dir && *update_dir ? update_dir : ".";
    if (last_repos && *last_repos == repository && last_update_dir && *last_update_dir == ud)
        return;
    if (client_prune_dirs)
        add_prune_candidate(ud);
    if (ud != ".")
        dirs_sent_to_server.push_back(ud);
    if (ud.find('\n') != std::string::npos || std::strchr(repository, '\n'))
        error(1, 0, "cannot send a directory name holding a newline: %s", ud);
    send_to_server("Directory " + ud + "\n" + repository + "\n");
    std::string adm = dir && *dir ? std::string(dir) + "/JOL/" : std::string("JOL/");
    if (supported_request("Static-directory") &&
        access((adm + "Entries.Static").c_str(), R_OK) == 0)
        send_to_server("Static-directory\n");
    const std::pair<const char *, const char *> settings[] = {
        {"Sticky", "Tag"}, {"Checkin-prog", "Checkin.prog"}, {"Update-prog", "Update.prog"}};
    for (auto [request, file] : settings) {
        if (!supported_request(request))
            continue;
        if (auto line = first_line(adm + file))
            send_to_server(std::string(request) + " " + *line);
    }
    last_repos = repository;
    last_update_dir = ud;
}

void send_a_repository(const char *dir, const char *repository, const char *update_dir) {
    if (!toplevel_repos && repository) {
        std::string ud = update_dir ? update_dir : "";
        if (ud.empty() || ud == ".") {
            toplevel_repos = repository;
        } else if (ud[0] == '/') {
            toplevel_repos = Name_Repository(ud.c_str(), ud.c_str());
        } else {
            while (ud.size() > 1 && ud.back() == '/')
                ud.pop_back();
            std::string repos = repository;
            if (repos.size() > ud.size() &&
                repos.compare(repos.size() - ud.size(), ud.size(), ud) == 0 &&
                repos.size() - ud.size() - 1 > JOLroot_directory.size())
                toplevel_repos = repos.substr(0, repos.size() - ud.size() - 1);
            else
                toplevel_repos = JOLroot_directory;
        }
    }
    send_repository(dir, repository, update_dir);
}

void client_notify(const char *repository, const char *update_dir, const char *filename,
                   int notif_type, const char *val) {
    send_a_repository("", repository, update_dir);
    send_to_server(std::string("Notify ") + filename + "\n");
    send_to_server(std::string(1, static_cast<char>(notif_type)) + "\t" + val);
}

void send_init_command() { send_to_server("init " + JOLroot_directory + "\n"); }
