// The names a server may send: directories in the protocol's form and in
// the bare form of programs and module expansions, and file names.
#include <gtest/gtest.h>

#include <string>

#include "src/client/server_paths.h"

namespace {

TEST(ServerPaths, FileNames) {
    for (const char *ok : {"f.txt", ".new.f", "...", "jol", "JOLX", "a b"})
        EXPECT_TRUE(safe_file_name(ok)) << ok;
    for (const char *bad : {"", ".", "..", "JOL", "a/b", "/", "a\n"})
        EXPECT_FALSE(safe_file_name(bad)) << bad;
    EXPECT_FALSE(safe_file_name(std::string("a\0b", 3)));
}

TEST(ServerPaths, ProtocolPathnames) {
    for (const char *ok : {"./", "sub/", "./sub/", "a/b/c/", "./a/b/"})
        EXPECT_TRUE(safe_directory(ok, true)) << ok;
    for (const char *bad : {"", "/", "sub", ".", "../", "a/../", "a/./", "././", "a//",
                            "//", "/etc/", "JOL/", "a/JOL/", "./JOL/", ".//", "a/.."})
        EXPECT_FALSE(safe_directory(bad, true)) << bad;
}

TEST(ServerPaths, BareDirectories) {
    for (const char *ok : {".", "./", "mod", "mod/", "./mod", "mod/sub", "mod/f.c"})
        EXPECT_TRUE(safe_directory(ok, false)) << ok;
    for (const char *bad : {"", "/", "/tmp", "..", "../x", "mod/..", "mod//", "mod//x",
                            "JOL", "mod/JOL", "./.", "mod/."})
        EXPECT_FALSE(safe_directory(bad, false)) << bad;
}

}  // namespace
