// mkmodules: checks out the current revision of every administrative file
// next to its archive, after each commit into JOLROOT.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/globals.h"
#include "src/base/line_reader.h"
#include "src/rcs/rcs.h"
#include "src/repo/admin_files.h"
#include "src/repo/mydbm.h"

namespace {

// A fresh ".#<n>" name, created exclusively.
std::string make_tempfile() {
    static long counter = static_cast<long>(getpid());
    for (;;) {
        std::string name = ".#" + std::to_string(counter++);
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return name;
        }
        if (errno != EEXIST)
            error(1, errno, "cannot create temporary file %s", name);
    }
}

void remove_temp(const std::string &name) {
    if (unlink(name.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "cannot remove %s", name);
}

// Checks out the head of `file`,v into `temp`; false when there is no
// archive (silently) or the checkout fails.
bool checkout_to(const std::string &file, const std::string &temp) {
    std::string archive = file + ",v";
    if (access(archive.c_str(), F_OK) != 0)
        return false;
    RCSNode *rcs = RCS_parsercsfile(archive.c_str());
    if (!rcs) {
        error(0, 0, "failed to check out %s file", file);
        return false;
    }
    int r = RCS_checkout(rcs, nullptr, nullptr, nullptr, nullptr, temp.c_str(), nullptr, nullptr);
    freercsnode(&rcs);
    if (r != 0) {
        error(0, 0, "failed to check out %s file", file);
        return false;
    }
    return true;
}

// Puts the checked-out copy in place. The old copy is first linked to
// ".#name" and then replaced by one rename, so the name never vanishes
// (a hook file that is briefly missing would let a commit through).
void install(const std::string &temp, const std::string &name) {
    struct stat sb;
    mode_t mode = 0444;
    if (stat((name + ",v").c_str(), &sb) == 0)
        mode |= sb.st_mode & 0111;
    if (files_equal(temp.c_str(), name.c_str())) {
        chmod(name.c_str(), mode);
        remove_temp(temp);
        return;
    }
    chmod(temp.c_str(), mode);
    std::string backup = ".#" + name;
    if (unlink(backup.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "cannot remove %s", backup);
    if (link(name.c_str(), backup.c_str()) != 0 && errno != ENOENT)
        error(0, errno, "cannot rename %s to %s", name, backup);
    // Untraced and done under -n, like the temporary's checkout: -t output stays stable.
    if (rename_file(temp.c_str(), name.c_str(),
                    {.traced = false, .honour_noexec = false, .fatal = false}) != 0 &&
        errno != ENOENT)
        error(0, errno, "cannot rename %s to %s", temp, name);
}

bool safe_admin_name(const std::string &name) {
    return !name.empty() && name[0] != '/' && name.find('/') == std::string::npos &&
           name != "." && name != "..";
}

// Format: doc/formats.md#checkoutlist
void do_checkoutlist() {
    FILE *fp = std::fopen("checkoutlist", "r");
    if (!fp) {
        if (errno != ENOENT)
            error(0, errno, "cannot open %s", "checkoutlist");
        return;
    }
    LineReader lines(fp);
    while (auto next = lines.next()) {
        std::string line(*next);
        if (!line.empty() && line[0] != '#') {
            size_t i = line.find_first_not_of(" \t");
            if (i != std::string::npos) {
                size_t e = line.find_first_of(" \t", i);
                std::string file = line.substr(i, e == std::string::npos ? std::string::npos : e - i);
                std::string message;
                if (e != std::string::npos) {
                    size_t m = line.find_first_not_of(" \t", e);
                    if (m != std::string::npos)
                        message = line.substr(m);
                }
                if (!safe_admin_name(file)) {
                    // Only files of JOLROOT itself may be listed.
                    error(0, 0, "warning: ignoring `%s' in checkoutlist: not a file of JOLROOT",
                          file);
                } else {
                    std::string temp = make_tempfile();
                    if (checkout_to(file, temp)) {
                        install(temp, file);
                    } else {
                        remove_temp(temp);
                        if (!message.empty()) {
                            // The message is text, not a format: only its
                            // first "%s" stands for the file name.
                            size_t at = message.find("%s");
                            if (at != std::string::npos)
                                message.replace(at, 2, file);
                            error(0, 0, "%s", message);
                        }
                    }
                }
            }
        }
    }
    if (std::ferror(fp))
        error(0, errno, "cannot read %s", "checkoutlist");
    if (std::fclose(fp) == EOF)
        error(0, errno, "cannot close %s", "checkoutlist");
}

}  // namespace

// Format: doc/formats.md#admin-copies
void mkmodules(const char *dir) {
    if (noexec)
        return;
    int cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (cwd < 0)
        error(1, errno, "cannot open current directory");
    if (chdir(dir) != 0)
        error(1, errno, "cannot chdir to %s", dir);

    std::string temp = make_tempfile();
    if (checkout_to("modules", temp)) {
        // Reading it now reports bad lines at commit time.
        if (DBM *db = mydbm_open(temp.c_str(), O_RDONLY, 0666))
            mydbm_close(db);
        install(temp, "modules");
    } else {
        remove_temp(temp);
        error(0, 0, "'jol checkout' is less functional without a %s file", "modules");
    }
    for (const AdminFile *f = admin_files; f->name; ++f) {
        if (!f->message)
            continue;
        temp = make_tempfile();
        if (checkout_to(f->name, temp))
            install(temp, f->name);
        else
            remove_temp(temp);
    }
    do_checkoutlist();

    if (fchdir(cwd) != 0)
        error(1, errno, "cannot return to the previous directory");
    close(cwd);
}
