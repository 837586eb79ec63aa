#!/bin/bash
# import: vendor releases brought in on a vendor branch, locally and over
# :fork:. The first release (report, archives as rlog and co read them,
# checkout on the vendor branch), a local commit that leaves the vendor
# branch, a second release with changes and a conflict, re-imports; then
# the refusals and limits: the repository inside the tree, reserved tags
# and directories, tags never moved, developer branches, links, special
# files, odd names, -n and -d.
. "$(dirname "$0")/lib.sh"

export JOL_SERVER=$JOL

# archive_has ARCHIVE WHAT PATTERN: rlog's header of ARCHIVE has a line
# matching PATTERN (a fixed string).
rlog_has() {
    rlog -h "$1" 2>/dev/null | grep -qxF -- "$2"
}

# co_is ARCHIVE REV FILE: the revision as co writes it equals FILE.
co_is() {
    co -q -p"$2" "$1" 2>/dev/null | cmp -s - "$3"
}

make_release1() {
    rm -rf "$1" && mkdir -p "$1/sub" && cd "$1" || exit 1
    printf 'int main(void) { return 0; }\n' >main.C
    printf 'mail me@example.org\n@@ twice @\n' >sub/notes.txt
    printf '.TH TOOL 1\n' >tool.1
    printf 'plain\n' >README
    cd - >/dev/null || exit 1
}

# story ROOT TAG-PREFIX: the whole vendor story against ROOT; REPO is the
# repository it reaches.
story() {
    local root=$1 p=$2 dopt=" -d $1"
    cd "$SCRATCH/$p" || exit 1
    make_release1 vendor1
    cd vendor1
    jol -q -d "$root" import -m "Release one" mod VENDOR REL1
    expect_status 0
    expect_stdout <<EOF
N mod/README
N mod/main.C
N mod/tool.1
N mod/sub/notes.txt

No conflicts created by this import

EOF
    local a=$REPO/mod/main.C,v
    check "$p: head 1.1" rlog_has "$a" "head: 1.1"
    check "$p: default branch 1.1.1" rlog_has "$a" "branch: 1.1.1"
    check "$p: vendor tag" rlog_has "$a" $'\tVENDOR: 1.1.1'
    check "$p: release tag" rlog_has "$a" $'\tREL1: 1.1.1.1'
    check "$p: two revisions" rlog_has "$a" "total revisions: 2"
    check "$p: 1.1 as imported" co_is "$a" 1.1 main.C
    check "$p: 1.1.1.1 as imported" co_is "$a" 1.1.1.1 main.C
    check "$p: @ kept" co_is "$REPO/mod/sub/notes.txt,v" 1.1.1.1 sub/notes.txt
    check "$p: comment leader by extension" grep -qxF 'comment  @ * @;' "$a"
    check "$p: man page leader" grep -qxF 'comment  @.\" @;' "$REPO/mod/tool.1,v"
    check "$p: no extension" grep -qxF 'comment  @# @;' "$REPO/mod/README,v"
    check "$p: log message on 1.1.1.1" sh -c "rlog -r1.1.1.1 '$a' | grep -qx 'Release one'"

    cd "$SCRATCH/$p"
    jol -Q -d "$root" checkout -d wc mod
    expect_status 0
    check "$p: checked out on the vendor branch" \
        grep -q '^/main.C/1.1.1.1/' wc/JOL/Entries
    check "$p: checked out text" cmp -s wc/sub/notes.txt vendor1/sub/notes.txt
    cd wc
    jol -Q status main.C
    expect_stdout_has $'Working revision:\t1.1.1.1'

    # A local change moves the trunk away from the vendor branch.
    printf 'int main(void) { return 1; }\n' >main.C
    jol -Q commit -m "local fix" main.C
    expect_status 0
    check "$p: local commit on the trunk" grep -q '^/main.C/1.2/' JOL/Entries
    check "$p: no default branch after the local commit" rlog_has "$a" "branch:"

    # Release two: main.C changed (a conflict with the local fix),
    # notes.txt changed, README unchanged, a new file.
    cd "$SCRATCH/$p"
    cp -r vendor1 vendor2
    cd vendor2
    printf 'int main(void) { return 2; }\n' >main.C
    printf 'mail me@example.org\nsecond\n' >sub/notes.txt
    printf 'new\n' >NEWS
    jol -q -d "$root" import -m "Release two" mod VENDOR REL2
    expect_status 0
    expect_stdout <<EOF
N mod/NEWS
U mod/README
C mod/main.C
U mod/tool.1
U mod/sub/notes.txt

1 conflicts created by this import.
Use the following command to help the merge:

	jol$dopt checkout -jVENDOR:yesterday -jVENDOR mod

EOF
    check "$p: changed file got 1.1.1.2" co_is "$REPO/mod/sub/notes.txt,v" 1.1.1.2 sub/notes.txt
    check "$p: earlier release intact" co_is "$REPO/mod/sub/notes.txt,v" REL1 "../vendor1/sub/notes.txt"
    check "$p: unchanged file got no revision" rlog_has "$REPO/mod/README,v" "total revisions: 2"
    check "$p: unchanged file tagged" rlog_has "$REPO/mod/README,v" $'\tREL2: 1.1.1.1'
    check "$p: conflict checked in on the vendor branch" co_is "$a" 1.1.1.2 main.C
    check "$p: trunk kept" sh -c "co -q -p '$a' | grep -q 'return 1'"

    # The same release again changes nothing and says nothing odd.
    cp "$a" "$SCRATCH/$p/before,v"
    jol -q -d "$root" import -m "Release two" mod VENDOR REL2
    expect_status 0
    check "$p: idempotent re-import" cmp -s "$a" "$SCRATCH/$p/before,v"
    check "$p: nothing on stderr" test ! -s "$ERR"

    cd "$SCRATCH/$p/wc"
    jol -Q update
    expect_status 0
    check "$p: update brings the changed vendor file" cmp -s sub/notes.txt ../vendor2/sub/notes.txt
    check "$p: update brings the new file" cmp -s NEWS ../vendor2/NEWS
    check "$p: local fix stays" grep -q 'return 1' main.C
}

REPO=$SCRATCH/repo1
jol -Q -d "$REPO" init
mkdir -p "$SCRATCH/local"
story "$REPO" local

REPO=$SCRATCH/repo2
jol -Q -d "$REPO" init
mkdir -p "$SCRATCH/fork"
story ":fork:$REPO" fork

finish
