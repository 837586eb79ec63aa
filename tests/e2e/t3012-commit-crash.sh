#!/bin/bash
# Commits killed with SIGKILL at random moments: every archive stays
# readable and grammatical, every revision a finished commit reported is
# there with the committed bytes, every stored revision is one that was
# really committed, and what a killed commit leaves behind (repository
# locks, a ",file," lock beside an archive) makes the next commit say
# exactly what holds it up.  JOL_CRASH_KILLS (default 40) sets how many
# kills to survive, JOL_CRASH_SEED the random seed.
GRAMMAR="python3 $(cd "$(dirname "$0")" && pwd)/archive_grammar.py"
. "$(dirname "$0")/lib.sh"
remote && skip_remote "a killed client does not stop the server's commit, so its locks are not stale"

WANT_KILLS=${JOL_CRASH_KILLS:-40}
SEED=${JOL_CRASH_SEED:-$$}
RANDOM=$SEED
REPO=$SCRATCH/repo
P=$REPO/proj
export JOLROOT=$REPO
TRIED=$SCRATCH/tried        # TRIED/<file>.<i>: the bytes commit <i> tried
SAVED=$SCRATCH/saved        # SAVED/<file>@<rev>: bytes a finished commit reported
mkdir "$TRIED" "$SAVED"
FILES="small.txt big.txt third.txt"

jol -Q init
mkdir "$P"
jol -Q checkout proj
expect_status 0
cd proj

# write_files I: new contents for every file; the big one has 3000 lines
# so that writing its archive takes a while.
write_files() {
    printf 'small %d\n' "$1" >small.txt
    awk -v i="$1" 'BEGIN { for (n = 1; n <= 3000; n++)
        print (n == i % 3000 + 1 ? "iteration " i : "line " n " of the big file") }' >big.txt
    printf 'third file\nchanged in %d\nend\n' "$1" >third.txt
    # A time stamp of its own: a commit killed before it waited for the
    # clock would otherwise leave files that look unmodified.
    touch -d "@$((1500000000 + $1))" $FILES
    for f in $FILES; do cp "$f" "$TRIED/$f.$1"; done
}

write_files 0
jol -Q add $FILES
jol commit -m "iteration 0"
expect_status 0
for f in $FILES; do cp "$f" "$SAVED/$f@1.1"; done

# save_reported I: keep the bytes of every revision the commit's output
# reported (lines "Checking in F;" ... "new revision: R; ...").
save_reported() {
    awk '/^Checking in / { f = $3; sub(/;$/, "", f) }
         /^new revision: / { r = $3; sub(/;$/, "", r); print f, r }' "$SCRATCH/c.out" |
        while read -r f r; do cp "$TRIED/$f.$1" "$SAVED/$f@$r"; done
}

# How long an undisturbed commit takes here, so that the kills can be aimed
# inside one on fast and slow machines alike.
pace_ns=0
for i in 1 2 3; do
    write_files $i
    t0=$(date +%s%N)
    "$JOL" commit -m "pace $i" >"$SCRATCH/c.out" 2>"$SCRATCH/c.err" || fail "pacing commit $i failed"
    pace_ns=$((pace_ns + $(date +%s%N) - t0))
    save_reported $i
done
pace_ms=$((pace_ns / 3000000))
[ "$pace_ms" -ge 2 ] || pace_ms=2

