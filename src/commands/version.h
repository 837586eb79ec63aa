// The version banner and the version string.
#pragma once

extern const char version_string[];
extern const char config_string[];

[[noreturn]] void print_version_banner_and_exit();
