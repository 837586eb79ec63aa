// -D option values. Free-form dates are understood by the date parser;
// until it is linked in, only dates already in the archive format
// ("2024.01.31.12.00.00", UTC) are accepted.
#include "src/date_option.h"

#include <cctype>

#include "src/error.h"

std::string date_option(const char *text) {
    int fields = 1;
    bool ok = *text != '\0';
    for (const char *p = text; *p; ++p) {
        if (*p == '.')
            ++fields;
        else if (!std::isdigit(static_cast<unsigned char>(*p)))
            ok = false;
    }
    if (!ok || fields != 6)
        error(1, 0, "Can't parse date/time: %s", text);
    return text;
}
