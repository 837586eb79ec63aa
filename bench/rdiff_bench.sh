#!/bin/bash
# rdiff cost: a generated module of FILES text files of about 4 KB, tagged
# R1, then PERCENT per cent of the files changed and tagged R2 (both
# releases brought in by import); the unified patch between the two tags
# compared with an export of one tag.
#
#   bench/rdiff_bench.sh [JOL] [FILES] [PERCENT]      (defaults 2000, 10)
#
# Target: rdiff -u -r R1 -r R2 <= 3 x export -r R2.
set -u
jol=${1:-build/jol}
jol=$(cd "$(dirname "$jol")" && pwd)/$(basename "$jol")
NFILES=${2:-2000}
PERCENT=${3:-10}

work=$(mktemp -d /tmp/jol-rdiff-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export JOLROOT=$work/repo
cd "$work" || exit 1
"$jol" -Q init || exit 1

# gen DIR PASS: the tree; in pass 2 every file whose number falls in the
# changed share gets a few of its lines rewritten.
gen() {
    /usr/bin/python3 - "$1" "$NFILES" "$PERCENT" "$2" <<'PY'
import os, random, sys
top, nfiles, percent, rel = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
words = ["alpha", "beta", "gamma", "delta", "vendor", "release", "source", "value"]
for i in range(nfiles):
    rng = random.Random(i)
    lines, size = [], 0
    while size < 4000:
        line = " ".join(rng.choice(words) for _ in range(8)) + " %d\n" % rng.randrange(10**6)
        lines.append(line)
        size += len(line)
    if rel == 2 and (i * 100) // nfiles < percent:
        for _ in range(3):
            lines[rng.randrange(len(lines))] = "changed in release two %d\n" % i
    d = os.path.join(top, "d%02d" % (i % 40))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.c" % i), "w") as f:
        f.write("".join(lines))
PY
}

seconds() { /usr/bin/python3 -c 'import time; print(time.monotonic())'; }
elapsed() { /usr/bin/python3 -c "print('%.2f' % ($2 - $1))"; }

gen "$work/r1" 1 && gen "$work/r2" 2 || exit 1
(cd "$work/r1" && "$jol" -Q import -m "release 1" mod VENDOR R1) || exit 1
(cd "$work/r2" && "$jol" -Q import -m "release 2" mod VENDOR R2) || exit 1
sync

mkdir "$work/exp"
t0=$(seconds)
(cd "$work/exp" && "$jol" -Q export -r R2 mod) || exit 1
t1=$(seconds)
export_time=$(elapsed "$t0" "$t1")

t0=$(seconds)
"$jol" -Q rdiff -u -r R1 -r R2 mod >"$work/patch" || exit 1
t1=$(seconds)
rdiff_time=$(elapsed "$t0" "$t1")

mkdir "$work/exp1" && (cd "$work/exp1" && "$jol" -Q export -r R1 mod && patch -s -p0 -E <"$work/patch") &&
    diff -r "$work/exp1/mod" "$work/exp/mod" >/dev/null || { echo "the patch does not give release 2"; exit 1; }
changed=$(grep -c '^Index: ' "$work/patch")
echo "files $NFILES, changed between the tags $changed, patch $(wc -c <"$work/patch") bytes"
echo "export -r R2:         $export_time s"
echo "rdiff -u -r R1 -r R2: $rdiff_time s   (target <= $(/usr/bin/python3 -c "print('%.2f' % (3 * $export_time))") s)"
/usr/bin/python3 -c "import sys; sys.exit(0 if $rdiff_time <= 3 * $export_time else 1)"
