# The admin checks shared by the local and the client/server scripts.
# Source after lib.sh; then:
#   admin_history          builds $REPO/proj with f.txt (trunk 1.1-1.6, the
#                          branch BR = 1.3.2 with 1.3.2.1-1.3.2.3) and g.txt
#                          (1.1, 1.2), keeps copies of both archives
#   admin_suite DIR SP     runs every check in the working copy DIR; SP is
#                          the prefix of messages about archives ("jol
#                          admin" locally, "jol server" through a server)
# Each check starts from the kept archives. Every archive written is read
# back with GNU rlog and co, which must agree with jol.

ARCH=
GARCH=
KEEP=

admin_history() {
    cd "$SCRATCH" || exit 1
    new_project proj setup
    ARCH=$REPO/proj/f.txt,v
    GARCH=$REPO/proj/g.txt,v
    KEEP=$SCRATCH/keep
    mkdir -p "$KEEP"
    printf 'one\n@at@\n' >f.txt
    printf 'g one\n' >g.txt
    jol -Q add f.txt g.txt
    jol -Q commit -m "first"
    local i
    for i in 2 3 4 5 6; do
        # NUL bytes and a last line without newline along the way.
        case $i in
        2) printf 'one\n@at@ two\nno newline' >f.txt ;;
        4) printf 'one\0nul\n@@\nfour\n' >f.txt ;;
        *) printf 'one\nline %s\n@\n' "$i" >f.txt ;;
        esac
        jol -Q commit -m "change $i" f.txt
        expect_status 0
        if [ "$i" = 3 ]; then
            jol -Q tag -b BR f.txt
            expect_status 0
        fi
    done
    printf 'g two\n' >g.txt
    jol -Q commit -m "g second" g.txt
    jol -Q update -r BR f.txt
    for i in 1 2 3; do
        printf 'one\nbranch %s\n' "$i" >f.txt
        [ "$i" = 2 ] && printf 'branch\0two' >f.txt
        jol -Q commit -m "branch $i" f.txt
        expect_status 0
    done
    jol -Q update -A f.txt
    cp -f "$ARCH" "$KEEP/pristine-f"
    cp "$GARCH" "$KEEP/g.txt,v"
    fresh
    # Every revision's text, as GNU co sees it in the kept archive.
    ALL_REVS="1.6 1.5 1.4 1.3 1.2 1.1 1.3.2.1 1.3.2.2 1.3.2.3"
    for i in $ALL_REVS; do
        co -q -p -ko -r"$i" "$ARCH" >"$KEEP/$i" || fail "co of $i in the kept archive"
    done
    cd "$SCRATCH" || exit 1
}

# fresh: the kept archives become the ones admin_history made again.
fresh() {
    cp -f "$KEEP/pristine-f" "$KEEP/f.txt,v"
    restore
}

restore() {
    cp -f "$KEEP/f.txt,v" "$ARCH"
    cp -f "$KEEP/g.txt,v" "$GARCH"
}

# The revisions rlog lists, in its order, on one line.
revisions() { rlog "$1" | sed -n 's/^revision \([0-9]*\.[0-9.]*\).*/\1/p' | tr '\n' ' ' | sed 's/ $//'; }

# unchanged DESC: both archives byte-identical to the kept ones.
unchanged() {
    check "$1: f.txt,v unchanged" cmp -s "$ARCH" "$KEEP/f.txt,v"
    check "$1: g.txt,v unchanged" cmp -s "$GARCH" "$KEEP/g.txt,v"
}

# texts_kept DESC: every revision rlog still lists checks out, with GNU co
# and with jol, exactly as before.
texts_kept() {
    local r
    check "$1: rlog reads the archive" rlog "$ARCH" >/dev/null 2>&1
    for r in $(revisions "$ARCH"); do
        co -q -p -ko -r"$r" "$ARCH" >"$SCRATCH/co.out" 2>/dev/null
        check "$1: co -p $r as before" cmp -s "$SCRATCH/co.out" "$KEEP/$r"
        "$JOL" -Q update -p -kb -r "$r" f.txt >"$SCRATCH/jol.out" 2>/dev/null
        check "$1: jol's $r as before" cmp -s "$SCRATCH/jol.out" "$KEEP/$r"
    done
}

# outdate RANGE "REMOVED..." "KEPT...": one -o form from the kept archive.
outdate() {
    local range=$1 removed=$2 kept=$3 r
    restore
    jol admin -o "$range" f.txt
    expect_status 0
    {
        echo "RCS file: $ARCH"
        for r in $removed; do echo "deleting revision $r"; done
        echo "done"
    } | expect_stdout
    expect_stderr </dev/null
    check "-o $range: revisions left ($(revisions "$ARCH"))" test "$(revisions "$ARCH")" = "$kept"
    texts_kept "-o $range"
}

