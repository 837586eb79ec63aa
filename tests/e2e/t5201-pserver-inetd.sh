#!/bin/bash
# The password server under openbsd-inetd, run by the test user with every
# account of JOLROOT/passwd mapped to that user: login and logout with the
# password file, the refusals with their exact texts, and the raw
# authentication and verification exchanges.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots (the password and GSSAPI servers)"
. "$(dirname "$0")/pserver_fixture.sh"

ME=$(id -un)
REPO=$SCRATCH/r
REPO2=$SCRATCH/r2
jol -d "$REPO" init
jol -d "$REPO2" init
chmod u+w "$REPO/JOLROOT/config"
cat >"$REPO/JOLROOT/passwd" <<X
alice:$(password_hash pw1):$ME
dave:$(password_hash pw9):$ME
open::$ME
blank:  
locked:*:$ME
X
echo "alice:$(password_hash other):$ME" >"$REPO2/JOLROOT/passwd"
# Not an allowed root: its configuration is a pipe nobody writes, so a
# server that read it before checking the root would hang.
mkdir -p "$SCRATCH/elsewhere/JOLROOT"
mkfifo "$SCRATCH/elsewhere/JOLROOT/config"
echo "alice::$ME" >"$SCRATCH/elsewhere/JOLROOT/passwd"

start_inetd -f --allow-root="$REPO" --allow-root="$REPO2"
export JOL_PASSFILE=$SCRATCH/jolpass
R=$(pserver_root alice "$REPO")
R2=$(pserver_root alice "$REPO2")

# A silent peer: the server gives up on the exchange after a minute.
python3 - "$PSERVER_PORT" >"$SCRATCH/silent.seconds" 2>&1 <<'PY' &
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=90)
start = time.time()
while s.recv(4096):
    pass
print(round(time.time() - start))
PY
SILENT=$!

# login_with PASSWORD ROOT [GLOBAL-OPTIONS]: the password typed at the
# prompt (no terminal: it is read from standard input).
login_with() {
    tests_run=$((tests_run + 1))
    printf '%s\n' "$1" | setsid -w "$JOL" ${3:-} -d "$2" login >"$OUT" 2>"$ERR"
    status=$?
    LAST_CMD="login to $2"
}
passfile_mode() { stat -c %a "$JOL_PASSFILE"; }

# --- login, the stored line, and a connection that uses it
(umask 0 && login_with pw1 "$R")
login_with pw1 "$R"
expect_status 0
expect_stdout <<X
(Logging in to alice@127.0.0.1)
X
check "one line for the root" test "$(grep -c "^$R A" "$JOL_PASSFILE")" = 1
check "the line is the whole file" test "$(wc -l <"$JOL_PASSFILE")" = 1
check "the password is not stored in clear" sh -c "! grep -q pw1 '$JOL_PASSFILE'"
check "a new password file is 0600 (umask 0)" test "$(passfile_mode)" = 600
jol -d "$R" version
expect_status 0
expect_stdout <<'X'
Client: Jointly Owned Lines (JOL) 1.11 (client/server)
Server: Jointly Owned Lines (JOL) 1.11 (client/server)
X
SCRAMBLED=$(sed -n "s|^$R ||p" "$JOL_PASSFILE")

# --- a wrong password: the exact refusal, the file untouched
cp "$JOL_PASSFILE" "$SCRATCH/before"
login_with wrong "$R"
expect_status 1
expect_stderr <<X
JOL password: jol login: authorization failed: server 127.0.0.1 rejected access to $REPO for user alice
X
check "a refused login leaves the file" cmp -s "$SCRATCH/before" "$JOL_PASSFILE"

# --- not logged in: the empty password was sent
jol -d "$(pserver_root dave "$REPO")" version
expect_status 1
expect_stderr <<X
jol version: authorization failed: server 127.0.0.1 rejected access to $REPO for user dave
jol version: used empty password; try "jol login" with a real password
X

