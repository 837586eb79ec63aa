// Child programs: editors, hook filters and module programs. Programs get
// an argument vector; only loginfo filters go through the shell, and the
// text put into those commands is quoted by the caller.
#pragma once

#include <cstdio>
#include <sys/types.h>
#include <string>
#include <vector>

// The words of a command line, split at blanks and tabs.
std::vector<std::string> split_command(const std::string &line);
// Runs argv with inherited standard streams, even under -n (run_exec
// with RUNF_EVEN_IF_NOEXEC); the exit status, 127 when the program could
// not be executed, or -1 when it could not be started. With
// `ignore_signals`, interrupts reach only the child while it runs.
int run_vector(const std::vector<std::string> &argv, bool ignore_signals = false);
// The vector as one line, words separated by blanks.
std::string print_vector(const std::vector<std::string> &argv);
// A shell command whose standard input the caller writes. Until run_pclose
// a command that stops reading costs the writer only EPIPE: the broken
// pipe signal is held off, so the caller goes on without the rest.
FILE *run_popen_write(const std::string &command);
// Closes it; the command's exit status, or -1.
int run_pclose(FILE *fp);

// The runner's argument vector: one at a time, started by run_setup (the
// words of `prog`, split at blanks and tabs, no quoting) and extended by
// run_arg.
void run_setup(const char *prog);
void run_arg(const char *s);
const std::vector<std::string> &run_args();

// Flags of run_exec.
constexpr int RUNF_MERGE_STDERR = 1;
constexpr int RUNF_EVEN_IF_NOEXEC = 2;
constexpr int RUNF_APPEND_STDOUT = 4;
constexpr int RUNF_APPEND_STDERR = 8;
constexpr int RUNF_IGNORE_SIGNALS = 16;
// Runs the vector with the named files (null: inherited) as standard
// input, output and error: the child's exit status, 127 when it could not
// be executed, 2 when a signal ended it, -1 when it could not be started.
int run_exec(const char *stin, const char *stout, const char *sterr, int flags);
// The vector, each word in single quotes, on standard output or error.
void run_print(FILE *fp);
// popen with the -t trace; null under -n.
FILE *run_popen(const char *cmd, const char *mode);
// Starts argv[0] with a pipe to its standard input (*tofd) and one from its
// standard output (*fromfd); the child's process id.
pid_t piped_child(const std::vector<std::string> &argv, int *tofd, int *fromfd);
void close_on_exec(int fd);
