// The per-user rc file ~/.jolrc: default options per command.
#pragma once

// Splices the options of the first line of ~/.jolrc that starts with
// `cmdname` into argv, after argv[0]. The new vector lives until the next
// call.
void read_jolrc(int *argc, char ***argv, const char *cmdname);
