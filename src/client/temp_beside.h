// The client's temporary files beside working files (the new copy of a
// received file, the converted copy of a file being sent): each is created
// exclusively, so that a file that already has the name is never truncated
// or replaced, and a fatal error removes it.
#pragma once

#include <string>

class TempBeside {
  public:
    // Creates `wanted` (relative to the current directory) exclusively, or,
    // when that name is taken, `wanted` with a unique suffix. On failure
    // ok() is false and error_number() says why.
    explicit TempBeside(const std::string &wanted);
    ~TempBeside();  // removes the file when remove() was not called
    TempBeside(const TempBeside &) = delete;
    TempBeside &operator=(const TempBeside &) = delete;

    bool ok() const { return fd_ >= 0 || created_; }
    int error_number() const { return err_; }
    const std::string &name() const { return name_; }
    // The descriptor it was created with (open for writing), or -1 once
    // closed; close_fd() returns 0 or an errno value.
    int fd() const { return fd_; }
    int close_fd();
    // Removes the file; 0 or an errno value.
    int remove();
    // Moves the file to `path`, replacing what is there, after which it is
    // no longer this object's; 0 or an errno value.
    int rename_to(const std::string &path);

  private:
    std::string name_;
    std::string absolute_;  // for the cleanup of a fatal error
    int fd_ = -1;
    int err_ = 0;
    bool created_ = false;
};
