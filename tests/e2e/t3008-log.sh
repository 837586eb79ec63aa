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

# Date ranges on hand-written archives: one from before 2000, whose dates
# have two-digit years, and one with four-digit years. An empty start of a
# range means the beginning of time for both.
# trunk_archive FILE DATE...: revisions 1.1, 1.2, ... with these dates.
trunk_archive() {
    file=$1
    shift
    n=$#
    {
        printf 'head\t1.%s;\naccess;\nsymbols;\nlocks; strict;\ncomment\t@# @;\n\n' "$n"
        i=$n
        for d in $(printf '%s\n' "$@" | tac); do
            next=$([ "$i" -gt 1 ] && echo "1.$((i - 1))")
            printf '\n1.%s\ndate\t%s;\tauthor ann;\tstate Exp;\nbranches;\nnext\t%s;\n' "$i" "$d" "$next"
            i=$((i - 1))
        done
        printf '\n\ndesc\n@@\n'
        printf '\n\n1.%s\nlog\n@r%s\n@\ntext\n@line %s\n@\n' "$n" "$n" "$n"
        for i in $(seq $((n - 1)) -1 1); do
            printf '\n\n1.%s\nlog\n@r%s\n@\ntext\n@d1 1\na1 1\nline %s\n@\n' "$i" "$i" "$i"
        done
    } >"$REPO/m/$file,v"
}
trunk_archive old.c 92.06.16.10.00.00 99.12.31.23.00.00 2003.05.05.00.00.00
trunk_archive new.c 2004.02.02.00.00.00 2006.07.07.00.00.00
jol -Q update
expect_status 0
check "hand-written archive checks out" test "$(cat old.c)" = "line 3"

jol -Q log -d "<1995-01-01 UTC" old.c
check "-d <D: from the beginning, two-digit years" test "$(selected)" = "revision 1.1 "
jol -Q log -d "1995-01-01 UTC>" old.c
check "-d D>: the same range written backwards" test "$(selected)" = "revision 1.1 "
jol -Q log -d "<2000-01-01 UTC" old.c
check "-d <D across the century" test "$(selected)" = "revision 1.2 revision 1.1 "
jol -Q log -d "<" old.c
check "-d < with both ends empty: everything" test "$(selected)" = "revision 1.3 revision 1.2 revision 1.1 "
jol -Q log -d "1/1/1970 UTC<1995-01-01 UTC" old.c
check "-d with the start typed out" test "$(selected)" = "revision 1.1 "
jol -Q log -d "1995-01-01 UTC<" old.c
check "-d D<: to the end of time" test "$(selected)" = "revision 1.3 revision 1.2 "
jol -Q log -d "<2005-01-01 UTC" new.c
check "-d <D: from the beginning, four-digit years" test "$(selected)" = "revision 1.1 "
jol -Q log -d "<" new.c
check "-d < on four-digit years: everything" test "$(selected)" = "revision 1.2 revision 1.1 "

jol log nosuch
expect_status 1
expect_stderr_has "nothing known about nosuch"
finish
