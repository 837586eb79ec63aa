#!/bin/bash
# checkout and update on a local repository: modules with subdirectories,
# -d, -N, -P, sticky tags and dates in JOL/Entries and JOL/Tag, update's
# status letters, -C, -p, and two updates running side by side.
. "$(dirname "$0")/lib.sh"

REPO=$SCRATCH/repo
export JOLROOT=$REPO
jol -Q init
mkdir -p "$REPO/mod"
jol -Q checkout mod
cd mod
mkdir sub sub/deep empty
printf 'top\n' >top.txt
printf 'one\ntwo\nthree\n' >sub/s.txt
printf 'deep\n' >sub/deep/d.txt
# Directories first: a client walks a directory named as an argument whole,
# so files named beside it must already have a directory that is known.
jol -Q add sub sub/deep empty
jol -Q add top.txt sub/s.txt sub/deep/d.txt
jol -Q commit -m first
expect_status 0
jol -Q tag first
first_date=$(date -u '+%Y-%m-%d %H:%M:%S UTC')
sleep 1
printf 'one\nTWO\nthree\n' >sub/s.txt
jol -Q commit -m second
cd "$SCRATCH"

# A module with subdirectories, under another name with -d.
jol checkout -d copy mod
expect_status 0
expect_stdout_has "U copy/top.txt"
expect_stdout_has "U copy/sub/s.txt"
expect_stdout_has "U copy/sub/deep/d.txt"
check "repository recorded" grep -qx mod copy/JOL/Repository
check "subdirectory repository recorded" grep -qx mod/sub/deep copy/sub/deep/JOL/Repository
# (A client may leave the registration in the entries journal.)
check "subdirectories listed" sh -c "cat copy/JOL/Entries* | grep -q '^\(A \)\?D/sub////'"
check "checked-out bytes" sh -c "printf 'one\nTWO\nthree\n' | cmp -s - copy/sub/s.txt"

# -P prunes directories without files; -N keeps the module's path below
# the -d name.
jol -Q checkout -P mod
check "empty directory pruned" test ! -d mod/empty
check "other directories kept" test -f mod/sub/deep/d.txt
rm -rf mod
jol -Q checkout -N -d flat mod/sub/deep
check "-N checkout" test -f flat/mod/sub/deep/d.txt
jol -Q checkout -d short mod/sub/deep
check "-d without -N shortens the path" test -f short/d.txt

# A tag and a date: sticky in Entries and in JOL/Tag.
jol -Q checkout -r first -d tagged mod
check "tagged revision" sh -c "printf 'one\ntwo\nthree\n' | cmp -s - tagged/sub/s.txt"
check "sticky tag in Entries" grep -q '^/s.txt/1.1/[^/]*//Tfirst$' tagged/sub/JOL/Entries
check "sticky tag in JOL/Tag" grep -qx Nfirst tagged/sub/JOL/Tag
# A module whose top holds only directories: the tag lives in them.
mkdir -p "$REPO/deep/only"
jol -Q checkout -d deepwc deep
printf 'x\n' >deepwc/only/x.txt
(cd deepwc && "$JOL" -Q add only/x.txt && "$JOL" -Q commit -m x && "$JOL" -Q tag deeptag) >/dev/null 2>&1
jol checkout -r deeptag -d deeptagged deep
expect_status 0
check "tagged checkout of directories only" test -f deeptagged/only/x.txt
jol -Q checkout -j deeptag -d deepjoined deep
expect_status 0
jol -Q checkout -D "$first_date" -d dated mod
check "dated revision" sh -c "printf 'one\ntwo\nthree\n' | cmp -s - dated/sub/s.txt"
check "sticky date in Entries" grep -q '^/s.txt/1.1/[^/]*//D[0-9.]*$' dated/sub/JOL/Entries
check "sticky date in JOL/Tag" grep -q '^D[0-9.]*$' dated/sub/JOL/Tag
cd tagged
jol -Q update -A
expect_status 0
check "update -A fetched the head" sh -c "printf 'one\nTWO\nthree\n' | cmp -s - sub/s.txt"
check "update -A cleared the entry's tag" grep -q '^/s.txt/1.2/[^/]*//$' sub/JOL/Entries
check "update -A removed JOL/Tag" test ! -e sub/JOL/Tag
cd "$SCRATCH"

# Update's letters: U for a fetched file, M for a local change, ? for a
# stranger, a clean merge, then a conflict (exit 0 the first time, 1 later).
cd copy
printf 'local\n' >>top.txt
printf 'stranger\n' >stranger.txt
cd "$SCRATCH"
jol -Q checkout -d mod2 mod
cd mod2
printf 'one\nTWO\nthree\nfour\n' >sub/s.txt
printf 'deeper\n' >sub/deep/d.txt
jol -Q commit -m third
cd "$SCRATCH/copy"
jol update
expect_status 0
expect_stdout_has "M top.txt"
expect_stdout_has "? stranger.txt"
expect_stdout_has "$FETCHED sub/s.txt"
expect_stdout_has "$FETCHED sub/deep/d.txt"
expect_stderr_has "jol $(served update): Updating sub/deep"

