#!/bin/bash
# Repository locks between processes: a reader waits for a writer's lock
# and goes on once it is released; a writer ended by SIGTERM leaves no
# lock; one ended by SIGKILL leaves a stale lock that a later run reports.
. "$(dirname "$0")/lib.sh"

new_project proj
printf 'one\n' >f.txt
jol -Q add f.txt
jol -Q commit -m first
expect_status 0
me=$(id -un)
locks() { find "$REPO/proj" -maxdepth 1 -name '#jol.*' | sort; }

# 1. Another process holds the directory's master lock for two seconds:
#    update says whose lock it waits for, then gets it and finishes soon
#    after the lock is given up, not at the end of the 30-second period.
mkdir "$REPO/proj/#jol.lock"
( sleep 2; rmdir "$REPO/proj/#jol.lock" ) &
start=$SECONDS
jol -Q update
expect_status 0
expect_stderr_has "waiting for $me's lock in $REPO/proj"
expect_stderr_has "obtained lock in $REPO/proj"
check "the master lock is taken once given up" test $((SECONDS - start)) -lt 10
check "the wait is reported once" test "$(grep -c 'waiting for' "$ERR")" -eq 1
wait
check "no lock left after the wait" test -z "$(locks)"

# A reader's lock file keeps a writer waiting, until it goes.
touch "$REPO/proj/#jol.rfl.elsewhere.1"
( sleep 2; rm -f "$REPO/proj/#jol.rfl.elsewhere.1" ) &
start=$SECONDS
jol -Q tag -F T1
expect_status 0
expect_stderr_has "waiting for $me's lock in $REPO/proj"
check "the write lock is taken once the reader is gone" test $((SECONDS - start)) -lt 10
wait
check "no lock left after the reader" test -z "$(locks)"
if remote; then
    echo "$TEST_NAME: locks of a killed commit not tested over :fork: (signals to" \
        "the client do not reach the server's command, which holds the locks)"
    finish
fi

# A commitinfo filter that sleeps holds commit inside its write lock.
cat >"$SCRATCH/slow-filter" <<EOF
#!/bin/sh
touch "$SCRATCH/filter-started"
sleep 20
EOF
chmod +x "$SCRATCH/slow-filter"
# (The checked-out administrative files are read-only: replace, not edit.)
rm -f "$REPO/JOLROOT/commitinfo"
printf 'ALL %s\n' "$SCRATCH/slow-filter" >"$REPO/JOLROOT/commitinfo"

# Starts a commit in the background and waits until its filter runs.
start_commit() {
    rm -f "$SCRATCH/filter-started"
    printf '%s\n' "$1" >f.txt
    "$JOL" -Q commit -m "$1" >"$SCRATCH/commit.out" 2>&1 &
    commit_pid=$!
    for _ in $(seq 100); do
        [ -e "$SCRATCH/filter-started" ] && break
        sleep 0.1
    done
    check "filter started" test -e "$SCRATCH/filter-started"
}

# 2. SIGTERM: the cleanup removes every lock the commit held.
start_commit two
check "commit holds a lock while its filter runs" test -n "$(locks)"
kill -TERM "$commit_pid"
wait "$commit_pid" 2>/dev/null
check "no lock left after SIGTERM" test -z "$(locks)"

# 3. SIGKILL: nothing can clean up; the stale lock is reported by the next
#    run, which waits for it.
start_commit three
kill -KILL "$commit_pid"
wait "$commit_pid" 2>/dev/null
check "SIGKILL leaves the lock behind" test -n "$(locks)"
pkill -f "$SCRATCH/slow-filter" 2>/dev/null
rm -f "$REPO/JOLROOT/commitinfo"
timeout 3 "$JOL" -Q update >"$OUT" 2>"$ERR"
check "a later run waits on the stale lock" test $? -eq 124
expect_stderr_has "waiting for $me's lock in $REPO/proj"
finish
