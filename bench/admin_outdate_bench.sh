#!/bin/bash
# Outdating cost: `admin -o` in several forms on one archive of a long
# trunk (default 2,000 revisions of a 200-line text, three lines changed
# per revision). Each form starts from the same archive; the wall time of
# the whole command is printed, and the kept revisions are checked against
# the generated texts (with GNU co when it is installed).
#
#   bench/admin_outdate_bench.sh [JOL] [REVISIONS]
set -u
jol=${1:-build/jol}
jol=$(cd "$(dirname "$jol")" && pwd)/$(basename "$jol")
N=${2:-2000}
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

work=$(mktemp -d /tmp/jol-admin-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export JOLROOT=$work/repo
cd "$work" || exit 1
"$jol" -Q init || exit 1
mkdir -p repo/proj texts

# The archive, and the text of every revision in texts/REV.
"$PY" - "$N" repo/proj/f.txt,v texts <<'PY'
import sys
n, path, textdir = int(sys.argv[1]), sys.argv[2], sys.argv[3]
lines = ["line %03d of the generated text, long enough to look like code;\n" % i for i in range(200)]
texts = []
changes = []  # changes[k]: (position, old line) for the step from k+1 to k+2
for k in range(n):
    texts.append(list(lines))
    step = []
    for j in range(3):
        p = (k * 37 + j * 71) % 200
        if p in [q for q, _ in step]:
            continue
        step.append((p, lines[p]))
        lines[p] = "revision %d changed line %d @ here\n" % (k + 2, p)
    changes.append(sorted(step))
def esc(s):
    return s.replace("@", "@@")
out = ["head\t1.%d;\naccess;\nsymbols;\nlocks; strict;\ncomment\t@# @;\n\n" % n]
for k in range(n, 0, -1):
    nxt = "1.%d" % (k - 1) if k > 1 else ""
    out.append("\n1.%d\ndate\t2020.01.01.00.00.%02d;\tauthor bench;\tstate Exp;\nbranches;\nnext\t%s;\n" % (k, k % 60, nxt))
out.append("\n\ndesc\n@@\n")
for k in range(n, 0, -1):
    if k == n:
        text = "".join(texts[k - 1])
    else:
        # Reverse script: from revision k+1 back to revision k.
        text = "".join("d%d 1\na%d 1\n%s" % (p + 1, p + 1, old) for p, old in changes[k - 1])
    out.append("\n\n1.%d\nlog\n@revision %d\n@\ntext\n@%s@\n" % (k, k, esc(text)))
open(path, "w").write("".join(out))
for k in (1, 2, n // 2, n - 1, n):
    open("%s/1.%d" % (textdir, k), "w").write("".join(texts[k - 1]))
PY
cp repo/proj/f.txt,v pristine
"$jol" -Q checkout proj >/dev/null 2>&1 || exit 1
cd proj || exit 1

mid=$((N / 2))
status=0
printf '%-22s %8s %s\n' "form" "seconds" "revisions left"
for form in "1.2:1.$((N - 1))" "1.$mid" "1.$mid:" ":1.$mid" "1.1::1.$N" "1.$mid::"; do
    cp -f ../pristine "$JOLROOT/proj/f.txt,v"
    start=$(date +%s.%N)
    "$jol" -Q admin -q -o "$form" f.txt >/dev/null 2>"$work/err" || {
        echo "admin -o $form failed:" >&2
        cat "$work/err" >&2
        status=1
    }
    end=$(date +%s.%N)
    left=$(grep -c '^1\.[0-9]*$' "$JOLROOT/proj/f.txt,v")
    printf '%-22s %8.3f %s\n' "-o $form" "$(awk "BEGIN { print $end - $start }")" "$((left / 2))"
    if command -v co >/dev/null; then
        for r in 1 2 $mid $((N - 1)) $N; do
            grep -qx "1\.$r" "$JOLROOT/proj/f.txt,v" || continue
            co -q -p -r"1.$r" "$JOLROOT/proj/f.txt,v" | cmp -s - "$work/texts/1.$r" || {
                echo "revision 1.$r changed after -o $form" >&2
                status=1
            }
        done
    fi
done
exit $status
