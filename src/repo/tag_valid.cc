// tag_check_valid: a cache lookup in val-tags, else a walk of the archives.
#include "src/repo/tag_valid.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/rcs/rcs.h"
#include "src/repo/mydbm.h"
#include "src/wc/recurse.h"

namespace {

struct Search {
    const char *name;
    bool found = false;
};

int val_fileproc(void *callerdat, file_info *finfo) {
    auto *s = static_cast<Search *>(callerdat);
    if (s->found || !finfo->rcs)
        return 0;
    if (RCS_gettag(finfo->rcs, s->name, 1, nullptr))
        s->found = true;
    return 0;
}

Dtype val_direntproc(void *callerdat, const char *, const char *, const char *, List *) {
    return static_cast<Search *>(callerdat)->found ? R_SKIP_ALL : R_PROCESS;
}

}  // namespace

// Format: doc/formats.md#val-tags
void tag_check_valid(const char *name, int argc, char **argv, int local, int aflag,
                     const char *repository) {
    if (!name)
        return;
    if (std::isdigit(static_cast<unsigned char>(name[0]))) {
        for (const char *p = name; *p; ++p)
            if (!std::isdigit(static_cast<unsigned char>(*p)) && *p != '.')
                error(1, 0, "Numeric tag %s contains characters other than digits and '.'", name);
        return;
    }
    if (std::strcmp(name, "BASE") == 0 || std::strcmp(name, "HEAD") == 0)
        return;

    std::string valtags = JOLroot_directory + "/JOLROOT/val-tags";
    DBM *db = mydbm_open(valtags.c_str(), O_RDWR, 0666);
    if (!db && errno != ENOENT)
        error(1, errno, "cannot read %s", valtags);
    if (db) {
        bool known = mydbm_fetch(db, name).has_value();
        mydbm_close(db);
        if (known)
            return;
    }

    Search s{name};
    int cwd = -1;
    if (repository) {
        cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (chdir(repository) != 0)
            error(1, errno, "cannot change to %s directory", repository);
    }
    start_recursion({.fileproc = val_fileproc,
                     .direntproc = val_direntproc,
                     .callerdat = &s,
                     .argc = argc,
                     .argv = argv,
                     .local = local,
                     .which = repository ? WHICH_REPOSITORY : (WHICH_LOCAL | WHICH_REPOSITORY),
                     .aflag = aflag,
                     .dosrcs = 1});
    if (cwd >= 0) {
        if (fchdir(cwd) != 0)
            error(1, errno, "cannot return to the previous directory");
        close(cwd);
    }
    if (!s.found)
        error(1, 0, "no such tag %s", name);
    if (noexec)
        return;
    // Record the tag; a cache that cannot be written is only a warning.
    mode_t old = umask(jolumask);
    db = mydbm_open(valtags.c_str(), O_RDWR | O_CREAT, 0666);
    if (!db) {
        umask(old);
        error(0, errno, "cannot create %s", valtags);
        return;
    }
    if (!mydbm_fetch(db, name) && mydbm_store(db, name, "y") != 0)
        error(0, 0, "cannot store %s into %s", name, valtags);
    mydbm_close(db);
    umask(old);
}

void tag_check_valid_join(const char *arg, int argc, char **argv, int local, int aflag,
                          const char *repository) {
    if (!arg)
        return;
    std::string tag = arg;
    size_t colon = tag.find(':');
    if (colon != std::string::npos) {
        if (colon == 0)
            error(1, 0, "argument to join may not contain a date specifier without a tag");
        tag.resize(colon);
        if (std::isdigit(static_cast<unsigned char>(tag[0])))
            error(1, 0, "Numeric join tag %s may not contain a date specifier", tag);
    }
    tag_check_valid(tag.c_str(), argc, argv, local, aflag, repository);
}
