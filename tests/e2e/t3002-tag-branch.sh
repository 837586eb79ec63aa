#!/bin/bash
# Tags and branches in a local repository: tag, move and delete tags, a
# branch with a sticky working copy merged back, rtag by tag, date and
# branch number, module tag programs, taginfo filters, removed files.
. "$(dirname "$0")/lib.sh"

REPO=$SCRATCH/repo
export JOLROOT=$REPO
A=$REPO/proj/a.txt,v
B=$REPO/proj/sub/b.txt,v
B_ATTIC=$REPO/proj/sub/Attic/b.txt,v

# The symbols phrase of an archive, one "tag:rev" per line.
symbols() { sed -n '/^symbols/,/;/p' "$1" | tr -d ';' | sed 's/^symbols//' | tr -s ' \t' '\n' | sed '/^$/d'; }
has_symbol() { symbols "$1" | grep -qx -- "$2"; }
lacks_tag() { ! symbols "$1" | grep -q "^$2:"; }

jol init
mkdir "$REPO/proj"
jol -Q checkout proj
expect_status 0
cd proj
printf 'one\ntwo\nthree\n' >a.txt
mkdir sub
echo b >sub/b.txt
jol -Q add a.txt sub
jol -Q add sub/b.txt
jol -Q commit -m first
expect_status 0

# Tagging the working revisions: one "T" line per file, directories on
# standard error; the same tag again changes nothing.
jol tag REL1
expect_status 0
expect_stdout <<'E'
T a.txt
T b.txt
E
expect_stderr <<E
jol $(served tag): Tagging .
jol $(served tag): Tagging sub
E
check "REL1 on a.txt" has_symbol "$A" REL1:1.1
check "REL1 on b.txt" has_symbol "$B" REL1:1.1
jol -q tag REL1
expect_status 0
expect_stdout </dev/null
expect_stderr </dev/null

# An added file is reported, not tagged, and does not stop the others.
echo new >new.txt
jol -Q add new.txt
jol tag -F NEWT
expect_status 0
expect_stderr_has "jol $(served tag): couldn't tag added but un-commited file \`new.txt'"
check "NEWT on a.txt" has_symbol "$A" NEWT:1.1
jol -Q remove -f new.txt

# A branch, a commit on it from a sticky working copy, and the merge back.
jol -q tag -b BR1
expect_status 0
check "BR1 is a magic branch" has_symbol "$A" BR1:1.1.0.2
jol -Q update -r BR1
expect_status 0
check "sticky branch tag" grep -q '^/a.txt/1.1/.*/TBR1$' JOL/Entries
printf 'one\ntwo\nthree\nbranch\n' >a.txt
jol commit -m "on the branch" a.txt
expect_status 0
expect_stdout_has "new revision: 1.1.2.1; previous revision: 1.1"
jol -Q update -A
expect_status 0
check "trunk text back" sh -c "printf 'one\ntwo\nthree\n' | cmp -s - a.txt"
jol -Q update -j BR1
expect_status 0
check "branch change merged" sh -c "printf 'one\ntwo\nthree\nbranch\n' | cmp -s - a.txt"
jol -Q commit -m merged
expect_status 0
sleep 1
DATE1=$(date -u '+%Y-%m-%d %H:%M:%S UTC')
sleep 1

# Moving: refused without -F (also for a branch tag), done with it.
jol -q tag REL1
expect_status 0
expect_stdout <<'E'
W a.txt : REL1 already exists on version 1.1 : NOT MOVING tag to version 1.2
E
check "REL1 not moved" has_symbol "$A" REL1:1.1
jol -q tag BR1 a.txt
expect_stdout <<'E'
W a.txt : BR1 already exists on branch 1.1.0.2 : NOT MOVING tag to version 1.2
E
check "branch tag not moved" has_symbol "$A" BR1:1.1.0.2
jol -q tag -F REL1
expect_status 0
expect_stdout <<'E'
T a.txt
E
check "REL1 moved" has_symbol "$A" REL1:1.2

# Deleting: "D" lines name the file; a tag a file lacks is skipped.
jol tag -d NEWT sub
expect_status 0
expect_stdout <<'E'
D b.txt
E
expect_stderr <<E
jol $(served tag): Untagging sub
E
check "NEWT gone from b.txt" lacks_tag "$B" NEWT
check "NEWT kept on a.txt" has_symbol "$A" NEWT:1.1
jol -q tag -d NEWT sub
expect_stdout </dev/null

