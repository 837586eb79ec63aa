# The password server under a real super-server on loopback. Source it
# after lib.sh. The server runs as the user that runs the test (the
# accounts of JOLROOT/passwd map to that user), or as root for the tests
# of the user switch.
#   start_inetd ARGS...    openbsd-inetd starts "$JOL ARGS... pserver" for
#                          each connection
#   start_socket_activate ARGS...   the same through systemd-socket-activate
#                          (one process per connection, the socket on 0 and 1)
#   Both set PSERVER_PORT; the daemons are killed when the script exits.
#   pserver_root USER DIR  ":pserver;port=$PSERVER_PORT:USER@127.0.0.1:DIR"
#   password_hash PW       a crypt hash of PW for JOLROOT/passwd

FIXTURE_PIDS=""
trap 'for p in $FIXTURE_PIDS; do kill "$p" 2>/dev/null; done; rm -rf "$SCRATCH"' EXIT

start_inetd() {
    PSERVER_PORT=$(free_port)
    local conf=$SCRATCH/inetd.conf.$PSERVER_PORT
    echo "127.0.0.1:$PSERVER_PORT stream tcp nowait $(id -un) $JOL jol $* pserver" >"$conf"
    /usr/sbin/inetd -d "$conf" 2>>"$SCRATCH/inetd.log" &
    FIXTURE_PIDS="$FIXTURE_PIDS $!"
    wait_port "$PSERVER_PORT" || { echo "inetd did not start" >&2; cat "$SCRATCH/inetd.log" >&2; exit 1; }
}

start_socket_activate() {
    PSERVER_PORT=$(free_port)
    systemd-socket-activate -l "127.0.0.1:$PSERVER_PORT" --inetd -a \
        -E HOME -E TMPDIR -E PATH "$JOL" "$@" pserver 2>>"$SCRATCH/activate.log" &
    FIXTURE_PIDS="$FIXTURE_PIDS $!"
    wait_port "$PSERVER_PORT" || { echo "systemd-socket-activate did not start" >&2; cat "$SCRATCH/activate.log" >&2; exit 1; }
}

pserver_root() { echo ":pserver;port=$PSERVER_PORT:$1@127.0.0.1:$2"; }

password_hash() { openssl passwd -6 "$1"; }
