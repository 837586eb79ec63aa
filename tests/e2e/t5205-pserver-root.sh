#!/bin/bash
# The password server as a super-server runs it, as root: the switch to the
# account's system user (checked by a loginfo hook that records the ids and
# groups of the process that runs it), a system account found through the
# shadow database, and the refusal of every login that would serve as the
# super-user, by a JOLROOT/passwd line or by a Kerberos principal.
if [ "$(id -u)" -ne 0 ]; then
    echo "t5205-pserver-root: needs root (the user switch); skipped"
    exit 77
fi
export JOL_AS_ROOT=1
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots (the password and GSSAPI servers)"
. "$(dirname "$0")/pserver_fixture.sh"
. "$(dirname "$0")/krb_fixture.sh"

USER_=${JOL_TEST_USER}
id "$USER_" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$USER_"
SYSUSER=jolsys
id "$SYSUSER" >/dev/null 2>&1 || useradd --no-create-home --shell /usr/sbin/nologin "$SYSUSER"
echo "$SYSUSER:sys-secret" | chpasswd
as_user() { setpriv --reuid="$USER_" --regid="$USER_" --init-groups env HOME="$HOME" "$@"; }

# The server's users reach the repository and the temporary directory.
chmod 755 "$SCRATCH"
chmod 1777 "$TMPDIR"
# The build may lie where the account's user cannot go (a clone in root's
# home): everything then runs a copy that user can reach.
if ! as_user test -x "$JOL"; then
    mkdir "$SCRATCH/bin" && cp "$JOL" "$SCRATCH/bin/jol" && chmod 755 "$SCRATCH/bin" "$SCRATCH/bin/jol"
    JOL=$SCRATCH/bin/jol
fi
REPO=$SCRATCH/srv/repo
H=$SCRATCH/hooks
mkdir -p "$H" "$SCRATCH/wc" "$SCRATCH/srv"
chmod 777 "$H" "$SCRATCH/wc" "$SCRATCH/srv"
as_user "$JOL" -d "$REPO" init
as_user mkdir "$REPO/mod"
(cd "$SCRATCH/wc" && as_user "$JOL" -Q -d "$REPO" checkout mod &&
    cd mod && as_user sh -c 'echo one >f.c' && as_user "$JOL" -Q add f.c && as_user "$JOL" -Q commit -m first)
chmod -R a+rwX "$REPO"
cat >"$REPO/JOLROOT/passwd" <<X
alice:$(password_hash pw):$USER_
evil::root
X
cat >"$H/ids.sh" <<'X'
#!/bin/sh
cat >/dev/null
grep -E '^(Uid|Gid|Groups):' /proc/$$/status >"$(dirname "$0")/ids"
printf '%s %s %s\n' "$HOME" "$LOGNAME" "$USER" >>"$(dirname "$0")/ids"
X
chmod 755 "$H/ids.sh"
echo "^mod $H/ids.sh" >>"$REPO/JOLROOT/loginfo"

start_kdc
add_user_principal root
export KRB5_KTNAME=FILE:$KRB/server.keytab
start_inetd -f --allow-root="$REPO"
export JOL_PASSFILE=$SCRATCH/jolpass

printf 'pw\n' | setsid -w "$JOL" -d "$(pserver_root alice "$REPO")" login >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="login as alice"
expect_status 0
S=$(sed -n 's|^[^ ]* ||p' "$JOL_PASSFILE")

# A commit over the connection runs the hook as the account's user.
printf 'two\n' >"$SCRATCH/two"
talk "$PSERVER_PORT" <<X
BEGIN AUTH REQUEST
$REPO
alice
$S
END AUTH REQUEST
Root $REPO
Valid-responses ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F
Directory .
$REPO/mod
Entry /f.c/1.1///
Modified f.c
u=rw,g=r,o=r
4
@file $SCRATCH/two
Argument -m
Argument second
Argument f.c
ci
X
expect_stdout_has "I LOVE YOU"
expect_stdout_has "M new revision: 1.2; previous revision: 1.1"
U=$(id -u "$USER_")
G=$(id -g "$USER_")
check "the hook ran" test -f "$H/ids"
check "all four user ids are the account's" grep -qP "^Uid:\t$U\t$U\t$U\t$U$" "$H/ids"
check "all four group ids are the account's" grep -qP "^Gid:\t$G\t$G\t$G\t$G$" "$H/ids"
check "the groups are the account's own" test \
    "$(sed -n 's/^Groups:\t*//p' "$H/ids" | tr ' ' '\n' | grep . | sort -n | tr '\n' ' ')" = \
    "$(id -G "$USER_" | tr ' ' '\n' | sort -n | tr '\n' ' ')"
check "HOME, LOGNAME and USER are the account's" grep -qx \
    "$(getent passwd "$USER_" | cut -d: -f6) $USER_ $USER_" "$H/ids"
check "the new revision is the account's" grep -q "author alice;" "$REPO/mod/f.c,v"

# A system account: its password is in the shadow database.
printf 'sys-secret\n' | setsid -w "$JOL" -d "$(pserver_root $SYSUSER "$REPO")" login >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="login as a system account"
expect_status 0
printf 'wrong\n' | setsid -w "$JOL" -d "$(pserver_root $SYSUSER "$REPO")" login >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="login as a system account with a wrong password"
expect_status 1
expect_stderr_has "authorization failed"

# Never as the super-user: an account line naming root...
talk "$PSERVER_PORT" <<X
BEGIN VERIFICATION REQUEST
$REPO
evil
A
END VERIFICATION REQUEST
X
expect_stdout <<'X'
I HATE YOU
X
talk "$PSERVER_PORT" <<X
BEGIN AUTH REQUEST
$REPO
evil
Ax
END AUTH REQUEST
X
expect_stdout <<'X'
I HATE YOU
X
# ...or a principal that maps to root.
kinit_as root
jol -d ":gserver;port=$PSERVER_PORT:$KRB_HOST:$REPO" version
expect_status 1
expect_stderr_has "authorization failed: server $KRB_HOST rejected access to $REPO"
finish
