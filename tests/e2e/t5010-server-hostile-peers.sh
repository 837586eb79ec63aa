#!/bin/bash
# A few hundred generated hostile request streams, each to a fresh server:
# lines past the limit, huge and negative sizes, NUL and newline in names,
# names and repositories that climb out, links planted in the tree,
# compression bombs, requests after errors, peers that never read, cut
# and random streams. After each the server must have ended in time with
# bounded memory, its tree gone and nothing else changed.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"
HERE=$(cd "$(dirname "$0")" && pwd)

WORLD=$SCRATCH/world
REPO=$WORLD/repo
mkdir -p "$WORLD"
jol -Q -d "$REPO" init
expect_status 0
mkdir "$REPO/proj"
jol -Q -d "$REPO" checkout proj
mkdir proj/sub
echo a >proj/a.txt
echo b >proj/sub/b.txt
(cd proj && jol -Q add a.txt sub sub/b.txt && jol -Q commit -m first)
expect_status 0

tests_run=$((tests_run + 1))
python3 "$HERE/hostile_peer.py" "$JOL" "$REPO" "$WORLD" 300 >"$OUT" 2>"$ERR"
status=$?
cat "$OUT"
check "every hostile session ended in time, bounded, and changed nothing outside" \
    test "$status" -eq 0
finish
