#!/bin/bash
# Concurrent commits into one repository directory: eight working copies
# commit to eight different files while four more commit to one shared
# file, updating whenever they are told they are not up to date.  No
# revision is lost, none is doubled, every archive stays grammatical, and
# every revision a commit reported holds the bytes it committed.
#
# Writers that meet a lock wait 30 seconds at a time; to keep the test
# short the waits are shortened by a preloaded sleep() (50 to 200 ms).
# Everything else runs unchanged.
GRAMMAR="python3 $(cd "$(dirname "$0")" && pwd)/archive_grammar.py"
. "$(dirname "$0")/lib.sh"

REPO=$SCRATCH/repo
export JOLROOT=$REPO
P=$REPO/proj
SAVED=$SCRATCH/saved       # SAVED/<file>@<rev>: bytes a commit reported
mkdir "$SAVED" "$SCRATCH/res"
DIFFERENT=8 SAME=4 COMMITS=4

cat >"$SCRATCH/fastsleep.c" <<'EOF'
#include <stdlib.h>
#include <unistd.h>
unsigned int sleep(unsigned int seconds)
{
    static int seeded;
    if (!seeded) { srand((unsigned)getpid()); seeded = 1; }
    (void)seconds;
    usleep(50000 + (unsigned)(rand() % 150000));
    return 0;
}
EOF
CC=${CC:-cc}
command -v "$CC" >/dev/null || CC=gcc
command -v "$CC" >/dev/null || CC=g++
check "sleep shim builds" "$CC" -x c -shared -fPIC -o "$SCRATCH/fastsleep.so" "$SCRATCH/fastsleep.c"

jol -Q init
mkdir "$P"
jol -Q checkout proj
expect_status 0
cd proj
for w in $(seq $DIFFERENT); do printf 'file of worker %d\n' "$w" >f$w.txt; done
for w in $(seq $SAME); do printf 'head\n\n\n\nworker %d start\n\n\n' "$w"; done >shared.txt
jol -Q add shared.txt f*.txt
jol -Q commit -m start
expect_status 0
cd "$SCRATCH"
for w in $(seq $DIFFERENT); do jol -Q checkout -d d$w proj; done
for w in $(seq $SAME); do jol -Q checkout -d s$w proj; done

# The message for a working copy that is behind, once for certain.
for w in 1 2; do
    (cd s$w && sed -i "s/^worker $w start\$/worker $w early/" shared.txt && touch -d @1400000000 shared.txt)
