#!/bin/bash
# Hooks and administrative files under hostile input: commit refuses the
# super-user, loginfo gets file names and user variables as plain text,
# an unreadable commitinfo stops the commit, checkoutlist stays inside
# JOLROOT and treats its message as text, mkmodules keeps a backup.

# Run first, while still the super-user (lib.sh then drops privileges).
if [ "$(id -u)" -eq 0 ] && [ -z "${JOL_AS_ROOT:-}" ]; then
    rootdir=$(mktemp -d)
    (
        cd "$rootdir" || exit 1
        export JOLROOT=$rootdir/repo HOME=$rootdir
        "$JOL" -Q init && mkdir repo/proj && "$JOL" -Q checkout proj || exit 1
        cd proj && echo x >f && "$JOL" -Q add f || exit 1
        "$JOL" commit -m m f >out 2>err
        rc=$?
        [ "$rc" -eq 1 ] && grep -qxF "jol [commit aborted]: cannot commit files as 'root'" err &&
            [ ! -e "$rootdir/repo/proj/f,v" ]
    )
    rc=$?
    rm -rf "$rootdir"
    if [ "$rc" -ne 0 ]; then
        echo "FAIL: commit as the super-user was not refused" >&2
        exit 1
    fi
fi
. "$(dirname "$0")/lib.sh"

REPO=$SCRATCH/repo
export JOLROOT=$REPO
jol -Q init
mkdir "$REPO/proj"
jol -Q checkout JOLROOT
expect_status 0

# loginfo: the directory and file list reach the shell as one quoted word,
# and so does a user variable's value.
cat >>JOLROOT/loginfo <<EOF
ALL cat >/dev/null; echo %s >>$SCRATCH/log.out
ALL cat >/dev/null; echo \${=V} >>$SCRATCH/var.out
EOF
cd JOLROOT
jol commit -m "log everything" loginfo
expect_status 0
expect_stdout_has "jol $(served commit): Rebuilding administrative file database"
check "loginfo rebuilt" grep -q 'log.out' "$REPO/JOLROOT/loginfo"
# The old copy stays beside the new one: the name never goes missing.
check "backup of the old loginfo kept" test -f "$REPO/JOLROOT/.#loginfo"
check "backup is the old text" sh -c "! grep -q log.out '$REPO/JOLROOT/.#loginfo'"
cd "$SCRATCH"

jol -Q checkout proj
cd proj
name="a';touch INJ;'b.c"
echo hello >"$name"
jol -Q add "$name"
jol -s "V=x';touch INJ2;'y" -Q commit -m first
expect_status 0
check "file name not run by the shell" test ! -e INJ -a ! -e "$SCRATCH/INJ"
check "variable not run by the shell" test ! -e INJ2 -a ! -e "$SCRATCH/INJ2"
check "loginfo saw the name as text" grep -qxF "proj $name" "$SCRATCH/log.out"
check "loginfo saw the variable as text" grep -qxF "x';touch INJ2;'y" "$SCRATCH/var.out"

# An existing commitinfo that cannot be read fails the commit closed.
echo more >>"$name"
chmod 000 "$REPO/JOLROOT/commitinfo"
jol commit -m second
expect_status 1
expect_stderr_has "cannot open $REPO/JOLROOT/commitinfo"
expect_stderr_has "Pre-commit check failed"
check "nothing committed" sh -c "! grep -q '^1.2$' \"\$1\"" sh "$REPO/proj/$name,v"
chmod 444 "$REPO/JOLROOT/commitinfo"
jol -Q commit -m second
expect_status 0
check "committed once readable" grep -q '^1.2$' "$REPO/proj/$name,v"

# A tag cache that cannot be rewritten does not fail a good update.
jol -Q tag T1
rm -f "$REPO/JOLROOT/val-tags"
chmod a-w "$REPO/JOLROOT"
jol -Q update -r T1
expect_status 0
expect_stderr_has "cannot write $REPO/JOLROOT/val-tags"
chmod u+w "$REPO/JOLROOT"
check "sticky tag set" grep -q '/TT1$' JOL/Entries
jol -Q update -A
cd "$SCRATCH"

# checkoutlist: a name leaving JOLROOT is skipped even when an archive
# waits there; a failure message is text with one "%s" for the name.
cp "$REPO/JOLROOT/loginfo,v" "$SCRATCH/escape,v"
cd JOLROOT
jol -Q update
cat >>checkoutlist <<'EOF'
../../escape should not appear
nofile cannot find %s (%s %d %n)
EOF
jol commit -m list checkoutlist
expect_status 0
expect_stderr_has "warning: ignoring \`../../escape' in checkoutlist"
expect_stderr_has "jol $(served commit): cannot find nofile (%s %d %n)"
check "nothing written outside JOLROOT" test ! -e "$SCRATCH/escape"
finish
