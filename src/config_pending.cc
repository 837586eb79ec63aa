// The repository configuration file (JOLROOT/config) is not read yet; its
// reader replaces this file. Until then every key keeps its default.
#include "src/frame.h"

int parse_config(const char *) { return 0; }
