# Shared library of the end-to-end tests. Source it first thing in a test:
#   . "$(dirname "$0")/lib.sh"
# It runs the test as an unprivileged user (commit refuses the super-user),
# gives it a fresh scratch directory that is also $HOME, and offers:
#   jol ARGS...          run the executable; sets $status, files $OUT, $ERR
#   expect_status N      the last run's exit status
#   expect_stdout        stdin (a here-document) equals the last stdout
#   expect_stderr        stdin equals the last stderr
#   expect_stdout_has S  / expect_stderr_has S: a substring of the stream
#   check DESC CMD...    a shell condition that must hold
#   new_project NAME [DIR]  a fresh repository $REPO (also JOLROOT) holding
#                        an empty NAME, checked out into DIR and entered
#   finish               report and exit (non-zero when anything failed)
#   free_port / wait_port PORT   a free TCP port on loopback / wait until
#                        something listens on it
#   remote               true when the suite runs against a :fork: root
#   skip_remote REASON   ends a script that cannot apply remotely (status 77)
#   served CMD           the command name in messages of the repository side
#                        of CMD: CMD locally, "server" over a connection
#   as_root PATH         the root string a command reports for PATH
#   $ERROR_TAIL          what follows the last message of a failed command
#                        that the server ran: its empty "error" line
#   $FETCHED             update's letter for a file brought up to date: U,
#                        or P when a server sends the change as a patch
# With JOL_TEST_ROOT=fork, $JOL is fork_root.sh, which reaches every
# repository the scripts name through a :fork: root.
set -u

: "${JOL:?JOL must name the jol executable}"
JOL_TEST_USER=${JOL_TEST_USER:-joltest}

if [ "$(id -u)" -eq 0 ] && [ -z "${JOL_AS_ROOT:-}" ]; then
    if ! id "$JOL_TEST_USER" >/dev/null 2>&1; then
        (
            flock 9
            id "$JOL_TEST_USER" >/dev/null 2>&1 ||
                useradd --create-home --shell /bin/sh "$JOL_TEST_USER" >/dev/null 2>&1 ||
                id "$JOL_TEST_USER" >/dev/null
        ) 9>/tmp/.jol-test-user.lock
    fi
    as_test_user() {
        setpriv --reuid="$JOL_TEST_USER" --regid="$JOL_TEST_USER" --init-groups "$@"
    }
    script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
    if as_test_user test -r "$script" -a -x "$JOL"; then
        exec setpriv --reuid="$JOL_TEST_USER" --regid="$JOL_TEST_USER" --init-groups \
            env JOL="$JOL" JOL_BUILD="${JOL_BUILD:-}" JOL_TEST_ROOT="${JOL_TEST_ROOT:-}" \
            bash "$script" "$@"
    fi
    # The checkout or the build lies where the test user cannot go (a
    # clone in root's home): run from a readable copy of the scripts, the
    # benchmark scripts and the built programs.
    srcdir=$(cd "$(dirname "$script")/../.." && pwd)
    stage=$(mktemp -d /tmp/jol-e2e-stage.XXXXXX) || exit 1
    chmod 755 "$stage"
    mkdir -p "$stage/tests" "$stage/build"
    cp -R "$srcdir/tests/e2e" "$stage/tests/" && cp -R "$srcdir/bench" "$stage/" &&
        cp "$JOL" "$stage/build/jol" || exit 1
    for tool in jolgui-run jol-diff; do
        if [ -n "${JOL_BUILD:-}" ] && [ -x "$JOL_BUILD/$tool" ]; then
            cp "$JOL_BUILD/$tool" "$stage/build/" || exit 1
        fi
    done
    chmod -R a+rX "$stage"
    as_test_user env JOL="$stage/build/jol" JOL_BUILD="$stage/build" \
        JOL_TEST_ROOT="${JOL_TEST_ROOT:-}" bash "$stage/tests/e2e/$(basename "$script")" "$@"
    rc=$?
    rm -rf "$stage"
    exit $rc
fi

TEST_NAME=$(basename "$0" .sh)
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/jol-$TEST_NAME.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
export HOME="$SCRATCH/home"
mkdir -p "$HOME"
unset JOLROOT JOLEDITOR VISUAL EDITOR JOLREAD JOLUMASK JOLIGNORE JOLWRAPPERS JOLLIB_YESNO
export TMPDIR="$SCRATCH/tmp"
mkdir -p "$TMPDIR"
OUT="$SCRATCH/.out"
ERR="$SCRATCH/.err"
cd "$SCRATCH" || exit 1

