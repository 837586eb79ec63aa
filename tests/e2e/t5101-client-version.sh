#!/bin/bash
# The client's connection over :fork: and over a real remote shell
# (:ext: through an OpenSSH server on loopback): the handshake, a command
# whose answer comes from the server, and the remote shell's argument
# vector with quoted JOL_RSA_OPTIONS words.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots (:fork: and :ext:)"
. "$(dirname "$0")/ssh_fixture.sh"

REPO=$SCRATCH/repo
jol -d "$REPO" init
expect_status 0

JOL_SERVER=$JOL jol -d ":fork:$REPO" version
expect_status 0
expect_stdout <<'X'
Client: Jointly Owned Lines (JOL) 1.11 (client/server)
Server: Jointly Owned Lines (JOL) 1.11 (client/server)
X

start_sshd
jol -d ":ext:$(id -un)@127.0.0.1:$REPO" version
expect_status 0
expect_stdout <<'X'
Client: Jointly Owned Lines (JOL) 1.11 (client/server)
Server: Jointly Owned Lines (JOL) 1.11 (client/server)
X

# The traffic log of both directions.
JOL_CLIENT_LOG=$SCRATCH/log jol -d ":ext:$(id -un)@127.0.0.1:$REPO" version
expect_status 0
check "requests logged" grep -qx "Root $REPO" "$SCRATCH/log.in"
check "responses logged" grep -q "^M Jointly Owned Lines" "$SCRATCH/log.out"

# The remote shell gets exactly the words JOL_RSA_OPTIONS quotes.
cat >"$SCRATCH/fake-rsh" <<'SH'
#!/bin/sh
for a in "$@"; do printf '<%s>\n' "$a"; done >"$ARGS_FILE"
exit 1
SH
chmod +x "$SCRATCH/fake-rsh"
ARGS_FILE=$SCRATCH/args JOL_RSH=$SCRATCH/fake-rsh JOL_RSA_IDENTITY= \
    JOL_RSA_OPTIONS="-o 'Two Words' \"double \\\"q\" plain" JOL_SERVER=/opt/jol \
    "$JOL" -d ":ext:someone@host.example:/r" version >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="version through a fake remote shell"
expect_status 1
check "argument vector" diff - "$SCRATCH/args" <<'X'
<host.example>
<-o>
<Two Words>
<double "q>
<plain>
<-l>
<someone>
</opt/jol server>
X
finish
