#!/bin/bash
# Watches and edits: watch on/off and the read-only checkouts they give,
# watch add/remove with each action, the watchers and editors listings,
# edit/unedit with the JOL/Base copy, and the notifications a "notify" line
# delivers for edits, unedits and commits. Under the :fork: pass the same
# steps go through the server's requests and its "Notified" answers.
. "$(dirname "$0")/lib.sh"

new_project proj
printf 'one\n' >a.txt
printf 'two\n' >b.txt
jol -Q add a.txt b.txt
jol -Q commit -m init
expect_status 0
WC=$PWD

# The notify filter appends each mail, with its destination, to one file.
MAIL=$SCRATCH/mail.out
jol -Q checkout -d adm JOLROOT
expect_status 0
echo "ALL (echo To: %s; cat) >>$MAIL" >>adm/notify
jol -Q commit -m notify adm
expect_status 0
printf 'alice:alice@example.org\n' >"$REPO/JOLROOT/users"
rm -rf adm

# watch on: later checkouts are read-only; watch off: writable again.
jol watch on
expect_status 0
expect_stdout </dev/null
check "watch on records the default and each file" \
    test "$(cat "$REPO/proj/JOL/fileattr")" = "$(printf 'Fa.txt\t_watched\nFb.txt\t_watched\nD\t_watched')"
cd "$SCRATCH"
jol -Q checkout -d ro proj
expect_status 0
check "watched file checked out read-only" test ! -w ro/a.txt
jol -Q watch off
expect_status 0
check "watch off with nothing left removes the database" test ! -e "$REPO/proj/JOL"
jol -Q checkout -d rw proj
check "unwatched file checked out writable" test -w rw/a.txt
rm -rf ro rw

# watch add and remove with each action, and the listing.
cd "$WC"
me=$(id -un)
jol watch add -a edit a.txt
expect_status 0
jol watch add -a commit -a unedit a.txt
jol watch add b.txt
jol watchers
expect_status 0
expect_stdout <<OUT
a.txt	$me	edit	unedit	commit
b.txt	$me	edit	unedit	commit
OUT
jol watch remove -a unedit a.txt
jol watch remove -a none b.txt
jol watchers a.txt b.txt
expect_stdout <<OUT
a.txt	$me	edit	commit
b.txt	$me	edit	unedit	commit
OUT
jol watch remove a.txt b.txt
jol watchers
expect_stdout </dev/null
check "removing the last watcher removes the database" test ! -e "$REPO/proj/JOL"

# edit: writable, the pristine copy kept; a second edit keeps the first
# copy; unedit of a changed file asks, and reverts on "y".
jol watch on a.txt
rm a.txt
jol -Q update
check "watched file read-only after update" test ! -w a.txt
jol -n edit a.txt
check "edit under -n changes nothing" test ! -w a.txt -a ! -e JOL/Base -a ! -e JOL/Notify
jol edit a.txt
expect_status 0
check "edit makes the file writable" test -w a.txt
check "edit keeps the pristine copy" cmp -s JOL/Base/a.txt a.txt
check "edit records the base revision" grep -qx 'Ba.txt/1.1/' JOL/Baserev
check "the queue is delivered" test ! -e JOL/Notify
jol editors
expect_status 0
check "editors lists user, time, host and directory" \
    grep -qE "^a.txt	$me	[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4} GMT	[^	]+	$PWD\$" "$OUT"
printf 'changed\n' >a.txt
jol edit a.txt
check "a second edit keeps the first copy" test "$(cat JOL/Base/a.txt)" = one
jol -n unedit a.txt
check "unedit under -n changes nothing" test "$(cat a.txt)" = changed -a -e JOL/Base/a.txt
printf 'n\n' | "$JOL" unedit a.txt >"$OUT" 2>"$ERR"
expect_stdout <<'OUT'
a.txt has been modified; revert changes? 
OUT
check "no keeps the change" test "$(cat a.txt)" = changed
printf 'y\n' | "$JOL" unedit a.txt >"$OUT" 2>"$ERR"
check "yes reverts" test "$(cat a.txt)" = one
check "unedit makes the file read-only" test ! -w a.txt
check "unedit drops the copy" test ! -e JOL/Base/a.txt
jol editors
expect_stdout </dev/null
jol -Q status a.txt
expect_stdout_has "Up-to-date"