done
(cd s1 && "$JOL" -Q commit -m early shared.txt >/dev/null 2>&1)
cd s2
jol commit -m early shared.txt
expect_status 1
expect_stderr <<EOF
jol $(served commit): Up-to-date check failed for \`shared.txt'
jol [$(served commit) aborted]: correct above errors first!$ERROR_TAIL
EOF
check "refused commit stored nothing" grep -qx "head	1.2;" "$P/shared.txt,v"
jol -Q update
expect_status 0
check "update merged the other change" grep -qx "worker 1 early" shared.txt
check "update kept the own change" grep -qx "worker 2 early" shared.txt
jol commit -m early shared.txt
expect_status 0
cd "$SCRATCH"
(cd s1 && "$JOL" -Q update >/dev/null 2>&1)
EARLY=2

export LD_PRELOAD=$SCRATCH/fastsleep.so

# record W FILE N: keep the bytes of the revision the last commit reported.
record() {
    rev=$(sed -n 's/^new revision: \([0-9.]*\);.*/\1/p' "$SCRATCH/res/$1.out")
    if [ -z "$rev" ]; then
        echo "worker $1: commit reported no revision" >>"$SCRATCH/res/faults"
        return
    fi
    if [ -e "$SAVED/$2@$rev" ]; then
        echo "worker $1: revision $rev of $2 reported twice" >>"$SCRATCH/res/faults"
    fi
    cp "$2" "$SAVED/$2@$rev"
    echo "$rev" >>"$SCRATCH/res/$1.revs"
}

different_worker() {
    w=$1
    cd "$SCRATCH/d$w" || return
    for n in $(seq $COMMITS); do
        printf 'file of worker %d\ncommit %d\n' "$w" "$n" >f$w.txt
        touch -d "@$((1500000000 + w * 100 + n))" f$w.txt
        "$JOL" commit -m "d$w n$n" f$w.txt >"$SCRATCH/res/d$w.out" 2>>"$SCRATCH/res/d$w.err"
        rc=$?
        if [ $rc -ne 0 ]; then
            echo "worker d$w: commit $n ended with status $rc" >>"$SCRATCH/res/faults"
            return
        fi
        record d$w f$w.txt
    done
}

same_worker() {
    w=$1
    cd "$SCRATCH/s$w" || return
    n=1 tries=0
    while [ $n -le $COMMITS ]; do
        tries=$((tries + 1))
        if [ $tries -gt 40 ]; then
            echo "worker s$w: no progress after 40 attempts" >>"$SCRATCH/res/faults"
            return
        fi
        sed -i "s/^worker $w .*/worker $w value $n/" shared.txt
        touch -d "@$((1600000000 + w * 100 + tries))" shared.txt
        "$JOL" commit -m "s$w n$n" shared.txt >"$SCRATCH/res/s$w.out" 2>"$SCRATCH/res/s$w.err"
        rc=$?
        cat "$SCRATCH/res/s$w.err" >>"$SCRATCH/res/s$w.allerr"
        if [ $rc -eq 0 ]; then
            record s$w shared.txt
            n=$((n + 1))
        elif grep -qxF "jol $(served commit): Up-to-date check failed for \`shared.txt'" "$SCRATCH/res/s$w.err"; then
            echo x >>"$SCRATCH/res/s$w.behind"
            "$JOL" update shared.txt >"$SCRATCH/res/s$w.uout" 2>>"$SCRATCH/res/s$w.allerr"
            if [ $? -ne 0 ] || grep -q '^C ' "$SCRATCH/res/s$w.uout"; then
                echo "worker s$w: update failed" >>"$SCRATCH/res/faults"
                return
            fi
        else
            echo "worker s$w: commit ended with status $rc" >>"$SCRATCH/res/faults"
            sed 's/^/  /' "$SCRATCH/res/s$w.err" >>"$SCRATCH/res/faults"
            return
        fi
    done
}

pids=
for w in $(seq $DIFFERENT); do different_worker $w & pids="$pids $!"; done
for w in $(seq $SAME); do same_worker $w & pids="$pids $!"; done
wait $pids
unset LD_PRELOAD
cd "$SCRATCH"

if [ -s res/faults ]; then
    fail "workers reported faults"
    sed 's/^/  /' res/faults >&2
fi
behind=$(cat res/s*.behind 2>/dev/null | wc -l)
waits=$(cat res/*err 2>/dev/null | grep -c "waiting for $JOL_TEST_USER's lock in $P\$")
echo "t3013: $behind commits refused as not up to date, $waits lock waits"

# No repository lock and no archive lock left behind.
check "no locks left" sh -c "! ls -a '$P' | grep -q '^#jol\\.\\|^,.*,\$'"

# Every archive is grammatical and jol can read it.
$GRAMMAR --tree "$REPO" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="archive_grammar --tree repo"
expect_status 0

# Exactly the revisions that were reported, each with its bytes.
revcount() { jol log "$1"; sed -n 's/^total revisions: \([0-9]*\);.*/\1/p' "$OUT"; }
cd proj
for w in $(seq $DIFFERENT); do
    check "f$w.txt has one revision per commit" test "$(revcount f$w.txt)" -eq $((COMMITS + 1))
done
check "shared.txt has one revision per commit" \
    test "$(revcount shared.txt)" -eq $((1 + EARLY + SAME * COMMITS))
check "every shared commit reported a distinct revision" \
    test "$(cat ../res/s*.revs | sort -u | wc -l)" -eq $((SAME * COMMITS))
for saved in "$SAVED"/*; do
    name=$(basename "$saved")
    "$JOL" -Q update -p -r "${name##*@}" "${name%@*}" >"$SCRATCH/got" 2>/dev/null
    check "$name checks out as committed" cmp -s "$saved" "$SCRATCH/got"
done
jol -Q update
expect_status 0
for w in $(seq $SAME); do
    check "last change of worker $w kept" grep -qx "worker $w value $COMMITS" shared.txt
done
finish
