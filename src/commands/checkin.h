// The per-file check-in step of commit.
#pragma once

#include <string>

struct file_info;

// Checks the working file in (type is the history record letter), then
// refreshes the working file and its entry. 0, or 1 after a message.
int Checkin(char type, file_info *finfo, const char *rev, const char *tag, std::string &options,
            const std::string &message);