# -c refuses locally modified files before touching any archive.
echo dirty >>a.txt
jol -q tag -c CHK
expect_status 1
expect_stderr_has "jol $(served tag): a.txt is locally modified"
expect_stderr_has "jol [$(served tag) aborted]: correct the above errors first!"
check "CHK nowhere" sh -c "! grep -q CHK '$A' '$B'"
rm a.txt
jol -Q update a.txt
jol -q tag -c CHK
expect_status 0

# Option checks.
jol tag -r REL1 -D now X
expect_status 1
expect_stderr_has "-r and -D options are mutually exclusive"
jol tag -q X
expect_status 1
expect_stderr_has '-q or -Q must be specified before "tag"'
jol tag 1abc
expect_status 1
jol tag
expect_status 1
expect_stderr_has "Usage: jol tag [-lRF] [-b] [-d] [-c] [-r rev|-D date] tag [files...]"
jol rtag ONLYTAG
expect_status 1
expect_stderr_has "Usage: jol rtag [-aflRnF] [-b] [-d] [-r rev|-D date] tag modules..."
jol tag -r NOSUCH X
expect_status 1
expect_stderr_has "no such tag NOSUCH"

# A later trunk revision, then rtag by tag, by date and by branch number.
echo more >>a.txt
jol -Q commit -m third
expect_status 0
jol rtag -r REL1 RREL proj
expect_status 0
expect_stderr <<E
jol $(served rtag): Tagging proj
jol $(served rtag): Tagging proj/sub
E
expect_stdout </dev/null
check "rtag -r follows REL1 on a.txt" has_symbol "$A" RREL:1.2
check "rtag -r follows REL1 on b.txt" has_symbol "$B" RREL:1.1
check "REL1 recorded as valid" grep -q '^REL1 ' "$REPO/JOLROOT/val-tags"
jol -q rtag -D "$DATE1" DTAG proj
expect_status 0
check "rtag -D picks the revision of that time" has_symbol "$A" DTAG:1.2
jol -q rtag -r 1.1.2 BRNUM proj
expect_status 0
check "branch number tagged exactly as typed" has_symbol "$A" BRNUM:1.1.2
check "no branch 1.1.2 in b.txt" lacks_tag "$B" BRNUM
jol -q rtag -f -r 1.9 FALLBACK proj/a.txt
expect_status 0
check "-f falls back to the head, not the typed number" has_symbol "$A" FALLBACK:1.3
jol -q rtag -r 1.9 NOFALL proj/a.txt
expect_status 0
check "no fallback without -f" lacks_tag "$A" NOFALL
jol -q rtag RREL proj
expect_stdout <<'E'
W a.txt : RREL already exists on version 1.2 : NOT MOVING tag to version 1.3
E
jol -q rtag -F -b RREL proj/a.txt
expect_status 0
check "rtag -F -b moves to a branch" has_symbol "$A" RREL:1.3.0.2
jol -q rtag -d RREL proj
expect_status 0
check "rtag -d on a.txt" lacks_tag "$A" RREL
check "rtag -d on b.txt" lacks_tag "$B" RREL
for bad in ../repo/proj /etc proj/../proj; do
    jol -q rtag BAD "$bad"
    expect_status 1
    expect_stderr_has "cannot find module \`$bad' - ignored"
done

jol rtag IGN '!proj/sub' proj
expect_status 0
expect_stderr <<E
jol $(served rtag): Tagging proj
jol $(served rtag): Ignoring proj/sub
E
check "ignored directory untouched" lacks_tag "$B" IGN
check "history records of rtag" sh -c "grep -q '^T.*|DTAG|proj\$' '$REPO/JOLROOT/history' && grep -q '^T.*|D|RREL|proj\$' '$REPO/JOLROOT/history'"

