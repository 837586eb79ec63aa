#!/bin/bash
# The password server started per connection by systemd-socket-activate
# (the socket on descriptors 0 and 1, as a socket unit with Accept=yes
# gives it), run by the test user: login, a refusal, a connection with the
# stored password, logout, and a user listed in JOLROOT/readers refused a
# command that writes.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots (the password and GSSAPI servers)"
. "$(dirname "$0")/pserver_fixture.sh"

ME=$(id -un)
REPO=$SCRATCH/repo
jol -d "$REPO" init
cat >"$REPO/JOLROOT/passwd" <<X
alice:$(password_hash secret):$ME
reader:$(password_hash look):$ME
X
echo reader >"$REPO/JOLROOT/readers"
start_socket_activate -f --allow-root="$REPO"
export JOL_PASSFILE=$SCRATCH/jolpass
R=$(pserver_root alice "$REPO")

printf 'secret\n' | setsid -w "$JOL" -d "$R" login >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="login"
expect_status 0
expect_stdout <<X
(Logging in to alice@127.0.0.1)
X
check "the password file is 0600" test "$(stat -c %a "$JOL_PASSFILE")" = 600

jol -d "$R" version
expect_status 0
expect_stdout_has "Server: Jointly Owned Lines (JOL) 1.11 (client/server)"

cp "$JOL_PASSFILE" "$SCRATCH/before"
printf 'guess\n' | setsid -w "$JOL" -d "$R" login >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="login with a wrong password"
expect_status 1
expect_stderr <<X
JOL password: jol login: authorization failed: server 127.0.0.1 rejected access to $REPO for user alice
X
check "a refused login leaves the file" cmp -s "$SCRATCH/before" "$JOL_PASSFILE"

jol -d "$R" logout
expect_status 0
expect_stdout <<X
(Logging out of alice@127.0.0.1)
X
check "the file is empty" test ! -s "$JOL_PASSFILE"

# The raw exchanges.
S=$(sed -n "s|^$R ||p" "$SCRATCH/before")
talk "$PSERVER_PORT" <<X
BEGIN VERIFICATION REQUEST
$REPO
alice
$S
END VERIFICATION REQUEST
X
expect_stdout <<'X'
I LOVE YOU
X
talk "$PSERVER_PORT" <<X
BEGIN AUTH REQUEST
$REPO
alice
A
END AUTH REQUEST
X
expect_stdout <<'X'
I HATE YOU
X

# A reader may not commit.
printf 'look\n' | setsid -w "$JOL" -d "$(pserver_root reader "$REPO")" login >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="login as the reader"
expect_status 0
S=$(sed -n "s|^$(pserver_root reader "$REPO") ||p" "$JOL_PASSFILE")
talk "$PSERVER_PORT" <<X
BEGIN AUTH REQUEST
$REPO
reader
$S
END AUTH REQUEST
Root $REPO
Valid-responses ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F
Argument -m
Argument x
ci
X
expect_stdout <<'X'
I LOVE YOU
E jol [server aborted]: "commit" requires write access to the repository
error  
X
finish
