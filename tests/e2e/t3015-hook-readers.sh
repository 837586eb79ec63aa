#!/bin/bash
# Hook programs that do not behave: loginfo filters that exit without
# reading all of their input never break the commit (the change, the
# rest of the directories and the exit status stand), and a pre-commit
# filter that is missing is reported without a system error text.
. "$(dirname "$0")/lib.sh"

REPO=$SCRATCH/repo
export JOLROOT=$REPO
jol -Q init
mkdir "$REPO/early" "$REPO/partial" "$REPO/gone"

jol -Q checkout JOLROOT
cd JOLROOT
cat >>loginfo <<'EOF2'
^early exit 1
^partial head -n 1 >/dev/null
EOF2
echo '^gone /nonexistent/pre-commit-filter' >>commitinfo
jol -Q commit -m hooks
expect_status 0
cd "$SCRATCH"

mkdir wc
cd wc
jol -Q checkout early partial gone
for d in early partial; do
    printf 'v0\n' >$d/f.txt
    (cd $d && "$JOL" -Q add f.txt)
done
# A message far larger than a pipe holds: the filters are gone long before
# it is written.
yes 'a long log message line that the filters never read' | head -c 300000 >"$SCRATCH/msg"
for i in 1 2 3 4 5 6; do
    printf 'v%s\n' $i >early/f.txt
    printf 'v%s\n' $i >partial/f.txt
    jol -Q commit -F "$SCRATCH/msg" early partial
    expect_status 0
    check "no broken pipe in commit $i" sh -c "! grep -q 'broken pipe' '$ERR'"
done
for d in early partial; do
    jol -Q status $d/f.txt
    expect_stdout_has "Working revision:	1.6"
    check "$d archive holds 1.6" grep -q '^1\.6$' "$REPO/$d/f.txt,v"
done

printf 'x\n' >gone/g.txt
(cd gone && "$JOL" -Q add g.txt)
jol -Q commit -m refused gone
expect_status 1
expect_stderr <<X
jol $(served commit): cannot find pre-commit filter \`/nonexistent/pre-commit-filter'
jol $(served commit): Pre-commit check failed
jol [$(served commit) aborted]: correct above errors first!$ERROR_TAIL
X
check "nothing committed past the missing filter" test ! -e "$REPO/gone/g.txt,v"

finish