# Notifications: another user's watch runs the notify line with that user's
# address; the acting user's own watch runs nothing.
printf 'Fa.txt\t_watched;_watchers=alice>edit+commit,%s>edit+unedit+commit\n' "$me" \
    >"$REPO/proj/JOL/fileattr"
jol edit a.txt
expect_status 0
printf 'two\n' >a.txt
jol -Q commit -m two a.txt
expect_status 0
check "commit ends the edit" test ! -e JOL/Base/a.txt
jol unedit a.txt
expect_stdout </dev/null
repo_dir=$REPO/proj
expect_mail() {
    expected="$SCRATCH/.expected"
    cat >"$expected"
    check "mail text" cmp -s "$expected" "$MAIL"
    cmp -s "$expected" "$MAIL" || diff "$expected" "$MAIL" >&2
}
expect_mail <<OUT
To: alice@example.org
proj a.txt
---
Triggered edit watch on $repo_dir
By $me
To: alice@example.org
proj a.txt
---
Triggered commit watch on $repo_dir
By $me
OUT

# A temporary watch asked with edit -a lasts until the watcher's edit ends.
: >"$MAIL"
printf 'Fb.txt\t_watchers=alice>edit\n' >"$REPO/proj/JOL/fileattr"
jol -Q edit -a unedit b.txt
jol watchers b.txt
expect_stdout <<OUT
b.txt	alice	edit
	$me	tunedit
OUT
printf 'y\n' | "$JOL" -Q unedit b.txt >/dev/null 2>&1
jol watchers b.txt
expect_stdout <<OUT
b.txt	alice	edit
OUT

# The destination reaches the shell as one quoted word, and a failing
# filter fails the command while the edit is still recorded.
: >"$MAIL"
printf 'alice:$(touch %s/pwned)\n' "$SCRATCH" >"$REPO/JOLROOT/users"
jol edit b.txt
check "destination not run by the shell" test ! -e "$SCRATCH/pwned"
check "destination passed verbatim" grep -qF 'To: $(touch' "$MAIL"
printf 'y\n' | "$JOL" -Q unedit b.txt >/dev/null 2>&1
cp "$REPO/JOLROOT/notify" "$SCRATCH/notify.orig"
chmod u+w "$REPO/JOLROOT/notify"
echo "ALL exit 3" >"$REPO/JOLROOT/notify"
jol edit b.txt
check "failing filter fails edit" test "$status" -ne 0
jol editors b.txt
expect_stdout_has "b.txt	$me	"
cp "$SCRATCH/notify.orig" "$REPO/JOLROOT/notify"

# Breaking another user's lock tells the file's commit watchers, as a
# commit by the one who broke it would.
printf 'alice:alice@example.org\n' >"$REPO/JOLROOT/users"
printf 'Fa.txt\t_watchers=alice>commit\n' >"$REPO/proj/JOL/fileattr"
: >"$MAIL"
sed -i 's/^locks; strict;/locks\n\talice:1.2; strict;/' "$REPO/proj/a.txt,v"
jol admin -u1.2 a.txt
expect_status 0
expect_stderr_has "1.2 unlocked"
check "the lock is gone" grep -q '^locks; strict;' "$REPO/proj/a.txt,v"
expect_mail <<OUT
To: alice@example.org
proj a.txt
---
Triggered commit watch on $repo_dir
By $me
OUT
: >"$MAIL"
jol -Q admin -l1.2 a.txt
jol -Q admin -u1.2 a.txt
check "one's own lock tells nobody" test ! -s "$MAIL"

# An attribute database that cannot be read is never written back.
printf 'Fa.txt\t_watchers=alice>edit\n' >"$REPO/proj/JOL/fileattr"
chmod 000 "$REPO/proj/JOL/fileattr"
jol watch add b.txt
check "unreadable database: watch add fails" test "$status" -ne 0
chmod 644 "$REPO/proj/JOL/fileattr"
check "unreadable database left as it was" \
    test "$(cat "$REPO/proj/JOL/fileattr")" = "$(printf 'Fa.txt\t_watchers=alice>edit')"

# An update that fetches the file again ends the edit's copy.
jol -Q edit b.txt
rm b.txt
jol -Q update b.txt
check "update drops the edit's copy" test ! -e JOL/Base/b.txt
printf 'Fa.txt\t_watchers=alice>edit\n' >"$REPO/proj/JOL/fileattr"

