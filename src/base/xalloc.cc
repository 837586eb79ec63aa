// Checking allocators.
#include "src/base/xalloc.h"

#include <cstdlib>
#include <cstring>

#include "src/base/error.h"

void *xmalloc(size_t size) {
    if (size == 0)
        size = 1;
    void *p = std::malloc(size);
    if (!p)
        error(1, 0, "out of memory; can not allocate %lu bytes", static_cast<unsigned long>(size));
    return p;
}

void *xrealloc(void *ptr, size_t size) {
    void *p = ptr ? std::realloc(ptr, size ? size : 1) : std::malloc(size ? size : 1);
    if (!p)
        error(1, 0, "out of memory; can not reallocate %lu bytes", static_cast<unsigned long>(size));
    return p;
}

char *xstrdup(const char *s) {
    if (!s)
        return nullptr;
    size_t n = std::strlen(s) + 1;
    char *p = static_cast<char *>(xmalloc(n));
    std::memcpy(p, s, n);
    return p;
}

size_t expand_string_size(size_t size, size_t needed) {
    constexpr size_t big = 2097152;
    while (size < needed) {
        if (size < 1024)
            size = 1024;
        else if (size < big)
            size = size * 2 > big ? big : size * 2;
        else
            size += big;
    }
    return size;
}

void expand_string(char **buf, size_t *size, size_t needed) {
    if (*size >= needed)
        return;
    *size = expand_string_size(*size, needed);
    *buf = static_cast<char *>(xrealloc(*buf, *size));
}
