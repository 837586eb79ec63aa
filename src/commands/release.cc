// release: shows what is still altered in a working directory, asks, ends
// its edits, records the release and with -d deletes the directory.
#include <cerrno>
#include <cstring>
#include <getopt.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "src/base/console.h"
#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/output.h"
#include "src/base/root.h"
#include "src/base/subprocess.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/repo/history.h"

namespace {

const char *const release_usage[] = {
    "Usage: %s %s [-d] directories...\n",
    "\t-d\tDelete the given directory.\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

// This very executable, so that the check runs the same program whatever
// the search path says.
std::string own_executable() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0)
        return std::string(buf, static_cast<size_t>(n));
    return program_path;
}

// Runs the dry-run update in the current directory: its lines go to
// standard output (unless really quiet), and the count of altered files
// (including files never added) to *altered. False when it failed.
bool check_directory(const std::string &dir, int &altered) {
    std::vector<std::string> argv = {own_executable(), "-n", "-q"};
    if (!JOLroot_original.empty()) {
        argv.push_back("-d");
        argv.push_back(JOLroot_original);
    }
    argv.push_back("update");
    int tofd = -1, fromfd = -1;
    pid_t pid = piped_child(argv, &tofd, &fromfd);
    close(tofd);
    FILE *fp = fdopen(fromfd, "r");
    if (!fp)
        error(1, errno, "cannot read from subprocess");
    altered = 0;
    char *line = nullptr;
    size_t cap = 0;
    ssize_t len;
    while ((len = getline(&line, &cap, fp)) > 0) {
        if (!really_quiet)
            jol_output(line, static_cast<size_t>(len));
        if (std::strchr("MARCZ?", line[0]))
            ++altered;
    }
    bool read_failed = std::ferror(fp);
    std::free(line);
    std::fclose(fp);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (read_failed)
        error(0, 0, "cannot read from subprocess");
    if (read_failed || !WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) {
        error(0, 0, "unable to release `%s'", dir);
        return false;
    }
    return true;
}

// Asks the question; 1 yes, 0 no, -1 when no answer came.
int ask(const std::string &question) {
    jol_output(question);
    int yes = yesno();
    if (!yes && std::feof(stdin) && !jolguiglue_getenv("JOLLIB_YESNO"))
        return -1;
    return yes;
}

// One directory argument; the number of errors.
int release_one(const std::string &dir, bool delete_flag, const saved_cwd &home) {
    if (!isdir(dir.c_str())) {
        if (!really_quiet)
            error(0, 0, "no such directory: %s", dir);
        return 0;
    }
    if (chdir(dir.c_str()) != 0) {
        if (!really_quiet)
            error(0, errno, "can't chdir to: %s", dir);
        return 0;
    }
    int err = 0;
    if (!isdir("JOL")) {
        if (!really_quiet)
            error(0, 0, "no repository directory: %s", dir);
    } else {
        std::string repository = Name_Repository(nullptr, nullptr);
        int altered = 0;
        bool go = check_directory(dir, altered);
        if (!go) {
            ++err;
        } else if (!really_quiet || altered) {
            jol_output("You have [" + std::to_string(altered) +
                       "] altered files in this repository.\n");
            int answer = ask(std::string("Are you sure you want to release ") +
                             (delete_flag ? "(and delete) " : "") + "directory `" + dir + "': ");
            if (answer != 1) {
                jol_outerr("** `" + dir + "' aborted by user choice.\n");
                go = false;
                if (answer < 0)
                    ++err;
            }
        }
        if (go) {
            char unedit_name[] = "unedit";
            char *uargv[] = {unedit_name, nullptr};
            if (!client_active || (supported_request("noop") && supported_request("Notify")))
                err += unedit(1, uargv);
            if (client_active) {
                send_arg(dir);
                send_to_server("release\n");
            } else if (!noexec) {
                history_write('F', dir.c_str(), "", dir.c_str(), repository.c_str());
            }
        }
        if (restore_cwd(home, nullptr) != 0)
            error(1, errno, "cannot return to the working directory");
        if (go && delete_flag && !noexec && deep_remove_dir(dir.c_str()) != 0) {
            error(0, errno, "deletion of directory %s failed", dir);
            ++err;
        }
        if (go && client_active)
            err += get_server_responses();
        return err;
    }
    if (restore_cwd(home, nullptr) != 0)
        error(1, errno, "cannot return to the working directory");
    return err;
}

}  // namespace

int release(int argc, char **argv) {
    if (argc == -1)
        usage(release_usage);
    bool delete_flag = false;
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+Qdq")) != -1) {
        switch (c) {
        case 'd': delete_flag = true; break;
        case 'Q':
        case 'q':
            error(1, 0, "-q or -Q must be specified before \"%s\"", command_name);
            break;
        default: usage(release_usage);
        }
    }
    argc -= optind;
    argv += optind;
    if (server_active) {
        for (int i = 0; i < argc; ++i)
            history_write('F', argv[i], "", argv[i], JOLroot_directory.c_str());
        return 0;
    }
    if (client_active)
        start_server();
    saved_cwd home;
    if (save_cwd(home) != 0)
        error(1, errno, "cannot get working directory");
    int err = 0;
    for (int i = 0; i < argc; ++i)
        err += release_one(argv[i], delete_flag, home);
    free_cwd(home);
    if (client_active) {
        send_to_server("noop\n");
        err += get_responses_and_close();
    }
    return err;
}
