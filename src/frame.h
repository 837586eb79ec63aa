// The real main: start-up, root choice, the root loop and the exit.
#pragma once

[[noreturn]] void jolguiglue_main(int argc, char **argv);

// Hook for the repository configuration reader, run before each local pass.
int parse_config(const char *jolroot_directory);
