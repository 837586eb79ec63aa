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

jol annotate -x
expect_status 1
expect_stderr_has "Usage: jol annotate [-lRf] [-r rev|-D date] [files...]"
finish
