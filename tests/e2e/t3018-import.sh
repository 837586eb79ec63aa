#!/bin/bash
# import: vendor releases brought in on a vendor branch, locally and over
# :fork:. The first release (report, archives as rlog and co read them,
# checkout on the vendor branch), a local commit that leaves the vendor
# branch, a second release with changes and a conflict, re-imports; then
# the refusals and limits: the repository inside the tree, reserved tags
# and directories, tags never moved, developer branches, links, special
# files, odd names, -n and -d.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "runs its own :fork: checks beside the local ones"

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
    printf 'GIF\0\1\2$Id$\r\n' >logo.bin
    cd - >/dev/null || exit 1
}

# story ROOT TAG-PREFIX: the whole vendor story against ROOT; REPO is the
# repository it reaches.
story() {
    local root=$1 p=$2 dopt=" -d $1"
    cd "$SCRATCH/$p" || exit 1
    make_release1 vendor1
    cd vendor1
    jol -q -d "$root" import -W "*.bin -k 'b'" -m "Release one" mod VENDOR REL1
    expect_status 0
    expect_stdout <<EOF
N mod/README
N mod/logo.bin
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
    check "$p: wrapper's keyword mode" grep -qxF 'expand   @b@;' "$REPO/mod/logo.bin,v"
    check "$p: binary file as imported" co_is "$REPO/mod/logo.bin,v" 1.1.1.1 logo.bin
    check "$p: log message on 1.1.1.1" sh -c "rlog -r1.1.1.1 '$a' | grep -qx 'Release one'"

    cd "$SCRATCH/$p"
    jol -Q -d "$root" checkout -d wc mod
    expect_status 0
    check "$p: checked out on the vendor branch" \
        grep -q '^/main.C/1.1.1.1/' wc/JOL/Entries
    check "$p: checked out text" cmp -s wc/sub/notes.txt vendor1/sub/notes.txt
    check "$p: checked out binary" cmp -s wc/logo.bin vendor1/logo.bin
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
U mod/logo.bin
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

# --- Refusals and limits -------------------------------------------------
REPO=$SCRATCH/repo3
export JOLROOT=$REPO
cd "$SCRATCH" || exit 1
jol -Q init
expect_status 0
F=$SCRATCH/faults
mkdir -p "$F" && cd "$F" || exit 1

# The repository inside the imported tree: refused before anything exists.
mkdir -p "$F/outer/src" && printf 'x\n' >"$F/outer/src/x.c"
jol -Q -d "$F/outer/repo" init
tree_listing "$F/outer/repo" >"$F/before"
cd "$F/outer" || exit 1
# (bounded: a walk into the repository would grow it without end)
timeout 60 "$JOL" -d "$F/outer/repo" import -m m mod V R >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="jol import (repository in the tree)"
expect_status 1
expect_stderr <<EOF
jol [import aborted]: attempt to import the repository
EOF
tree_listing "$F/outer/repo" >"$F/after"
check "repository in the tree: nothing written" cmp -s "$F/before" "$F/after"
cd "$F/outer/repo" || exit 1
jol -d "$F/outer/repo" import -m m mod V R
expect_stderr_has "attempt to import the repository"
cd "$F/outer" || exit 1
timeout 60 "$JOL" -d ":fork:$F/outer/repo" import -m m mod V R >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="jol import over :fork: (repository in the tree)"
expect_status 1
expect_stderr_has "attempt to import the repository"
tree_listing "$F/outer/repo" >"$F/after"
check "repository in the tree, :fork:: nothing written" cmp -s "$F/before" "$F/after"

# Reserved tags and bad module names, before anything is written.
mkdir -p "$F/v" && cd "$F/v" && printf 'one\n' >f.txt
tree_listing "$REPO" >"$F/before"
for args in "mod HEAD R" "mod V BASE" "JOLROOT/x V R" "./x V R" "/x V R" "V2 V2b V2b"; do
    # shellcheck disable=SC2086
    jol import -m m $args
    expect_status 1
done
jol import -m m "" V R
expect_status 1
expect_stderr <<'EOF'
jol [import aborted]: cannot import into `': not a module directory
EOF
tree_listing "$REPO" >"$F/after"
check "bad arguments: nothing written" cmp -s "$F/before" "$F/after"
jol import -m m mod HEAD R
expect_stderr <<'EOF'
jol [import aborted]: tag `HEAD' is reserved and cannot be used for import
EOF

jol import -b 1.1 -m m mod V R
expect_stderr <<'EOF'
jol [import aborted]: Only branches with two dots are supported: 1.1
EOF
jol import -b 1.1.x -m m mod V R
expect_stderr <<'EOF'
jol [import aborted]: 1.1.x is not a numeric branch
EOF

# -n: the report, and nothing written anywhere.
tree_listing "$REPO" >"$F/before"
tree_listing "$TMPDIR" >"$F/tmp-before"
jol -n -q import -m m mod V R
expect_status 0
expect_stdout <<EOF
N mod/f.txt

No conflicts created by this import

EOF
tree_listing "$REPO" >"$F/after"
tree_listing "$TMPDIR" >"$F/tmp-after"
check "-n: repository unchanged" cmp -s "$F/before" "$F/after"
check "-n: temporary directory unchanged" cmp -s "$F/tmp-before" "$F/tmp-after"
jol -n -q -d ":fork:$REPO" import -m m mod V R
expect_status 0
expect_stdout <<EOF
N mod/f.txt

No conflicts created by this import

EOF
tree_listing "$REPO" >"$F/after"
check "-n over :fork:: repository unchanged" cmp -s "$F/before" "$F/after"

# Release tags never move; the vendor tag never changes branch.
jol -q import -m m mod V R1
expect_status 0
printf 'two\n' >f.txt
jol -q import -m m mod V R1
expect_status 0
expect_stdout <<EOF
C mod/f.txt

1 conflicts created by this import.
Use the following command to help the merge:

	jol checkout -jV:yesterday -jV mod

EOF
expect_stderr <<EOF
jol import: WARNING: Couldn't add tag R1 to $REPO/mod/f.txt,v
EOF
check "R1 stays on the first release" rlog_has "$REPO/mod/f.txt,v" $'\tR1: 1.1.1.1'
cp "$REPO/mod/f.txt,v" "$F/before,v"
jol -q import -b 1.1.3 -m m mod V R9
expect_status 1
expect_stderr <<EOF
jol import: ERROR: Failed to set tag V in $REPO/mod/f.txt,v
EOF
check "vendor tag of another branch: archive unchanged" cmp -s "$REPO/mod/f.txt,v" "$F/before,v"

# -b naming a developer's branch.
cd "$F" && jol -Q checkout -d wc mod && cd wc || exit 1
printf 'trunk\n' >dev.txt
jol -Q add dev.txt
jol -Q commit -m add dev.txt
jol -Q tag -b devbr dev.txt
expect_status 0
cp -f "$REPO/mod/dev.txt,v" "$F/before,v"
mkdir -p "$F/v3" && cd "$F/v3" && printf 'vendor\n' >dev.txt
jol -q import -b 1.1.2 -m m mod V2 R2
expect_status 1
expect_stderr <<EOF
jol import: ERROR: branch 1.1.2 of $REPO/mod/dev.txt,v is the developer branch devbr; not imported
EOF
check "developer branch: archive unchanged" cmp -s "$REPO/mod/dev.txt,v" "$F/before,v"

# Reserved directories, links, special files, names with line ends.
mkdir -p "$F/v4/Attic" "$F/v4/JOL" && cd "$F/v4" || exit 1
printf 'a\n' >Attic/a.txt
printf 'j\n' >JOL/j.txt
printf 'k\n' >keep.txt
ln -s keep.txt link.txt
ln -s /etc/passwd outside
mkfifo pipe
printf 'n\n' >"$(printf 'new\nline')"
printf 'r\n' >"$(printf 'car\rriage')"
timeout 20 "$JOL" -q import -I ! -m m four V R >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="jol import (links, special files)"
expect_status 1
expect_stdout <<EOF
N four/keep.txt
L four/link.txt
L four/outside

No conflicts created by this import

EOF
expect_stderr <<'EOF'
jol import: ERROR: cannot import directory four/Attic: the name Attic is reserved
jol import: ERROR: cannot import directory four/JOL: the name JOL is reserved
jol import: ERROR: cannot import four/car\rriage: its name holds a newline or carriage return
jol import: ERROR: cannot import four/new\nline: its name holds a newline or carriage return
jol import: ERROR: four/pipe is not a regular file; not imported
EOF
check "only the regular file imported" test "$(ls -A "$REPO/four")" = "keep.txt,v"

# Odd names import and check out byte for byte, locally and over :fork:.
odd_names() {
    printf '%s\n' 'sp ace.txt' 'ha#sh' 'dol$lar.c' 'at@sign' 'semi;colon' "$(printf 'bin\377\376')"
}
for root in "$REPO" ":fork:$REPO"; do
    m=odd${#root}
    rm -rf "$F/v5" && mkdir -p "$F/v5" && cd "$F/v5" || exit 1
    odd_names | while IFS= read -r n; do printf 'content of %s\n' "$n" >"$n"; done
    jol -q -d "$root" import -m m "$m" V R
    expect_status 0
    cd "$F" && rm -rf "co-$m" && jol -Q -d "$root" checkout -d "co-$m" "$m"
    expect_status 0
    check "$root: odd names byte-identical" diff -r -x JOL "$F/v5" "$F/co-$m"
done

# -d: dates follow the files, never backwards.
mkdir -p "$F/v6" && cd "$F/v6" && printf 'one\n' >d.txt
touch -d '2020-01-02 03:04:05 UTC' d.txt
jol -q import -d -m m dated V R1
expect_status 0
check "-d: revision dated by the file" \
    sh -c "rlog -r1.1.1.1 '$REPO/dated/d.txt,v' | grep -q '^date: 2020/01/02 03:04:05;'"
printf 'two\n' >d.txt
touch -d '2010-01-01 00:00:00 UTC' d.txt
jol -q import -d -m m dated V R2
expect_status 0
check "-d: never before the predecessor" \
    sh -c "rlog -r1.1.1.2 '$REPO/dated/d.txt,v' | grep -q '^date: 2020/01/02 03:04:06;'"
expect_stderr_has "d.txt is older than revision 1.1.1.1"

# -k, -b and the loginfo filters, which get the report.
cd "$SCRATCH" && jol -Q checkout JOLROOT && cd JOLROOT || exit 1
echo "ALL (echo %s; cat) >>$F/loginfo.out" >>loginfo
jol -Q commit -m "log imports" loginfo
expect_status 0
mkdir -p "$F/v8" && cd "$F/v8" && printf 'k\n' >k.txt
jol -q import -k o -b 1.1.3 -m "kept mode" kmod KV KR1 KR2
expect_status 0
check "-k: archive's mode" grep -qxF 'expand   @o@;' "$REPO/kmod/k.txt,v"
check "-b: vendor branch" rlog_has "$REPO/kmod/k.txt,v" "branch: 1.1.3"
check "-b: release tag" rlog_has "$REPO/kmod/k.txt,v" $'\tKR2: 1.1.3.1'
check "loginfo: imported sources" grep -qxF 'kmod - Imported sources' "$F/loginfo.out"
check "loginfo: tags" sh -c "grep -qxF 'Vendor Tag:	KV' '$F/loginfo.out' &&
    grep -qxF 'Release Tags:	KR1' '$F/loginfo.out' && grep -qxF '		KR2' '$F/loginfo.out'"
check "loginfo: report" grep -qxF 'N kmod/k.txt' "$F/loginfo.out"
check "loginfo: message" grep -qxF 'kept mode' "$F/loginfo.out"

# No setuid or setgid bits reach an archive.
mkdir -p "$F/v7" && cd "$F/v7" && printf '#!/bin/sh\n' >run.sh && chmod 6755 run.sh
jol -q import -m m modes V R
expect_status 0
check "archive mode without set-id bits" test "$(stat -c %a "$REPO/modes/run.sh,v")" = 555

finish
