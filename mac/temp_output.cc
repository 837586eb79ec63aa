// Temporary output files, with a cleanup hook so that a fatal error or a
// signal in the middle of a conversion removes them too.
#include "mac/temp_output.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/temp_registry.h"

namespace mac_io {

namespace {

mode_t current_umask() {
    mode_t m = umask(0);
    umask(m);
    return m;
}

}  // namespace

TempOutput::TempOutput(std::string final_path) : final_(std::move(final_path)) {
    size_t slash = final_.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : final_.substr(0, slash + 1);
    std::string templ = dir + ".#jolconv.XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        err_ = errno;
        return;
    }
    temp_ = name.data();
    remember_temp_file(temp_);
    // An existing output keeps the owner-only mode the caller resets after
    // the conversion; a new one gets the usual creation mode.
    struct stat sb;
    mode_t mode = stat(final_.c_str(), &sb) == 0 ? 0700 : (0666 & ~current_umask());
    fchmod(fd, mode);
    fp_ = fdopen(fd, "wb");
    if (!fp_) {
        err_ = errno;
        close(fd);
        discard();
    }
}

TempOutput::~TempOutput() { discard(); }

void TempOutput::discard() {
    if (fp_) {
        std::fclose(fp_);
        fp_ = nullptr;
    }
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        forget_temp_file(temp_);
        temp_.clear();
    }
}

int TempOutput::commit() {
    if (!fp_)
        return err_ ? err_ : EBADF;
    int err = 0;
    if (std::fflush(fp_) != 0 || fsync(fileno(fp_)) != 0)
        err = errno;
    if (std::fclose(fp_) != 0 && !err)
        err = errno;
    fp_ = nullptr;
    // Untraced, and done under -n: the temporary was written whatever -n said.
    if (!err && rename_file(temp_.c_str(), final_.c_str(),
                            {.traced = false, .honour_noexec = false, .fatal = false}) != 0)
        err = errno;
    if (err) {
        discard();
        return err_ = err;
    }
    forget_temp_file(temp_);
    temp_.clear();
    return 0;
}

}  // namespace mac_io
