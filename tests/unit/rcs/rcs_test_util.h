// Shared helpers of the archive-store tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "src/rcs/rcs.h"

inline std::string rcs_repo() { return std::string(JOL_TEST_DATA) + "/rcs/repo"; }

// The text of `rev` (null: the head) with the archive's own keyword mode,
// or `options`.
inline std::string checkout_text(RCSNode *rcs, const char *rev, const char *options = nullptr,
                                 const char *nametag = nullptr) {
    std::string out;
    int r = RCS_checkout(
        rcs, nullptr, rev, nametag, options, nullptr,
        [](void *d, const char *t, size_t n) { static_cast<std::string *>(d)->append(t, n); },
        &out);
    EXPECT_EQ(r, 0);
    return out;
}

struct ArchiveHandle {
    RCSNode *rcs;
    explicit ArchiveHandle(const char *file) : rcs(RCS_parse(file, rcs_repo().c_str())) {}
    ~ArchiveHandle() { freercsnode(&rcs); }
    RCSNode *operator->() const { return rcs; }
    operator RCSNode *() const { return rcs; }
};
