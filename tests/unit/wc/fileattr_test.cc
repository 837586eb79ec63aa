// The attribute database under damaged input: a fatal corruption report
// must not leave the database open (a harness that survives fatal errors
// would run out of descriptors), and a sound database still reads.
#include "tests/unit/wc/wc_test_util.h"

#include <dirent.h>

#include "src/base/error.h"
#include "src/wc/fileattr.h"

namespace {

struct Fatal {};

int open_descriptors() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

TEST(Fileattr, CorruptionReportClosesTheDatabase) {
    ScratchDir s;
    write_text("repo/JOL/fileattr", "Fa.txt\t_watchers=alice>edit\nFno-tab-here\n");
    set_error_exit_handler([] { throw Fatal{}; });
    const int before = open_descriptors();
    for (int i = 0; i < 50; ++i) {
        fileattr_startdir("repo");
        EXPECT_THROW(fileattr_get("a.txt", "_watchers"), Fatal);
        fileattr_free();
    }
    set_error_exit_handler(nullptr);
    EXPECT_EQ(open_descriptors(), before);
}

TEST(Fileattr, SoundDatabaseReads) {
    ScratchDir s;
    write_text("repo/JOL/fileattr", "Fa.txt\t_watched;_watchers=alice>edit+commit\nD\t_watched\n");
    fileattr_startdir("repo");
    EXPECT_EQ(fileattr_get("a.txt", "_watchers").value_or("-"), "alice>edit+commit");
    EXPECT_EQ(fileattr_get("a.txt", "_watched").value_or("-"), "");
    EXPECT_FALSE(fileattr_get("b.txt", "_watchers"));
    EXPECT_EQ(fileattr_get(nullptr, "_watched").value_or("-"), "");
    fileattr_free();
}
