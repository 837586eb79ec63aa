// Exclusive creation of the client's temporary files, and their removal
// when the client stops on a fatal error.
#include "src/client/temp_beside.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/temp_registry.h"

TempBeside::TempBeside(const std::string &wanted) : name_(wanted) {
    fd_ = open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0 && errno == EEXIST) {
        std::string templ = wanted + ".XXXXXX";
        fd_ = mkostemp(templ.data(), O_CLOEXEC);
        if (fd_ >= 0)
            name_ = templ;
    }
    if (fd_ < 0) {
        err_ = errno;
        return;
    }
    created_ = true;
    std::optional<std::string> cwd = xgetwd();
    absolute_ = cwd && name_[0] != '/' ? *cwd + "/" + name_ : name_;
    remember_temp_file(absolute_);
}

TempBeside::~TempBeside() {
    close_fd();
    remove();
}

int TempBeside::close_fd() {
    if (fd_ < 0)
        return 0;
    int r = close(fd_);
    fd_ = -1;
    return r == 0 ? 0 : errno;
}

int TempBeside::remove() {
    if (!created_)
        return 0;
    created_ = false;
    forget_temp_file(absolute_);
    if (unlink(absolute_.c_str()) != 0 && errno != ENOENT)
        return errno;
    return 0;
}

int TempBeside::rename_to(const std::string &path) {
    close_fd();
    if (rename(name_.c_str(), path.c_str()) != 0)
        return errno;
    created_ = false;
    forget_temp_file(absolute_);
    return 0;
}
