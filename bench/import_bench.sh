#!/bin/bash
# Import cost: a generated vendor tree of FILES text files of about 4 KB in
# DIRS directories, imported into a fresh repository, compared with copying
# the same tree with cp -r; then the unchanged tree imported again (every
# file compared with its vendor revision, only a release tag added).
#
#   bench/import_bench.sh [JOL] [FILES] [DIRS]       (defaults 5000, 500)
#
# Targets: first import <= 3 x cp -r + 5 s; re-import <= 2 x first import.
set -u
jol=${1:-build/jol}
jol=$(cd "$(dirname "$jol")" && pwd)/$(basename "$jol")
NFILES=${2:-5000}
NDIRS=${3:-500}

work=$(mktemp -d /tmp/jol-import-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export JOLROOT=$work/repo
cd "$work" || exit 1
"$jol" -Q init || exit 1

/usr/bin/python3 - "$work/vendor" "$NFILES" "$NDIRS" <<'PY'
import os, random, sys
top, nfiles, ndirs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(42)
words = ["alpha", "beta", "gamma", "delta", "vendor", "release", "source", "value"]
for d in range(ndirs):
    os.makedirs(os.path.join(top, "d%03d" % (d // 25), "s%03d" % d), exist_ok=True)
for i in range(nfiles):
    d = i % ndirs
    lines, size = [], 0
    while size < 4000:
        line = " ".join(rng.choice(words) for _ in range(8)) + " %d\n" % rng.randrange(10**6)
        lines.append(line)
        size += len(line)
    with open(os.path.join(top, "d%03d" % (d // 25), "s%03d" % d, "f%05d.c" % i), "w") as f:
        f.write("".join(lines))
PY

sync
seconds() { /usr/bin/python3 -c 'import time; print(time.monotonic())'; }
elapsed() { /usr/bin/python3 -c "print('%.2f' % ($2 - $1))"; }

t0=$(seconds); cp -r "$work/vendor" "$work/copy"; sync; t1=$(seconds)
cp_time=$(elapsed "$t0" "$t1")

cd "$work/vendor" || exit 1
t0=$(seconds); "$jol" -Q import -m "release 1" mod VENDOR R1 || exit 1; sync; t1=$(seconds)
first=$(elapsed "$t0" "$t1")
t0=$(seconds); "$jol" -Q import -m "release 1 again" mod VENDOR R2 || exit 1; sync; t1=$(seconds)
again=$(elapsed "$t0" "$t1")

archives=$(find "$JOLROOT/mod" -name '*,v' | wc -l)
echo "files $NFILES in $NDIRS directories, archives written $archives"
echo "cp -r:        $cp_time s"
echo "first import: $first s   (target <= $(/usr/bin/python3 -c "print('%.2f' % (3 * $cp_time + 5))") s)"
echo "re-import:    $again s   (target <= $(/usr/bin/python3 -c "print('%.2f' % (2 * $first))") s)"
/usr/bin/python3 -c "import sys; sys.exit(0 if $first <= 3 * $cp_time + 5 and $again <= 2 * $first else 1)"
