// Fuzz target for the free-form date reader: the input is date text as a
// user or a peer gives it; the result goes through both date forms and
// back. Rejections are expected outcomes; crashes and sanitizer reports
// are not.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "src/base/error.h"
#include "src/base/getdate.h"
#include "src/base/globals.h"

namespace {

struct Fatal {};

[[noreturn]] void throw_fatal() { throw Fatal{}; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool init = [] {
        set_error_exit_handler(throw_fatal);
        setenv("TZ", "UTC", 1);
        return true;
    }();
    (void)init;
    std::string text(reinterpret_cast<const char *>(data), size);
    const timeb_like now{1234567890, 0};
    time_t t = get_date(text.c_str(), &now);
    if (t != -1) {
        std::string archive = date_from_time_t(t);
        if (!archive.empty())
            date_to_internet(archive.c_str());
    }
    // The wire form of archive dates that came from elsewhere.
    date_to_internet(text.c_str());
    try {
        Make_Date(text.c_str());
    } catch (const Fatal &) {
    }
    return 0;
}