# --- login twice: same password leaves the file, a new one replaces the
# line in place; a root that is the start of another (r and r2) owns only
# its own line.
printf '%s Anope\n' "$R2" >"$SCRATCH/jolpass"
printf 'first Ax\n' >>"$SCRATCH/jolpass"
cat "$SCRATCH/before" >>"$SCRATCH/jolpass"
printf 'last Ay\n' >>"$SCRATCH/jolpass"
chmod 644 "$JOL_PASSFILE"
jol -d "$R" version
expect_status 0
check "r's line used, not r2's" grep -q "^Server:" "$OUT"
cp "$JOL_PASSFILE" "$SCRATCH/before"
login_with pw1 "$R"
expect_status 0
check "same password: file unchanged" cmp -s "$SCRATCH/before" "$JOL_PASSFILE"
check "the mode is set to 0600 when found" test "$(passfile_mode)" = 600
sed -i "s|^alice:[^:]*:|alice:$(password_hash pw2):|" "$REPO/JOLROOT/passwd"
login_with pw2 "$R"
expect_status 0
check "four lines still" test "$(wc -l <"$JOL_PASSFILE")" = 4
check "r2 first" test "$(sed -n 1p "$JOL_PASSFILE")" = "$R2 Anope"
check "then the unrelated line" test "$(sed -n 2p "$JOL_PASSFILE")" = "first Ax"
check "r's line in its place, changed" sh -c "sed -n 3p '$JOL_PASSFILE' | grep -q '^$R A' &&
    ! cmp -s '$SCRATCH/before' '$JOL_PASSFILE'"
check "the last line stays last" test "$(sed -n 4p "$JOL_PASSFILE")" = "last Ay"
check "no temporary file left" test "$(ls "$SCRATCH" | grep -c '^jolpass')" = 1
SCRAMBLED2=$(sed -n "s|^$R ||p" "$JOL_PASSFILE")

# --- the password prompt through the GUI link
JOL_GETPASS=pw2 "$JOL_BUILD/jolgui-run" "$JOL" -d "$R" login >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="login through the GUI link"
expect_status 0
expect_stdout_has "(Logging in to alice@127.0.0.1)"

# --- logout: only r's line goes; a second logout finds nothing
jol -d "$R" logout
expect_status 0
expect_stdout <<X
(Logging out of alice@127.0.0.1)
X
check "r's line removed" sh -c "! grep -q '^$R ' '$JOL_PASSFILE'"
check "r2's line kept" grep -qxF "$R2 Anope" "$JOL_PASSFILE"
check "three lines left" test "$(wc -l <"$JOL_PASSFILE")" = 3
cp "$JOL_PASSFILE" "$SCRATCH/before"
jol -d "$R" logout
expect_status 0
expect_stdout <<X
(Logging out of alice@127.0.0.1)
Entry not found for $R
X
check "nothing removed" cmp -s "$SCRATCH/before" "$JOL_PASSFILE"