# refused DESC: the last run failed on f.txt and left both archives alone.
refused() {
    expect_status 1
    unchanged "$1"
}

admin_suite() {
    cd "$1" || exit 1
    local SP=$2 EL=""
    # A failing command ends in an empty line when a server reports it.
    [ "$SP" = "jol server" ] && EL=$'\n'
    local AP="jol admin"

    # -k: a user outside any administrators' group may always do this.
    restore
    jol admin -kb f.txt
    expect_status 0
    printf 'RCS file: %s\ndone\n' "$ARCH" | expect_stdout
    expect_stderr </dev/null
    check "-kb: rlog shows mode b" sh -c "rlog -h '$ARCH' | grep -qx 'keyword substitution: b'"
    texts_kept "-kb"
    jol admin -q -kb f.txt
    expect_status 0
    expect_stdout </dev/null
    expect_stderr </dev/null
    # With no file named, the whole directory, announced.
    jol admin -kkv
    expect_status 0
    printf 'RCS file: %s\ndone\nRCS file: %s\ndone\n' "$ARCH" "$GARCH" | expect_stdout
    printf '%s: Administrating .\n' "$SP" | expect_stderr

    # -l and -u, default and on a branch.
    restore
    jol admin -l f.txt
    expect_status 0
    printf 'RCS file: %s\ndone\n' "$ARCH" | expect_stdout
    printf '1.6 locked\n' | expect_stderr
    check "-l: rlog shows the lock" sh -c "rlog -h '$ARCH' | grep -q \"joltest: 1.6\""
    jol admin -u f.txt
    expect_status 0
    printf '1.6 unlocked\n' | expect_stderr
    check "-u: no lock left" sh -c "! rlog -h '$ARCH' | grep -q 'joltest:'"
    jol admin -l1.3.2 f.txt
    expect_status 0
    printf '1.3.2.3 locked\n' | expect_stderr
    check "-l1.3.2: the branch tip is locked" sh -c "rlog -h '$ARCH' | grep -q 'joltest: 1.3.2.3'"
    texts_kept "-l"

    # A lock held by someone else fails that file only.
    restore
    sed -i 's/^locks; strict;/locks\n\tother:1.6; strict;/' "$ARCH"
    cp "$ARCH" "$SCRATCH/other-locked"
    jol admin -l f.txt g.txt
    expect_status 1
    printf 'RCS file: %s\nRCS file: %s\ndone\n' "$ARCH" "$GARCH" | expect_stdout
    printf '%s: Revision 1.6 of %s is already locked by other\n%s: cannot modify RCS file for `%s'"'"'\n1.2 locked\n%s' \
        "$SP" "$ARCH" "$SP" "$ARCH" "$EL" | expect_stderr
    check "-l over another's lock: archive unchanged" cmp -s "$ARCH" "$SCRATCH/other-locked"
    check "-l: the other file is locked" sh -c "rlog -h '$GARCH' | grep -q 'joltest: 1.2'"

    # -m replaces one log message.
    restore
    jol admin "-m1.2:a new message" f.txt
    expect_status 0
    check "-m: 1.2's message" sh -c "rlog -r1.2 '$ARCH' | grep -qx 'a new message'"
    check "-m: 1.3's message kept" sh -c "rlog -r1.3 '$ARCH' | grep -qx 'change 3'"
    check "-m: the old message is gone" sh -c "! rlog '$ARCH' | grep -qx 'change 2'"
    texts_kept "-m"
    restore
    jol admin -m1.2 f.txt
    refused "-m without a message"
    printf '%s: %s: -m option lacks revision number\n%s: cannot modify RCS file for `%s'"'"'\n%s' \
        "$SP" "$ARCH" "$SP" "$ARCH" "$EL" | expect_stderr
    jol admin -m1.9:x f.txt
    refused "-m of a missing revision"
    expect_stderr_has "$ARCH: no such revision 1.9"

    # -n and -N.
    restore
    jol admin -nREL:1.3 f.txt
    expect_status 0
    check "-n: REL on 1.3" sh -c "rlog -h '$ARCH' | grep -qx '	REL: 1.3'"
    cp -f "$ARCH" "$KEEP/f.txt,v"
    jol admin -nREL:1.4 f.txt
    refused "-n over an existing tag"
    printf 'RCS file: %s\n' "$ARCH" | expect_stdout
    printf '%s: %s: symbolic name REL already bound to 1.3\n%s: cannot modify RCS file for `%s'"'"'\n%s' \
        "$SP" "$ARCH" "$SP" "$ARCH" "$EL" | expect_stderr
    jol admin -nNEW:9.9 f.txt
    refused "-n to a missing revision"
    expect_stderr_has "$ARCH: Symbolic name or revision 9.9 is undefined"
    jol admin -nNEW:1..2 f.txt
    refused "-n to a malformed number"
    jol admin -NREL:1.4 f.txt
    expect_status 0
    check "-N: REL moved to 1.4" sh -c "rlog -h '$ARCH' | grep -qx '	REL: 1.4'"
    jol admin -nHEADREL: f.txt
    expect_status 0
    check "-n tag: the head" sh -c "rlog -h '$ARCH' | grep -qx '	HEADREL: 1.6'"
    jol admin -nREL f.txt
    expect_status 0
    check "-n tag: deleted" sh -c "! rlog -h '$ARCH' | grep -q 'REL: 1.4'"
    jol admin -nBR2:BR f.txt
    expect_status 0
    check "-n to a branch tag" sh -c "rlog -h '$ARCH' | grep -qx '	BR2: 1.3.0.2'"
    jol admin "-nbad tag:1.2" f.txt
    expect_status 1
    expect_stderr_has "tag \`bad tag' has non-visible graphic characters"
    restore

    # -s, and a failing -s that leaves the archive byte-identical.
    jol admin -sStable:1.2 f.txt
    expect_status 0
    check "-s: 1.2 is Stable" sh -c "rlog -r1.2 '$ARCH' | grep -q 'state: Stable;'"
    check "-s: 1.3 still Exp" sh -c "rlog -r1.3 '$ARCH' | grep -q 'state: Exp;'"
    jol admin -sRel f.txt
    expect_status 0
    check "-s: the head by default" sh -c "rlog -r1.6 '$ARCH' | grep -q 'state: Rel;'"
    restore
    jol admin -sRel:1.9 f.txt
    refused "-s of a missing revision"
    printf 'RCS file: %s\n' "$ARCH" | expect_stdout
    printf '%s: %s: can'"'"'t set state of nonexisting revision 1.9\n%s: cannot modify RCS file for `%s'"'"'\n%s' \
        "$SP" "$ARCH" "$SP" "$ARCH" "$EL" | expect_stderr
    jol admin "-sa;b:1.2" f.txt
    refused "-s with a state that is not a word"
    expect_stderr_has "invalid state \`a;b'"
    jol admin "-sin space" f.txt
    refused "-s with a blank"

    # -t in its three forms; a missing file fails before anything.
    jol admin "-t-first line
second line" f.txt
    expect_status 0
    printf 'first line\nsecond line\n' >"$SCRATCH/desc1"
    check "-t-: the description" sh -c "rlog -t '$ARCH' | sed -n '/^description:/,\$p' | sed -n 2,3p | cmp -s - '$SCRATCH/desc1'"
    printf 'from a file\n@ and more\n' >"$SCRATCH/desc"
    jol admin "-t$SCRATCH/desc" f.txt
    expect_status 0
    check "-tfile: the description" sh -c "rlog -t '$ARCH' | sed -n '/^description:/,\$p' | sed -n 2,3p | cmp -s - '$SCRATCH/desc'"
    printf 'from standard input\n' | "$JOL" admin -q -t f.txt
    check "-t: standard input" sh -c "rlog -t '$ARCH' | grep -qx 'from standard input'"
    restore
    jol admin "-t$SCRATCH/no-such-file" f.txt g.txt
    refused "-t with a missing file"
    expect_stdout </dev/null
    printf 'jol [admin aborted]: cannot read %s: No such file or directory\n' "$SCRATCH/no-such-file" | expect_stderr

    # -a, -e, -A.
    jol admin -ajoe,bob f.txt
    expect_status 0
    check "-a: the access list" sh -c "rlog -h '$ARCH' | sed -n '/^access list:/,/^symbolic/p' | grep -c '^	' | grep -qx 2"
    jol admin -ebob f.txt
    expect_status 0
    check "-e name: joe only" sh -c "rlog -h '$ARCH' | sed -n '/^access list:/,/^symbolic/p' | grep -q '	joe' && ! rlog -h '$ARCH' | grep -q '	bob'"
    jol admin "-A$ARCH" g.txt
    expect_status 0
    check "-A: g.txt has joe" sh -c "rlog -h '$GARCH' | sed -n '/^access list:/,/^symbolic/p' | grep -q '	joe'"
    jol admin -e f.txt
    expect_status 0
    check "-e: empty list" sh -c "rlog -h '$ARCH' | grep -qx 'access list:'"
    restore
    jol admin "-ajo;e" f.txt
    refused "-a with a name that is not a word"
    expect_stderr_has "invalid user name \`jo;e'"

    # -b, -c, -L, -U.
    jol admin -b1.3.2 f.txt
    expect_status 0
    check "-b: default branch" sh -c "rlog -h '$ARCH' | grep -qx 'branch: 1.3.2'"
    "$JOL" -Q update -p f.txt >"$SCRATCH/jol.out" 2>/dev/null
    check "-b: the default branch checks out" cmp -s "$SCRATCH/jol.out" "$KEEP/1.3.2.3"
    jol admin -b f.txt
    expect_status 0
    check "-b: cleared" sh -c "rlog -h '$ARCH' | grep -qx 'branch:'"
    jol admin -bBR f.txt
    expect_status 0
    check "-bBR: default branch" sh -c "rlog -h '$ARCH' | grep -qx 'branch: 1.3.2'"
    restore
    jol admin -b1.2 f.txt
    refused "-b with a revision"
    expect_stderr_has "$ARCH: invalid branch number 1.2"
    jol admin -bNOSUCH f.txt
    refused "-b with an unknown name"
    expect_stderr_has "$ARCH: Symbolic name NOSUCH is undefined."
    jol admin "-c// " -U f.txt
    expect_status 0
    check "-c: comment leader" grep -qx 'comment	@// @;' "$ARCH"
    check "-U: no strict locking" sh -c "rlog -h '$ARCH' | grep -qx 'locks:'"
    jol admin -L f.txt
    expect_status 0
    check "-L: strict locking" sh -c "rlog -h '$ARCH' | grep -qx 'locks: strict'"
    texts_kept "-b -c -L -U"

    # Every -o form, on the trunk and on the branch.
    fresh
    outdate 1.4:1.5 "1.5 1.4" "1.6 1.3 1.2 1.1 1.3.2.3 1.3.2.2 1.3.2.1"
    outdate 1.5:1.4 "1.5 1.4" "1.6 1.3 1.2 1.1 1.3.2.3 1.3.2.2 1.3.2.1"
    outdate 1.3::1.6 "1.5 1.4" "1.6 1.3 1.2 1.1 1.3.2.3 1.3.2.2 1.3.2.1"
    outdate 1.4: "1.6 1.5 1.4" "1.3 1.2 1.1 1.3.2.3 1.3.2.2 1.3.2.1"
    outdate 1.4:: "1.6 1.5" "1.4 1.3 1.2 1.1 1.3.2.3 1.3.2.2 1.3.2.1"
    outdate :1.2 "1.2 1.1" "1.6 1.5 1.4 1.3 1.3.2.3 1.3.2.2 1.3.2.1"
    outdate ::1.3 "1.2 1.1" "1.6 1.5 1.4 1.3 1.3.2.3 1.3.2.2 1.3.2.1"
    outdate 1.5 "1.5" "1.6 1.4 1.3 1.2 1.1 1.3.2.3 1.3.2.2 1.3.2.1"
    outdate 1.6 "1.6" "1.5 1.4 1.3 1.2 1.1 1.3.2.3 1.3.2.2 1.3.2.1"
    outdate 1.3.2.1:1.3.2.2 "1.3.2.1 1.3.2.2" "1.6 1.5 1.4 1.3 1.2 1.1 1.3.2.3"
    outdate 1.3.2.1::1.3.2.3 "1.3.2.2" "1.6 1.5 1.4 1.3 1.2 1.1 1.3.2.3 1.3.2.1"
    outdate 1.3.2.2: "1.3.2.2 1.3.2.3" "1.6 1.5 1.4 1.3 1.2 1.1 1.3.2.1"
    outdate 1.3.2.1:: "1.3.2.2 1.3.2.3" "1.6 1.5 1.4 1.3 1.2 1.1 1.3.2.1"
    outdate :1.3.2.2 "1.3.2.1 1.3.2.2" "1.6 1.5 1.4 1.3 1.2 1.1 1.3.2.3"
    outdate ::1.3.2.3 "1.3.2.1 1.3.2.2" "1.6 1.5 1.4 1.3 1.2 1.1 1.3.2.3"
    outdate 1.3.2.1:BR "1.3.2.1 1.3.2.2 1.3.2.3" "1.6 1.5 1.4 1.3 1.2 1.1"
    outdate 1.3.2.2 "1.3.2.2" "1.6 1.5 1.4 1.3 1.2 1.1 1.3.2.3 1.3.2.1"
    # Two neighbours with two colons: nothing between them.
    outdate 1.4::1.5 "" "1.6 1.5 1.4 1.3 1.2 1.1 1.3.2.3 1.3.2.2 1.3.2.1"

    # -o refusals: tags (both forms), branch points, locks, the whole trunk.
    fresh
    jol admin -nREL:1.5 f.txt
    cp -f "$ARCH" "$KEEP/f.txt,v"
    jol admin -o1.4:1.5 f.txt
    refused "-o one colon over a tag"
    printf 'RCS file: %s\n' "$ARCH" | expect_stdout
    printf '%s: cannot remove revision 1.5 because it has tags\n%s: cannot modify RCS file for `%s'"'"'\n%s' \
        "$SP" "$SP" "$ARCH" "$EL" | expect_stderr
    jol admin -o1.4::1.6 f.txt
    refused "-o two colons over a tag"
    expect_stderr_has "cannot remove revision 1.5 because it has tags"
    jol admin -o1.2:1.4 f.txt
    refused "-o over a branch point"
    printf 'RCS file: %s\ndeleting revision 1.4\n' "$ARCH" | expect_stdout
    expect_stderr_has "$ARCH: can't remove branch point 1.3"
    restore
    fresh
    jol admin -q -l1.5 f.txt
    cp -f "$ARCH" "$KEEP/f.txt,v"
    jol admin -o1.5 f.txt
    refused "-o of a locked revision"
    expect_stderr_has "$ARCH: can't remove locked revision 1.5"
    restore
    jol admin -o: f.txt
    refused "-o without revisions"
    expect_stderr_has "no valid revisions specified in \`-o:' option"
    jol admin -o1.9 f.txt
    refused "-o of a missing revision"
    expect_stderr_has "$ARCH: Revision 1.9 doesn't exist."
    jol admin -o1.1: g.txt
    expect_status 1
    expect_stderr_has "attempt to delete all revisions"
    unchanged "-o of every revision"

    fresh

    # Option errors end the command before any archive is touched.
    local hint="jol [admin aborted]: specify jol -H admin for usage information"
    jol admin -i f.txt
    expect_status 1
    printf '%s: the -i option to admin is not supported\n%s: run add or import to create an RCS file\n%s\n' \
        "$AP" "$AP" "$hint" | expect_stderr
    jol admin -x f.txt
    expect_status 1
    printf '%s: the -x option has never done anything useful\n%s: RCS files in JOL always end in ,v\n%s\n' \
        "$AP" "$AP" "$hint" | expect_stderr
    jol admin -b1.3.2 -b f.txt
    expect_status 1
    printf "%s: duplicate 'b' option\n%s\n" "$AP" "$hint" | expect_stderr
    jol admin -ca -cb f.txt
    expect_status 1
    printf "%s: duplicate 'c' option\n%s\n" "$AP" "$hint" | expect_stderr
    jol admin -kb -ko f.txt
    expect_status 1
    printf "%s: duplicate '-k' option\n%s\n" "$AP" "$hint" | expect_stderr
    jol admin -o1.5 -o1.4 f.txt
    expect_status 1
    printf "%s: duplicate '-o' option\n%s\n" "$AP" "$hint" | expect_stderr
    jol admin -t-a -t-b f.txt
    expect_status 1
    printf "%s: duplicate 't' option\n%s\n" "$AP" "$hint" | expect_stderr
    jol admin -L -U f.txt
    expect_status 1
    printf '%s: -U and -L are incompatible\n%s\n' "$AP" "$hint" | expect_stderr
    jol admin -o1.5 f.txt g.txt
    expect_status 1
    printf '%s: while processing more than one file:\njol [admin aborted]: attempt to specify a numeric revision\n' \
        "$AP" | expect_stderr
    jol admin -l1.5 .
    expect_status 1
    expect_stderr_has "attempt to specify a numeric revision"
    unchanged "option errors"
    jol admin -V4 -q -kb g.txt
    expect_status 0
    printf "%s: the \`-V' option is obsolete\n" "$AP" | expect_stderr
    jol admin
    expect_status 1
    expect_stderr_has "Usage: jol admin [options] files..."

    # A file only added is not administered; the others are.
    restore
    printf 'new\n' >new.txt
    jol -Q add new.txt
    jol admin -q -kb new.txt g.txt
    expect_status 1
    printf '%s: cannot admin newly added file `new.txt'"'"'\n%s' "$SP" "$EL" | expect_stderr
    check "the other file got -kb" sh -c "rlog -h '$GARCH' | grep -qx 'keyword substitution: b'"
    jol -Q remove new.txt
    rm -f new.txt
    restore
    cd "$SCRATCH" || exit 1
}