printf 'zero\none\nTWO\nthree\nfour\n' >sub/s.txt
cd "$SCRATCH/mod2"
printf 'one\nTWO\nthree\nFOUR\n' >sub/s.txt
jol -Q commit -m fourth
cd "$SCRATCH/copy"
jol -q update sub/s.txt
expect_status 0
expect_stdout_has "M sub/s.txt"
check "clean merge" sh -c "printf 'zero\none\nTWO\nthree\nFOUR\n' | cmp -s - sub/s.txt"

printf 'zero\none\nTWO\nthree\nFOUR mine\n' >sub/s.txt
cd "$SCRATCH/mod2"
printf 'one\nTWO\nthree\nFOUR theirs\n' >sub/s.txt
jol -Q commit -m fifth
cd "$SCRATCH/copy"
jol update sub/s.txt
expect_status 0
expect_stdout_has "C sub/s.txt"
expect_stderr_has "conflicts found in sub/s.txt"
check "conflict markers" sh -c "grep -qx '<<<<<<< s.txt' sub/s.txt && grep -qx '=======' sub/s.txt && grep -qx '>>>>>>> 1.5' sub/s.txt"
check "backup of the local copy" test -f "sub/.#s.txt.1.4"
jol -q update sub/s.txt
expect_status 1
expect_stdout_has "C sub/s.txt"

# -C throws local changes away, keeping a backup.
jol update -C sub/s.txt
expect_status 0
expect_stdout_has "(Locally modified s.txt moved to .#s.txt.1.5)"
check "clean copy" sh -c "printf 'one\nTWO\nthree\nFOUR theirs\n' | cmp -s - sub/s.txt"

# -p writes a revision to standard output and touches nothing.
before=$(cat JOL/Entries sub/JOL/Entries | md5sum)
jol -Q update -p -r 1.1 sub/s.txt
expect_status 0
expect_stdout <<EOF
one
two
three
EOF
check "working file untouched" sh -c "printf 'one\nTWO\nthree\nFOUR theirs\n' | cmp -s - sub/s.txt"
check "entries untouched" test "$before" = "$(cat JOL/Entries sub/JOL/Entries | md5sum)"

# Two working copies updated at the same time from one repository.
cd "$SCRATCH"
jol -Q checkout -r first -d par1 mod
jol -Q checkout -r first -d par2 mod
( cd par1 && "$JOL" -Q update -A >"$SCRATCH/par1.out" 2>&1; echo $? >"$SCRATCH/par1.rc" ) &
( cd par2 && "$JOL" -Q update -A >"$SCRATCH/par2.out" 2>&1; echo $? >"$SCRATCH/par2.rc" ) &
wait
check "first parallel update succeeded" grep -qx 0 "$SCRATCH/par1.rc"
check "second parallel update succeeded" grep -qx 0 "$SCRATCH/par2.rc"
check "both at the head" sh -c "cmp -s par1/sub/s.txt par2/sub/s.txt && cmp -s par1/sub/s.txt copy/sub/s.txt"

# A file edited in the very second it was fetched must still read as
# modified: a fresh checkout (whose files carry their revisions' dates) and
# an update over an existing entry (whose file carries the time of the
# fetch) both come back only when a change cannot share the recorded stamp.
cd "$SCRATCH"
jol -Q checkout -d fresh1 mod
expect_status 0
printf 'edited at once\n' >fresh1/sub/s.txt
(cd fresh1 && jol -n -q update sub/s.txt)
expect_stdout <<EOF
M sub/s.txt
EOF
jol -Q checkout -d fresh2 mod
(cd fresh2 && printf 'from the second copy\n' >>sub/s.txt && jol -Q commit -m again sub/s.txt)
expect_status 0
(cd fresh1 && "$JOL" -Q update -C sub/s.txt >/dev/null 2>&1 &&
    printf 'edited again at once\n' >>sub/s.txt && jol -n -q update sub/s.txt)
expect_stdout <<EOF
M sub/s.txt
EOF
# The same after a commit, for a file edited long before it (its stamp is
# old) and for one whose keywords the commit expanded (rewritten now).
cd "$SCRATCH/fresh2"
printf 'old edit\n' >>sub/s.txt
touch -d '-1 hour' sub/s.txt
printf '$''Id$\n' >sub/k.txt
jol -Q add sub/k.txt
jol -Q commit -m 'old edit and keywords' sub/s.txt sub/k.txt
expect_status 0
printf 'again\n' >>sub/s.txt
printf 'again\n' >>sub/k.txt
jol -n -q update sub/s.txt sub/k.txt
expect_stdout <<EOF
M sub/s.txt
M sub/k.txt
EOF
finish
