# A real OpenSSH server on loopback for the :ext: tests, run by the test
# user itself (a non-root sshd logs in only its own user, which is all a
# test needs). Source it after lib.sh, then call start_sshd; it sets
#   SSH_PORT, and exports JOL_RSH, JOL_RSA_IDENTITY and JOL_RSA_OPTIONS so
#   that ":ext:$USER@127.0.0.1:DIR" roots reach it, and JOL_SERVER.
# The daemon is killed when the script exits.

start_sshd() {
    SSHD_DIR=$SCRATCH/sshd
    mkdir -p "$SSHD_DIR"
    SSH_PORT=$(free_port)
    ssh-keygen -q -t ed25519 -N '' -f "$SSHD_DIR/host_key"
    ssh-keygen -q -t ed25519 -N '' -f "$SSHD_DIR/client_key"
    cp "$SSHD_DIR/client_key.pub" "$SSHD_DIR/authorized_keys"
    cat >"$SSHD_DIR/sshd_config" <<CONF
Port $SSH_PORT
ListenAddress 127.0.0.1
HostKey $SSHD_DIR/host_key
PidFile $SSHD_DIR/sshd.pid
AuthorizedKeysFile $SSHD_DIR/authorized_keys
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
LogLevel ERROR
CONF
    /usr/sbin/sshd -D -e -f "$SSHD_DIR/sshd_config" 2>"$SSHD_DIR/sshd.log" &
    SSHD_PID=$!
    trap 'kill $SSHD_PID 2>/dev/null; rm -rf "$SCRATCH"' EXIT
    wait_port "$SSH_PORT" || { echo "sshd did not start" >&2; cat "$SSHD_DIR/sshd.log" >&2; exit 1; }
    export JOL_RSH=ssh
    export JOL_RSA_IDENTITY=$SSHD_DIR/client_key
    export JOL_RSA_OPTIONS="-p $SSH_PORT -o StrictHostKeyChecking=no -o UserKnownHostsFile=$SSHD_DIR/known_hosts -o BatchMode=yes -o LogLevel=ERROR"
    export JOL_SERVER=$JOL
}
