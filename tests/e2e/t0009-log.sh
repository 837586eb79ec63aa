#!/bin/bash
# log: the header and revision blocks of an archive with a branch, tags and
# a dead head, pinned byte for byte, and the selection options.
. "$(dirname "$0")/lib.sh"

new_project m w
printf 'a\nb\n' >f
jol -Q add f
jol -Q commit -m "first line"
printf 'a\nB\nc\n' >f
jol -Q commit -m "second
two lines"
jol -Q tag rel f
jol -Q tag -b br f
jol -Q update -r br
printf 'a\nB\nc\nbranch\n' >f
jol -Q commit -m "on the branch"
jol -Q update -A
rm f
jol -Q remove f
jol -Q commit -m gone
expect_status 0

dates() { sed -E 's|^date: [0-9]{4}/[0-9]{2}/[0-9]{2} [0-9:]{8};|date: DATE;|' "$OUT"; }
who=$(id -un)

jol log f
expect_status 0
dates >"$SCRATCH/log.out"
OUT=$SCRATCH/log.out expect_stdout <<EOF

RCS file: $REPO/m/Attic/f,v
Working file: f
head: 1.3
branch:
locks: strict
access list:
symbolic names:
	br: 1.2.0.2
	rel: 1.2
keyword substitution: kv
total revisions: 4;	selected revisions: 4
description:
----------------------------
revision 1.3
date: DATE;  author: $who;  state: dead;  lines: +0 -0
gone
----------------------------
revision 1.2
date: DATE;  author: $who;  state: Exp;  lines: +2 -1
branches:  1.2.2;
second
two lines
----------------------------
revision 1.1
date: DATE;  author: $who;  state: Exp;
first line
----------------------------
revision 1.2.2.1
date: DATE;  author: $who;  state: Exp;  lines: +1 -0
on the branch
=============================================================================
EOF

# -h: the header only; -N: no tags; -R: the archive name only.
jol -Q log -h -N f
expect_stdout <<EOF

RCS file: $REPO/m/Attic/f,v
Working file: f
head: 1.3
branch:
locks: strict
access list:
keyword substitution: kv
total revisions: 4
=============================================================================
EOF
jol -Q log -R f
expect_stdout <<EOF
$REPO/m/Attic/f,v
EOF

# Selections: one revision, a range, a branch by its tag, states, authors.
selected() { grep '^revision ' "$OUT" | tr '\n' ' '; }
jol -Q log -r1.2 f
check "-r1.2" test "$(selected)" = "revision 1.2 "
jol -Q log -r1.1:1.2 f
check "-r1.1:1.2" test "$(selected)" = "revision 1.2 revision 1.1 "
jol -Q log -rbr. f
check "-rbr. selects the branch head" test "$(selected)" = "revision 1.2.2.1 "
jol -Q log -rrel: f
check "-rrel: runs to the end of the trunk" test "$(selected)" = "revision 1.3 revision 1.2 "
jol -Q log -sdead f
check "-sdead" test "$(selected)" = "revision 1.3 "
jol -Q log -wnobody f
check "-w of an unknown author selects nothing" test -z "$(selected)"
jol -Q log -w f
check "-w alone selects my revisions" test "$(grep -c '^revision ' "$OUT")" = 4
jol -Q log -b f
check "-b: only the trunk" test "$(selected)" = "revision 1.3 revision 1.2 revision 1.1 "
jol -Q log -d ">2100-01-01" f
check "-d after every revision selects nothing" test -z "$(selected)"
jol -Q log -d "2100-01-01" f
check "-d single date: the latest before it" test "$(selected)" = "revision 1.3 "
jol -Q log -t f
expect_stdout_has "description:"
check "-t prints no revisions" test -z "$(selected)"

jol log nosuch
expect_status 1
expect_stderr_has "nothing known about nosuch"
finish
