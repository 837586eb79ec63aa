#!/bin/bash
# The repository's commit hooks: a refusing commitinfo leaves repository
# and working copy as they were; loginfo reads the change on standard
# input and its file list in one argument; verifymsg rejects a message;
# file names holding quotes, "$(...)" and ";" reach every hook as plain
# text and never run anything.
GRAMMAR="python3 $(cd "$(dirname "$0")" && pwd)/archive_grammar.py"
. "$(dirname "$0")/lib.sh"

REPO=$SCRATCH/repo
export JOLROOT=$REPO
H=$SCRATCH/hooks
mkdir "$H"
jol -Q init
mkdir "$REPO/proj"

# commitinfo: records its arguments, refuses while $H/refuse exists.
cat >"$H/commit.sh" <<EOF
#!/bin/sh
for a in "\$@"; do printf '%s\n' "\$a"; done >"$H/commit.args"
test ! -e "$H/refuse"
EOF
# verifymsg: the message must name a ticket.
cat >"$H/verify.sh" <<EOF
#!/bin/sh
cp "\$1" "$H/verify.msg"
grep -q 'TICKET-[0-9]' "\$1"
EOF
chmod +x "$H/commit.sh" "$H/verify.sh"

jol -Q checkout JOLROOT
expect_status 0
cd JOLROOT
echo "^proj $H/commit.sh" >>commitinfo
echo "^proj $H/verify.sh" >>verifymsg
cat >>loginfo <<EOF
^proj cat >$H/loginfo.in; echo %{sVv} >$H/loginfo.args
EOF
jol commit -m "hooks"
expect_status 0
expect_stdout_has "jol $(served commit): Rebuilding administrative file database"
cd "$SCRATCH"

jol -Q checkout proj
cd proj
printf 'one\n' >a.txt
printf 'two\n' >b.txt
jol -Q add a.txt b.txt
jol -Q commit -m "TICKET-1 first"
expect_status 0
check "commitinfo got the directory and the files" \
    sh -c "printf '%s\n' '$REPO/proj' a.txt b.txt | cmp -s - '$H/commit.args'"

# loginfo: the format on standard input, the list as one argument.
printf 'one\nmore\n' >a.txt
jol -Q commit -m "TICKET-2 second" a.txt
expect_status 0
# A server runs the filter in its own temporary copy of the directory.
in_directory="In directory $(hostname):$SCRATCH/proj"
if remote; then
    in_directory=$(grep "^In directory $(hostname):/" "$H/loginfo.in")
fi
check "loginfo standard input" sh -c "cmp -s - '$H/loginfo.in' <<EOF
Update of $REPO/proj
$in_directory

Modified Files:
	a.txt 
Log Message:
TICKET-2 second
EOF"
check "loginfo argument" sh -c "printf '%s\n' 'proj a.txt,1.1,1.2' | cmp -s - '$H/loginfo.args'"
check "verifymsg saw the message" sh -c "printf 'TICKET-2 second\n' | cmp -s - '$H/verify.msg'"

# A refusing commitinfo: nothing changes, not even a lock is left.
printf 'one\nrefused\n' >a.txt
printf 'two\nrefused\n' >b.txt
cp -a "$REPO/proj" "$SCRATCH/before"
cp JOL/Entries "$SCRATCH/entries.before"
touch "$H/refuse"
jol commit -m "TICKET-3 refused"
expect_status 1
expect_stderr_has "jol $(served commit): Pre-commit check failed"
expect_stderr_has "jol [$(served commit) aborted]: correct above errors first!"
check "repository unchanged after refusal" diff -r "$SCRATCH/before" "$REPO/proj"
check "entries unchanged after refusal" cmp -s "$SCRATCH/entries.before" JOL/Entries
check "loginfo not run for a refused commit" sh -c "! grep -q refused '$H/loginfo.in'"
rm "$H/refuse"

# verifymsg rejects a message without a ticket: nothing is stored.
jol commit -m "no ticket"
expect_status 1
expect_stderr_has "jol [$(served commit) aborted]: Message verification failed"
check "repository unchanged after rejection" diff -r "$SCRATCH/before" "$REPO/proj"
jol -Q commit -m "TICKET-4 accepted"
expect_status 0
check "accepted commit stored a.txt 1.3" grep -qx "head	1.3;" "$REPO/proj/a.txt,v"

# Names with shell syntax reach the hooks as text.
n1="q'uo\"te.txt"
n2='$(touch INJ1).txt'
n3='semi;touch INJ2;.txt'
n4='`touch INJ3`'
for n in "$n1" "$n2" "$n3" "$n4"; do printf 'x\n' >"$n"; done
jol -Q add "$n1" "$n2" "$n3" "$n4"
expect_status 0
jol -Q commit -m 'TICKET-5 $(touch INJ4); odd names'
expect_status 0
check "nothing was run by a name" sh -c "! find '$SCRATCH' -name 'INJ*' | grep -q ."
check "commitinfo got each name as one argument" sh -c '
    for n in "$@"; do grep -qxF -- "$n" "'"$H"'/commit.args" || exit 1; done' sh "$n1" "$n2" "$n3" "$n4"
check "loginfo got the names in its argument" sh -c '
    for n in "$@"; do grep -qF -- " $n,NONE,1.1" "'"$H"'/loginfo.args" || exit 1; done' sh "$n1" "$n2" "$n3" "$n4"
check "loginfo input lists the names" sh -c "grep -qF -- \"\$1\" '$H/loginfo.in'" sh "$n2"
check "verifymsg saw the message as text" grep -qxF 'TICKET-5 $(touch INJ4); odd names' "$H/verify.msg"
for n in "$n1" "$n2" "$n3" "$n4"; do
    check "archive of $n" test -f "$REPO/proj/$n,v"
done
cd "$SCRATCH"

$GRAMMAR --tree "$REPO" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="archive_grammar --tree repo"
expect_status 0
finish
