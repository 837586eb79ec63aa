// Child programs: editors, hook filters and module programs. Programs get
// an argument vector; only loginfo filters go through the shell, and the
// text put into those commands is quoted by the caller.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The words of a command line, split at blanks and tabs.
std::vector<std::string> split_command(const std::string &line);
// Runs argv with inherited standard streams; the exit status, or -1 when
// the program could not be started. With `ignore_signals`, interrupts
// reach only the child while it runs.
int run_vector(const std::vector<std::string> &argv, bool ignore_signals = false);
// The vector as one line, words separated by blanks.
std::string print_vector(const std::vector<std::string> &argv);
// A shell command whose standard input the caller writes.
FILE *run_popen_write(const std::string &command);
// Closes it; the command's exit status, or -1.
int run_pclose(FILE *fp);
