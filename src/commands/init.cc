// The init command: creates a repository with its JOLROOT directory and
// the default administrative files, each under version control.
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/filesubr.h"
#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/base/usage.h"
#include "src/client/client.h"
#include "src/commands/commands.h"
#include "src/rcs/rcs_write.h"
#include "src/repo/admin_files.h"
#include "src/wc/wrapper.h"

namespace {

const char *const init_usage[] = {
    "Usage: %s %s\n",
    "(Specify the --help global option for a list of other help options)\n",
    nullptr,
};

void make_dirs(const std::string &path) {
    std::string cur;
    size_t i = 0;
    while (i <= path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string::npos)
            slash = path.size();
        cur = path.substr(0, slash);
        if (!cur.empty() && mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST)
            error(1, errno, "cannot make directory %s", cur);
        i = slash + 1;
    }
}

void create_shared_file(const char *name) {
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno != EEXIST)
            error(0, errno, "cannot create %s", name);
        return;
    }
    fchmod(fd, 0666);
    close(fd);
}

}  // namespace

int init(int argc, char **) {
    if (argc == -1 || argc > 1)
        usage(init_usage);
    if (client_active) {
        start_server();
        send_init_command();
        return get_responses_and_close();
    }
    umask(jolumask);
    std::string adm = JOLroot_directory + "/JOLROOT";
    make_dirs(adm);
    int cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (chdir(adm.c_str()) != 0)
        error(1, errno, "cannot change to directory %s", adm);
    if (mkdir("Emptydir", 0777) != 0 && errno != EEXIST)
        error(1, errno, "cannot make directory %s", "Emptydir");

    int err = 0;
    for (const AdminFile *f = admin_files; f->name; ++f) {
        if (!f->contents)
            continue;
        std::string archive = std::string(f->name) + ",v";
        if (isfile(archive.c_str()))
            continue;
        if (!isfile(f->name)) {
            FILE *fp = std::fopen(f->name, "w");
            if (!fp || std::fputs(f->contents, fp) == EOF)
                error(1, errno, "cannot write %s", f->name);
            if (std::fclose(fp) == EOF)
                error(1, errno, "cannot close %s", f->name);
        }
        NewArchive a;
        a.message = "initial checkin";
        a.rcs = archive;
        a.user = f->name;
        a.vhead = "1.1";
        a.key_opt = wrap_rcsoption(f->name, 0).value_or("");
        err += add_rcs_file(a, nullptr) != 0;
    }
    create_shared_file("history");
    create_shared_file("val-tags");
    mkmodules(adm.c_str());
    if (cwd >= 0) {
        if (fchdir(cwd) != 0)
            error(0, errno, "cannot return to the previous directory");
        close(cwd);
    }
    return err;
}
