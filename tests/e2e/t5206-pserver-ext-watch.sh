#!/bin/bash
# Watches, edits, their notifications and release between users of the
# password server (one account per user, all run by the test user), and
# the same commands through a real OpenSSH server (:ext:). Account names
# that would forge or split attribute entries are refused.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots (the password server and :ext:)"
. "$(dirname "$0")/pserver_fixture.sh"

ME=$(id -un)
REPO=$SCRATCH/repo
jol -d "$REPO" init
bad_names=("e,v" "e>v" "e=v" "e+v")
{
    for u in alice bob "${bad_names[@]}"; do echo "$u:$(password_hash pw):$ME"; done
} >"$REPO/JOLROOT/passwd"
MAIL=$SCRATCH/mail.out
chmod u+w "$REPO/JOLROOT/notify"
echo "ALL (echo To: %s; cat) >>$MAIL" >"$REPO/JOLROOT/notify"
printf 'alice:alice@example.org\nbob:bob@example.org\n' >"$REPO/JOLROOT/users"
start_socket_activate -f --allow-root="$REPO"
export JOL_PASSFILE=$SCRATCH/jolpass
for u in alice bob "${bad_names[@]}"; do
    printf 'pw\n' | setsid -w "$JOL" -d "$(pserver_root "$u" "$REPO")" login >/dev/null 2>&1 ||
        fail "login as $u"
done
A=$(pserver_root alice "$REPO")
B=$(pserver_root bob "$REPO")

mkdir "$SCRATCH/imp" && cd "$SCRATCH/imp" || exit 1
printf 'one\n' >a.txt
printf 'two\n' >b.txt
jol -d "$A" -Q import -m start proj V R
expect_status 0
cd "$SCRATCH" || exit 1
jol -d "$A" -Q checkout -d wa proj
jol -d "$B" -Q checkout -d wb proj
expect_status 0

expect_mail() {
    local expected="$SCRATCH/.expected"
    cat >"$expected"
    check "mail text" cmp -s "$expected" "$MAIL"
    cmp -s "$expected" "$MAIL" || diff "$expected" "$MAIL" >&2
    : >"$MAIL"
}

# alice watches a.txt; bob's edit, unedit and commit each tell her.
cd "$SCRATCH/wa" || exit 1
jol watch add -a all a.txt
expect_status 0
cd "$SCRATCH/wb" || exit 1
jol edit a.txt
expect_status 0
check "the edit is writable" test -w a.txt
jol editors
expect_stdout_has "a.txt	bob	"
jol watchers
expect_stdout <<X
a.txt	alice	edit	unedit	commit
	bob	tedit	tunedit	tcommit
X
jol unedit a.txt
expect_status 0
jol -Q edit a.txt
printf 'one\nmore\n' >a.txt
jol -Q commit -m more a.txt
expect_status 0
jol editors
expect_stdout </dev/null
expect_mail <<X
To: alice@example.org
proj a.txt
---
Triggered edit watch on $REPO/proj
By bob
To: alice@example.org
proj a.txt
---
Triggered unedit watch on $REPO/proj
By bob
To: alice@example.org
proj a.txt
---
Triggered edit watch on $REPO/proj
By bob
To: alice@example.org
proj a.txt
---
Triggered commit watch on $REPO/proj
By bob
X

# bob breaks alice's lock: her commit watch tells her who did.
cd "$SCRATCH/wa" || exit 1
jol -Q admin -l a.txt
expect_status 0
cd "$SCRATCH/wb" || exit 1
jol admin -u1.2 a.txt
expect_status 0
expect_stderr_has "1.2 unlocked"
expect_mail <<X
To: alice@example.org
proj a.txt
---
Triggered commit watch on $REPO/proj
By bob
X

# A failing filter fails bob's edit over the connection; the edit stays
# recorded, and the notice is not offered again.
cp "$REPO/JOLROOT/notify" "$SCRATCH/notify.orig"
echo "ALL exit 3" >"$REPO/JOLROOT/notify"
jol edit a.txt
check "failing filter fails edit" test "$status" -ne 0
jol editors a.txt
expect_stdout_has "a.txt	bob	"
check "the notice is not queued again" test ! -s JOL/Notify
cp "$SCRATCH/notify.orig" "$REPO/JOLROOT/notify"
jol -Q unedit a.txt
: >"$MAIL"

# Account names holding an entry separator are refused for edits and
# watches, and the database is left as it was.
cp "$REPO/proj/JOL/fileattr" "$SCRATCH/fileattr.before"
for u in "${bad_names[@]}"; do
    cd "$SCRATCH" || exit 1
    rm -rf wx
    jol -d "$(pserver_root "$u" "$REPO")" -Q checkout -d wx proj
    cd wx || exit 1
    jol edit b.txt
    check "edit as '$u' refused" test "$status" -ne 0
    jol watch add b.txt
    check "watch add as '$u' refused" test "$status" -ne 0
done
check "database unchanged by the refusals" cmp -s "$SCRATCH/fileattr.before" "$REPO/proj/JOL/fileattr"
check "no mail for the refusals" test ! -s "$MAIL"

# release -d over the password server: bob's edit ends with his copy.
cd "$SCRATCH" || exit 1
(cd wb && "$JOL" -Q edit b.txt)
printf 'y\n' | "$JOL" -d "$B" release -d wb >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="release -d wb"
expect_status 0
expect_stdout <<'X'
You have [0] altered files in this repository.
Are you sure you want to release (and delete) directory `wb': 
X
check "release -d deleted the copy" test ! -e wb
cd wa || exit 1
jol editors
expect_stdout </dev/null

# The same commands through an OpenSSH server.
. "$(dirname "$0")/ssh_fixture.sh"
start_sshd
trap 'kill $SSHD_PID 2>/dev/null; for p in $FIXTURE_PIDS; do kill "$p" 2>/dev/null; done; rm -rf "$SCRATCH"' EXIT
EXT=":ext:$ME@127.0.0.1:$REPO"
(cd "$SCRATCH/wa" && "$JOL" watch on) || fail "watch on"
cd "$SCRATCH" || exit 1
jol -d "$EXT" -Q checkout -d we proj
expect_status 0
cd we || exit 1
check "watched files check out read-only" test ! -w b.txt
jol edit b.txt
expect_status 0
check "edit makes it writable" test -w b.txt
check "edit keeps the pristine copy" cmp -s JOL/Base/b.txt b.txt
jol editors
expect_stdout_has "b.txt	$ME	"
printf 'changed\n' >b.txt
printf 'y\n' | "$JOL" unedit b.txt >"$OUT" 2>"$ERR"
status=$?
expect_status 0
check "unedit reverts" test "$(cat b.txt)" = two
check "unedit leaves it read-only" test ! -w b.txt
jol editors
expect_stdout </dev/null
cd "$SCRATCH" || exit 1
printf 'y\n' | "$JOL" -d "$EXT" release -d we >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="release -d we"
expect_status 0
check "release -d over :ext: deleted the copy" test ! -e we
finish
