#!/bin/bash
# Times the built-in comparison engine (jol-diff) against the system's diff
# on the same inputs, same output style, one after the other:
#   bench/diff_vs_system.sh [build-dir] [runs]
# Prints the median wall time and peak memory of each, and their ratios.
set -eu
build=${1:-build}
runs=${2:-5}
ours=$build/jol-diff
[ -x "$ours" ] || { echo "build $ours first (make build)" >&2; exit 1; }
command -v diff >/dev/null || { echo "the system diff is missing" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Inputs: text lines of a realistic shape from a fixed seed.
python3 - "$work" <<'PY'
import random, sys
d = sys.argv[1]
rng = random.Random(12345)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9)))
         for _ in range(5000)]
def line():
    return '    ' * rng.randint(0, 3) + ' '.join(rng.choice(words) for _ in range(rng.randint(1, 10))) + '\n'
def write(name, lines):
    with open(f'{d}/{name}', 'w') as f:
        f.writelines(lines)
def mutate(lines, fraction):
    out = list(lines)
    for _ in range(max(1, int(len(lines) * fraction))):
        i = rng.randrange(len(out))
        op = rng.random()
        if op < 0.4:
            out[i] = line()
        elif op < 0.7:
            out.insert(i, line())
        else:
            del out[i]
    return out
base = [line() for _ in range(100_000)]
write('p1a', base); write('p1b', mutate(base, 0.01))
write('p30a', base); write('p30b', mutate(base, 0.30))
big = [line() for _ in range(1_000_000)]
write('m1a', big)
big[500_000] = 'the single change\n'
write('m1b', big)
few = ['{\n', '}\n', '\n', 'x = 0;\n', 'return;\n']
pa = [rng.choice(few) for _ in range(100_000)]
write('fewa', pa); write('fewb', mutate(pa, 0.05))
PY

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One measurement: "microseconds kilobytes" of one run of the given command
# (wall time from the shell's clock, peak memory from /usr/bin/time).
measure() {
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$work/time" "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    echo "$(((end - start) / 1000)) $(tail -n 1 "$work/time")"
}

printf '%-34s %10s %10s %7s %10s %10s %7s\n' case "ours s" "system s" ratio "ours MiB" "sys MiB" ratio
for case in "p1 100k lines, 1% changed" "p30 100k lines, 30% changed" \
            "m1 1M lines, one change" "few 100k lines of 5 kinds"; do
    key=${case%% *}
    label=${case#* }
    for style in "" "-u"; do
        : >"$work/ours" >"$work/sys"
        for _ in $(seq "$runs"); do
            measure "$ours" $style "$work/${key}a" "$work/${key}b" >>"$work/ours"
            measure diff $style "$work/${key}a" "$work/${key}b" >>"$work/sys"
        done
        ot=$(cut -d' ' -f1 "$work/ours" | median); st=$(cut -d' ' -f1 "$work/sys" | median)
        om=$(cut -d' ' -f2 "$work/ours" | median); sm=$(cut -d' ' -f2 "$work/sys" | median)
        awk -v c="$label ${style:-normal}" -v ot="$ot" -v st="$st" -v om="$om" -v sm="$sm" 'BEGIN {
            printf "%-34s %10.4f %10.4f %7.2f %10.1f %10.1f %7.2f\n", c, ot / 1e6, st / 1e6,
                   (st > 0 ? ot / st : 0), om / 1024, sm / 1024, (sm > 0 ? om / sm : 0) }'
    done
done
# Same answers: the two outputs must have the same number of changed lines.
for key in p1 p30 few; do
    a=$("$ours" "$work/${key}a" "$work/${key}b" | grep -c '^[<>]' || true)
    b=$(diff "$work/${key}a" "$work/${key}b" | grep -c '^[<>]' || true)
    echo "$key: changed lines ours $a, system $b"
done
