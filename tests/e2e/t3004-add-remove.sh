#!/bin/bash
# add and remove: new directories, files added and removed before and after
# commit, refusals, and resurrection of a file from the Attic.
. "$(dirname "$0")/lib.sh"

new_project proj

# A new directory goes into the repository at once.
mkdir lib
jol add lib
expect_status 0
expect_stdout <<EOF
Directory $REPO/proj/lib added to the repository
EOF
check "directory exists in the repository" test -d "$REPO/proj/lib"
check "directory has its own JOL" test -f lib/JOL/Entries

# Files are scheduled, then committed.
printf 'one\n' >a.txt
printf 'lib\n' >lib/l.c
jol add a.txt lib/l.c
expect_status 0
expect_stderr_has "scheduling file \`a.txt' for addition"
expect_stderr_has "use 'jol commit' to add these files permanently"
check "added entry is version 0" grep -q '^/a.txt/0/' JOL/Entries
jol add a.txt
expect_status 1
expect_stderr_has "a.txt has already been entered"
jol -Q commit -m first
expect_status 0
check "archive written" test -f "$REPO/proj/a.txt,v"
jol add a.txt
expect_stderr_has "a.txt already exists, with version number 1.1"

# Names that cannot be entries are refused.
jol add JOL
expect_status 1
expect_stderr_has "cannot add special file \`JOL'; skipping"
jol add missing.txt
expect_status 1
expect_stderr_has "nothing known about missing.txt"

# Removing a file that is still there needs -f.
printf 'two\n' >b.txt
jol -Q add b.txt
jol -Q commit -m second b.txt
jol remove b.txt
expect_stderr_has "file \`b.txt' still in working directory"
check "entry untouched" grep -q '^/b.txt/1.1/' JOL/Entries
jol remove -f b.txt
expect_status 0
expect_stderr_has "scheduling \`b.txt' for removal"
check "file deleted" test ! -e b.txt
check "entry marked removed" grep -q '^/b.txt/-1.1/' JOL/Entries

# Removed then re-added before commit: the old revision comes back.
jol add b.txt
expect_status 0
expect_stderr_has "b.txt, version 1.1, resurrected"
check "resurrected contents" sh -c "printf 'two\n' | cmp -s - b.txt"
check "entry live again" grep -q '^/b.txt/1.1/' JOL/Entries

# Added and removed before commit: forgotten without a trace.
printf 'tmp\n' >c.txt
jol -Q add c.txt
rm c.txt
jol remove c.txt
expect_status 0
expect_stderr_has "removed \`c.txt'"
check "no entry left" sh -c "! grep -q '/c.txt/' JOL/Entries"

# A removal committed goes to the Attic.
rm b.txt
jol -Q remove b.txt
jol -Q commit -m "drop b"
expect_status 0
check "archive moved to the Attic" test -f "$REPO/proj/Attic/b.txt,v"
check "no archive left outside" test ! -e "$REPO/proj/b.txt,v"

# Two commits later the file comes back with a new revision on top of the
# dead one, and the archive leaves the Attic.
printf 'three\n' >a.txt
jol -Q commit -m third
printf 'four\n' >a.txt
jol -Q commit -m fourth
printf 'back again\n' >b.txt
jol add b.txt
expect_status 0
expect_stderr_has "re-adding file b.txt (in place of dead revision 1.2)"
jol -Q commit -m "b returns"
expect_status 0
check "archive out of the Attic" test -f "$REPO/proj/b.txt,v"
check "Attic copy gone" test ! -e "$REPO/proj/Attic/b.txt,v"
jol -Q log -h b.txt
expect_stdout_has "head: 1.3"
cd "$SCRATCH"
jol -Q checkout -d fresh proj
check "fresh checkout has the returned file" sh -c "printf 'back again\n' | cmp -s - fresh/b.txt"
check "fresh checkout has the directory" test -f fresh/lib/l.c
finish