# A file name holding a tab would split a database line: refused.
tabname=$(printf 'x\ty')
printf 'z\n' >"$tabname"
jol -Q add "$tabname"
jol -Q commit -m tab "$tabname"
jol watch add "$tabname"
check "tab in a file name refused" test "$status" -ne 0
jol edit "$tabname"
check "tab in a file name refused by edit" test "$status" -ne 0
check "database untouched by the refusals" \
    test "$(cat "$REPO/proj/JOL/fileattr")" = "$(printf 'Fa.txt\t_watchers=alice>edit')"

# Two working copies changing watches and edits of two files of one
# directory, and committing them, at once: every change of each survives,
# and every edit a commit ended is gone from the editors.
rm -f "$REPO/proj/JOL/fileattr"
cd "$SCRATCH"
jol -Q checkout -d w1 proj
jol -Q checkout -d w2 proj
round() {
    cd "$SCRATCH/$1" || exit 1
    for i in $(seq 20); do
        "$JOL" -Q watch add -a edit "$2" &&
            "$JOL" -Q edit "$2" &&
            "$JOL" -Q watch add -a commit "$2" &&
            printf 'y\n' | "$JOL" -Q unedit "$2" >/dev/null &&
            "$JOL" -Q edit "$2" &&
            echo "$1 $i" >>"$2" &&
            "$JOL" -Q commit -m "$1 round $i" "$2" &&
            "$JOL" -Q watch remove -a commit "$2" || echo "round $i failed" >&2
    done
}
round w1 a.txt 2>"$SCRATCH/w1.err" &
round w2 b.txt 2>"$SCRATCH/w2.err" &
wait
# (Waiting for the other's lock is reported, and is no failure.)
check "every round ran" test -z "$(grep -hv -e "waiting for" -e "obtained lock" "$SCRATCH"/w?.err)"
cd "$SCRATCH/w1"
jol watchers
expect_stdout <<OUT
a.txt	$me	edit
b.txt	$me	edit
OUT
jol editors
expect_stdout </dev/null
check "every round committed" test "$("$JOL" log a.txt b.txt 2>/dev/null | grep -c "^w[12] round")" = 40

# release: the check's lines, the count (never-added files included) and
# the question; "n" or no answer keeps the directory, "y" with -d deletes it.
cd "$SCRATCH"
jol -Q checkout -d r1 proj
printf 'local change\n' >r1/b.txt
printf 'new\n' >r1/stray.txt
printf 'n\n' | "$JOL" release -d r1 >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="jol release -d r1"
# (A server reports the unknown file before the modified one.)
LC_ALL=C sort "$OUT" -o "$OUT"
expect_stdout <<'OUT'
? stray.txt
Are you sure you want to release (and delete) directory `r1': 
M b.txt
You have [2] altered files in this repository.
OUT
expect_stderr <<'OUT'
** `r1' aborted by user choice.
OUT
check "answer n keeps the directory" test -f r1/b.txt
"$JOL" -Q release -d r1 </dev/null >"$OUT" 2>"$ERR"
status=$?
check "no answer is an error" test "$status" -ne 0
check "no answer keeps the directory" test -f r1/b.txt
"$JOL" -n release -d r1 </dev/null >/dev/null 2>&1
printf 'y\n' | "$JOL" -n release -d r1 >/dev/null 2>&1
check "release under -n deletes nothing" test -f r1/b.txt
history_lines() { grep -c '^F' "$REPO/JOLROOT/history" 2>/dev/null; }
before=$(history_lines)
printf 'y\n' | "$JOL" release r1 >"$OUT" 2>"$ERR"
status=$?
expect_status 0
check "release without -d keeps the directory" test -f r1/b.txt
check "release recorded" test "$(history_lines)" -gt "${before:-0}"
jol -Q checkout -d "r 2" proj
(cd "r 2" && "$JOL" -Q edit a.txt)
printf 'y\n' | "$JOL" release -d "r 2" >"$OUT" 2>"$ERR"
expect_status 0
expect_stdout <<'OUT'
You have [0] altered files in this repository.
Are you sure you want to release (and delete) directory `r 2': 
OUT
check "release -d deletes the directory" test ! -e "r 2"
cd w1
jol editors
expect_status 0
expect_stdout </dev/null
cd ..
jol release -Q r1
expect_status 1
expect_stderr <<'OUT'
jol [release aborted]: -q or -Q must be specified before "release"
OUT

finish
