// Fuzz target for the archive reader: the input is an archive file; every
// revision is rebuilt, annotated and looked up. Fatal errors of the reader
// are expected outcomes; crashes and sanitizer reports are not.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"
#include "src/base/globals.h"
#include "src/rcs/rcs.h"

namespace {

struct Fatal {};

[[noreturn]] void throw_fatal() { throw Fatal{}; }

std::string scratch_dir() {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/jol-rcs-fuzz-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    return dir;
}

struct Holder {
    RCSNode *rcs = nullptr;
    ~Holder() { freercsnode(&rcs); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool init = [] {
        set_error_exit_handler(throw_fatal);
        return true;
    }();
    (void)init;
    std::string dir = scratch_dir();
    std::string path = dir + "/f,v";
    FILE *fp = fopen(path.c_str(), "wb");
    if (!fp)
        return 0;
    fwrite(data, 1, size, fp);
    fclose(fp);
    try {
        Holder h;
        h.rcs = RCS_parse("f", dir.c_str());
        if (!h.rcs)
            return 0;
        RCS_fully_parse(h.rcs);
        RCS_symbols(h.rcs);
        RCS_getlocks(h.rcs);
        std::vector<std::string> revs;
        JOL_FOR_EACH_NODE(h.rcs->versions, p) revs.push_back(*p->key);
        for (const std::string &r : revs) {
            try {
                std::string text;
                RCS_checkout(
                    h.rcs, nullptr, r.c_str(), "T", nullptr, nullptr,
                    [](void *d, const char *t, size_t n) {
                        static_cast<std::string *>(d)->append(t, n);
                    },
                    &text);
                RCS_deltas(h.rcs, r.c_str(), RCS_ANNOTATE, nullptr, nullptr);
            } catch (const Fatal &) {
            }
            RCS_getversion(h.rcs, r.c_str(), nullptr, 0, nullptr);
            RCS_getdate(h.rcs, "2020.01.01.00.00.00", 0);
        }
    } catch (const Fatal &) {
    }
    rcsbuf_cache_close();
    return 0;
}
