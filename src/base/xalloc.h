// Checking allocators: running out of memory is fatal.
#pragma once

#include <cstddef>

void *xmalloc(size_t size);
void *xrealloc(void *ptr, size_t size);
char *xstrdup(const char *s);
// Grows *buf (of *size bytes) to hold at least `needed` bytes.
void expand_string(char **buf, size_t *size, size_t needed);
// The size expand_string would choose; exposed for its callers' arithmetic.
size_t expand_string_size(size_t size, size_t needed);
