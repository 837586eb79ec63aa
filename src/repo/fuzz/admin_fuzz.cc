// Fuzz target for the readers of administrative files, working copy and
// repository alike: the first byte of the input picks the file, the rest
// is its contents (for Entries, a NUL separates Entries from its journal).
// Fatal errors are expected outcomes; crashes and sanitizer reports are
// not.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "src/base/error.h"
#include "src/base/file_ops.h"
#include "src/base/globals.h"
#include "src/base/root.h"
#include "src/repo/history.h"
#include "src/repo/mydbm.h"
#include "src/repo/parseinfo.h"
#include "src/wc/entries.h"
#include "src/wc/fileattr.h"
#include "src/wc/recurse.h"

namespace {

struct Fatal {};

[[noreturn]] void throw_fatal() { throw Fatal{}; }

std::string dir;        // the working directory, with JOL/ and JOLROOT/ in it
std::string start_dir;  // where libFuzzer reads its inputs, by relative names

void put(const std::string &path, std::string_view text) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp)
        std::abort();
    std::fwrite(text.data(), 1, text.size(), fp);
    std::fclose(fp);
}

void setup() {
    set_error_exit_handler(throw_fatal);
    program_name = "jol";
    command_name = "update";
    char tmpl[] = "/tmp/jol-admin-fuzz-XXXXXX";
    if (!mkdtemp(tmpl))
        std::abort();
    dir = tmpl;
    char *cwd = getcwd(nullptr, 0);
    start_dir = cwd ? cwd : "/";
    std::free(cwd);
}

void read_entries(std::string_view text) {
    size_t nul = text.find('\0');
    put("JOL/Entries", text.substr(0, nul));
    if (nul != std::string_view::npos)
        put("JOL/Entries.Log", text.substr(nul + 1));
    List *entries = Entries_Open(0, nullptr);
    entries_sticky(entries);
    entries_find(entries, "f");
    Entries_Close(entries);
}

void read_baserev(std::string_view text) {
    put("JOL/Baserev", text);
    file_info finfo;
    finfo.file = "f";
    finfo.fullname = "f";
    base_get(&finfo);
}

void read_fileattr(std::string_view text) {
    mkdir("repo/JOL", 0700);
    put("repo/JOL/fileattr", text);
    fileattr_startdir("repo");
    fileattr_getall("f");
    fileattr_get(nullptr, "_watchers");
    fileattr_get("g", "_editors");
    fileattr_free();
}

void read_history(std::string_view text) {
    put("JOLROOT/history", text);
    std::string buffer;
    size_t count = 0;
    read_hrecs("JOLROOT/history", buffer, [&](size_t n) { count = n; },
               [&](hrec &hr) { (void)hrec_text(buffer.data(), hr.file); });
}

void read_modules(std::string_view text) {
    put("JOLROOT/modules", text);
    DBM *db = mydbm_open("JOLROOT/modules", 0, 0666);
    if (!db)
        return;
    for (auto key = mydbm_firstkey(db); key; key = mydbm_nextkey(db))
        mydbm_fetch(db, *key);
    mydbm_close(db);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool init = (setup(), true);
    (void)init;
    if (size == 0)
        return 0;
    std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (chdir(dir.c_str()) != 0)
        std::abort();
    deep_remove_dir("JOL");
    deep_remove_dir("JOLROOT");
    deep_remove_dir("repo");
    mkdir("JOL", 0700);
    mkdir("JOLROOT", 0700);
    mkdir("repo", 0700);
    try {
        switch (data[0] % 8) {
        case 0: read_entries(text); break;
        case 1: {
            put("JOL/Tag", text);
            opt_str tag, date;
            int nonbranch = 0;
            ParseTag(&tag, &date, &nonbranch);
            break;
        }
        case 2: put("JOL/Root", text); Name_Root(nullptr, nullptr); break;
        case 3: put("JOL/Repository", text); Name_Repository(nullptr, nullptr); break;
        case 4: read_baserev(text); break;
        case 5: read_fileattr(text); break;
        case 6: read_history(text); break;
        case 7:
            read_modules(text);
            put("JOLROOT/config", text);
            parse_config(dir.c_str());
            break;
        }
    } catch (const Fatal &) {
    }
    if (chdir(start_dir.c_str()) != 0)
        std::abort();
    return 0;
}
