#!/bin/bash
# history: a journal built by real commands (checkout, commit, update with
# a merge, a conflict and a removal, rtag, export), its times set to known
# values, then every report type and selection, locally and over :fork:;
# a damaged journal, names that would forge fields, -X over a connection,
# -r on records naming paths outside the repository, and a journal that
# cannot be written.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "runs its own :fork: checks beside the local ones"

export JOL_SERVER=$JOL

# retime FILE: the N-th record (from 0) gets the time 2020-09-13 12:26:40
# UTC plus N times ten minutes; the rest of each line is kept.
retime() {
    /usr/bin/python3 - "$1" <<'PY'
import sys
path = sys.argv[1]
lines = open(path, 'rb').read().split(b'\n')
out = []
for i, line in enumerate(lines[:-1]):
    bar = line.index(b'|')
    out.append(line[:1] + b'%08x' % (1600000000 + 600 * i) + line[bar:])
open(path, 'wb').write(b'\n'.join(out) + b'\n')
PY
}

# The story, run from $HOME so that working directories show as "~".
cd "$HOME" || exit 1
REPO=$SCRATCH/repo
export JOLROOT=$REPO
jol -Q init
mkdir "$REPO/proj"
jol -Q checkout proj
cd proj || exit 1
printf 'one\ntwo\nthree\n' >a.txt
mkdir sub
printf 'bee\n' >sub/b.txt
jol -Q add a.txt sub
jol -Q add sub/b.txt
jol -Q commit -m first
printf 'one\ntwo\nthree\nfour\n' >a.txt
jol -Q commit -m second
cd "$HOME" || exit 1
jol -Q checkout -d two proj
cd two || exit 1
printf 'bee\nbuzz\n' >sub/b.txt
jol -Q commit -m buzz
cd "$HOME/proj" || exit 1
jol -Q update
jol -Q rtag REL1 proj
cd "$HOME/two" || exit 1
printf 'ONE\ntwo\nthree\nfour\n' >a.txt
jol -Q commit -m upper
cd "$HOME/proj" || exit 1
printf 'one\ntwo\nthree\nFOUR\n' >a.txt
jol -Q update
jol -Q commit -m merged
cd "$HOME/two" || exit 1
jol -Q update
rm sub/b.txt
jol -Q remove sub/b.txt
jol -Q commit -m gone
cd "$HOME/proj" || exit 1
jol -Q update
cd "$HOME/two" || exit 1
printf 'ONE\nTWO\nthree\nFOUR\n' >a.txt
jol -Q commit -m two
cd "$HOME/proj" || exit 1
printf 'ONE\nzwei\nthree\nFOUR\n' >a.txt
jol -Q update
cd "$HOME" || exit 1
jol -Q export -r REL1 -d exp proj
expect_status 0
retime "$REPO/JOLROOT/history"

