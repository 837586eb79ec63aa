// A conversion's output file: written under a temporary name in the
// directory of its final name and renamed into place only when complete,
// so a failure never leaves a half-written or missing working file.
#pragma once

#include <cstdio>
#include <string>

namespace mac_io {

class TempOutput {
  public:
    // Creates the temporary file beside `final_path`. On failure ok() is
    // false and error_number() says why.
    explicit TempOutput(std::string final_path);
    ~TempOutput();  // removes the temporary file unless committed
    TempOutput(const TempOutput &) = delete;
    TempOutput &operator=(const TempOutput &) = delete;

    bool ok() const { return fp_ != nullptr; }
    int error_number() const { return err_; }
    FILE *fp() const { return fp_; }
    const std::string &temp_path() const { return temp_; }
    const std::string &final_path() const { return final_; }

    // Flushes, syncs, closes and renames onto the final name. Returns 0 or
    // an errno value; on failure the temporary file is gone.
    int commit();
    // Closes and removes the temporary file.
    void discard();

  private:
    std::string final_;
    std::string temp_;
    FILE *fp_ = nullptr;
    int err_ = 0;
};

}  // namespace mac_io
