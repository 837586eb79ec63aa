#!/bin/bash
# Rebuilds the seed corpora of the server and client fuzz targets from
# real traffic: a short workflow (checkout, add, commit, update with a
# merge and a conflict, diff, log, status, tag, annotate, rdiff, edit and
# watchers, remove, import, compressed sessions) runs against the
# repository the targets use (/tmp/jol-server-fuzz-root, module "mod")
# through a :fork: root with JOL_CLIENT_LOG set; every connection's
# requests become a server seed and its responses a client seed.
#   bench/fuzz_seeds.sh JOL [DEST]   (DEST: the source tree to write into)
set -eu
JOL=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
SRC=${2:-$(cd "$(dirname "$0")/.." && pwd)}
ROOT=/tmp/jol-server-fuzz-root
[ -e "$ROOT" ] && { echo "$ROOT exists; remove it first" >&2; exit 1; }
WORK=$(mktemp -d /tmp/jol-seeds.XXXXXX)
trap 'rm -rf "$WORK" "$ROOT"' EXIT
export HOME=$WORK JOL_SERVER=$JOL TMPDIR=$WORK
LOGS=$WORK/logs
mkdir "$LOGS"
n=0
j() {
    n=$((n + 1))
    JOL_CLIENT_LOG=$LOGS/$(printf %02d $n) "$JOL" -d ":fork:$ROOT" "$@" >/dev/null 2>&1 || true
}
"$JOL" -Q -d "$ROOT" init
mkdir "$ROOT/mod"
cd "$WORK"
j checkout mod
cd mod
printf 'a\nb\nc\n' >f
mkdir sub
printf 'x\n' >sub/g
printf '\0\1binary\n' >bin
j add f sub
j add sub/g
j add -kb bin
j commit -m first
j -z6 update
printf 'a\nB\nc\n' >f
j diff -u
j status
j commit -m second
j tag T1
j log
j annotate f
j rdiff -r T1 mod
j update -r 1.1 f
j update -A
printf 'a\nb\nc\nd\n' >f
(cd "$WORK" && j checkout -d other mod && cd other && printf 'A\nb\nc\n' >f && j commit -m third)
j update
printf 'zz\nb\nc\n' >f
(cd "$WORK/other" && printf 'yy\nb\nc\n' >f && j commit -m fourth)
j update
j watch on
j edit f
j editors
j watchers
j unedit f
rm sub/g
j remove sub/g
j commit -m gone
j -z9 log -r1.1
j history -a
mkdir "$WORK/imp" && printf 'i\n' >"$WORK/imp/i.txt"
(cd "$WORK/imp" && j import -m imported mod/imp vendor start)
j -z3 update -d
j export -r T1 -d "$WORK/exp" mod
for f in "$LOGS"/*.in; do
    [ -s "$f" ] && cp "$f" "$SRC/src/server/fuzz/corpus/$(basename "$f" .in)"
done
for f in "$LOGS"/*.out; do
    [ -s "$f" ] && cp "$f" "$SRC/src/client/fuzz/corpus/$(basename "$f" .out)"
done
echo "$n sessions logged"
