// The real main: start-up, root choice, the root loop and the exit.
#pragma once

[[noreturn]] void jolguiglue_main(int argc, char **argv);
