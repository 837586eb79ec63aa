#!/bin/bash
# Reading cost of the history report: `history -e -a` on a generated
# journal (default 200,000 records of every type, several users, modules
# and directories, "*" compressed working directories). Prints the journal
# size, the wall time, the peak memory (maximum resident set) and the ratio
# of that memory to the journal size, and checks that every record came out.
#
#   bench/history_bench.sh [JOL] [RECORDS]
set -u
jol=${1:-build/jol}
jol=$(cd "$(dirname "$jol")" && pwd)/$(basename "$jol")
N=${2:-200000}
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

work=$(mktemp -d /tmp/jol-history-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export JOLROOT=$work/repo
"$jol" -Q init || exit 1

"$PY" - "$N" "$JOLROOT/JOLROOT/history" <<'PY'
import sys
n, path = int(sys.argv[1]), sys.argv[2]
types = "OEFTWUPGCMAR"
users = ["alice", "bob", "carol", "dave", "erin"]
out = []
t = 1500000000
for i in range(n):
    ty = types[i % len(types)]
    user = users[(i * 7) % len(users)]
    mod = "module%02d" % (i % 40)
    repos = "%s/src/dir%03d" % (mod, i % 300)
    t += 13
    if ty in "OEF":
        out.append("%s%08x|%s|~/work/%s|%s||%s\n" % (ty, t, user, mod, mod, mod))
    elif ty == "T":
        out.append("%s%08x|%s|~/work|A|REL%d|%s\n" % (ty, t, user, i, mod))
    else:
        out.append("%s%08x|%s|~/work/*0|%s|1.%d|file%04d.c\n"
                   % (ty, t, user, repos, i % 97 + 1, i % 5000))
open(path, "w").write("".join(out))
PY
size=$(stat -c %s "$JOLROOT/JOLROOT/history")
/usr/bin/time -f '%e %M' -o "$work/time" "$jol" history -e -a >"$work/out" 2>"$work/err" || {
    cat "$work/err" >&2
    exit 1
}
read -r secs kb <"$work/time"
lines=$(wc -l <"$work/out")
echo "records $N, journal $size bytes"
echo "history -e -a: ${secs} s, peak memory ${kb} KiB"
awk -v kb="$kb" -v size="$size" 'BEGIN { printf "memory / journal size: %.2f\n", kb * 1024 / size }'
echo "report lines $lines"
# -e selects the letters "TOEFWUCGMAR": the generated "P" records are read
# but not reported.
expected=$((N - (N + 5) / 12))
[ "$lines" -eq "$expected" ] || {
    echo "expected $expected report lines, got $lines" >&2
    exit 1
}
