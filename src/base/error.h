// Error reporting: error() with its own small formatter, the fatal-exit
// path error_exit() and the cleanup hooks that it runs.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

// One argument of an error() message. The formatter knows %s, %d, %x, %c and
// %%; arguments are captured with their type, so a mismatched or missing
// argument can never read arbitrary memory.
class ErrArg {
  public:
    enum class Kind { text, integer, character };
    ErrArg(const char *s) : kind_(Kind::text), text_(s ? s : "(null)") {}
    ErrArg(char *s) : ErrArg(static_cast<const char *>(s)) {}
    ErrArg(const std::string &s) : kind_(Kind::text), text_(s) {}
    ErrArg(std::string_view s) : kind_(Kind::text), text_(s) {}
    ErrArg(char c) : kind_(Kind::character), number_(static_cast<unsigned char>(c)) {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, char> &&
                                            !std::is_same_v<T, bool>,
                                        int> = 0>
    ErrArg(T n) : kind_(Kind::integer), number_(static_cast<long long>(n)) {}

    Kind kind() const { return kind_; }
    std::string_view text() const { return text_; }
    long long number() const { return number_; }

  private:
    Kind kind_;
    std::string_view text_;
    long long number_ = 0;
};

// The text error() prints for `message` with `args` (without program and
// command name and without the system error part).
std::string error_format(std::string_view message, std::span<const ErrArg> args);

void error_v(int status, int errnum, const char *message, std::span<const ErrArg> args);

template <class... A>
void error(int status, int errnum, const char *message, const A &...args) {
    const ErrArg arr[sizeof...(A) + 1] = {ErrArg(args)..., ErrArg("")};
    error_v(status, errnum, message, std::span<const ErrArg>(arr, sizeof...(A)));
}

// error() with a non-zero status, for call sites that need the compiler to
// know that control does not come back.
template <class... A>
[[noreturn]] void fatal(int errnum, const char *message, const A &...args) {
    error(1, errnum, message, args...);
    __builtin_unreachable();
}

[[noreturn]] void error_exit();

// Replaces the final exit of error_exit (after the cleanup hooks): a fuzzing
// harness throws from here to get control back. Null restores the exit.
using ErrorExitHandler = void (*)();
void set_error_exit_handler(ErrorExitHandler handler);

// Report to `fp` with printf formatting; returns the result of fflush(fp).
int fperrmsg(FILE *fp, int status, int errnum, const char *message, ...)
    __attribute__((format(printf, 4, 5)));

// Failed internal assertion: prints the location and aborts.
[[noreturn]] void eprintf_assert(const char *file, unsigned line, const char *expression);
#define jol_assert(expr) ((expr) ? (void)0 : eprintf_assert(__FILE__, __LINE__, #expr))

// Cleanup hooks run by error_exit, stage by stage in this order; within a
// stage, in the order of registration.
enum class CleanupStage { archive_locks, repository_locks, server, temp_files };
using CleanupHook = void (*)();
void register_cleanup(CleanupStage stage, CleanupHook hook);
void deregister_cleanup(CleanupStage stage, CleanupHook hook);
// Runs every hook once (used by error_exit; exposed for tests).
void run_cleanup_hooks();
// Runs the hooks of one stage (the normal exit releases locks this way).
void run_cleanup_stage(CleanupStage stage);
