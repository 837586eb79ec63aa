// The command handlers: each takes its own arguments (the command word
// first) and returns an error count; argc == -1 asks for its usage.
#pragma once

using CommandHandler = int (*)(int argc, char **argv);

int add(int argc, char **argv);
int admin(int argc, char **argv);
int annotate(int argc, char **argv);
int checkout(int argc, char **argv);
int commit(int argc, char **argv);
int diff(int argc, char **argv);
int edit(int argc, char **argv);
int editors(int argc, char **argv);
int history(int argc, char **argv);
int import(int argc, char **argv);
int init(int argc, char **argv);
int jollog(int argc, char **argv);
int login(int argc, char **argv);
int logout(int argc, char **argv);
int server(int argc, char **argv);
int patch(int argc, char **argv);
int release(int argc, char **argv);
int jolremove(int argc, char **argv);
int rtag(int argc, char **argv);
int jolstatus(int argc, char **argv);
int joltag(int argc, char **argv);
int unedit(int argc, char **argv);
int update(int argc, char **argv);
int version(int argc, char **argv);
int watch(int argc, char **argv);
int watchers(int argc, char **argv);