kills=0 finished=0 dirlocks=0 archlocks=0 i=3
start=$(date +%s)
while [ "$kills" -lt "$WANT_KILLS" ]; do
    i=$((i + 1))
    if [ $i -gt $((3 + WANT_KILLS * 4)) ] || [ $(($(date +%s) - start)) -gt 45 ]; then
        fail "only $kills kills landed in $i commits"
        break
    fi
    write_files $i
    t0=$(date +%s%N)
    "$JOL" commit -m "iteration $i" >"$SCRATCH/c.out" 2>"$SCRATCH/c.err" &
    pid=$!
    # Most kills land inside the work of the commit, a few near its end;
    # every fifth commit is left to finish.
    if [ $((i % 5)) -ne 0 ]; then
        delay=$((RANDOM % pace_ms))
        [ $((RANDOM % 8)) -eq 0 ] && delay=$((pace_ms + RANDOM % pace_ms))
        (sleep "$((delay / 1000)).$(printf %03d $((delay % 1000)))"; kill -KILL $pid 2>/dev/null) &
        killer=$!
    else
        killer=
    fi
    wait $pid
    rc=$?
    [ -n "$killer" ] && wait "$killer"
    if [ $rc -eq 0 ]; then
        # The pace was measured under whatever else the machine was doing
        # then; a commit that finished sooner aims the next kills better.
        took_ms=$((($(date +%s%N) - t0) / 1000000))
        [ "$took_ms" -lt "$pace_ms" ] && [ "$took_ms" -ge 2 ] && pace_ms=$took_ms
        finished=$((finished + 1))
        save_reported $i
        continue
    fi
    if [ $rc -ne 137 ]; then
        fail "commit $i ended with status $rc"
        sed 's/^/  stderr: /' "$SCRATCH/c.err" >&2
        break
    fi
    kills=$((kills + 1))

    # A master lock left in the repository: the next commit waits and
    # names the directory; it is removed as an administrator would.
    if [ -d "$P/#jol.lock" ]; then
        dirlocks=$((dirlocks + 1))
        # (An earlier probe's message must not be taken for this one's: the
        # probe could be stopped before it has even started.)
        rm -f "$SCRATCH/p.err"
        "$JOL" commit -m probe >"$SCRATCH/p.out" 2>"$SCRATCH/p.err" &
        probe=$!
        # (Up to 30 seconds: a loaded machine can be slow to get there.)
        until_s=$((SECONDS + 30))
        while [ $SECONDS -lt $until_s ]; do
            grep -q "waiting for $JOL_TEST_USER's lock in $P\$" "$SCRATCH/p.err" 2>/dev/null && break
            sleep 0.02
        done
        kill -TERM $probe 2>/dev/null
        wait $probe 2>/dev/null
        check "commit $i: a stale repository lock is named" \
            grep -q "waiting for $JOL_TEST_USER's lock in $P\$" "$SCRATCH/p.err" ||
            sed 's/^/  probe: /' "$SCRATCH/p.err" >&2
        rm -rf "$P/#jol.lock" "$P"/#jol.[rw]fl.*
    fi
    rm -f "$P"/#jol.[rw]fl.*
    # A lock beside an archive: the next commit fails and names it, and
    # leaves no repository lock of its own behind.
    for lock in "$P"/,*,; do
        [ -e "$lock" ] || continue
        archlocks=$((archlocks + 1))
        jol commit -m "blocked $i"
        expect_status 1
        expect_stderr_has "could not open lock file \`$lock'"
        check "failed commit released its repository locks" test ! -e "$P/#jol.lock"
        rm -f "$lock"
    done
    # Catch up with revisions the killed commit stored but did not record.
    jol -Q update
    expect_status 0
done
cd "$SCRATCH/proj"
write_files $((i + 1))
"$JOL" commit -m "after the kills" >"$SCRATCH/c.out" 2>"$SCRATCH/c.err"
status=$?
LAST_CMD="jol commit -m 'after the kills'"
expect_status 0
save_reported $((i + 1))

echo "t3012: survived $kills kills (seed $SEED): $finished commits finished," \
    "$dirlocks stale repository locks, $archlocks stale archive locks"

# Every archive is grammatical and readable by jol.
$GRAMMAR --tree "$REPO" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="archive_grammar --tree repo"
expect_status 0
for f in $FILES; do
    jol log "$f"
    expect_status 0
done

# Every reported revision is there with the committed bytes.
reported=0
for saved in "$SAVED"/*; do
    name=$(basename "$saved")
    f=${name%@*}
    rev=${name##*@}
    "$JOL" -Q update -p -r "$rev" "$f" >"$SCRATCH/got" 2>"$ERR"
    check "$f $rev checks out as committed" cmp -s "$saved" "$SCRATCH/got"
    reported=$((reported + 1))
done
check "finished commits reported revisions" test "$reported" -ge $((3 * (finished + 2)))

# Every stored revision is bytes some commit tried, in commit order.
for f in $FILES; do
    last=-1
    "$JOL" log "$f" >"$SCRATCH/log" 2>/dev/null
    revs=$(sed -n 's/^revision \([0-9.]*\)$/\1/p' "$SCRATCH/log" | sort -t. -k2,2n)
    for rev in $revs; do
        $GRAMMAR --dump "$rev" "$P/$f,v" >"$SCRATCH/got"
        which=-1
        for n in $(seq "$last" $((i + 1))); do
            [ "$n" -ge 0 ] && cmp -s "$TRIED/$f.$n" "$SCRATCH/got" && { which=$n; break; }
        done
        check "$f $rev holds a tried commit after the one before it" test "$which" -gt "$last"
        last=$which
    done
done
finish
