#!/bin/bash
# The GUI link: jolgui-run starts jol with "-jolgui R W", answers its
# environment lookups and shows its console messages; its --trace file
# lists every message received, one per line.
. "$(dirname "$0")/lib.sh"

RUN=${JOL_BUILD:?JOL_BUILD must name the build directory}/jolgui-run
TRACE="$SCRATCH/.trace"
PLAIN_OUT="$SCRATCH/.plain-out"
PLAIN_ERR="$SCRATCH/.plain-err"

# Like jol(), through the front-end.
gui() {
    tests_run=$((tests_run + 1))
    "$RUN" --trace "$TRACE" "$JOL" "$@" >"$OUT" 2>"$ERR"
    status=$?
    LAST_CMD="jolgui-run jol $*"
    return 0
}

# Keeps the streams of a plain run to compare with the linked one.
plain() {
    jol "$@"
    plain_status=$status
    cp "$OUT" "$PLAIN_OUT"
    cp "$ERR" "$PLAIN_ERR"
}

quits() { grep -c '^QUIT ' "$TRACE"; }

# The command listing arrives as console messages on the error side, and
# the front-end ends with the child's QUIT code.
plain --help-commands
gui --help-commands
expect_status "$plain_status"
check "listing through the link equals the plain listing" cmp -s "$ERR" "$PLAIN_ERR"
expect_stderr_has "JOL commands are:"
expect_stdout </dev/null
check "listing travels as CONSOLE err messages" grep -q '^CONSOLE err [0-9]* "JOL commands are:\\n' "$TRACE"
check "no console output on the out side" sh -c "! grep -q '^CONSOLE out' '$TRACE'"
check "one QUIT, last, with code 1" test "$(quits)/$(tail -n 1 "$TRACE")" = "1/QUIT 1"

# "jol -jolgui R W" with nothing else: the general usage, through the link.
plain
gui
expect_status 1
check "general usage through the link" cmp -s "$ERR" "$PLAIN_ERR"
check "usage came as messages" grep -q '^CONSOLE err [0-9]* "Usage: jol \[jol-options\]' "$TRACE"
check "usage run ends in QUIT 1" test "$(tail -n 1 "$TRACE")" = "QUIT 1"

# -jolguix is not the GUI mode; it is an unknown option (-j).
jol -jolguix
expect_status 1
expect_stderr_has "invalid option -- 'j'"
expect_stderr_has "Usage: jol [jol-options] command"
expect_stdout </dev/null
gui -jolguix
expect_status 1
check "unknown option's usage through the link" grep -q '^CONSOLE err [0-9]* "Usage: jol ' "$TRACE"

# The start-up's lookups go to the front-end, in order, answered from its
# own environment.
JOLROOT="$SCRATCH/nowhere" gui status
expect_status 1
expect_stderr_has "$SCRATCH/nowhere/JOLROOT: No such file or directory"
check "first lookups in start-up order" test "$(head -n 5 "$TRACE" | cut -d' ' -f2 | tr '\n' ' ')" = \
    "TMPDIR JOLEDITOR VISUAL EDITOR JOLROOT "
check "TMPDIR answered from the front-end's environment" \
    grep -qxF "GETENV TMPDIR -> \"$TMPDIR\"" "$TRACE"
check "unset variable answered as not set" grep -qxF "GETENV JOLEDITOR -> (not set)" "$TRACE"
check "JOLROOT answered" grep -qxF "GETENV JOLROOT -> \"$SCRATCH/nowhere\"" "$TRACE"

# A fatal error: the messages of the error line, then exactly one QUIT 1.
gui -z 12 status
expect_status 1
expect_stderr <<'T'
jol: gzip compression level must be between 0 and 9
T
tail -n 5 "$TRACE" >"$SCRATCH/.tail"
check "error line as messages, then QUIT 1" diff -u - "$SCRATCH/.tail" <<'T'
CONSOLE err 3 "jol"
CONSOLE err 2 ": "
CONSOLE err 46 "gzip compression level must be between 0 and 9"
CONSOLE err 1 "\n"
QUIT 1
T
check "exactly one QUIT" test "$(quits)" = 1

# Standard output and a zero exit code.
plain -v
gui -v
expect_status 0
check "version banner through the link" cmp -s "$OUT" "$PLAIN_OUT"
check "banner on the out side" grep -q '^CONSOLE out' "$TRACE"
check "QUIT 0 last" test "$(quits)/$(tail -n 1 "$TRACE")" = "1/QUIT 0"

# Real work through the link: create a repository and check out from it.
JOLROOT="$SCRATCH/repo" gui init
expect_status 0
check "repository created" test -d "$SCRATCH/repo/JOLROOT"
mkdir "$SCRATCH/w" && cd "$SCRATCH/w" || exit 1
JOLROOT="$SCRATCH/repo" gui checkout -d wc JOLROOT
expect_status 0
expect_stdout_has "U wc/modules"
check "working files written" test -f wc/modules -a -f wc/JOL/Entries
check "checkout ends in QUIT 0" test "$(quits)/$(tail -n 1 "$TRACE")" = "1/QUIT 0"

finish