remote() { [ "${JOL_TEST_ROOT:-}" = fork ]; }

skip_remote() {
    echo "$TEST_NAME: skipped over :fork: ($*)"
    exit 77
}

served() { if remote; then echo server; else echo "$1"; fi; }
as_root() { if remote; then echo ":fork:$1"; else echo "$1"; fi; }
ERROR_TAIL=
FETCHED=U
if remote; then
    export JOL_FORK_REAL=$JOL
    JOL=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/fork_root.sh
    ERROR_TAIL=$'\n'
    FETCHED=P
fi

tests_run=0
tests_failed=0
status=0

fail() {
    tests_failed=$((tests_failed + 1))
    echo "FAIL: $*" >&2
}

jol() {
    tests_run=$((tests_run + 1))
    "$JOL" "$@" >"$OUT" 2>"$ERR"
    status=$?
    LAST_CMD="jol $*"
    return 0
}

expect_status() {
    if [ "$status" -ne "$1" ]; then
        fail "$LAST_CMD: exit status $status, expected $1"
        sed 's/^/  stderr: /' "$ERR" >&2
    fi
}

compare_stream() {
    # $1: stream name, $2: file
    expected="$SCRATCH/.expected"
    cat >"$expected"
    if ! cmp -s "$expected" "$2"; then
        fail "$LAST_CMD: $1 differs (expected, actual):"
        diff "$expected" "$2" | sed 's/^/  /' >&2
    fi
}

expect_stdout() { compare_stream stdout "$OUT"; }
expect_stderr() { compare_stream stderr "$ERR"; }

expect_stdout_has() {
    grep -qF -- "$1" "$OUT" || fail "$LAST_CMD: stdout lacks '$1'"
}
expect_stderr_has() {
    grep -qF -- "$1" "$ERR" || fail "$LAST_CMD: stderr lacks '$1'"
}

check() {
    desc=$1
    shift
    tests_run=$((tests_run + 1))
    "$@" || fail "$desc"
}

new_project() {
    REPO=$SCRATCH/repo
    export JOLROOT=$REPO
    jol -Q init
    expect_status 0
    mkdir -p "$REPO/$1"
    jol -Q checkout -d "${2:-$1}" "$1"
    expect_status 0
    cd "${2:-$1}" || exit 1
}

finish() {
    if [ "$tests_failed" -ne 0 ]; then
        echo "$TEST_NAME: $tests_failed of $tests_run checks failed" >&2
        exit 1
    fi
    echo "$TEST_NAME: $tests_run checks passed"
    exit 0
}

# serve [GLOBAL-OPTIONS...]   runs "jol server" on the session given on
#                      standard input (protodrive.py run; "@file NAME" lines
#                      send a file's bytes); $OUT has the responses, $status
#                      the exit status
serve() {
    tests_run=$((tests_run + 1))
    python3 "$(dirname "${BASH_SOURCE[0]}")/protodrive.py" run "$JOL" "$@" >"$OUT" 2>"$ERR"
    status=$?
    LAST_CMD="jol $* server"
    return 0
}

# tree_listing DIR    every path below DIR with its type, mode and content
#                     digest, for before/after comparisons of a sentinel tree
tree_listing() {
    (cd "$1" && find . -printf '%y %m %p\n' | sort &&
        find . -type f -exec md5sum {} + 2>/dev/null | sort -k2)
}

free_port() {
    python3 -c "import socket;s=socket.socket();s.bind(('127.0.0.1',0));print(s.getsockname()[1])"
}
wait_port() {
    for _ in $(seq 1 200); do
        ss -ltn | grep -q "127.0.0.1:$1 " && return 0
        sleep 0.05
    done
    return 1
}

# talk PORT           sends the session on standard input to the server
#                     listening on PORT (protodrive.py connect), and keeps
#                     what came back until it closed: $OUT, $status
talk() {
    tests_run=$((tests_run + 1))
    python3 "$(dirname "${BASH_SOURCE[0]}")/protodrive.py" connect "$1" >"$OUT" 2>"$ERR"
    status=$?
    LAST_CMD="session on port $1"
    return 0
}
