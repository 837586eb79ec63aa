#!/bin/bash
# The workflow benchmark on a tiny history: the generator is deterministic,
# its history replays into a JOL repository (and the reference tools when
# they are installed), and what JOL gives back equals the generated trees
# byte for byte: the head, every tag and the branch before its merge.
BENCH=$(cd "$(dirname "$0")/../../bench" && pwd)
. "$(dirname "$0")/lib.sh"

PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3
WL=$SCRATCH/wl
SIZE="--files 20 --dirs 4 --commits 10"

# tree_sums DIR: "sha256  path" of every file below DIR, administrative
# directories left out, in the generator's manifest format.
tree_sums() {
    (cd "$1" && find . -name JOL -prune -o -type f -print | sed 's|^\./||' | LC_ALL=C sort |
        while IFS= read -r f; do printf '%s  %s\n' "$(sha256sum <"$f" | cut -d' ' -f1)" "$f"; done)
}
same_tree() { tree_sums "$1" | cmp -s - "$2"; }

check "generator runs" "$PY" "$BENCH/workload" --out "$WL" $SIZE
"$PY" "$BENCH/workload" --out "$SCRATCH/wl2" $SIZE 2>/dev/null
check "generator is deterministic" diff -r "$WL" "$SCRATCH/wl2"
"$PY" "$BENCH/workload" --out "$SCRATCH/wl3" $SIZE --seed 99 2>/dev/null
check "another seed gives another history" sh -c "! cmp -s '$WL/history' '$SCRATCH/wl3/history'"
check "generated head matches its manifest" same_tree "$WL/head" "$WL/head.sha256"
check "history has a branch, a merge, binaries and two tags" sh -c "
    grep -q '^branch	BR_FEATURE' '$WL/history' && grep -q '^merge	' '$WL/history' &&
    grep -q '^commit	[0-9]*	branch	' '$WL/history' && grep -q '^addbin	' '$WL/history' &&
    [ \$(grep -c '^tag	' '$WL/history') -eq 2 ]"
check "eleven commits, import included" sh -c "[ \$(grep -c '^commit	\|^merge	' '$WL/history') -eq 11 ]"

# Replay into every tool that is present, with the compare script's own
# checks (fresh checkouts of the head and of each tag).
tools=jol
command -v svn >/dev/null && command -v svnadmin >/dev/null && tools=$tools,svn
command -v git >/dev/null && tools=$tools,git
"$PY" "$BENCH/compare" --replay-only --workload "$WL" --work "$SCRATCH/work" \
    --jol "$JOL" --tools "$tools" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="compare --replay-only --tools $tools"
expect_status 0
expect_stderr_has "jol: head matches the generated tree"
expect_stderr_has "jol: tag REL_1 matches the generated tree"
expect_stderr_has "jol: tag REL_2 matches the generated tree"
check "jol merged the branch without conflicts" sh -c "! grep -q 'different from the clean merge' '$ERR'"
case $tools in *svn*) expect_stderr_has "svn: head matches the generated tree" ;; esac
case $tools in *git*) expect_stderr_has "git: head matches the generated tree" ;; esac

# Independent of the compare script: check the replayed JOL repository out
# again here.
REPO=$SCRATCH/work/jol-repo
jol -d "$REPO" -Q checkout -d head proj
expect_status 0
check "checked-out head equals the generated final tree" same_tree head "$WL/head.sha256"
check "binary file kept byte for byte" sh -c "
    f=\$(grep '^addbin' '$WL/history' | head -1 | cut -f2); cmp -s 'head/'\$f '$WL/head/'\$f"
for t in REL_1 REL_2; do
    rm -rf tagged
    cp -a head tagged
    (cd tagged && "$JOL" -Q update -r "$t" >/dev/null 2>&1)
    check "update -r $t gives the tagged tree" same_tree tagged "$WL/tags/$t.sha256"
done
# The branch as it was before the merge.
rm -rf br
cp -a head br
(cd br && "$JOL" -Q update -r BR_FEATURE >/dev/null 2>&1)
check "branch head equals the generated branch tree" same_tree br "$WL/branch.sha256"
# A checkout straight at a tag.
jol -d "$REPO" -Q checkout -r REL_1 -d old proj
expect_status 0
check "checkout -r REL_1 equals the tagged tree" same_tree old "$WL/tags/REL_1.sha256"
# The hottest file has one trunk revision per generated trunk change.
hot=$(sed -n 's/^hot_file=//p' "$WL/info")
revs=$(sed -n 's/^hot_file_revisions=//p' "$WL/info")
cd head
jol log "$hot"
expect_status 0
expect_stdout_has "head: 1.$revs"
finish
