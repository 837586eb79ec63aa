#!/bin/bash
# Two working copies of one repository, each reaching it as a client (over
# :fork:, then over :ext: through a real OpenSSH server): checkout, add
# with a new directory, commit, update with a clean merge and with a
# conflict, status, log, diff, tag, remove, and the files and entries each
# side ends with, compared with what the same steps give locally.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots (:fork: and :ext:)"
. "$(dirname "$0")/ssh_fixture.sh"

export JOL_SERVER=$JOL

# run_workflow ROOT DIR: the whole story against ROOT, in DIR.
run_workflow() {
    local root=$1 top=$2
    mkdir -p "$top"
    cd "$top" || exit 1
    jol -Q -d "$root" checkout -d one proj
    expect_status 0
    cd one
    printf 'alpha\nbeta\ngamma\ndelta\n' >f.txt
    mkdir sub
    printf 'in sub\n' >sub/s.txt
    jol -Q add f.txt sub
    expect_status 0
    jol -Q add sub/s.txt
    expect_status 0
    jol -Q commit -m "first"
    expect_status 0
    check "$root: archive made" test -f "$REPO/proj/f.txt,v"

    cd "$top"
    jol -Q -d "$root" checkout -d two proj
    expect_status 0
    check "$root: second copy has the file" cmp -s one/f.txt two/f.txt
    check "$root: second copy has the subdirectory" test -f two/sub/s.txt

    # A clean merge: each side changes its own line.
    cd "$top/two"
    printf 'alpha\nBETA\ngamma\ndelta\n' >f.txt
    jol -Q commit -m "beta"
    expect_status 0
    cd "$top/one"
    printf 'alpha\nbeta\ngamma\nDELTA\n' >f.txt
    jol -Q update
    expect_status 0
    check "$root: clean merge" sh -c "printf 'alpha\nBETA\ngamma\nDELTA\n' | cmp -s - f.txt"
    jol -Q status f.txt
    expect_stdout_has "Status: Locally Modified"
    jol -Q commit -m "delta"
    expect_status 0

    # A conflict.
    cd "$top/two"
    printf 'alpha\nBETA\ngamma\ndelta two\n' >f.txt
    jol -Q update
    check "$root: conflict markers" grep -q '^<<<<<<< f.txt' f.txt
    jol -Q commit -m "unresolved"
    expect_status 1
    printf 'ALPHA two\nBETA\ngamma\nDELTA\n' >f.txt
    jol -Q commit -m "resolved"
    expect_status 0

    # Tag, log, diff, remove.
    jol -Q tag rel1
    expect_status 0
    jol log -N f.txt
    expect_stdout_has "total revisions: 4;"
    expect_stdout_has "resolved"
    jol diff -r 1.1 -r 1.2 f.txt
    expect_status 1
    expect_stdout_has "> BETA"
    jol -Q rm -f sub/s.txt
    expect_status 0
    jol -Q commit -m "gone"
    expect_status 0
    check "$root: removed into the Attic" test -f "$REPO/proj/sub/Attic/s.txt,v"
    cd "$top/one"
    jol -Q update
    expect_status 0
    check "$root: removal reached the other copy" test ! -e sub/s.txt
    check "$root: both copies agree" cmp -s "$top/one/f.txt" "$top/two/f.txt"
    check "$root: the tag is in the archive" grep -q 'rel1:1.4' "$REPO/proj/f.txt,v"
}

REPO=$SCRATCH/repo
jol -Q -d "$REPO" init
mkdir "$REPO/proj"
run_workflow ":fork:$REPO" "$SCRATCH/fork"

# The same story over a real remote shell, on a fresh repository.
rm -rf "$REPO"
cd "$SCRATCH"
jol -Q -d "$REPO" init
mkdir "$REPO/proj"
start_sshd
run_workflow ":ext:$(id -un)@127.0.0.1:$REPO" "$SCRATCH/ext"

check "no server tree left behind" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
finish
