#!/bin/bash
# annotate: each line of a revision attributed to the revision that
# introduced it, for the head, an older revision and a date, and the -f
# fallback for a tag the file lacks.
. "$(dirname "$0")/lib.sh"

new_project proj
printf 'one\ntwo\nthree\n' >f.txt
jol -Q add f.txt
jol -Q commit -m r1
printf 'one\nTWO\nthree\nfour\n' >f.txt
jol -Q commit -m r2
printf 'zero\none\nTWO\nfour\n' >f.txt
jol -Q commit -m r3
expect_status 0

who=$(id -un | cut -c1-8)
day=$(date -u +%d-%b-%y)
row() { printf '%-12s (%-8s %s): %s\n' "$1" "$who" "$day" "$2"; }

jol annotate f.txt
expect_status 0
expect_stderr <<EOF
Annotations for f.txt
***************
EOF
{ row 1.3 zero; row 1.1 one; row 1.2 TWO; row 1.2 four; } | expect_stdout

jol -Q annotate -r 1.2 f.txt
{ row 1.1 one; row 1.2 TWO; row 1.1 three; row 1.2 four; } | expect_stdout

# A date after every commit selects the head.
jol -Q annotate -D "2100-01-01" f.txt
{ row 1.3 zero; row 1.1 one; row 1.2 TWO; row 1.2 four; } | expect_stdout

# A revision the file lacks: nothing without -f, the head with it.
jol -Q annotate -r 1.7 f.txt
expect_stdout </dev/null
jol -Q annotate -f -r 1.7 f.txt
expect_stdout_has "zero"

# Ten commits later every line still names the commit that wrote it.
for i in 1 2 3 4 5 6 7 8 9 10; do
    echo "line $i" >>f.txt
    jol -Q commit -m "add line $i"
done
jol -Q annotate f.txt
check "line 1 from 1.4" grep -q "^1\.4 .*: line 1$" "$OUT"
check "line 10 from 1.13" grep -q "^1\.13 .*: line 10$" "$OUT"
check "first line still from 1.3" sh -c "head -1 '$OUT' | grep -q '^1\.3 .*: zero$'"

# A hand-written archive whose deltatexts list the whole trunk before the
# branch (1.3, 1.2, 1.1, 1.2.2.1, 1.2.2.2) rather than each branch after
# its branch point: branch revisions annotate and check out all the same.
{
    printf 'head\t1.3;\naccess;\nsymbols;\nlocks; strict;\ncomment\t@# @;\n\n'
    delta() { printf '\n%s\ndate\t%s;\tauthor ann;\tstate Exp;\nbranches%s;\nnext\t%s;\n' "$@"; }
    delta 1.3 2021.01.03.00.00.00 "" 1.2
    delta 1.2 2021.01.02.00.00.00 "$(printf '\n\t1.2.2.1')" 1.1
    delta 1.1 2021.01.01.00.00.00 "" ""
    delta 1.2.2.1 2021.02.01.00.00.00 "" 1.2.2.2
    delta 1.2.2.2 2021.02.02.00.00.00 "" ""
    printf '\n\ndesc\n@@\n'
    text() { printf '\n\n%s\nlog\n@m\n@\ntext\n@%s@\n' "$1" "$2"; }
    text 1.3 "$(printf 'a\nB\nc\n_')"
    text 1.2 "$(printf 'd3 1\n_')"
    text 1.1 "$(printf 'd2 1\na2 1\nb\n_')"
    text 1.2.2.1 "$(printf 'a2 1\nx\n_')"
    text 1.2.2.2 "$(printf 'd1 1\na1 1\nA\n_')"
} | sed 's/_@$/@/' >"$REPO/proj/g.c,v"
arow() { printf '%-12s (ann      %s): %s\n' "$1" "$2" "$3"; }
jol -Q annotate -r 1.2.2.2 g.c
expect_status 0
{ arow 1.2.2.2 02-Feb-21 A; arow 1.2 02-Jan-21 B; arow 1.2.2.1 01-Feb-21 x; } | expect_stdout
jol -Q annotate -r 1.2.2.1 g.c
expect_status 0
{ arow 1.1 01-Jan-21 a; arow 1.2 02-Jan-21 B; arow 1.2.2.1 01-Feb-21 x; } | expect_stdout
jol -Q annotate -r 1.1 g.c
{ arow 1.1 01-Jan-21 a; arow 1.1 01-Jan-21 b; } | expect_stdout
jol -Q annotate g.c
{ arow 1.1 01-Jan-21 a; arow 1.2 02-Jan-21 B; arow 1.3 03-Jan-21 c; } | expect_stdout
for rev in 1.1:a,b 1.2:a,B 1.3:a,B,c 1.2.2.1:a,B,x 1.2.2.2:A,B,x; do
    jol -Q update -p -r "${rev%%:*}" g.c
    check "update -p -r ${rev%%:*} of the reordered archive" \
        test "$(tr '\n' , <"$OUT")" = "${rev#*:},"
done

jol annotate -x
expect_status 1
expect_stderr_has "Usage: jol annotate [-lRf] [-r rev|-D date] [files...]"
finish
