// MD5 digests (RFC 1321) of files sent with patches and checksums.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>

using md5_digest = std::array<unsigned char, 16>;

md5_digest md5_of(std::string_view data);

// A digest computed over pieces.
class md5_context {
  public:
    md5_context();
    ~md5_context();
    md5_context(const md5_context &) = delete;
    md5_context &operator=(const md5_context &) = delete;
    void update(const void *data, size_t len);
    md5_digest final();

  private:
    struct impl;
    std::unique_ptr<impl> impl_;
};
