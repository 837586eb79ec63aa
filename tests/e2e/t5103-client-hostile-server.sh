#!/bin/bash
# A hostile server, played by a script (fake_server.py as JOL_SERVER over
# :fork:): names that climb out of the working tree or into its
# administrative files, file names that are empty or "JOL", programs and
# module expansions that name directories outside the tree, a merged file
# whose digest is wrong, files lying where the client keeps its temporary
# files, and roots whose host name would hand options to the remote shell.
# Every violation must end the client with an error and leave the working
# copy, its neighbour and the repository exactly as they were.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots"
FAKE=$(cd "$(dirname "$0")" && pwd)/fake_server.py

REPO=$SCRATCH/repo
jol -Q -d "$REPO" init
expect_status 0
mkdir "$REPO/proj"
AREA=$SCRATCH/area
mkdir -p "$AREA"
cd "$AREA" || exit 1
JOL_SERVER=$JOL jol -Q -d ":fork:$REPO" checkout proj
expect_status 0
cd proj || exit 1
printf 'one\ntwo\n' >f.txt
mkdir sub
printf 'in sub\n' >sub/s.txt
JOL_SERVER=$JOL jol -Q add f.txt sub
JOL_SERVER=$JOL jol -Q add sub/s.txt
JOL_SERVER=$JOL jol -Q commit -m first
expect_status 0
# A neighbouring working copy with a local secret the server must never
# see or touch.
cd "$AREA" || exit 1
JOL_SERVER=$JOL jol -Q -d ":fork:$REPO" checkout -d outside proj
expect_status 0
echo 'SECRET-LINE' >>outside/f.txt
cd "$AREA/proj" || exit 1

LOG=$SCRATCH/fake.log
listing() { tree_listing "$AREA"; tree_listing "$REPO"; }

# play SCRIPT-FILE ARGS...: run the client against the scripted server.
play() {
    local script=$1
    shift
    : >"$LOG"
    rm -f "$LOG.step"
    JOL_SERVER=$FAKE FAKE_SERVER_SCRIPT=$script FAKE_SERVER_LOG=$LOG jol "$@"
}

# refused DESC MESSAGE ARGS... (the session in $S): the command fails with
# MESSAGE on standard error and nothing on disk changes.
S=$SCRATCH/session
refused() {
    local desc=$1 message=$2
    shift 2
    local before
    before=$(listing)
    play "$S" "$@"
    expect_status 1
    expect_stderr_has "$message"
    check "$desc: nothing written" test "$before" = "$(listing)"
}

# updated PATHNAME REPOSITORY-LINE NAME: an "Updated" response whose entry
# names NAME, with six bytes of data.
updated() {
    printf '> update\nUpdated %s\n%s\n/%s/1.2///\nu=rw,g=r,o=r\n6\nhello\nok\n' "$1" "$2" "$3"
}

# One checker for every pathname and file name the server sends.
updated ../outside/ "$REPO/proj/f.txt" f.txt >"$S"
refused "pathname climbing out" "unsafe pathname \`../outside/'" update
updated "sub/../../outside/" "$REPO/proj/f.txt" f.txt >"$S"
refused "\"..\" inside a pathname" "unsafe pathname" update
updated "$AREA/outside/" "$REPO/proj/f.txt" f.txt >"$S"
refused "absolute pathname" "unsafe pathname" update
updated "sub//" "$REPO/proj/sub/s.txt" s.txt >"$S"
refused "empty component" "unsafe pathname" update
updated "sub/./" "$REPO/proj/sub/s.txt" s.txt >"$S"
refused "\".\" component" "unsafe pathname" update
updated JOL/ "$REPO/proj/Entries" Entries >"$S"
refused "into the administrative directory" "rename the directory and try again" update
updated sub/JOL/ "$REPO/proj/sub/Entries" Entries >"$S"
refused "into a subdirectory's administrative directory" "rename the directory and try again" update
updated ./ "$REPO/proj/JOL" JOL >"$S"
refused "a file named JOL" "unsafe file name \`JOL'" update
updated ./ "$REPO/proj/" "" >"$S"
refused "an empty file name" "unsafe file name \`'" update
updated ./ "$REPO/proj/.." ".." >"$S"
refused "a file named .." "unsafe file name" update
printf '> update\nRcs-diff ../outside/\n%s\n/f.txt/1.2///\nu=rw,g=r,o=r\n0\nok\n' \
    "$REPO/proj/f.txt" >"$S"
