#!/bin/bash
# Module names and definitions never lead outside the repository or the
# working area, alias and reference cycles end with one error, a
# directory link looping back is walked once, and excluding "mod/sub"
# leaves "mod/subway" alone.
. "$(dirname "$0")/lib.sh"

REPO=$SCRATCH/repo
export JOLROOT=$REPO
jol -Q init
mkdir -p "$REPO/proj"
jol -Q checkout proj
cd proj
mkdir sub subway
echo a >a.c
echo s >sub/s.c
echo w >subway/w.c
jol -Q add sub subway
jol -Q add a.c sub/s.c subway/w.c
jol -Q commit -m first
expect_status 0
cd "$SCRATCH"

# Another repository on the same host, reachable by "..".
mkdir -p other/secret
cp "$REPO/proj/a.c,v" other/secret/s.c,v
mkdir -p work/deep
cd work/deep
jol checkout ../other/secret
expect_status 1
expect_stderr_has "cannot find module \`../other/secret' - ignored"
jol checkout proj/../../other/secret
expect_status 1
expect_stderr_has "cannot find module \`proj/../../other/secret' - ignored"
check "nothing checked out from the other repository" test ! -e secret -a ! -e other
jol rtag STOLEN ../other/secret
expect_status 1
expect_stderr_has "cannot find module \`../other/secret' - ignored"
check "other repository's archive untouched" sh -c "! grep -q STOLEN '$SCRATCH/other/secret/s.c,v'"

# Definitions: -d and directories are checked the same way; "&" and "-a"
# cycles of any length are reported once.
cd "$SCRATCH"
jol -Q checkout JOLROOT
cat >>JOLROOT/modules <<EOF
up -d ../../escape proj
abs -d $SCRATCH/abs proj
outside ../other/secret
file proj/../../other/secret/s.c
loop1 -a loop2
loop2 -a loop3
loop3 -a loop1
ref1 &ref2
ref2 &ref1
EOF
(cd JOLROOT && "$JOL" -Q commit -m modules modules) >/dev/null 2>&1
check "modules committed" grep -q '^ref2 &ref1' "$REPO/JOLROOT/modules"
cd work/deep
for m in up abs outside file; do
    jol checkout $m
    expect_status 1
    expect_stderr_has "cannot find module \`$m' - ignored"
done
check "nothing written above the working area" test ! -e "$SCRATCH/escape" -a ! -e "$SCRATCH/abs"
check "nothing checked out here" test ! -e up -a ! -e proj -a ! -e secret
timeout 60 "$JOL" checkout loop1 >"$OUT" 2>"$ERR"
status=$?
expect_status 1
expect_stderr_has "module \`loop1' in modules file contains infinite loop"
check "alias loop reported once" test "$(grep -c 'infinite loop' "$ERR")" -eq 1
timeout 60 "$JOL" checkout ref1 >"$OUT" 2>"$ERR"
status=$?
expect_status 1
expect_stderr_has "module \`ref1' in modules file contains infinite loop"
check "reference loop reported once" test "$(grep -c 'infinite loop' "$ERR")" -eq 1
cd "$SCRATCH"

# A link in the repository that points back to its own directory.
ln -s . "$REPO/proj/sub/loop"
timeout 60 "$JOL" rtag -b LINKED proj >"$OUT" 2>"$ERR"
status=$?
expect_status 0
expect_stderr_has "warning: skipping proj/sub/loop: it leads back into a directory being processed"
check "files below the link tagged" grep -q LINKED "$REPO/proj/sub/s.c,v"
timeout 60 "$JOL" checkout -p proj >"$OUT" 2>"$ERR"
status=$?
expect_status 0
check "checkout -p prints the file once" test "$(grep -c '^s$' "$OUT")" -eq 1
mkdir linked
cd linked
timeout 60 "$JOL" checkout proj >"$OUT" 2>"$ERR"
status=$?
expect_status 0
expect_stderr_has "warning: skipping proj/sub/loop: it leads back into a directory being processed"
check "no working directory made for the link" test ! -e proj/sub/loop
check "files beside the link checked out" test -f proj/sub/s.c
cd proj
timeout 60 "$JOL" update -d >"$OUT" 2>"$ERR"
status=$?
expect_status 0
expect_stderr_has "warning: skipping sub/loop: it leads back into a directory being processed"
cd "$SCRATCH"
rm "$REPO/proj/sub/loop"

# Excluding a directory excludes it and what lies below, nothing more.
mkdir excl
cd excl
jol checkout '!proj/sub' proj
expect_status 0
expect_stderr_has "jol $(served checkout): Ignoring proj/sub"
check "excluded directory left out" test ! -e proj/sub/s.c
check "similar name kept" test -f proj/subway/w.c
finish
