// Validation of tag names given with -r and -j, cached in JOLROOT/val-tags.
#pragma once

// Returns when `name` is a tag of some archive the arguments reach (or a
// number, "BASE" or "HEAD"); fatal "no such tag %s" otherwise.
void tag_check_valid(const char *name, int argc, char **argv, int local, int aflag,
                     const char *repository);
// The same for a -j argument, which may carry ":date" after the tag.
void tag_check_valid_join(const char *arg, int argc, char **argv, int local, int aflag,
                          const char *repository);
