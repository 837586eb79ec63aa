// Growth policy of expand_string and the zero-size allocation.
#include <gtest/gtest.h>

#include <cstdlib>

#include "src/base/xalloc.h"

TEST(Xalloc, ExpandStringSizes) {
    EXPECT_EQ(expand_string_size(0, 10), 1024u);
    EXPECT_EQ(expand_string_size(1024, 3000), 4096u);
    EXPECT_EQ(expand_string_size(2097152, 2097153), 4194304u);
    EXPECT_EQ(expand_string_size(1500000, 2000000), 2097152u);  // doubling capped at 2 MiB
    char *buf = nullptr;
    size_t size = 0;
    expand_string(&buf, &size, 5000);
    EXPECT_EQ(size, 8192u);
    buf[8191] = 'x';
    std::free(buf);
}

TEST(Xalloc, ZeroSizeAndNullCopies) {
    void *p = xmalloc(0);
    EXPECT_NE(p, nullptr);
    std::free(p);
    EXPECT_EQ(xstrdup(nullptr), nullptr);
    char *s = xstrdup("abc");
    EXPECT_STREQ(s, "abc");
    std::free(s);
}