# Module tag programs run unless -n; the global -n writes nothing.
cat >"$SCRATCH/tagprog.sh" <<E
#!/bin/sh
echo "\$@" >>"$SCRATCH/tagprog.log"
E
chmod +x "$SCRATCH/tagprog.sh"
cd "$SCRATCH"
jol -Q checkout JOLROOT
echo "pmod -t $SCRATCH/tagprog.sh proj" >>JOLROOT/modules
jol -Q commit -m "tag program" JOLROOT
expect_status 0
jol -q rtag MODT pmod
expect_status 0
check "tag program ran with directory and tag" grep -qx "pmod MODT" "$SCRATCH/tagprog.log"
check "module tagged" has_symbol "$A" MODT:1.3
jol -q rtag -n MODN pmod
expect_status 0
check "-n: no tag program" sh -c "! grep -q MODN '$SCRATCH/tagprog.log'"
check "-n: still tagged" has_symbol "$A" MODN:1.3
jol -n -q rtag NOEXEC pmod
expect_status 0
cd proj
jol -n tag NOEXEC2
expect_status 0
expect_stdout_has "T a.txt"
check "global -n changes no archive" sh -c "! grep -q NOEXEC '$A' '$B'"

# taginfo: the filter sees tag, operation, directory and file/revision
# pairs, and a refusal stops every directory before any archive changes.
cat >"$SCRATCH/pretag.sh" <<E
#!/bin/sh
echo "\$@" >>"$SCRATCH/pretag.log"
case "\$1" in BAD*) exit 1 ;; esac
exit 0
E
chmod +x "$SCRATCH/pretag.sh"
cd "$SCRATCH"
echo "ALL $SCRATCH/pretag.sh" >>JOLROOT/taginfo
jol -Q commit -m "pre-tag filter" JOLROOT
expect_status 0
cd proj
jol -q tag BADTAG
expect_status 1
expect_stderr_has "jol $(served tag): Pre-tag check failed"
expect_stderr_has "correct the above errors first!"
check "refused tag nowhere" sh -c "! grep -q BADTAG '$A' '$B'"
jol -q tag GOOD
expect_status 0
check "filter args (add)" grep -qx "GOOD add $REPO/proj a.txt 1.3" "$SCRATCH/pretag.log"
check "filter args in sub" grep -qx "GOOD add $REPO/proj/sub b.txt 1.1" "$SCRATCH/pretag.log"
jol -q tag -F -r 1.2 GOOD a.txt
check "filter args (mov)" grep -qx "GOOD mov $REPO/proj a.txt 1.2" "$SCRATCH/pretag.log"
jol -q tag -d GOOD a.txt
check "filter args (del)" grep -qx "GOOD del $REPO/proj a.txt 1.2" "$SCRATCH/pretag.log"
jol -q rtag BADR proj
expect_status 1
expect_stderr_has "jol $(served rtag): Pre-tag check failed"
check "refused rtag nowhere" sh -c "! grep -q BADR '$A' '$B'"
cd "$SCRATCH"
sed -i '/pretag/d' JOLROOT/taginfo
echo "ALL /no/such/filter" >>JOLROOT/taginfo
jol -Q commit -m "missing filter" JOLROOT
cd proj
jol -q tag MISSING
expect_status 1
expect_stderr_has "cannot find pre-tag filter '/no/such/filter'"
cd "$SCRATCH"
sed -i '/no.such/d' JOLROOT/taginfo
jol -Q commit -m "no filter" JOLROOT
cd proj

# Removed files: skipped while uncommitted; once dead in the Attic, rtag
# -a clears tags that would not otherwise be set there, and a dead
# revision can still be tagged by number.
jol -q tag -F LIVE
rm sub/b.txt
jol -Q remove sub/b.txt
jol tag GONE
expect_status 0
expect_stderr_has "skipping removed but un-commited file \`b.txt'"
check "removed file not tagged" lacks_tag "$B" GONE
jol -Q commit -m gone
expect_status 0
check "b.txt moved to the Attic" test -f "$B_ATTIC"
jol -q rtag -F LIVE proj
expect_status 0
check "without -a the Attic keeps LIVE" has_symbol "$B_ATTIC" LIVE:1.1
jol -q rtag -F -a LIVE proj
expect_status 0
check "-a clears LIVE in the Attic" lacks_tag "$B_ATTIC" LIVE
check "-a keeps LIVE on a.txt" has_symbol "$A" LIVE:1.3
jol -q rtag -r 1.2 DEADREV proj/sub/b.txt
expect_status 0
check "dead revision tagged" has_symbol "$B_ATTIC" DEADREV:1.2
jol -q rtag -r REL1 FROMATTIC proj
expect_status 0
check "-r reaches the Attic" has_symbol "$B_ATTIC" FROMATTIC:1.1
finish
