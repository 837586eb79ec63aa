// Classification of working files against their entries and archives:
// each situation is built on disk and classified.
#include "tests/unit/wc/wc_test_util.h"

#include <sys/time.h>

#include "src/base/globals.h"
#include "src/rcs/rcs.h"
#include "src/wc/entries.h"
#include "src/wc/recurse.h"
#include "src/wc/vers_ts.h"

namespace {

const char v13[] = "line1\nline2 changed\nline3\nline4\n";
const char v12[] = "line1\nline2 changed\nline3\n";

struct Case {
    const char *name;
    const char *file;        // archive/working name
    const char *content;     // working file, or null for none
    const char *entry_rev;   // null: no entry
    bool stamp_matches;      // entry time stamp equals the file's
    Ctype expected;
    const char *message;     // substring of the warning, or ""
};

void set_old_mtime(const char *f) {
    struct timeval tv[2] = {{1000000000, 0}, {1000000000, 0}};
    utimes(f, tv);
}

}  // namespace

TEST(Classify, EverySituation) {
    const Case cases[] = {
        {"unchanged", "trunk.c", v13, "1.3", true, T_UPTODATE, ""},
        {"modified", "trunk.c", "edited\n", "1.3", false, T_MODIFIED, ""},
        {"touched, same contents", "trunk.c", v13, "1.3", false, T_UPTODATE, ""},
        {"needs patch", "trunk.c", v12, "1.2", true, T_PATCH, ""},
        {"needs merge", "trunk.c", "mine\n", "1.2", false, T_NEEDS_MERGE, ""},
        {"lost", "trunk.c", nullptr, "1.3", false, T_CHECKOUT, "warning: trunk.c was lost"},
        {"needs checkout, no entry", "trunk.c", nullptr, nullptr, false, T_CHECKOUT, ""},
        {"in the way", "trunk.c", "other\n", nullptr, false, T_CONFLICT,
         "move away trunk.c; it is in the way"},
        {"added", "new.c", "new\n", "0", false, T_ADDED, ""},
        {"added but exists", "trunk.c", "new\n", "0", false, T_CONFLICT,
         "conflict: trunk.c created independently by second party"},
        {"new-born gone", "new.c", nullptr, "0", false, T_REMOVE_ENTRY,
         "warning: new-born new.c has disappeared"},
        {"removed", "trunk.c", nullptr, "-1.3", false, T_REMOVED, ""},
        {"removed but present", "trunk.c", v13, "-1.3", false, T_REMOVED,
         "trunk.c should be removed and is still there"},
        {"removed, changed by others", "trunk.c", nullptr, "-1.2", false, T_CONFLICT,
         "conflict: removed trunk.c was modified by second party"},
        {"removed, changed by others, file back", "trunk.c", "back\n", "-1.2", false,
         T_CONFLICT, "conflict: removed trunk.c was modified by second party"},
        {"unknown", "stray.c", "x\n", nullptr, false, T_UNKNOWN,
         "use `jol add' to create an entry for stray.c"},
        {"nothing known", "stray.c", nullptr, nullptr, false, T_UNKNOWN,
         "nothing known about stray.c"},
        {"dead in repository, unchanged", "gone.c", "only line\n", "1.1", true, T_CHECKOUT, ""},
        {"dead in repository, modified", "gone.c", "changed\n", "1.1", false, T_CONFLICT,
         "conflict: gone.c is modified but no longer in the repository"},
        {"dead, no entry, absent", "gone.c", nullptr, nullptr, false, T_UPTODATE, ""},
        {"no archive any more", "stray.c", "x\n", "1.1", true, T_REMOVE_ENTRY,
         "stray.c is no longer in the repository"},
    };
    program_name = "jol";
    const std::string repo = std::string(JOL_TEST_DATA) + "/rcs/repo";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir s;
        fs::create_directory("JOL");
        if (c.content) {
            write_text(c.file, c.content);
            set_old_mtime(c.file);
        }
        std::string entries;
        if (c.entry_rev) {
            std::string ts = c.stamp_matches ? time_stamp(c.file).value_or("") : "Mon Jan  1 00:00:00 2001";
            entries = std::string("/") + c.file + "/" + c.entry_rev + "/" + ts + "//\n";
        }
        write_text("JOL/Entries", entries);
        List *l = Entries_Open(0, nullptr);
        file_info fi;
        fi.file = c.file;
        fi.fullname = c.file;
        fi.repository = repo.c_str();
        fi.entries = l;
        fi.rcs = RCS_parse(c.file, repo.c_str());
        command_name = "update";
        testing::internal::CaptureStderr();
        Vers_TS *vers = nullptr;
        Ctype t = Classify_File(&fi, nullptr, nullptr, nullptr, 1, 0, &vers, 0);
        std::string err = testing::internal::GetCapturedStderr();
        command_name.clear();
        EXPECT_EQ(t, c.expected) << c.name;
        if (*c.message)
            EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
        else
            EXPECT_EQ(err, "") << c.name;
        if (std::string(c.name) == "touched, same contents") {
            // the entry now carries the file's time stamp
            EXPECT_EQ(entries_find(l, c.file)->timestamp, time_stamp(c.file).value_or("?"));
        }
        freevers_ts(&vers);
        freercsnode(&fi.rcs);
        Entries_Close(l);
    }
}

TEST(Classify, TimeStampFormat) {
    ScratchDir s;
    write_text("f", "x");
    struct timeval tv[2] = {{1000000000, 0}, {1000000000, 0}};  // 2001-09-09 01:46:40 UTC
    utimes("f", tv);
    EXPECT_EQ(time_stamp("f").value_or(""), "Sun Sep  9 01:46:40 2001");
    EXPECT_FALSE(time_stamp("missing"));
}

TEST(Classify, StickyTagsAndBase) {
    ScratchDir s;
    const std::string repo = std::string(JOL_TEST_DATA) + "/rcs/repo";
    fs::create_directory("JOL");
    write_text("JOL/Entries", "/trunk.c/-1.2/x//\n");
    List *l = Entries_Open(0, nullptr);
    file_info fi;
    fi.file = fi.fullname = "trunk.c";
    fi.repository = repo.c_str();
    fi.entries = l;
    Vers_TS *v = Version_TS(&fi, nullptr, "BASE", nullptr, 1, 0);
    EXPECT_EQ(v->vn_rcs.value_or(""), "1.2");  // the "-" of a removal is not part of it
    freevers_ts(&v);
    v = Version_TS(&fi, nullptr, "rel1", nullptr, 1, 0);
    EXPECT_EQ(v->vn_rcs.value_or(""), "1.1");
    EXPECT_EQ(v->vn_tag.value_or(""), "rel1");
    freevers_ts(&v);
    v = Version_TS(&fi, nullptr, "br", nullptr, 1, 0);
    EXPECT_EQ(v->vn_rcs.value_or(""), "1.2.2.2");
    EXPECT_EQ(v->vn_tag.value_or(""), "1.2.2.2");
    freevers_ts(&v);
    Entries_Close(l);
}