refused "a diff outside" "unsafe pathname" update
printf '> update\nMerged JOL/\n%s\n/Entries/1.2///\nu=rw,g=r,o=r\n6\nhello\nok\n' \
    "$REPO/proj/Entries" >"$S"
refused "a merge into JOL" "rename the directory and try again" update
printf '> update\nRemoved ../outside/\n%s\nok\n' "$REPO/proj/f.txt" >"$S"
refused "a removal outside" "unsafe pathname" update
printf '> update\nRemove-entry JOL/\n%s\nok\n' "$REPO/proj/Entries" >"$S"
refused "an entry removed from JOL" "rename the directory and try again" update
printf '> update\nCopy-file ./\n%s\n../outside/f.txt\nok\n' "$REPO/proj/f.txt" >"$S"
refused "a copy outside" "Copy-file tried to specify directory" update
printf '> update\nCopy-file ./\n%s\nJOL\nok\n' "$REPO/proj/f.txt" >"$S"
refused "a copy onto JOL" "Copy-file tried to specify directory" update
printf '> update\nSet-sticky ../outside/\n%s/\nTbranch\nok\n' "$REPO/proj" >"$S"
refused "a sticky tag outside" "unsafe pathname" update
printf '> update\nSet-static-directory JOL/\n%s/\nok\n' "$REPO/proj" >"$S"
refused "a static mark in JOL" "rename the directory and try again" update
printf '> update\nSet-checkin-prog ../outside\n/bin/evil\nok\n' >"$S"
refused "a check-in program outside" "unsafe pathname \`../outside'" update
printf '> update\nSet-update-prog sub/JOL\n/bin/evil\nok\n' >"$S"
refused "an update program in JOL" "unsafe pathname" update
printf '> update\nSet-update-prog /tmp\n/bin/evil\nok\n' >"$S"
refused "an update program at an absolute path" "unsafe pathname" update

# A pathname with a leading "./" is the same directory as without.
updated ./sub/ "$REPO/proj/sub/s.txt" s.txt >"$S"
play "$S" -Q update
expect_status 0
check "a leading ./ is accepted" test "$(cat sub/s.txt)" = hello
JOL_SERVER=$JOL jol -Q update -C sub/s.txt
expect_status 0

# A module expansion that names a directory outside the tree: the client
# must not send the files it finds there.
mkdir -p "$AREA/co"
cd "$AREA/co" || exit 1
for where in ../outside "$AREA/outside" ../outside/f.txt; do
    printf '> expand-modules\nModule-expansion %s\nok\n> co\nok\n' "$where" >"$S"
    refused "module expansion $where" "unsafe pathname" -d ":fork:$REPO" checkout proj
    check "module expansion $where: nothing from outside sent" \
        sh -c "! grep -q SECRET-LINE '$LOG'"
done
cd "$AREA/proj" || exit 1