check "the journal as written" diff - "$REPO/JOLROOT/history" <<'EOF'
O5f5e1000|joltest|~/*0|proj||proj
A5f5e1258|joltest|~/*0|proj|1.1|a.txt
A5f5e14b0|joltest|~/*0|proj/sub|1.1|b.txt
M5f5e1708|joltest|~/*0|proj|1.2|a.txt
O5f5e1960|joltest|~/two|proj||proj
M5f5e1bb8|joltest|~/two*4|proj/sub|1.2|b.txt
U5f5e1e10|joltest|~/*0|proj/sub|1.2|b.txt
T5f5e2068|joltest|~/proj|A|REL1|proj
M5f5e22c0|joltest|~/two|proj|1.3|a.txt
G5f5e2518|joltest|~/*0|proj|1.3|a.txt
M5f5e2770|joltest|~/*0|proj|1.4|a.txt
U5f5e29c8|joltest|~/two|proj|1.4|a.txt
R5f5e2c20|joltest|~/two*4|proj/sub||b.txt
U5f5e2e78|joltest|~/*0|proj/sub|1.3|b.txt
M5f5e30d0|joltest|~/two|proj|1.5|a.txt
C5f5e3328|joltest|~/*0|proj|1.5|a.txt
E5f5e3580|joltest|~/exp|proj|REL1|proj
EOF

# reports ROOT: every report type and selection on that journal, through ROOT.
reports() {
    local root=$1
    hist() { jol -d "$root" history "$@"; }

    hist
    expect_status 0
    expect_stdout <<'EOF'
O 2020-09-13 13:06 +0000 joltest * =proj= ~/two
EOF
    hist -e -a
    expect_stdout <<'EOF'
O 2020-09-13 12:26 +0000 joltest *        =proj= ~/proj
A 2020-09-13 12:36 +0000 joltest 1.1  a.txt proj     == ~/proj
A 2020-09-13 12:46 +0000 joltest 1.1  b.txt proj/sub == ~/proj/sub
M 2020-09-13 12:56 +0000 joltest 1.2  a.txt proj     == ~/proj
O 2020-09-13 13:06 +0000 joltest *        =proj= ~/two
M 2020-09-13 13:16 +0000 joltest 1.2  b.txt proj/sub == ~/two/sub
U 2020-09-13 13:26 +0000 joltest 1.2  b.txt proj/sub == ~/proj/sub
T 2020-09-13 13:36 +0000 joltest proj [REL1:A]
M 2020-09-13 13:46 +0000 joltest 1.3  a.txt proj     == ~/two
G 2020-09-13 13:56 +0000 joltest 1.3  a.txt proj     == ~/proj
M 2020-09-13 14:06 +0000 joltest 1.4  a.txt proj     == ~/proj
U 2020-09-13 14:16 +0000 joltest 1.4  a.txt proj     == ~/two
R 2020-09-13 14:26 +0000 joltest      b.txt proj/sub == ~/two/sub
U 2020-09-13 14:36 +0000 joltest 1.3  b.txt proj/sub == ~/proj/sub
M 2020-09-13 14:46 +0000 joltest 1.5  a.txt proj     == ~/two
C 2020-09-13 14:56 +0000 joltest 1.5  a.txt proj     == ~/proj
E 2020-09-13 15:06 +0000 joltest [REL1] *        =proj= ~/exp
EOF
    hist -c
    expect_stdout <<'EOF'
A 2020-09-13 12:36 +0000 joltest 1.1 a.txt proj     == ~/proj
M 2020-09-13 12:56 +0000 joltest 1.2 a.txt proj     == ~/proj
M 2020-09-13 13:46 +0000 joltest 1.3 a.txt proj     == ~/two
M 2020-09-13 14:06 +0000 joltest 1.4 a.txt proj     == ~/proj
M 2020-09-13 14:46 +0000 joltest 1.5 a.txt proj     == ~/two
A 2020-09-13 12:46 +0000 joltest 1.1 b.txt proj/sub == ~/proj/sub
M 2020-09-13 13:16 +0000 joltest 1.2 b.txt proj/sub == ~/two/sub
R 2020-09-13 14:26 +0000 joltest     b.txt proj/sub == ~/two/sub
EOF
    hist -c -l
    expect_stdout <<'EOF'
M 2020-09-13 14:46 +0000 joltest 1.5 a.txt proj     == ~/two
R 2020-09-13 14:26 +0000 joltest     b.txt proj/sub == ~/two/sub
EOF
    hist -c -l -w
    expect_stdout <<'EOF'
M 2020-09-13 14:06 +0000 joltest 1.4 a.txt proj     == ~/proj
M 2020-09-13 14:46 +0000 joltest 1.5 a.txt proj     == ~/two
A 2020-09-13 12:46 +0000 joltest 1.1 b.txt proj/sub == ~/proj/sub
R 2020-09-13 14:26 +0000 joltest     b.txt proj/sub == ~/two/sub
EOF
    hist -T -w
    expect_stdout <<'EOF'
T 2020-09-13 13:36 +0000 joltest proj [REL1:A] {~/proj}
EOF
    hist -x UGC
    expect_stdout <<'EOF'
U 2020-09-13 13:26 +0000 joltest 1.2 b.txt proj/sub == ~/proj/sub
G 2020-09-13 13:56 +0000 joltest 1.3 a.txt proj     == ~/proj
U 2020-09-13 14:16 +0000 joltest 1.4 a.txt proj     == ~/two
U 2020-09-13 14:36 +0000 joltest 1.3 b.txt proj/sub == ~/proj/sub
C 2020-09-13 14:56 +0000 joltest 1.5 a.txt proj     == ~/proj
EOF
    hist -m proj
    expect_stdout <<'EOF'
T 2020-09-13 13:36 +0000 joltest proj [REL1:A]
O 2020-09-13 12:26 +0000 joltest * =proj= ~/proj
O 2020-09-13 13:06 +0000 joltest * =proj= ~/two
E 2020-09-13 15:06 +0000 joltest [REL1] * =proj= ~/exp
EOF
    hist -m proj -l
    expect_stdout <<'EOF'
O 2020-09-13 13:06 +0000 joltest * =proj= ~/two
EOF
    hist -e -n proj
    expect_stdout <<'EOF'
O 2020-09-13 12:26 +0000 joltest * =proj= ~/proj
O 2020-09-13 13:06 +0000 joltest * =proj= ~/two
T 2020-09-13 13:36 +0000 joltest proj [REL1:A]
E 2020-09-13 15:06 +0000 joltest [REL1] * =proj= ~/exp
EOF

    # Users, files and repositories.
    hist -e -u nobody
    expect_stdout <<'EOF'
No records selected.
EOF
    hist -x MA -u nobody -u joltest
    expect_stdout <<'EOF'
A 2020-09-13 12:36 +0000 joltest 1.1 a.txt proj     == ~/proj
A 2020-09-13 12:46 +0000 joltest 1.1 b.txt proj/sub == ~/proj/sub
M 2020-09-13 12:56 +0000 joltest 1.2 a.txt proj     == ~/proj
M 2020-09-13 13:16 +0000 joltest 1.2 b.txt proj/sub == ~/two/sub
M 2020-09-13 13:46 +0000 joltest 1.3 a.txt proj     == ~/two
M 2020-09-13 14:06 +0000 joltest 1.4 a.txt proj     == ~/proj
M 2020-09-13 14:46 +0000 joltest 1.5 a.txt proj     == ~/two
EOF
    hist -c -l sub/b -f a.txt
    expect_stdout <<'EOF'
M 2020-09-13 14:46 +0000 joltest 1.5 a.txt proj     == ~/two
R 2020-09-13 14:26 +0000 joltest     b.txt proj/sub == ~/two/sub
EOF
    hist -x UMR -p proj/sub
    expect_stdout <<'EOF'
M 2020-09-13 13:16 +0000 joltest 1.2 b.txt proj/sub == ~/two/sub
U 2020-09-13 13:26 +0000 joltest 1.2 b.txt proj/sub == ~/proj/sub
R 2020-09-13 14:26 +0000 joltest     b.txt proj/sub == ~/two/sub
U 2020-09-13 14:36 +0000 joltest 1.3 b.txt proj/sub == ~/proj/sub
EOF

    # Since a date, a tag record, a back-to string; the later one wins.
    hist -c -D "2020-09-13 13:30:00 +0000"
    expect_stdout <<'EOF'
M 2020-09-13 13:46 +0000 joltest 1.3 a.txt proj     == ~/two
M 2020-09-13 14:06 +0000 joltest 1.4 a.txt proj     == ~/proj
R 2020-09-13 14:26 +0000 joltest     b.txt proj/sub == ~/two/sub
M 2020-09-13 14:46 +0000 joltest 1.5 a.txt proj     == ~/two
EOF
    hist -c -D "2020-09-13 13:30:00 +0000" -t REL1
    expect_stderr <<'EOF'
jol history: tag overriding date/marker/file/repos
EOF
    expect_stdout <<'EOF'
T 2020-09-13 13:36 +0000 joltest proj [REL1:A]
M 2020-09-13 13:46 +0000 joltest 1.3 a.txt proj     == ~/two
M 2020-09-13 14:06 +0000 joltest 1.4 a.txt proj     == ~/proj
R 2020-09-13 14:26 +0000 joltest     b.txt proj/sub == ~/two/sub
M 2020-09-13 14:46 +0000 joltest 1.5 a.txt proj     == ~/two
EOF
    hist -e -r REL1 -b sub
    expect_stderr <<'EOF'
jol history: backto overriding date/rev/tag
EOF
    expect_stdout <<'EOF'
U 2020-09-13 14:36 +0000 joltest 1.3 b.txt proj/sub == ~/proj/sub
EOF
    hist -c -t NOPE
    expect_stdout <<'EOF'
No tag found: NOPE
EOF
    hist -c -b nothing
    expect_stdout <<'EOF'
No module, file or repository with: nothing
EOF

    # Zones.
    hist -x GC -z -0130
    expect_stdout <<'EOF'
G 2020-09-13 12:26 -0130 joltest 1.3 a.txt proj == ~/proj
C 2020-09-13 13:26 -0130 joltest 1.5 a.txt proj == ~/proj
EOF
    : >"$SCRATCH/zones"
    for z in utc GMT +05 LT; do
        TZ=Etc/GMT-3 jol -d "$root" history -T -z "$z"
        cat "$OUT" >>"$SCRATCH/zones"
    done
    check "$root: zones" diff - "$SCRATCH/zones" <<'EOF'
T 2020-09-13 13:36 UTC joltest proj [REL1:A]
T 2020-09-13 13:36 GMT joltest proj [REL1:A]
T 2020-09-13 18:36 +0500 joltest proj [REL1:A]
T 2020-09-13 16:36 +0300 joltest proj [REL1:A]
EOF

    # Refusals.
    hist -c -o
    expect_status 1
    expect_stderr <<'EOF'
jol [history aborted]: Only one report type allowed from: "-Tcomxe".
EOF
    hist -x TQ
    expect_status 1
    expect_stderr <<'EOF'
jol [history aborted]: Q is not a valid report type
EOF
    hist -z Mars
    expect_status 1
    expect_stderr <<'EOF'
jol [history aborted]: Mars is not a known time zone
EOF
}

reports "$REPO"
reports ":fork:$REPO"

# A damaged journal: only the good records are reported, whatever the rest
# holds (too few or too many fields, an empty line, a time that is not
# hexadecimal, "*" offsets outside the repository field, a NUL, a 1 MB
# line, a last line without its newline).
R2=$SCRATCH/repo2
jol -Q -d "$R2" init
/usr/bin/python3 - "$R2/JOLROOT/history" <<'PY'
import sys
good1 = b'A5f5e1258|joltest|~/*0|proj|1.1|a.txt\n'
good2 = b'M5f5e1bb8|joltest|~/two*4|proj/sub|1.2|b.txt\n'
bad = [
    b'M5f5e1708|joltest|~/*0|proj\n',
    b'\n',
    b'   \n',
    b'M|joltest|~/x|proj|1.2|a.txt\n',
    b'Mzz5e1708|joltest|~/x|proj|1.2|a.txt\n',
    b'M5f5e1708|joltest|~/*ff|proj|1.2|a.txt\n',
    b'M5f5e1708|joltest|~/*|proj|1.2|a.txt\n',
    b'M5f5e1708|joltest|~/*-1|proj|1.2|a.txt\n',
    b'M5f5e1708|joltest|~/x|proj|1.2|a.txt|extra\n',
    b'M5f5e1708|jol\0test|~/x|proj|1.2|a.txt\n',
    b'M5f5e1708|joltest|~/x|proj|1.2|' + b'a' * (1 << 20) + b'\n',
    b'M5f5e1708ffffffffffffffff|joltest|~/x|proj|1.2|a.txt\n',
]
with open(sys.argv[1], 'wb') as f:
    f.write(good1 + b''.join(bad[:6]) + good2 + b''.join(bad[6:]))
    f.write(b'M5f5e1708|joltest|~/x|proj|1.9|a.txt')
PY
for root in "$R2" ":fork:$R2"; do
    jol -d "$root" history -c
    expect_status 0
    expect_stdout <<'EOF'
A 2020-09-13 12:36 +0000 joltest 1.1 a.txt proj     == ~/proj
M 2020-09-13 13:16 +0000 joltest 1.2 b.txt proj/sub == ~/two/sub
EOF
    expect_stderr_has "history line too long (> 65536)"
done
# Locally -X reads another journal; a server refuses it, as it would let a
# peer read any file the server can read.
jol history -c -X "$R2/JOLROOT/history"
expect_status 0
expect_stdout_has "M 2020-09-13 13:16 +0000 joltest 1.2 b.txt proj/sub == ~/two/sub"
jol -d ":fork:$REPO" history -c -X "$R2/JOLROOT/history"
expect_status 1
expect_stdout <<'EOF'
EOF
expect_stderr <<EOF
jol [server aborted]: -X is not allowed in server mode
$ERROR_TAIL
EOF

# -r looks into the archives that records name, but never outside the
# repository: records with an absolute or climbing repository field or a
# directory in the file field are left out.
R3=$SCRATCH/repo3
cp -R "$REPO" "$R3"
mkdir "$SCRATCH/outside"
cp "$REPO/proj/a.txt,v" "$SCRATCH/outside/"
cat >"$R3/JOLROOT/history" <<EOF
M7fffffff|joltest|~/x|proj|1.5|a.txt
M00000010|joltest|~/x|proj|1.1|a.txt
M7fffffff|joltest|~/x|$SCRATCH/outside|1.1|a.txt
M7fffffff|joltest|~/x|proj/../../outside|1.1|a.txt
M7fffffff|joltest|~/x||proj/a.txt
M00000010|joltest|~/x|proj/sub|1.1|c.txt
EOF
for root in "$R3" ":fork:$R3"; do
    jol -d "$root" history -c -r REL1
    expect_status 0
    expect_stdout <<'EOF'
M 1970-01-01 00:00 +0000 joltest 1.1 c.txt proj/sub == ~/x
M 2038-01-19 03:14 +0000 joltest 1.5 a.txt proj     == ~/x
EOF
done

# Names that would forge fields: a working directory and a file name with
# the separator, control characters or a suffix mark in them are written
# with "?".
mkdir "$HOME/w|d*"
cd "$HOME/w|d*" || exit 1
jol -Q checkout proj
cd proj || exit 1
printf 'forged\n' >"$(printf 't|a\tb.txt')"
jol -Q add "$(printf 't|a\tb.txt')"
jol -Q commit -m forged
expect_status 0
tail -n 2 "$REPO/JOLROOT/history" | cut -c10- >"$SCRATCH/tail"
check "separator and control characters written as ?" diff - "$SCRATCH/tail" <<'EOF'
|joltest|~/w?d?/*0|proj||proj
|joltest|~/w?d?/*0|proj|1.1|t?a?b.txt
EOF
jol history -c t?a
expect_stdout_has " 1.1 t?a?b.txt proj == ~/w?d?/proj"

# A journal that cannot grow (a file size limit, its signal ignored): the
# commit succeeds, with one warning for its two records.
cd "$HOME/proj" || exit 1
for _ in $(seq 100); do
    printf 'T5f5e2068|joltest|~/proj|A|REL1|proj\n'
done >>"$REPO/JOLROOT/history"
jol -Q update
printf 'limit\n' >a.txt
printf 'limit\n' >new.txt
jol -Q add new.txt
size=$(stat -c %s "$REPO/JOLROOT/history")
(
    trap '' XFSZ
    ulimit -f 4
    exec "$JOL" -Q commit -m limited
) >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="jol commit with a full journal"
expect_status 0
check "one warning" test "$(grep -c 'cannot write to history file' "$ERR")" -eq 1
check "the commit went through" grep -q '^head[[:space:]]*1.6;' "$REPO/proj/a.txt,v"
check "the journal is unchanged" test "$(stat -c %s "$REPO/JOLROOT/history")" -eq "$size"

finish
