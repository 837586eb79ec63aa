// MD5 through OpenSSL's digest interface.
#include "src/protocol/md5sum.h"

#include <openssl/evp.h>

#include "src/base/error.h"

struct md5_context::impl {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    ~impl() { EVP_MD_CTX_free(ctx); }
};

md5_context::md5_context() : impl_(std::make_unique<impl>()) {
    if (!impl_->ctx || EVP_DigestInit_ex(impl_->ctx, EVP_md5(), nullptr) != 1)
        error(1, 0, "cannot start an MD5 digest");
}

md5_context::~md5_context() = default;

void md5_context::update(const void *data, size_t len) {
    EVP_DigestUpdate(impl_->ctx, data, len);
}

md5_digest md5_context::final() {
    md5_digest d{};
    unsigned int len = 0;
    EVP_DigestFinal_ex(impl_->ctx, d.data(), &len);
    return d;
}

md5_digest md5_of(std::string_view data) {
    md5_context c;
    c.update(data.data(), data.size());
    return c.final();
}
