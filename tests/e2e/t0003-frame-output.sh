#!/bin/bash
# Standard output that cannot be written: the failure is reported and the
# exit status says so, so that a truncated revision never passes for a
# good one; a reader that goes away early is not an error to report.
. "$(dirname "$0")/lib.sh"

"$JOL" -v >/dev/full 2>"$ERR"
status=$?
LAST_CMD="jol -v >/dev/full"
expect_status 1
expect_stderr <<'X'
jol: cannot write standard output: No space left on device
X

new_project proj
yes 'a line of the file' | head -n 5000 >f.txt
jol -Q add f.txt
jol -Q commit -m one
expect_status 0
"$JOL" -Q update -p f.txt >/dev/full 2>"$ERR"
status=$?
LAST_CMD="jol update -p f.txt >/dev/full"
expect_status 1
expect_stderr_has "cannot write standard output: No space left on device"
"$JOL" -Q update -p f.txt >"$SCRATCH/saved" 2>"$ERR"
status=$?
LAST_CMD="jol update -p f.txt"
expect_status 0
check "a good copy is whole" cmp -s f.txt "$SCRATCH/saved"

# A reader that stops early, with the broken-pipe signal ignored: quiet.
(trap '' PIPE; "$JOL" -v | head -c 1 >/dev/null; echo "${PIPESTATUS[0]}" >"$SCRATCH/rc") 2>"$ERR"
status=$(cat "$SCRATCH/rc")
LAST_CMD="jol -v | head -c 1"
expect_status 0
expect_stderr </dev/null

finish
