#!/bin/bash
# The GSSAPI method against a real Kerberos KDC on loopback, with the
# password server under openbsd-inetd: a connection authenticated by a
# ticket, the stream wrapped for integrity after "Gssapi-authenticate"
# (-a), a principal without a local user refused, and a large first token
# taken whole.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots (the password and GSSAPI servers)"
. "$(dirname "$0")/pserver_fixture.sh"
. "$(dirname "$0")/krb_fixture.sh"

ME=$(id -un)
REPO=$SCRATCH/repo
jol -d "$REPO" init
echo "$ME::$ME" >"$REPO/JOLROOT/passwd"
start_kdc
add_user_principal "$ME"
add_user_principal ghost
export KRB5_KTNAME=FILE:$KRB/server.keytab
start_inetd -f --allow-root="$REPO"
G=":gserver;port=$PSERVER_PORT:$KRB_HOST:$REPO"
VERSIONS="Client: Jointly Owned Lines (JOL) 1.11 (client/server)
Server: Jointly Owned Lines (JOL) 1.11 (client/server)"

kinit_as "$ME"
JOL_CLIENT_LOG=$SCRATCH/plain jol -d "$G" version
expect_status 0
expect_stdout <<<"$VERSIONS"
check "without -a the requests travel in clear" grep -qx version "$SCRATCH/plain.in"

JOL_CLIENT_LOG=$SCRATCH/wrapped jol -a -d "$G" version
expect_status 0
expect_stdout <<<"$VERSIONS"
check "Gssapi-authenticate is sent in clear" grep -qx Gssapi-authenticate "$SCRATCH/wrapped.in"
check "after it, nothing in clear" sh -c "! grep -aqx version '$SCRATCH/wrapped.in'"
check "the answer is a line without -a" grep -qx "M ${VERSIONS#*Server: }" "$SCRATCH/plain.out"
check "and inside a packet with it" sh -c "! grep -aqx 'M ${VERSIONS#*Server: }' '$SCRATCH/wrapped.out'"
# Each packet: its length, then a wrap token of that length.
check "what follows is whole packets" python3 - "$SCRATCH/wrapped.in" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
rest = data[data.index(b"Gssapi-authenticate\n") + len(b"Gssapi-authenticate\n"):]
count = 0
while rest:
    n = rest[0] << 8 | rest[1]
    assert 0 < n <= len(rest) - 2, (n, len(rest))
    rest = rest[2 + n:]
    count += 1
assert count >= 1
PY

# A principal that maps to no local user.
kinit_as ghost
jol -d "$G" version
expect_status 1
expect_stderr <<X
jol [version aborted]: error from server $KRB_HOST: jol [pserver aborted]: access denied
X

# -a needs the GSSAPI method.
jol -a -d ":pserver;port=$PSERVER_PORT:$ME@127.0.0.1:$REPO" version
expect_status 1
expect_stderr_has "Stream authentication is only supported when using GSSAPI"

# A first token larger than 1024 bytes is read whole and judged as a
# token (tickets with authorization data are that large).
talk "$PSERVER_PORT" <<X
BEGIN GSSAPI REQUEST
@hex 07d0$(printf '%04000d' 0)
X
expect_stdout <<'X'
jol [pserver aborted]: could not verify credentials
X

# The request that wraps the stream is refused on a connection that has no
# security context.
serve <<X
Root $REPO
Gssapi-authenticate
noop
X
expect_stdout <<'X'
E Protocol error: Gssapi-authenticate without a GSSAPI security context
error  
X
finish
