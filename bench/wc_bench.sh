#!/bin/bash
# Times checkout of a module of many small files, update of the unchanged
# working copy, status, and a commit of 50 modified files in it:
#   bench/wc_bench.sh [jol] [files]
# Commits are refused to the super-user: run it as an ordinary user.
set -eu
jol=$(readlink -f "${1:-build/jol}")
files=${2:-5000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export JOLROOT=$work/repo
cd "$work"
"$jol" -Q init
mkdir "$JOLROOT/big"
"$jol" -Q checkout big
cd big
python3 - "$files" <<'PY'
import os, random, sys
rng = random.Random(7)
n = int(sys.argv[1])
for i in range(n):
    d = f"d{i % 50:02d}"
    os.makedirs(d, exist_ok=True)
    with open(f"{d}/f{i:05d}.c", "w") as f:
        for j in range(rng.randint(20, 200)):
            f.write(f"line {j} of file {i}: {rng.random():.6f}\n")
PY
"$jol" -Q add d?? >/dev/null 2>&1
"$jol" -Q add d??/*.c >/dev/null 2>&1
t() { local s=$(date +%s.%N); "$@" >/dev/null 2>&1; local e=$(date +%s.%N); awk -v s="$s" -v e="$e" 'BEGIN { printf "%.2f", e - s }'; }
printf 'initial commit of %d files: %ss\n' "$files" "$(t "$jol" -Q commit -m initial)"
cd "$work"
printf 'checkout of %d files: %ss\n' "$files" "$(t "$jol" -Q checkout -d copy big)"
cd copy
printf 'update of the unchanged copy: %ss\n' "$(t "$jol" -Q update)"
printf 'status of the unchanged copy: %ss\n' "$(t "$jol" -Q status)"
for f in $(ls d0?/*.c | head -50); do echo "change" >>"$f"; done
printf 'commit of 50 modified files: %ss\n' "$(t "$jol" -Q commit -m fifty)"
cd "$work"
printf 'tar x of the same tree: %ss\n' "$(tar cf tree.tar -C copy . && t tar xf tree.tar -C "$(mkdir -p untar && echo untar)")"
