#!/bin/bash
# The load test in small: a few clients for a few seconds against the
# password server under systemd-socket-activate, updating, editing,
# committing to shared files and tagging; then with a killer sending
# SIGKILL to server processes. Every acknowledged commit must be found
# with its content, every archive must parse, nothing may be left over.
BENCH=$(cd "$(dirname "$0")/../../bench" && pwd)
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client root (the password server)"

PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

# Both runs at once: a writer waiting on a stale lock left by a killed
# process waits until the janitor removes it, which sets their length.
"$PY" "$BENCH/load_pserver.py" --jol "$JOL" --clients 4 --seconds 8 --shared 2 \
    --work "$SCRATCH/load" >"$SCRATCH/load.out" 2>&1 &
plain=$!
"$PY" "$BENCH/load_pserver.py" --jol "$JOL" --clients 4 --seconds 8 --shared 2 --kill \
    --work "$SCRATCH/crash" >"$SCRATCH/crash.out" 2>&1 &
crash=$!
wait $plain
plain_status=$?
wait $crash
crash_status=$?
cat "$SCRATCH/load.out" "$SCRATCH/crash.out"
check "load: nothing corrupted, lost or left over" test "$plain_status" -eq 0
check "load: commits were acknowledged and found" \
    grep -q "commits acknowledged [1-9]" "$SCRATCH/load.out"
check "crash: nothing corrupted, lost or left over" test "$crash_status" -eq 0
check "crash: server processes were killed" grep -q "processes killed [1-9]" "$SCRATCH/crash.out"
finish
