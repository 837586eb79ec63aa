#!/bin/bash
# Commit cost: (1) one commit of 50 modified files in a module of 5,000
# files; (2) 1,000 successive commits to one file, with the per-commit
# time and archive growth at the start and at the end of the run, which
# must stay flat as the history grows.
#
#   bench/commit_bench.sh [JOL] [FILES] [COMMITS]      (defaults 5000, 1000)
#
# Each commit waits for the clock's second to change before it returns
# (so that a file edited right after it gets a new time stamp); wall times
# therefore sit near one second, and the CPU time (user + system) is the
# figure that shows the cost of the work itself.
set -u
jol=${1:-build/jol}
jol=$(cd "$(dirname "$jol")" && pwd)/$(basename "$jol")
NFILES=${2:-5000}
NCOMMITS=${3:-1000}

# Commits are refused to the super-user: run as a plain user.
if [ "$(id -u)" -eq 0 ]; then
    user=${JOL_BENCH_USER:-joltest}
    id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$user"
    dir=$(mktemp -d /tmp/jol-bench-bin.XXXXXX)
    cp "$jol" "$dir/jol"
    cp "$0" "$dir/commit_bench.sh"
    chmod 755 "$dir" "$dir/jol" "$dir/commit_bench.sh"
    status=0
    setpriv --reuid="$user" --regid="$user" --init-groups env HOME=/tmp \
        bash "$dir/commit_bench.sh" "$dir/jol" "$NFILES" "$NCOMMITS" || status=$?
    rm -rf "$dir"
    exit $status
fi

work=$(mktemp -d /tmp/jol-commit-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export JOLROOT=$work/repo
cd "$work" || exit 1

# run.py CMD...: runs one command and prints "work wall cpu" in seconds:
# start to its last "done" line (the work itself), start to exit, and the
# command's own CPU time (user + system).
cat >"$work/run.py" <<'EOF'
import resource, subprocess, sys, time
t0 = time.monotonic()
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
last = None
for line in p.stdout:
    if line == b"done\n":
        last = time.monotonic()
rc = p.wait()
wall = time.monotonic() - t0
ru = resource.getrusage(resource.RUSAGE_CHILDREN)
if rc != 0 or last is None:
    sys.exit("failed: %s" % " ".join(sys.argv[1:]))
print("%.6f %.6f %.6f" % (last - t0, wall, ru.ru_utime + ru.ru_stime))
EOF
# commit_timed ARGS...: "jol commit ARGS"; sets $work_s, $wall_s, $cpu_s.
commit_timed() {
    read -r work_s wall_s cpu_s < <(python3 "$work/run.py" "$jol" commit "$@") || exit 1
    [ -n "${cpu_s:-}" ] || exit 1
}

"$jol" -Q init || exit 1

# (1) 50 modified files in a module of NFILES files (100 per directory).
mkdir "$JOLROOT/big"
"$jol" -Q checkout big >/dev/null || exit 1
cd big
dirs=$(( (NFILES + 99) / 100 ))
for d in $(seq -w 1 "$dirs"); do
    mkdir "d$d"
    for f in $(seq -w 1 100); do
        printf 'file %s/%s\nline two\nline three\n' "$d" "$f" >"d$d/f$f.txt"
    done
done
"$jol" -Q add d* >/dev/null 2>&1
(for d in d*; do printf '%s\n' "$d"/*; done) | xargs "$jol" -Q add >/dev/null 2>&1
commit_timed -m "first"
echo "initial commit of $(find . -name '*.txt' | wc -l) files: work ${work_s} s, wall ${wall_s} s, cpu ${cpu_s} s"
# Every 100th file, 50 in all, spread over the directories.
changed=$(find . -name '*.txt' | sort | awk 'NR % 100 == 1' | head -50)
for f in $changed; do echo "changed" >>"$f"; done
commit_timed -m "fifty"
echo "commit of $(echo "$changed" | wc -l) modified files in $NFILES: work ${work_s} s, wall ${wall_s} s, cpu ${cpu_s} s"
t0=$EPOCHREALTIME
"$jol" -Q commit -m "nothing" >/dev/null 2>&1
echo "commit with nothing modified in $NFILES: wall $(awk -v a="$EPOCHREALTIME" -v b="$t0" 'BEGIN { printf "%.3f", a - b }') s"
cd "$work"

# (2) NCOMMITS successive commits to one 200-line file, reported in ten
# batches: mean work time, wall time and CPU per commit, bytes added to
# the archive per commit.
mkdir "$JOLROOT/one"
"$jol" -Q checkout one >/dev/null || exit 1
cd one
seq 200 | sed 's/^/line /' >f.txt
"$jol" -Q add f.txt >/dev/null 2>&1
"$jol" -Q commit -m "start" >/dev/null 2>&1 || exit 1
archive=$JOLROOT/one/f.txt,v
batch=$(( NCOMMITS >= 10 ? NCOMMITS / 10 : 1 ))
echo "commits to one file: $NCOMMITS, in batches of $batch"
printf '%-12s %10s %10s %10s %14s\n' commits "work ms" "wall ms" "cpu ms" "bytes/commit"
i=0
while [ $i -lt "$NCOMMITS" ]; do
    first=$((i + 1)) size0=$(stat -c %s "$archive") wsum=0 tsum=0 csum=0 k=0
    while [ $k -lt $batch ] && [ $i -lt "$NCOMMITS" ]; do
        i=$((i + 1)) k=$((k + 1))
        sed -i "$(( (i % 200) + 1 ))s/.*/line changed in commit $i/" f.txt
        commit_timed -m "commit $i" f.txt
        wsum=$(awk -v a="$wsum" -v b="$work_s" 'BEGIN { print a + b }')
        tsum=$(awk -v a="$tsum" -v b="$wall_s" 'BEGIN { print a + b }')
        csum=$(awk -v a="$csum" -v b="$cpu_s" 'BEGIN { print a + b }')
    done
    awk -v r="$first..$i" -v w="$wsum" -v t="$tsum" -v c="$csum" -v k=$k \
        -v g=$(( $(stat -c %s "$archive") - size0 )) \
        'BEGIN { printf "%-12s %10.2f %10.1f %10.2f %14.1f\n", r, 1000 * w / k, 1000 * t / k, 1000 * c / k, g / k }'
done
echo "archive size after $NCOMMITS commits: $(stat -c %s "$archive") bytes"
