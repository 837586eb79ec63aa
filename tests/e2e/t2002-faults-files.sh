#!/bin/bash
# Working files and entries are never lost or corrupted: names that cannot
# be entries, an entry that could not be recorded, a removal committed over
# a re-created file, a commit killed while writing a new archive, a join
# over an unversioned file, a modified file whose revision died, and the
# two letters of a nonmergeable merge.
. "$(dirname "$0")/lib.sh"

new_project proj
printf 'one\n' >f.txt
printf 'keep\n' >g.txt
jol -Q add f.txt g.txt
jol -Q commit -m first
expect_status 0

# A name with a newline would split its entry line in two.
nl_name=$(printf 'a\nb')
printf 'x\n' >"$nl_name"
cp JOL/Entries "$SCRATCH/entries.before"
jol add "$nl_name"
expect_status 1
expect_stderr_has "cannot add special file"
check "entries unchanged" cmp -s JOL/Entries "$SCRATCH/entries.before"
check "no journal line" test ! -s JOL/Entries.Log
rm -f "$nl_name"
# ...and so would an archive of that name in the repository.
cp "$REPO/proj/f.txt,v" "$REPO/proj/$nl_name,v"
jol -Q update
expect_status 0
check "no entry for the odd archive" sh -c "! grep -q '^/a\$' JOL/Entries && ! grep -q '^b/' JOL/Entries"
rm -f "$REPO/proj/$nl_name,v"

# An entry naming the parent directory is not followed out of the copy.
echo 'D/..////' >>JOL/Entries
jol update
expect_status 0
expect_stderr_has "warning: ignoring entry with invalid name \`..'"
check "parent not walked" sh -c "! grep -q 'Updating \\.\\.' '$ERR'"

# An entry that cannot be recorded fails the command.
rm f.txt
chmod a-w JOL
jol -Q update f.txt
expect_status 1
expect_stderr_has "cannot open JOL/Entries.Log"
chmod u+w JOL
check "file fetched nevertheless" test -f f.txt
jol -Q update
expect_status 0

# Committing a removal leaves a re-created file of that name alone.
rm g.txt
jol -Q remove g.txt
printf 'new contents\n' >g.txt
jol commit -m "drop g"
expect_status 0
expect_stdout_has "Removing g.txt;"
check "re-created file kept" sh -c "printf 'new contents\n' | cmp -s - g.txt"
check "archive in the Attic" test -f "$REPO/proj/Attic/g.txt,v"
check "no entry left" sh -c "! grep -q '/g.txt/' JOL/Entries"
rm g.txt

# A commit killed half way leaves an archive that is whole (never a cut
# copy with part of the text), and the add can be committed again. The
# working file is a pipe so that the kill lands while it is being read.
mkfifo big.txt
jol -Q add big.txt
expect_status 0
"$JOL" -Q commit -m big big.txt >"$SCRATCH/kill.out" 2>&1 &
pid=$!
# Opened for reading and writing, the pipe neither blocks this script when
# jol is slow to open it nor breaks it (SIGPIPE) when jol closes it early.
exec 3<>big.txt
printf 'partial\n' >&3
sleep 1
kill -9 $pid
wait $pid 2>/dev/null
exec 3>&-
check "no partial text in the archive" sh -c "! grep -q partial '$REPO/proj/big.txt,v' 2>/dev/null"
# The dead process's directory lock stays behind; clear it by hand.
rm -rf "$REPO/proj/,big.txt," "$REPO/proj/#jol.lock" "$REPO/proj"/\#jol.wfl.* big.txt
printf 'whole\n' >big.txt
jol -Q commit -m big big.txt
expect_status 0
jol -Q update -p big.txt
expect_stdout <<'EOF'
whole
EOF

# A join does not overwrite an unversioned file of the same name.
jol -Q tag -b br
cd "$SCRATCH"
jol -Q checkout -r br -d branch proj
cd branch
printf 'from the branch\n' >new.txt
jol -Q add new.txt
jol -Q commit -m "new on br"
expect_status 0
cd "$SCRATCH/proj"
printf 'mine\n' >new.txt
jol update -j br
expect_status 1
# A client names the file by the directory the server gave ("./").
if remote; then
    expect_stderr_has "move away ./new.txt; it is in the way"
else
    expect_stderr_has "move away new.txt; it is in the way"
fi
expect_stdout_has "C new.txt"
check "unversioned file kept" sh -c "printf 'mine\n' | cmp -s - new.txt"
rm new.txt
jol -Q update -j br new.txt
expect_status 0
check "joined file fetched once out of the way" sh -c "printf 'from the branch\n' | cmp -s - new.txt"
check "joined file scheduled for addition" grep -q '^/new.txt/0/' JOL/Entries

# A modified file whose revision died is a conflict, not a merge; an
# unmodified one is dropped.
cd "$SCRATCH"
jol -Q checkout -d two proj
cd two
printf 'keep\n' >h.txt
jol -Q add h.txt
jol -Q commit -m h
cd "$SCRATCH/proj"
jol -Q update
printf 'local edit\n' >>f.txt
cd "$SCRATCH/two"
jol -Q remove -f f.txt h.txt
jol -Q commit -m "drop f and h"
cd "$SCRATCH/proj"
jol update
expect_status 1
expect_stderr_has "conflict: f.txt is modified but no longer in the repository"
expect_stdout_has "C f.txt"
expect_stderr_has "warning: h.txt is not (any longer) pertinent"
check "modified file kept" sh -c "printf 'one\nlocal edit\n' | cmp -s - f.txt"
check "unmodified file dropped" test ! -e h.txt

# A nonmergeable file is fetched ("U") and then reported in conflict ("C").
cd "$SCRATCH/proj"
printf 'bin1\n' >img.bin
jol -Q add -kb img.bin
jol -Q commit -m img img.bin
cd "$SCRATCH/two"
jol -Q update
printf 'bin2\n' >img.bin
jol -Q commit -m img2
cd "$SCRATCH/proj"
printf 'bin3\n' >img.bin
jol update img.bin
expect_status 0
expect_stdout <<'EOF'
U img.bin
C img.bin
EOF
expect_stderr_has "nonmergeable file needs merge"
check "repository copy in place" sh -c "printf 'bin2\n' | cmp -s - img.bin"
check "local copy kept aside" sh -c "printf 'bin3\n' | cmp -s - .#img.bin.1.1"
finish
