#!/bin/bash
# The client side of the password method: the port's sources in order, an
# HTTP proxy's CONNECT tunnel (and proxies that refuse, or answer without
# end), host names that could smuggle header lines, and the server's
# answers before its verdict.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots (the password and GSSAPI servers)"
. "$(dirname "$0")/pserver_fixture.sh"

ME=$(id -un)
REPO=$SCRATCH/repo
jol -d "$REPO" init
echo "alice::$ME" >"$REPO/JOLROOT/passwd"
start_inetd -f --allow-root="$REPO"
PEERS=$(dirname "$0")/fake_peers.py

# start_peer NAME ARGS...: a fake peer; its port in $PEER_PORT.
start_peer() {
    local name=$1
    shift
    python3 "$PEERS" "$1" "$SCRATCH/$name.port" "${@:2}" 2>>"$SCRATCH/peers.log" &
    FIXTURE_PIDS="$FIXTURE_PIDS $!"
    for _ in $(seq 1 200); do
        [ -s "$SCRATCH/$name.port" ] && break
        sleep 0.05
    done
    PEER_PORT=$(cat "$SCRATCH/$name.port")
}

# --- the port: the root's option, else JOL_PSERVER_PORT
DEAD=$(free_port)
JOL_PSERVER_PORT=$DEAD jol -d "$(pserver_root alice "$REPO")" version
expect_status 0
JOL_PSERVER_PORT=$PSERVER_PORT jol -d ":pserver:alice@127.0.0.1:$REPO" version
expect_status 0
expect_stdout_has "Server: Jointly Owned Lines"
JOL_PSERVER_PORT=$DEAD jol -d ":pserver:alice@127.0.0.1:$REPO" version
expect_status 1
expect_stderr_has "jol [version aborted]: connect to 127.0.0.1:$DEAD failed: Connection refused"

# --- through a proxy that tunnels
start_peer ok proxy "$SCRATCH/ok.log" ok
jol -d ":pserver;proxy=127.0.0.1;proxyport=$PEER_PORT;port=$PSERVER_PORT:alice@127.0.0.1:$REPO" version
expect_status 0
expect_stdout_has "Server: Jointly Owned Lines"
check "the CONNECT request" test "$(cat "$SCRATCH/ok.log")" = \
    "$(printf 'CONNECT 127.0.0.1:%s HTTP/1.0\r\n\r\n' "$PSERVER_PORT")"

start_peer refuse proxy "$SCRATCH/refuse.log" refuse
jol -d ":pserver;proxy=127.0.0.1;proxyport=$PEER_PORT;port=$PSERVER_PORT:alice@127.0.0.1:$REPO" version
expect_status 1
expect_stderr_has "jol [version aborted]: proxy server 127.0.0.1:$PEER_PORT does not support http tunnelling"

# Replies without end are cut off: too many lines, or a line too long.
start_peer chatty proxy "$SCRATCH/chatty.log" chatty
jol -d ":pserver;proxy=127.0.0.1;proxyport=$PEER_PORT;port=$PSERVER_PORT:alice@127.0.0.1:$REPO" version
expect_status 1
expect_stderr_has "jol [version aborted]: proxy server 127.0.0.1:$PEER_PORT sent too many header lines"
start_peer long proxy "$SCRATCH/long.log" longline
jol -d ":pserver;proxy=127.0.0.1;proxyport=$PEER_PORT;port=$PSERVER_PORT:alice@127.0.0.1:$REPO" version
expect_status 1
expect_stderr_has "jol [version aborted]: proxy server 127.0.0.1:$PEER_PORT sent a header line that is too long"

# A host name with a line end would add a header line to the CONNECT
# request; it is refused before anything is sent.
: >"$SCRATCH/ok.log"
OK_PORT=$(cat "$SCRATCH/ok.port")
BAD=":pserver;proxy=127.0.0.1;proxyport=$OK_PORT;port=$PSERVER_PORT:alice@127.0.0.1"$'\r\nX-Injected'":$REPO"
jol -d "$BAD" version
expect_status 1
expect_stderr_has "jol [version aborted]: invalid server host name in JOLROOT: "
check "nothing reached the proxy" test ! -s "$SCRATCH/ok.log"
jol -d ":pserver;proxy=gw x;port=$PSERVER_PORT:alice@127.0.0.1:$REPO" version
expect_status 1
expect_stderr_has "jol [version aborted]: invalid proxy host name in JOLROOT: "

# --- what a server may say before its verdict
start_peer notes server 'E first note\nE second note\nI HATE YOU\n'
jol -d ":pserver;port=$PEER_PORT:alice@127.0.0.1:$REPO" version
expect_status 1
expect_stderr <<X
first note
second note
jol version: authorization failed: server 127.0.0.1 rejected access to $REPO for user alice
jol version: used empty password; try "jol login" with a real password
X
start_peer err server 'error 0 the reason\n'
jol -d ":pserver;port=$PEER_PORT:alice@127.0.0.1:$REPO" version
expect_status 1
expect_stderr_has "the reason"
expect_stderr_has "authorization failed"
start_peer odd server 'HELLO THERE\n'
jol -d ":pserver;port=$PEER_PORT:alice@127.0.0.1:$REPO" version
expect_status 1
expect_stderr_has "jol [version aborted]: unrecognized auth response from 127.0.0.1: HELLO THERE"
start_peer gone server ''
jol -d ":pserver;port=$PEER_PORT:alice@127.0.0.1:$REPO" version
expect_status 1
expect_stderr_has "jol [version aborted]: recv() from server 127.0.0.1: EOF"
finish