# A merged file whose digest is wrong never replaces the working file.
printf 'local\n' >f.txt
sleep 1
{
    printf '> update\nChecksum 0123456789abcdef0123456789abcdef\n'
    printf 'Merged ./\n%s\n/f.txt/1.1///\nu=rw,g=r,o=r\n6\nmerge\nok\n' "$REPO/proj/f.txt"
} >"$S"
refused "merged file with a wrong digest" "checksum failure on ./f.txt" update
check "no temporary file left" sh -c "! ls -a | grep -q '^\\.new\\.'"
# The same digest, right this time: the file is replaced.
sum=$(printf 'merge\n' | md5sum | cut -c1-32)
{
    printf '> update\nChecksum %s\n' "$sum"
    printf 'Merged ./\n%s\n/f.txt/1.1///\nu=rw,g=r,o=r\n6\nmerge\nok\n' "$REPO/proj/f.txt"
} >"$S"
play "$S" update
expect_status 0
check "merged file with the right digest" test "$(cat f.txt)" = merge
# A patch whose result has the wrong digest leaves the file for a refetch,
# which brings it whole.
printf 'one\ntwo\n' >f.txt
{
    printf '> update\nChecksum 0123456789abcdef0123456789abcdef\n'
    printf 'Rcs-diff ./\n%s\n/f.txt/1.2///\nu=rw,g=r,o=r\n14\nd2 1\na2 1\nTWO\nok\n' \
        "$REPO/proj/f.txt"
    printf '> update\nUpdated ./\n%s\n/f.txt/1.2///\nu=rw,g=r,o=r\n8\none\nTWO\nok\n' \
        "$REPO/proj/f.txt"
} >"$S"
play "$S" update
expect_status 0
expect_stderr_has "checksum failure after patch to ./f.txt; will refetch"
expect_stdout_has "client: refetching unpatchable files"
check "refetched file" test "$(cat f.txt)" = "$(printf 'one\nTWO\n')"
JOL_SERVER=$JOL jol -Q update -C f.txt
expect_status 0

# Files that lie where the client puts its temporary files stay as they
# were: the new copy of a received file, and the converted copy of a
# file being sent.
echo 'mine' >.new.f.txt
echo 'mine too' >f.txt.JOLBFCTMP
before=$(tree_listing . | grep -e '\.new\.f\.txt' -e 'JOLBFCTMP')
updated ./ "$REPO/proj/f.txt" f.txt >"$S"
play "$S" -Q update
expect_status 0
check "received file written" test "$(cat f.txt)" = hello
printf '> update\nRcs-diff ./\n%s\n/f.txt/1.3///\nu=rw,g=r,o=r\n16\nd1 1\na1 1\nHELLO\nok\n' \
    "$REPO/proj/f.txt" >"$S"
play "$S" -Q update
expect_status 0
check "patched file written" test "$(cat f.txt)" = HELLO
echo changed >f.txt
printf '> ci\nok\n' >"$S"
play "$S" -Q commit -m x f.txt
expect_status 0
check "sent file reached the server" grep -qx changed "$LOG"
check "files named like the temporary files untouched" \
    test "$before" = "$(tree_listing . | grep -e '\.new\.f\.txt' -e 'JOLBFCTMP')"
rm -f .new.f.txt f.txt.JOLBFCTMP

# A host name that begins with "-" would reach the remote shell as an
# option: refused for every network method, from -d and from JOL/Root.
cat >"$SCRATCH/fake-rsh" <<'SH'
#!/bin/sh
printf '%s\n' "$@" >"$ARGS_FILE"
exit 1
SH
chmod +x "$SCRATCH/fake-rsh"
export JOL_RSH=$SCRATCH/fake-rsh ARGS_FILE=$SCRATCH/rsh-args
for root in ":ext:-oProxyCommand=touch $SCRATCH/pwned:/r" "-oProxyCommand=x:/r" \
    ":ext:user@-x:/r" ":pserver:-x:/r" ":gserver:-x:/r" ":server:-x:/r"; do
    jol -d "$root" version
    expect_status 1
    expect_stderr_has "bad hostname in JOLROOT: $root"
done
cp JOL/Root "$SCRATCH/Root.saved"
echo ":ext:-oProxyCommand=touch $SCRATCH/pwned:$REPO" >JOL/Root
jol update
expect_status 1
expect_stderr_has "bad hostname in JOLROOT"
check "remote shell never started" test ! -e "$SCRATCH/rsh-args"
check "no command run" test ! -e "$SCRATCH/pwned"
cp "$SCRATCH/Root.saved" JOL/Root
unset JOL_RSH ARGS_FILE

finish