# --- the method and user checks of login
jol -d ":ext:alice@127.0.0.1:$REPO" login
expect_status 1
expect_stderr <<X
jol login: can only use pserver method with \`login' command
jol [login aborted]: JOLROOT: :ext:alice@127.0.0.1:$REPO
X
jol -d ":pserver:127.0.0.1:$REPO" logout
expect_status 1
expect_stderr <<X
jol logout: JOLROOT ":pserver:127.0.0.1:$REPO" is not fully-qualified.
jol [logout aborted]: Please make sure to specify "user@host"!
X

# --- raw exchanges
RESP="Valid-responses ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F"
talk "$PSERVER_PORT" <<X
BEGIN VERIFICATION REQUEST
$REPO
alice
$SCRAMBLED2
END VERIFICATION REQUEST
Root $REPO
noop
X
expect_stdout <<'X'
I LOVE YOU
X
talk "$PSERVER_PORT" <<X
BEGIN VERIFICATION REQUEST
$REPO
alice
$SCRAMBLED
END VERIFICATION REQUEST
X
expect_stdout <<'X'
I HATE YOU
X
talk "$PSERVER_PORT" <<X
BEGIN AUTH REQUEST
$REPO
alice
$SCRAMBLED2
END AUTH REQUEST
Root $REPO2
$RESP
noop
X
expect_stdout <<X
I LOVE YOU
E Protocol error: Root says "$REPO2" but pserver says "$REPO"
error  
X
# Accounts without a hash take any password; "*" never matches.
for user in open blank; do
    talk "$PSERVER_PORT" <<X
BEGIN VERIFICATION REQUEST
$REPO
$user
Aanything
END VERIFICATION REQUEST
X
    expect_stdout <<'X'
I LOVE YOU
X
done
talk "$PSERVER_PORT" <<X
BEGIN VERIFICATION REQUEST
$REPO
locked
A
END VERIFICATION REQUEST
X
expect_stdout <<'X'
I HATE YOU
X
# A root that is not allowed is refused before anything of it is read.
JOL_CONNECT_TIMEOUT=10 talk "$PSERVER_PORT" <<X
BEGIN AUTH REQUEST
$SCRATCH/elsewhere
alice
A
END AUTH REQUEST
X
expect_status 0
expect_stdout <<'X'
I HATE YOU
X
talk "$PSERVER_PORT" <<X
BEGIN AUTH REQUEST
$REPO
alice
pw2
END AUTH REQUEST
X
expect_stdout <<'X'
jol [pserver aborted]: descramble: unknown scrambling method
X
talk "$PSERVER_PORT" <<X
HELLO
X
expect_stdout <<'X'
jol [pserver aborted]: bad auth protocol start: HELLO
X
talk "$PSERVER_PORT" <<X
BEGIN AUTH REQUEST
$REPO
alice
A
END VERIFICATION REQUEST
X
expect_stdout <<'X'
jol [pserver aborted]: bad auth protocol end: END VERIFICATION REQUEST
X

# --- a user in neither database, with system authentication off
echo "SystemAuth=no" >>"$REPO/JOLROOT/config"
talk "$PSERVER_PORT" <<X
BEGIN AUTH REQUEST
$REPO
nobody9
A
END AUTH REQUEST
X
expect_stdout <<'X'
error 0 no such user nobody9 in JOLROOT/passwd
X
jol -d "$(pserver_root nobody9 "$REPO")" version
expect_status 1
expect_stderr <<X
no such user nobody9 in JOLROOT/passwd
jol version: authorization failed: server 127.0.0.1 rejected access to $REPO for user nobody9
jol version: used empty password; try "jol login" with a real password
X

# --- on a pipe (no socket to keep alive), and without any allowed root
printf 'BEGIN VERIFICATION REQUEST\n%s\nopen\nA\nEND VERIFICATION REQUEST\n' "$REPO" |
    "$JOL" -f --allow-root="$REPO" pserver >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="pserver on a pipe"
expect_status 0
expect_stdout <<'X'
I LOVE YOU
X
printf 'BEGIN VERIFICATION REQUEST\n%s\nopen\nA\nEND VERIFICATION REQUEST\n' "$REPO" |
    "$JOL" -f pserver >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="pserver without --allow-root"
expect_status 1
expect_stdout <<'X'
error 0 Server configuration missing --allow-root in inetd.conf
X

# --- the rc file is not read: a root it would allow stays refused
echo "jol --allow-root=$SCRATCH/evil" >"$HOME/.jolrc"
mkdir -p "$SCRATCH/evil/JOLROOT"
echo "open::$ME" >"$SCRATCH/evil/JOLROOT/passwd"
start_inetd --allow-root="$REPO"
talk "$PSERVER_PORT" <<X
BEGIN VERIFICATION REQUEST
$SCRATCH/evil
open
A
END VERIFICATION REQUEST
X
expect_stdout <<'X'
I HATE YOU
X
rm "$HOME/.jolrc"

wait "$SILENT"
secs=$(cat "$SCRATCH/silent.seconds")
check "a silent peer is dropped after about a minute ($secs s)" test "$secs" -ge 55 -a "$secs" -le 75
finish
