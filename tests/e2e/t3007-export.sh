#!/bin/bash
# export: a release without administrative directories, by tag or date,
# into the module's name or a -d directory, with keyword modes; what it
# refuses, and the history record it leaves.
. "$(dirname "$0")/lib.sh"

new_project mod wc
mkdir sub
printf 'top $''Revision''$\n' >top.txt
printf 'one\n' >sub/s.txt
jol -Q add sub
jol -Q add top.txt sub/s.txt
jol -Q commit -m first
expect_status 0
jol -Q tag rel1
sleep 1
before_second=$(date -u '+%Y-%m-%d %H:%M:%S UTC')
sleep 1
printf 'two\n' >sub/s.txt
jol -Q rm -f top.txt
jol -Q commit -m second
expect_status 0
cd "$SCRATCH"
: >"$REPO/JOLROOT/history"

# A tag or a date is required, and the tag must be symbolic.
jol export mod
expect_status 1
expect_stderr <<'X'
jol [export aborted]: must specify a tag or date
X
jol export -r 1.1 mod
expect_status 1
expect_stderr <<'X'
jol [export aborted]: tag `1.1' must be a symbolic tag
X
# -p, -c and -j are checkout's own.
jol export -p -r rel1 mod
expect_status 1
expect_stderr_has "Usage: jol export [-NRfln]"

# By tag: the tagged revisions, keywords expanded, no JOL anywhere.
jol export -r rel1 mod
expect_status 0
expect_stdout <<'X'
U mod/top.txt
U mod/sub/s.txt
X
check "tagged content" grep -qx one mod/sub/s.txt
check "keyword expanded" grep -qxF 'top $Revision: 1.1 $' mod/top.txt
check "no administrative directories" test -z "$(find mod -name JOL)"
check "history records the export" grep -q "^E[0-9a-f]*|$JOL_TEST_USER|[^|]*|mod|rel1|mod\$" "$REPO/JOLROOT/history"

# By date, into another name, with a keyword mode: the removed file is
# there as of a date before its removal and gone at the head.
jol -Q export -D "$before_second" -kk -d bydate mod
expect_status 0
check "date export has the file" grep -qxF 'top $Revision$' bydate/top.txt
check "date export content" grep -qx one bydate/sub/s.txt
jol -Q export -D now -d head mod
expect_status 0
check "removed file absent at the head" test ! -e head/top.txt
check "head content" grep -qx two head/sub/s.txt

# Never into a working directory.
jol export -r rel1 -d wc mod
expect_status 1
expect_stderr_has "cannot export into working directory"
check "working copy untouched" grep -qx two wc/sub/s.txt

finish
