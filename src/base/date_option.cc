// -D option values: a date already in the archive format
// ("2024.01.31.12.00.00", UTC) is taken as it is; anything else is
// free-form text for the date parser.
#include "src/base/date_option.h"

#include "src/base/getdate.h"

namespace {

// Six dot-separated fields of one to four digits each.
bool is_archive_date(const char *text) {
    int fields = 0;
    const char *p = text;
    for (;;) {
        int digits = 0;
        for (; *p >= '0' && *p <= '9'; ++p)
            if (++digits > 4)
                return false;
        if (digits == 0)
            return false;
        ++fields;
        if (*p == '\0')
            return fields == 6;
        if (*p++ != '.' || fields == 6)
            return false;
    }
}

}  // namespace

std::string date_option(const char *text) {
    if (is_archive_date(text))
        return text;
    return Make_Date(text);
}
