#!/bin/bash
# A local repository through its life: init, first check-in, edits from
# two working copies, a clean merge, a conflicting merge, log and the
# stored archive.
. "$(dirname "$0")/lib.sh"

REPO=$SCRATCH/repo
export JOLROOT=$REPO
jol init
expect_status 0
mkdir "$REPO/proj"
jol -Q checkout proj
expect_status 0
cd proj
printf 'a\nb\nc\nd\ne\n' >f.txt
jol add f.txt
expect_status 0
jol commit -m first f.txt
expect_status 0
expect_stdout_has "initial revision: 1.1"
printf 'a\nB\nc\nd\ne\n' >f.txt
jol commit -m second
expect_status 0
expect_stdout_has "new revision: 1.2; previous revision: 1.1"
# The old head is kept as a reverse edit script.
check "revision 1.1 stored as an edit script" grep -q '^@d2 1$' "$REPO/proj/f.txt,v"

cd "$SCRATCH"
jol -Q checkout -d other proj
cd other
check "second working copy has the head" sh -c "printf 'a\nB\nc\nd\ne\n' | cmp -s - f.txt"
sed -i 's/^e$/E/' f.txt
jol commit -m third
expect_status 0

# A change on each side in different places merges silently.
cd "$SCRATCH/proj"
sed -i 's/^a$/A/' f.txt
jol update
expect_status 0
expect_stdout_has "Merging differences between 1.2 and 1.3 into f.txt"
expect_stdout_has "M f.txt"
check "clean merge result" sh -c "printf 'A\nB\nc\nd\nE\n' | cmp -s - f.txt"

# Different changes to the same line conflict and leave markers.
sed -i 's/^E$/X/' f.txt
cd "$SCRATCH/other"
sed -i 's/^E$/Y/' f.txt
jol commit -m fourth
expect_status 0
cd "$SCRATCH/proj"
jol update
expect_stderr_has "rcsmerge: warning: conflicts during merge"
expect_stdout_has "C f.txt"
check "conflict block" sh -c "printf 'A\nB\nc\nd\n<<<<<<< f.txt\nX\n=======\nY\n>>>>>>> 1.4\n' | cmp -s - f.txt"

# Every stored revision still rebuilds.
cd "$SCRATCH/other"
for rev in 1.1 1.2 1.3 1.4; do
    jol -Q update -p -r $rev f.txt
    expect_status 0
done
jol -Q update -p -r 1.1 f.txt
expect_stdout <<'T'
a
b
c
d
e
T
jol log f.txt
expect_stdout_has "total revisions: 4;	selected revisions: 4"
expect_stdout_has "fourth"
finish
